#include "core/Simulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "core/CustomRegister.h"
#include "core/Protocol.h"
#include "core/Services.h"

namespace vexa {

namespace {

uint8_t TypeByte(int code, const TCustomRegister& reg) {
  return static_cast<uint8_t>(code | (reg.UserCanWRITE() ? 0x80 : 0) | (reg.UserCanREAD() ? 0x40 : 0));
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
  uint8_t value[32] = {};
  const int k3 = frame.Data[0] % 3;
  const TRegisterType type = reg.RegisterType();
  int size = 0;
  switch (type) {
    case rtBOOL:
      value[0] = Services().Random.Next(100) >= 50 ? 0xFF : 0x00;
      size = 1;
      break;
    case rtUBYTE:
    case rtBYTE: {
      const TBand& band = kByteBands[k3];
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
      const TBand& band = kWordBands[k3];
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
        if (v >= 30) v = 29;
        if (v <= 20) v = 21;
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
      const QByteArray text = QByteArrayLiteral("12345.6789") + char('0' + Services().Random.Next(10));
      std::memcpy(value, text.constData(), static_cast<size_t>(text.size()));
      size = 12;
      break;
    }
    case rtUnknown:
      return false;
  }
  frame.Data[3] = 0;
  frame.Data[4] = TypeByte(type, reg);
  std::memcpy(frame.Data + 5, value, static_cast<size_t>(size));
  frame.Length = 5 + size;
  ApplyCrc(frame);
  return true;
}

bool SimulateWrite(TRegisterFrame& frame, TCustomRegister& reg) {
  const uint8_t* data = frame.Data + 5;
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
    const int available = std::max(0, frame.Length - 6);
    const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, static_cast<size_t>(available)));
    text = FromCp1251(QByteArray(reinterpret_cast<const char*>(data), end ? int(end - data) : available));
  } else {
    return false;
  }
  reg.SetLastStringData(text);
  frame.Data[3] = 1;
  frame.Length = 4;
  ApplyCrc(frame);
  return true;
}

}  // namespace

bool Simulate(TRegisterFrame& frame, TCustomRegister& reg) {
  const uint8_t a = frame.Data[0];
  const uint8_t c = frame.Data[1];
  const uint8_t r = frame.Data[2];
  const uint8_t k = frame.Data[3];
  if (r == 0) {
    int value = -1;
    if (k == 0 && a == 0 && c <= 5) value = 0;
    if (k == 0 && a == 1 && c <= 2) value = 1;
    if (value < 0) return false;
    frame.Data[4] = TypeByte(rtBYTE, reg);
    frame.Data[5] = static_cast<uint8_t>(value);
    frame.Length = 6;
    ApplyCrc(frame);
    return true;
  }
  if (reg.RegisterType() == rtUnknown) {
    reg.SetRegisterType(rtINT);
    reg.SetUserCanREAD(true);
    reg.SetUserCanWRITE(true);
  }
  if (k == 0) return SimulateRead(frame, reg);
  if (k == 1) return SimulateWrite(frame, reg);
  return false;
}

}  // namespace vexa
