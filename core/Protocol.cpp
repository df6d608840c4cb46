#include "core/Protocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/CustomComm.h"
#include "core/Line.h"
#include "core/LineSpeeds.h"
#include "core/Services.h"
#include "core/Simulator.h"

namespace vexa {

double ByteTime(int baudRateIndex) {
  const TLineSpeed* speed = LineSpeed(baudRateIndex);
  return speed != nullptr ? speed->ByteTimeMs : kUnlistedByteTimeMs;
}

namespace {

enum class TVerdict { Valid, NoAnswer, BadCrc, Mismatch };

// Data length an answer of this type code must carry; -1 when the length is free (a text, 1..31
// bytes) and -2 when the code names no type.
int AnswerDataSize(int code) {
  if (code <= rtDOUBLE) return RegisterTypeSizes[static_cast<size_t>(code)];
  return code == rtASCIIZ ? -1 : -2;
}

// `frame` holds the answer with Length one short of the bytes received (the CRC not counted).
TVerdict Validate(TRegisterFrame& frame, const TRegisterFrame& request, TRegisterType type) {
  if (frame.Length < 0) return TVerdict::NoAnswer;
  if (!ApplyCrc(frame)) return TVerdict::BadCrc;
  const int received = frame.Length;
  constexpr int kShortest = kFrameHeader + 1;  // a write answer: the header and the CRC
  constexpr int kOverhead = kFrameData + 1;    // header, type byte and CRC around the data
  if (received < kShortest) return TVerdict::BadCrc;
  if (std::memcmp(frame.Data, request.Data, kFrameHeader) != 0) return TVerdict::Mismatch;
  const uint8_t command = request.Data[kFrameCommand];
  if (command == cmdWrite) return received == kShortest ? TVerdict::Valid : TVerdict::Mismatch;
  if (command != cmdRead) return TVerdict::Mismatch;
  if (type == rtASCIIZ)
    return received >= kOverhead + 1 && received <= kMaxAnswerBytes ? TVerdict::Valid : TVerdict::Mismatch;
  if (received < kOverhead) return TVerdict::Mismatch;
  const int code = frame.Data[kFrameType] & kTypeCodeMask;
  if (type != rtUnknown) {
    return code == type && received == RegisterTypeSizes[static_cast<size_t>(type)] + kOverhead
               ? TVerdict::Valid
               : TVerdict::Mismatch;
  }
  // A register still learning its type takes any type, but only from an answer whose length fits
  // the type it announces: an echo or a torn frame must not become a value.
  const int size = AnswerDataSize(code);
  if (size >= 0) return received == size + kOverhead ? TVerdict::Valid : TVerdict::Mismatch;
  if (size == -1) return received >= kOverhead + 1 ? TVerdict::Valid : TVerdict::Mismatch;
  return TVerdict::Valid;  // no known type: accepted, the read then fails on the type
}

}  // namespace

void TellPortState(TLine& line) {
  TCustomComm* const found = line.Port();
  if (found == nullptr) return;
  TCustomComm& port = *found;
  const bool lost = port.Lost();
  if (lost == port.LossTold()) return;
  port.SetLossTold(lost);
  const QString text = lost ? QStringLiteral("Порт %1 потерян: %2").arg(port.DeviceName(), port.LostReason())
                            : QStringLiteral("Порт %1 снова открыт").arg(port.DeviceName());
  line.Tell(text, lost);
}

namespace {

// The serial port: the request sent up to the context's attempts, the answer gathered until the
// line falls quiet, and checked.
TExchange SerialExchange(const TExchangeCall& call) {
  const TLineContext& line = call.Context;
  TLine& on = call.Line;
  TRegisterFrame& frame = call.Frame;
  const TRegisterType type = call.Type;
  const bool tracing = !call.RequestTrace.isEmpty();
  const auto Trace = [&on, tracing](const QString& text) {
    if (tracing) on.TraceLine(text);
  };
  const QString& requestTrace = call.RequestTrace;
  const TRegisterFrame request = frame;
  TClock& clock = *Services().Clock;
  TCustomComm* const port = on.Port();
  if (port != nullptr) {
    if (port->Lost()) port->Reopen();
    TellPortState(on);
  }
  if (port == nullptr || !port->Connected() || port->Lost()) {
    Trace(requestTrace);
    Trace(port != nullptr && port->Lost() ? QStringLiteral("! port lost") : QStringLiteral("! port closed"));
    return TExchange::NoLine;
  }

  const double byteTime = ByteTime(line.BaudRateIndex);
  for (int attempt = 0; attempt < line.Attempts; ++attempt) {
    frame = request;
    Trace(requestTrace);
    try {
      port->PurgeIn();
      port->PurgeOut();
      on.CountWrite();
      port->Write(frame.Data, frame.Length);
      clock.Sleep(static_cast<int>(std::trunc((frame.Length + 2) * byteTime)) + 11);

      const int64_t t0 = clock.TickMs();
      int previous = -1;
      int current = 0;
      int64_t t = t0;
      do {
        if (current != 0) previous = current;
        current = port->InQueCount();
        clock.Sleep(static_cast<int>(std::trunc(byteTime)) + 2);
        t = clock.TickMs();
      } while (previous != current && t - t0 < 50 && t >= t0);

      const int n = std::min(current, kMaxAnswerBytes);
      frame.Length = 0;
      if (n > 0) frame.Length = std::max(0, port->Read(frame.Data, n));
    } catch (const ECommError& e) {
      // A port that fails mid-exchange fails this attempt; the read ends as "***", never as a crash.
      Trace(QStringLiteral("! port error: ") + e.Text());
      frame.Length = 0;
      // A device that went away does not come back within the next attempts.
      if (port->Lost()) {
        TellPortState(on);
        return TExchange::NoLine;
      }
    }
    if (tracing && frame.Length > 0) Trace(QStringLiteral("< ") + FrameToHex(frame.Data, frame.Length));
    frame.Length -= 1;
    switch (Validate(frame, request, type)) {
      case TVerdict::Valid:
        return TExchange::Answered;
      case TVerdict::NoAnswer:
        Trace(QStringLiteral("! timeout"));
        break;
      case TVerdict::BadCrc:
        Trace(QStringLiteral("! crc"));
        break;
      case TVerdict::Mismatch:
        Trace(QStringLiteral("! mismatch"));
        break;
    }
  }
  return TExchange::Unanswered;
}

// The backends, by the context's simulation flag.
constexpr TBackendExchange kBackends[] = {SerialExchange, SimulatedExchange};

}  // namespace

TExchange Transact(const TLineContext& line, TRegisterFrame& frame, TRegisterType type,
                   TRegisterState& state) {
  // The simulator's random generator and the port's request and answer are the line's: one
  // exchange at a time.
  if (line.Line == nullptr) return TExchange::NoLine;
  TLine& on = *line.Line;
  const auto lineLock = on.Lock();
  ApplyCrc(frame);
  // The frames as text only for a listener: the poller exchanges all day, mostly unwatched.
  const QString requestTrace =
      on.Trace ? QStringLiteral("> ") + FrameToHex(frame.Data, frame.Length) : QString();
  return kBackends[line.Simulation ? 1 : 0]({line, on, frame, type, state, requestTrace});
}

}  // namespace vexa
