#include "core/Simulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "core/Frame.h"
#include "core/Line.h"
#include "core/Services.h"
#include "core/SimulatedNetwork.h"

namespace vexa {

namespace {

uint8_t RegisterTypeByte(int code, const TRegisterState& reg) {
  return TypeByte(code, reg.CanRead, reg.CanWrite);
}

// Where the register stands for the value rule: its shown value, raw for the fixed-point types.
std::optional<double> Current(const TRegisterState& reg) {
  const QString& text = reg.Shown;
  if (text.isEmpty()) return std::nullopt;
  const std::optional<double> value = StrToFloat(text);
  if (!value) return std::nan("");
  const TRegisterType type = reg.Type;
  // Rounded: the text holds the raw value exactly, its double times 10^Digits may fall just short.
  if (type >= rtUBYTE && type <= rtLONG) return std::round(*value * std::pow(10.0, reg.Digits));
  return value;
}

bool SimulateRead(TRegisterFrame& frame, const TRegisterState& reg, TRandomGenerator& random) {
  const TRegisterType type = reg.Type;
  if (type == rtUnknown) return false;
  QByteArray value = NextSimulatedData(type, frame.Data[kFrameAddress], Current(reg), reg.CanWrite, random);
  if (type == rtASCIIZ) value += '\0';
  frame.Data[kFrameCommand] = cmdRead;
  frame.Data[kFrameType] = RegisterTypeByte(type, reg);
  std::memcpy(frame.Data + kFrameData, value.constData(), static_cast<size_t>(value.size()));
  frame.Length = kFrameData + static_cast<int>(value.size());
  ApplyCrc(frame);
  return true;
}

bool SimulateWrite(TRegisterFrame& frame, TRegisterState& reg) {
  const uint8_t* data = frame.Data + kFrameData;
  const TRegisterType type = reg.Type;
  QString text;
  if (type == rtBOOL) {
    text = data[0] != 0 ? QStringLiteral("1") : QStringLiteral("0");
  } else if (type <= rtLONG) {
    // Shown as a read would show it: signed as the type is, with its decimals.
    const QByteArray bytes(reinterpret_cast<const char*>(data), RegisterTypeSizes[static_cast<size_t>(type)]);
    const double raw = SimulatedValue(type, bytes);
    text = FormatFixed(raw / std::pow(10.0, reg.Digits), reg.Digits);
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
  reg.Shown = text;
  frame.Data[kFrameCommand] = cmdWrite;
  frame.Length = kFrameHeader;
  ApplyCrc(frame);
  return true;
}

}  // namespace

bool Simulate(TRegisterFrame& frame, TRegisterState& reg, TRandomGenerator& random) {
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
  if (reg.Type == rtUnknown) {
    reg.Type = rtINT;
    reg.CanRead = true;
    reg.CanWrite = true;
  }
  if (k == cmdRead) return SimulateRead(frame, reg, random);
  if (k == cmdWrite) return SimulateWrite(frame, reg);
  return false;
}

TExchange SimulatedExchange(const TExchangeCall& call) {
  const bool tracing = !call.RequestTrace.isEmpty();
  if (tracing) call.Line.TraceLine(call.RequestTrace);
  Services().Clock->Sleep(10);
  const bool ok = Simulate(call.Frame, call.State, call.Line.Random());
  if (tracing)
    call.Line.TraceLine(ok ? QStringLiteral("< ") + FrameToHex(call.Frame.Data, call.Frame.Length)
                           : QStringLiteral("! timeout"));
  return ok ? TExchange::Answered : TExchange::Unanswered;
}

}  // namespace vexa
