#pragma once
// One regulator line: its port, the lock that lets one exchange at a time onto it, the simulator's
// random generator, the line's news (trace, loss and return) and its writer, which runs the writes
// asked of the line in order away from the thread that asked. Every exchange runs on a line.

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "core/CustomComm.h"
#include "core/Services.h"

namespace vexa {

class TLineWriter;

class TLine {
 public:
  // `port` may be null: every exchange on the line then fails at once.
  explicit TLine(std::unique_ptr<TCustomComm> port = nullptr);
  ~TLine();
  TLine(const TLine&) = delete;
  TLine& operator=(const TLine&) = delete;

  TCustomComm* Port() const { return port_.get(); }
  // Every write asked without waiting goes through it (TCustomRegister::SubmitStringData).
  TLineWriter& Writer() { return *writer_; }
  // The line carries one exchange at a time, whichever thread asks (the poller's reads, the main
  // thread's reads and writes): an exchange holds this lock throughout. Hold it too to close, reopen
  // or reconfigure the port, and across a pause the line must keep quiet. Recursive, so a holder may
  // exchange.
  std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock(mutex_); }

  // Requests written to the port so far, every attempt counted (a search tells the answers that came
  // only after a repeat by it). Counted by the exchange with the line held.
  uint64_t Writes() const { return writes_; }
  void CountWrite() { ++writes_; }

  // The simulation mode's values wander by this generator, used only with the line held.
  TRandomGenerator& Random() { return random_; }

  // Set before the line is used. Trace: every frame of every exchange ("> 00 01 ...", "< ...",
  // "! crc"). Notice: news the operator is told once each, a loss ("Порт COM1 потерян: …", lost
  // true) and a return ("Порт COM1 снова открыт"); called on the exchange's thread with the line
  // held, so it must hand the text on without waiting for another thread.
  std::function<void(const QString&)> Trace;
  std::function<void(const QString& text, bool lost)> Notice;

  void TraceLine(const QString& text) const {
    if (Trace) Trace(text);
  }
  void Tell(const QString& text, bool lost) const {
    if (Notice) Notice(text, lost);
  }

 private:
  std::unique_ptr<TCustomComm> port_;
  mutable std::recursive_mutex mutex_;
  TRandomGenerator random_;
  std::atomic<uint64_t> writes_ = 0;
  // Last: it goes first, finishing its write in flight while the port is still there.
  std::unique_ptr<TLineWriter> writer_;
};

}  // namespace vexa
