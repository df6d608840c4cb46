#pragma once
// What one exchange on the regulator line runs on, and its backends: the serial port and the
// built-in simulator of simulation mode, kept in one table as a serial protocol library keeps its
// transports. Neither backend knows the register classes: the simulator answers from a copy of the
// asking register's state, which the register takes back afterwards.

#include <QString>

#include "core/Frame.h"

namespace vexa {

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

// The asking register as the simulator sees it. A simulated register learns its type on its first
// exchange and keeps a written value, so the simulator may change this copy.
struct TRegisterState {
  TRegisterType Type = rtUnknown;
  int Digits = 0;
  bool CanRead = false;
  bool CanWrite = false;
  QString Shown;  // the last value as text
};

// One exchange of a sealed request for its answer, the line held by the caller; `requestTrace` is the
// request as the trace shows it (empty when no one listens).
struct TExchangeCall {
  const TLineContext& Context;
  TLine& Line;
  TRegisterFrame& Frame;
  TRegisterType Type;
  TRegisterState& State;
  const QString& RequestTrace;
};
using TBackendExchange = TExchange (*)(const TExchangeCall& call);

}  // namespace vexa
