#pragma once
// The built-in simulator of simulation mode: the simulated network answers every frame from the
// request and the state of the register that asked.

namespace vexa {

struct TRegisterFrame;
class TCustomRegister;
class TRandomGenerator;

// Leaves the answer (CRC included) in frame; False when the simulated network does not answer.
// Values wander by `random`, the line's.
bool Simulate(TRegisterFrame& frame, TCustomRegister& reg, TRandomGenerator& random);

}  // namespace vexa
