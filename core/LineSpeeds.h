#pragma once
// The line speeds the network settings offer: BaudRateIndex, bits per second, the port's rate and
// the byte time the exchange waits by. The byte times halve from row to row, so the two fastest
// rows are not the times their speeds would give; the exchange's timing depends on them as they are.

#include <optional>

#include "core/CustomComm.h"

namespace vexa {

struct TLineSpeed {
  int BitsPerSecond;
  TBaudRate Rate;
  double ByteTimeMs;
};

// Indexed by BaudRateIndex.
inline constexpr TLineSpeed kLineSpeeds[] = {
    {2400, br2400, 4.17},   {4800, br4800, 2.09},   {9600, br9600, 1.05},     {19200, br19200, 0.52},
    {38400, br38400, 0.26}, {57600, br57600, 0.13}, {115200, br115200, 0.06},
};
inline constexpr int kLineSpeedCount = static_cast<int>(sizeof kLineSpeeds / sizeof kLineSpeeds[0]);
// The byte time of an index outside the table.
inline constexpr double kUnlistedByteTimeMs = 1.0;

constexpr const TLineSpeed* LineSpeed(int baudRateIndex) {
  return baudRateIndex >= 0 && baudRateIndex < kLineSpeedCount ? &kLineSpeeds[baudRateIndex] : nullptr;
}

constexpr std::optional<int> BaudRateIndexOf(int bitsPerSecond) {
  for (int i = 0; i < kLineSpeedCount; ++i)
    if (kLineSpeeds[i].BitsPerSecond == bitsPerSecond) return i;
  return std::nullopt;
}

}  // namespace vexa
