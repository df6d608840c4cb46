#pragma once
// Frames of the regulator line: the layout of a frame, its command and type-byte bits, the length
// limits and the CRC-8 that seals every frame.
//
//   offset 0 network address, 1 channel, 2 register (0: the channel descriptor), 3 command,
//   4 type byte (not in a read request or a write answer), 5.. value data, last: CRC-8
//
// read request 5 bytes; read answer n + 6; write request n + 6; write answer 5.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace vexa {

inline constexpr int kFrameSize = 40;       // no frame on the wire is longer
inline constexpr int kMaxAnswerBytes = 37;  // the most an exchange reads of one answer
inline constexpr int kMaxTextBytes = 31;    // a text value, without its terminating zero

// Offsets of the fields.
inline constexpr int kFrameAddress = 0;
inline constexpr int kFrameChannel = 1;
inline constexpr int kFrameRegister = 2;
inline constexpr int kFrameCommand = 3;
inline constexpr int kFrameType = 4;
inline constexpr int kFrameData = 5;
inline constexpr int kFrameHeader = 4;  // address, channel, register, command

enum TFrameCommand : uint8_t { cmdRead = 0, cmdWrite = 1 };

// The type byte: the type code in the low four bits (0..9 name a type, 10..15 none), the rights
// in the two high bits.
inline constexpr uint8_t kTypeCodeMask = 0x0F;
inline constexpr uint8_t kTypeCanRead = 0x40;
inline constexpr uint8_t kTypeCanWrite = 0x80;

// The type codes a register announces in its type byte.
enum TRegisterType {
  rtBOOL,
  rtUBYTE,
  rtBYTE,
  rtUINT,
  rtINT,
  rtULONG,
  rtLONG,
  rtFLOAT,
  rtDOUBLE,
  rtASCIIZ,
  rtUnknown
};

// Sizes on the wire of codes 0..8 (rtASCIIZ and rtUnknown have their own rules).
inline constexpr std::array<int, 9> RegisterTypeSizes = {1, 1, 1, 2, 2, 4, 4, 4, 8};

constexpr uint8_t TypeByte(int code, bool canRead, bool canWrite) {
  return static_cast<uint8_t>(code | (canRead ? kTypeCanRead : 0) | (canWrite ? kTypeCanWrite : 0));
}

struct TRegisterFrame {
  int32_t Length = 0;
  uint8_t Data[kFrameSize] = {};
};

// CRC-8 (x^8 + x^5 + x^4 + 1, least significant bit first, start 0xFF, no final XOR).
uint8_t Crc8(const uint8_t* data, int length);

// Seals (or checks) Length bytes: stores the CRC at Length, grows Length by one and returns whether
// the byte that was there already equalled the CRC. Below 4 bytes: Length becomes 0, False.
bool ApplyCrc(TRegisterFrame& frame);

// The bytes followed by their CRC (at most kFrameSize - 1 bytes are taken).
QByteArray SealFrame(const QByteArray& bytes);

// "00 01 02 00 D1": the bytes of a frame for traces.
QString FrameToHex(const uint8_t* data, int length);

}  // namespace vexa
