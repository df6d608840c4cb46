#pragma once
// The built-in simulator of simulation mode: a network of two regulators that answers every frame
// from the request and the state of the register that asked.

#include <cstdint>

namespace vexa {

struct TRegisterFrame;
class TCustomRegister;

// Value bands of the three kinds of simulated regulator (network address mod 3); vexa-sim uses the same.
struct TBand {
  int Start;
  int High;  // this or more becomes High - 1
  int Low;   // then this or less becomes Low + 1

  constexpr int64_t Clamp(int64_t v) const {
    if (v >= High) v = High - 1;
    if (v <= Low) v = Low + 1;
    return v;
  }
};
inline constexpr TBand kByteBands[3] = {{110, 120, 100}, {90, 100, 80}, {55, 60, 50}};
inline constexpr TBand kWordBands[3] = {{350, 400, 300}, {250, 300, 200}, {85, 90, 80}};

// Leaves the answer (CRC included) in frame; False when the simulated network does not answer.
bool Simulate(TRegisterFrame& frame, TCustomRegister& reg);

}  // namespace vexa
