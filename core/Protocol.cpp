#include "core/Protocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/CustomRegister.h"
#include "core/Globals.h"
#include "core/Services.h"
#include "core/Simulator.h"

namespace vexa {

uint8_t Crc8(const uint8_t* data, int length) {
  uint8_t crc = 0xFF;
  for (int i = 0; i < length; ++i) {
    uint8_t b = data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const uint8_t mix = (crc ^ b) & 1;
      crc >>= 1;
      if (mix != 0) crc ^= 0x8C;
      b >>= 1;
    }
  }
  return crc;
}

bool ApplyCrc(TRegisterFrame& frame) {
  if (frame.Length < 4 || frame.Length >= kFrameSize) {
    frame.Length = 0;
    return false;
  }
  const uint8_t crc = Crc8(frame.Data, frame.Length);
  const bool equal = frame.Data[frame.Length] == crc;
  frame.Data[frame.Length] = crc;
  ++frame.Length;
  return equal;
}

double ByteTime(int baudRateIndex) {
  static constexpr double kTimes[] = {4.17, 2.09, 1.05, 0.52, 0.26, 0.13, 0.06};
  if (baudRateIndex < 0 || baudRateIndex > 6) return 1.0;
  return kTimes[baudRateIndex];
}

QString FrameToHex(const uint8_t* data, int length) {
  QStringList parts;
  for (int i = 0; i < length; ++i)
    parts << QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0')).toUpper();
  return parts.join(QLatin1Char(' '));
}

namespace {

void Trace(const QString& line) {
  if (Services().Trace) Services().Trace(line);
}

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
  if (received < 5) return TVerdict::BadCrc;
  if (std::memcmp(frame.Data, request.Data, 4) != 0) return TVerdict::Mismatch;
  if (request.Data[3] == 1) return received == 5 ? TVerdict::Valid : TVerdict::Mismatch;
  if (request.Data[3] != 0) return TVerdict::Mismatch;
  if (type == rtASCIIZ)
    return received >= 7 && received <= kMaxAnswerBytes ? TVerdict::Valid : TVerdict::Mismatch;
  if (received < 6) return TVerdict::Mismatch;
  const int code = frame.Data[4] & 0x0F;
  if (type != rtUnknown) {
    return code == type && received == RegisterTypeSizes[static_cast<size_t>(type)] + 6 ? TVerdict::Valid
                                                                                        : TVerdict::Mismatch;
  }
  // A register still learning its type takes any type, but only from an answer whose length fits
  // the type it announces: an echo or a torn frame must not become a value.
  const int size = AnswerDataSize(code);
  if (size >= 0) return received == size + 6 ? TVerdict::Valid : TVerdict::Mismatch;
  if (size == -1) return received >= 7 ? TVerdict::Valid : TVerdict::Mismatch;
  return TVerdict::Valid;  // no known type: accepted, the read then fails on the type
}

}  // namespace

bool Transact(TRegisterFrame& frame, TCustomRegister& reg) {
  ApplyCrc(frame);
  const TRegisterFrame request = frame;
  const QString requestTrace = QStringLiteral("> ") + FrameToHex(frame.Data, frame.Length);
  TClock& clock = *Services().Clock;

  if (SETUP && SETUP->Demo()) {
    Trace(requestTrace);
    clock.Sleep(10);
    const bool ok = Simulate(frame, reg);
    Trace(ok ? QStringLiteral("< ") + FrameToHex(frame.Data, frame.Length) : QStringLiteral("! timeout"));
    return ok;
  }
  if (!Comm || !Comm->Connected()) {
    Trace(requestTrace);
    Trace(QStringLiteral("! port closed"));
    return false;
  }

  const double byteTime = ByteTime(SETUP ? SETUP->BaudRateIndex() : -1);
  const TRegisterType type = reg.RegisterType();
  for (int attempt = 0; attempt < 3; ++attempt) {
    frame = request;
    Trace(requestTrace);
    try {
      Comm->PurgeIn();
      Comm->PurgeOut();
      Comm->Write(frame.Data, frame.Length);
      clock.Sleep(static_cast<int>(std::trunc((frame.Length + 2) * byteTime)) + 11);

      const int64_t t0 = clock.TickMs();
      int previous = -1;
      int current = 0;
      int64_t t = t0;
      do {
        if (current != 0) previous = current;
        current = Comm->InQueCount();
        clock.Sleep(static_cast<int>(std::trunc(byteTime)) + 2);
        t = clock.TickMs();
      } while (previous != current && t - t0 < 50 && t >= t0);

      const int n = std::min(current, kMaxAnswerBytes);
      frame.Length = 0;
      if (n > 0) frame.Length = std::max(0, Comm->Read(frame.Data, n));
    } catch (const ECommError& e) {
      // A port that fails mid-exchange fails this attempt; the read ends as "***", never as a crash.
      Trace(QStringLiteral("! port error: ") + e.Text());
      frame.Length = 0;
    }
    if (frame.Length > 0) Trace(QStringLiteral("< ") + FrameToHex(frame.Data, frame.Length));
    frame.Length -= 1;
    switch (Validate(frame, request, type)) {
      case TVerdict::Valid:
        return true;
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
  return false;
}

}  // namespace vexa
