#include "core/Simulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "core/CustomRegister.h"
#include "core/Frame.h"
#include "core/Services.h"
#include "core/SimulatedNetwork.h"

namespace vexa {

namespace {

uint8_t RegisterTypeByte(int code, const TCustomRegister& reg) {
  return TypeByte(code, reg.UserCanREAD(), reg.UserCanWRITE());
}

// Next raw value of a fixed-point register: a step of -1, 0 or +1 from the shown value, or the
// band's start when nothing usable is shown.
int64_t Wander(const TCustomRegister& reg) {
  const std::optional<double> current = StrToFloat(reg.LastStringData());
  if (!current) return std::numeric_limits<int64_t>::min();
  const double scaled = std::trunc(*current * std::pow(10.0, reg.Digits()));
  const double clamped = std::clamp(scaled, -9.0e18, 9.0e18);
  return static_cast<int64_t>(clamped) + Services().Random.Next(3) - 1;
}

bool SimulateRead(TRegisterFrame& frame, TCustomRegister& reg) {
  uint8_t value[kMaxTextBytes + 1] = {};
  const int address = frame.Data[kFrameAddress];
  const TRegisterType type = reg.RegisterType();
  int size = 0;
  switch (type) {
    case rtBOOL:
      value[0] = SimulatedBool(Services().Random);
      size = 1;
      break;
    case rtUBYTE:
    case rtBYTE: {
      const TBand& band = ByteBand(address);
      const int64_t next = Wander(reg);
      const uint8_t b = next == std::numeric_limits<int64_t>::min() ? static_cast<uint8_t>(band.Start)
                                                                    : static_cast<uint8_t>(next & 0xFF);
      value[0] = static_cast<uint8_t>(band.Clamp(b));  // compared as unsigned
      size = 1;
      break;
    }
    case rtUINT:
    case rtINT:
    case rtULONG:
    case rtLONG: {
      const TBand& band = WordBand(address);
      const int64_t next = Wander(reg);
      const int32_t v = next == std::numeric_limits<int64_t>::min()
                            ? band.Start
                            : static_cast<int32_t>(static_cast<uint32_t>(next));
      const auto u = static_cast<uint32_t>(static_cast<int32_t>(band.Clamp(v)));
      for (int i = 0; i < 4; ++i) value[i] = static_cast<uint8_t>(u >> (8 * i));
      size = RegisterTypeSizes[static_cast<size_t>(type)];
      break;
    }
    case rtFLOAT:
    case rtDOUBLE: {
      double v = 0;
      const QString& text = reg.LastStringData();
      if (text.isEmpty()) {
        v = Services().Random.Next(10) + 20;
      } else if (const auto current = StrToFloat(text)) {
        v = *current + 2 * Services().Random.Fraction() - 1;
        if (type == rtFLOAT) v = static_cast<float>(v);
        v = ClampSimulatedFloat(v);
      } else {
        v = type == rtFLOAT ? 0 : 25;
      }
      if (type == rtFLOAT) {
        const auto f = static_cast<float>(v);
        std::memcpy(value, &f, 4);
        size = 4;
      } else {
        std::memcpy(value, &v, 8);
        size = 8;
      }
      break;
    }
    case rtASCIIZ: {
      const QByteArray text = SimulatedText(Services().Random);
      std::memcpy(value, text.constData(), static_cast<size_t>(text.size()));
      size = static_cast<int>(text.size()) + 1;  // with its zero
      break;
    }
    case rtUnknown:
      return false;
  }
  frame.Data[kFrameCommand] = cmdRead;
  frame.Data[kFrameType] = RegisterTypeByte(type, reg);
  std::memcpy(frame.Data + kFrameData, value, static_cast<size_t>(size));
  frame.Length = kFrameData + size;
  ApplyCrc(frame);
  return true;
}

bool SimulateWrite(TRegisterFrame& frame, TCustomRegister& reg) {
  const uint8_t* data = frame.Data + kFrameData;
  const TRegisterType type = reg.RegisterType();
  QString text;
  if (type <= rtLONG) {
    uint32_t raw = 0;
    for (int i = 0; i < RegisterTypeSizes[static_cast<size_t>(type)]; ++i)
      raw |= uint32_t(data[i]) << (8 * i);
    const double v = std::trunc(static_cast<double>(raw) * std::pow(10.0, -reg.Digits()));
    text = std::isfinite(v) ? QString::number(static_cast<qint64>(v)) : kFailedText;
  } else if (type == rtFLOAT) {
    float f = 0;
    std::memcpy(&f, data, 4);
    text = FloatToStr(f);
  } else if (type == rtDOUBLE) {
    double d = 0;
    std::memcpy(&d, data, 8);
    text = FloatToStr(d);
  } else if (type == rtASCIIZ) {
    const int available = std::max(0, frame.Length - (kFrameData + 1));
    const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, static_cast<size_t>(available)));
    text = FromCp1251(QByteArray(reinterpret_cast<const char*>(data), end ? int(end - data) : available));
  } else {
    return false;
  }
  reg.SetLastStringData(text);
  frame.Data[kFrameCommand] = cmdWrite;
  frame.Length = kFrameHeader;
  ApplyCrc(frame);
  return true;
}

}  // namespace

bool Simulate(TRegisterFrame& frame, TCustomRegister& reg) {
  const uint8_t a = frame.Data[kFrameAddress];
  const uint8_t c = frame.Data[kFrameChannel];
  const uint8_t r = frame.Data[kFrameRegister];
  const uint8_t k = frame.Data[kFrameCommand];
  if (r == 0) {
    const int value = k == cmdRead ? SimulatedChannelType(a, c) : -1;
    if (value < 0) return false;
    frame.Data[kFrameType] = RegisterTypeByte(rtBYTE, reg);
    frame.Data[kFrameData] = static_cast<uint8_t>(value);
    frame.Length = kFrameData + 1;
    ApplyCrc(frame);
    return true;
  }
  if (reg.RegisterType() == rtUnknown) {
    reg.SetRegisterType(rtINT);
    reg.SetUserCanREAD(true);
    reg.SetUserCanWRITE(true);
  }
  if (k == cmdRead) return SimulateRead(frame, reg);
  if (k == cmdWrite) return SimulateWrite(frame, reg);
  return false;
}

}  // namespace vexa
