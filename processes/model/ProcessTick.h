#pragma once
// The process tick: every 10 seconds each running process steps its command nodes; a process whose
// command nodes have all reached their last point stops itself, and one whose cyclogram cannot run
// is stopped and reported.

#include <QString>
#include <functional>

#include "core/Faults.h"

namespace vexa {

class TNetwork;
class TRootNode;

// The tick's period.
inline constexpr int kProcessTickMs = 10000;

// The processes window's side of a tick (the list row of a process is the one its PData names).
struct TProcessTickHooks {
  // A running process after its step: the smallest progress of its command nodes (the "%"
  // column); 100 for one that has just finished.
  std::function<void(TRootNode& process, int done)> ShowProgress;
  // A process the tick stopped, finished or broken (the image of a stopped process).
  std::function<void(TRootNode& process)> ShowStopped;
};

// One tick over the enabled processes of the network's TASKS. It never waits for the line: each command
// node's write is asked of the line's writer, and a node whose last write is still on its way is left
// to the next tick. A process is stopped by disabling it, giving it the stopped image and saving `tasks`. A
// process whose cyclogram does not convert is stopped, and its fault returned, in the order of the processes,
// with those of saves that failed.
TFaults ProcessTick(TNetwork& network, const TProcessTickHooks& hooks = {});

// The "%" a process shows when its row is made: the smallest progress of its command nodes while
// it runs; when stopped, 100 once every one has finished or has nothing to do (the tick stopped it
// at its end), else 0. A cyclogram that does not convert shows 0.
int ProcessProgress(const TRootNode& process);

// The operator's message for a process stopped because an entry of a command node's cyclogram
// does not convert.
QString ProcessFaultText(const QString& processCaption, const QString& nodeCaption, const QString& fault);

}  // namespace vexa
