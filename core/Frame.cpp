#include "core/Frame.h"

#include <QStringList>
#include <algorithm>
#include <cstring>

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
  if (frame.Length < kFrameHeader || frame.Length >= kFrameSize) {
    frame.Length = 0;
    return false;
  }
  const uint8_t crc = Crc8(frame.Data, frame.Length);
  const bool equal = frame.Data[frame.Length] == crc;
  frame.Data[frame.Length] = crc;
  ++frame.Length;
  return equal;
}

QByteArray SealFrame(const QByteArray& bytes) {
  const auto n = static_cast<int>(std::min<qsizetype>(bytes.size(), kFrameSize - 1));
  QByteArray sealed(bytes.constData(), n);
  sealed.append(static_cast<char>(Crc8(reinterpret_cast<const uint8_t*>(sealed.constData()), n)));
  return sealed;
}

QString FrameToHex(const uint8_t* data, int length) {
  QStringList parts;
  for (int i = 0; i < length; ++i)
    parts << QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0')).toUpper();
  return parts.join(QLatin1Char(' '));
}

}  // namespace vexa
