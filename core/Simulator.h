#pragma once
// The built-in simulator of simulation mode, the line's second backend: the simulated network
// answers every frame from the request and the state of the register that asked.

#include "core/Transport.h"

namespace vexa {

class TRandomGenerator;

// Leaves the answer (CRC included) in frame; False when the simulated network does not answer.
// Values wander by `random`, the line's; a register still unknown becomes a writable integer, and a
// write leaves its value in `reg`.
bool Simulate(TRegisterFrame& frame, TRegisterState& reg, TRandomGenerator& random);

// The backend: one answer asked of the simulator, after the time a short exchange takes.
TExchange SimulatedExchange(const TExchangeCall& call);

}  // namespace vexa
