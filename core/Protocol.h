#pragma once
// The exchange of one request and its answer on the regulator line, with its retries and timing.

#include "core/Frame.h"

namespace vexa {

class TCustomRegister;
class TLine;

// Requests an exchange sends before it gives up on an answer.
inline constexpr int kAttempts = 3;

// What an exchange runs on, handed down by the register operations the way a serial protocol
// library hands its context around: the line, simulation on or off, the speed and the attempts.
struct TLineContext {
  TLine* Line = nullptr;     // null, or its port null or closed: every exchange fails at once
  bool Simulation = false;   // the built-in simulator answers instead of the port
  int BaudRateIndex = -1;    // selects the byte time of the waits
  int Attempts = kAttempts;  // the poller probes a silent regulator with one
};

// How an exchange ended: an answer accepted; none after all its attempts (the device is silent or
// garbled); or nothing sent, the port being closed or lost.
enum class TExchange { Answered, Unanswered, NoLine };

// Milliseconds per byte on the line for a BaudRateIndex (1.0 for an unlisted index).
double ByteTime(int baudRateIndex);

// Tells the operator once (the line's Notice) that its port was lost, and once that it is open
// again; the caller holds the line.
void TellPortState(TLine& line);

// One exchange for `reg`, whose type is `type` (rtUnknown while it is still learning it): seals the
// request in `frame`, sends it on the line (or asks the simulator once) with up to line.Attempts
// attempts, and leaves the accepted answer in `frame`. A lost port is reopened first (at most once a
// second); while it stays lost, and once it is lost during the exchange, the exchange ends at once.
TExchange Transact(const TLineContext& line, TRegisterFrame& frame, TRegisterType type, TCustomRegister& reg);

}  // namespace vexa
