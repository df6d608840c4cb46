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

// Where the register stands for the value rule: its shown value, raw for the fixed-point types.
std::optional<double> Current(const TCustomRegister& reg) {
  const QString& text = reg.LastStringData();
  if (text.isEmpty()) return std::nullopt;
  const std::optional<double> value = StrToFloat(text);
  if (!value) return std::nan("");
  const TRegisterType type = reg.RegisterType();
  // Rounded: the text holds the raw value exactly, its double times 10^Digits may fall just short.
  if (type >= rtUBYTE && type <= rtLONG) return std::round(*value * std::pow(10.0, reg.Digits()));
  return value;
}

bool SimulateRead(TRegisterFrame& frame, TCustomRegister& reg, TRandomGenerator& random) {
  const TRegisterType type = reg.RegisterType();
  if (type == rtUnknown) return false;
  QByteArray value =
      NextSimulatedData(type, frame.Data[kFrameAddress], Current(reg), reg.UserCanWRITE(), random);
  if (type == rtASCIIZ) value += '\0';
  frame.Data[kFrameCommand] = cmdRead;
  frame.Data[kFrameType] = RegisterTypeByte(type, reg);
  std::memcpy(frame.Data + kFrameData, value.constData(), static_cast<size_t>(value.size()));
  frame.Length = kFrameData + static_cast<int>(value.size());
  ApplyCrc(frame);
  return true;
}

bool SimulateWrite(TRegisterFrame& frame, TCustomRegister& reg) {
  const uint8_t* data = frame.Data + kFrameData;
  const TRegisterType type = reg.RegisterType();
  QString text;
  if (type == rtBOOL) {
    text = data[0] != 0 ? QStringLiteral("1") : QStringLiteral("0");
  } else if (type <= rtLONG) {
    // Shown as a read would show it: signed as the type is, with its decimals.
    const QByteArray bytes(reinterpret_cast<const char*>(data), RegisterTypeSizes[static_cast<size_t>(type)]);
    const double raw = SimulatedValue(type, bytes);
    text = FormatFixed(raw / std::pow(10.0, reg.Digits()), reg.Digits());
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

bool Simulate(TRegisterFrame& frame, TCustomRegister& reg, TRandomGenerator& random) {
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
  if (k == cmdRead) return SimulateRead(frame, reg, random);
  if (k == cmdWrite) return SimulateWrite(frame, reg);
  return false;
}

}  // namespace vexa
