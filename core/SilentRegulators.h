#pragma once
// The poller's rule for a regulator that has gone quiet. A read left unanswered after all its
// attempts, by a regulator that has answered nothing for that register's logging interval, makes it
// silent: its registers that fall due then fail at once ("***", iorFAIL, their history entries as
// for a failed read) without an exchange, and one of them asks the line with a single attempt at
// most once per its logging interval. The first answer ends the silence; the registers read again
// at their next due time. So a regulator switched off costs the others on the line one short
// exchange per interval instead of three attempts per register.
//
// A regulator that answers some registers but lacks others never falls silent: the others answer
// within every interval. A register that has not answered in this run passes its next turn after an
// unanswered probe, so a register the regulator lacks cannot keep it silent once it is back.

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_set>

#include "core/Protocol.h"

namespace vexa {

class TCustomRegister;

// One per poller, used on its thread only. Writes and the device search do not go through it: they
// make their full attempts whatever it holds.
class TSilentRegulators {
 public:
  // Reads `reg`, a register due now (the poller's detached copy), by the rule; the outcome is left in
  // it as StringData leaves it.
  void Read(TCustomRegister& reg, const TLineContext& line, int intervalSeconds);

 private:
  struct TRegulator {
    // Ticks (TClock::TickMs): the wall clock's steps neither end nor prolong a silence.
    std::optional<int64_t> LastAnswer;       // start of its last answered exchange
    std::optional<int64_t> LastTry;          // while silent: start of its last unanswered exchange
    std::optional<uint16_t> Prober;          // channel and register that made it, until it passes a turn
    std::unordered_set<uint16_t> Answering;  // the registers that have answered in this run
  };
  std::array<TRegulator, 256> regulators_;  // by address
};

}  // namespace vexa
