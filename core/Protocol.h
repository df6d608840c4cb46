#pragma once
// Frames of the regulator line, their CRC-8 and the exchange with its retries and timing.

#include <QString>
#include <cstdint>

namespace vexa {

class TCustomRegister;

constexpr int kFrameSize = 40;       // no frame on the wire is longer
constexpr int kMaxAnswerBytes = 37;  // the most an exchange reads of one answer

struct TRegisterFrame {
  int32_t Length = 0;
  uint8_t Data[kFrameSize] = {};
};

// CRC-8 (x^8 + x^5 + x^4 + 1, least significant bit first, start 0xFF, no final XOR).
uint8_t Crc8(const uint8_t* data, int length);

// Seals (or checks) Length bytes: stores the CRC at Length, grows Length by one and returns whether
// the byte that was there already equalled the CRC. Below 4 bytes: Length becomes 0, False.
bool ApplyCrc(TRegisterFrame& frame);

// Milliseconds per byte on the line for a BaudRateIndex (1.0 for an unlisted index).
double ByteTime(int baudRateIndex);

// One exchange for `reg`: seals the request in `frame`, sends it (or asks the simulator) with up to
// three attempts, and leaves the accepted answer in `frame`. Returns whether an answer was accepted.
// Uses the settings object (Demo, BaudRateIndex) and the port of the global slots.
bool Transact(TRegisterFrame& frame, TCustomRegister& reg);

// "00 01 02 00 D1": the bytes of a frame for traces.
QString FrameToHex(const uint8_t* data, int length);

}  // namespace vexa
