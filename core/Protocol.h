#pragma once
// The exchange of one request and its answer on the regulator line, with its retries and timing.

#include "core/Frame.h"
#include "core/Transport.h"

namespace vexa {

// Milliseconds per byte on the line for a BaudRateIndex (1.0 for an unlisted index).
double ByteTime(int baudRateIndex);

// Tells the operator once (the line's Notice) that its port was lost, and once that it is open
// again; the caller holds the line.
void TellPortState(TLine& line);

// One exchange for a register in `state`, whose type is `type` (rtUnknown while it is still learning
// it): seals the request in `frame`, sends it on the line (or asks the simulator once) with up to
// line.Attempts attempts, and leaves the accepted answer in `frame`. A lost port is reopened first
// (at most once a second); while it stays lost, and once it is lost during the exchange, the exchange
// ends at once. Only the simulator changes `state`.
TExchange Transact(const TLineContext& line, TRegisterFrame& frame, TRegisterType type,
                   TRegisterState& state);

}  // namespace vexa
