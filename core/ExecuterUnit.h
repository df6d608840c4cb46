#pragma once
// The poller: a background thread that walks the network tree and has the main thread refresh every
// enabled register, and run the automatic save when it is due. One poller exists at a time.

namespace vexa {

class TExecuter;

// Creates a poller, resets its walk to the start of NET and starts it (replacing a stopped one).
void StartPoller();
// Asks the poller to end and waits for it, serving its pending main-thread call meanwhile; the
// global slot is empty afterwards. Nothing when there is no poller.
void StopPoller();
// Asks the poller to end without waiting (the main window's close); StopPoller finishes it.
void TerminatePoller();
// Suspend and resume around a save of the network state (safe when there is no poller, and when
// called from inside the poller's own automatic save).
void SuspendPoller();
void ResumePoller();
bool PollerRunning();
TExecuter* Executer();

}  // namespace vexa
