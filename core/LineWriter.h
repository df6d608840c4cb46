#pragma once
// The line's writer: register writes leave the caller's thread. A write is handed over as a detached
// copy of the register and the text to write; one thread of the line runs the writes in the order
// they were asked (one at a time, the line held through the exchange and the pause after it), and
// each outcome reaches the main thread by a queued event, where it is stored on the register (if it
// is still there) and handed to the asker's completion.
//
// How to write a register without waiting (the channel table, the process tick, remote writes):
//
//   reg.SubmitStringData(network.LineContext(), text, [](const TWriteResult& o) {
//     // main thread; o.Result is the register's LastIOResult after the write
//   });
//
// or TLineWriter::Submit directly. The completion is called exactly once for every write asked
// while the writer runs: after the outcome was stored, or at once when the write was refused (a
// full queue, a stopped writer) or dropped by Stop. A completion must not assume the register still
// exists (Stored says whether it took the outcome); whatever else it captures it must check itself.
// Only the writer's destruction (the line's, at the network's end) drops the queue untold.
//
// On a clock whose time moves only when slept on (TVirtualClock, the tests' clocks) there is no
// thread: the write runs at once on the calling thread and its completion is called before Submit
// returns, so simulated time stays deterministic.

#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Protocol.h"

class QEvent;

namespace vexa {

class TCustomRegister;

enum TIOResult { iorOK, iorFAIL, iorWRONGDATA };

// Whether a register is still there, for work that outlives a call: its destructor marks it gone.
struct TRegisterLife {
  std::atomic<bool> Gone = false;
};

struct TWriteResult {
  TIOResult Result = iorFAIL;  // the register's LastIOResult after the write (iorFAIL when none ran)
  bool Stored = false;         // the register was still there and took the outcome
  bool Refused = false;        // never queued: the queue was full or the writer stopped
  bool Dropped = false;        // queued, then dropped by Stop before it ran
  bool Ok() const { return Result == iorOK; }
};
using TWriteDone = std::function<void(const TWriteResult&)>;

// What a write sends: a text, as SetStringData takes it, or a number, as SetFloatData does.
struct TWriteValue {
  QString Text;
  double Number = 0;
  bool IsNumber = false;
  static TWriteValue OfText(QString text) { return {std::move(text), 0, false}; }
  static TWriteValue OfNumber(double v) { return {QString(), v, true}; }
};

class TLineWriter {
 public:
  // Writes beyond this many waiting are refused: a regulator line writes about nine a second.
  static constexpr size_t kMaxQueued = 1000;

  TLineWriter();
  // Drops what is queued without telling, finishes the write in flight and ends the thread.
  ~TLineWriter();
  TLineWriter(const TLineWriter&) = delete;
  TLineWriter& operator=(const TLineWriter&) = delete;

  // Main thread (or, on a clock that runs only when slept on, the caller's): asks for a write of
  // `value` to `reg` on `line`. The register is copied now; what it is given afterwards does not
  // change this write.
  void Submit(TCustomRegister& reg, const TLineContext& line, TWriteValue value, TWriteDone done = {});

  // Runs the write at once on the calling thread and calls `done` before it returns.
  static void RunHere(TCustomRegister& reg, const TLineContext& line, TWriteValue value, TWriteDone done);
  // Tells `done` at once that the write was refused, leaving the register as it is.
  static void Refuse(TCustomRegister& reg, const TLineContext& line, TWriteValue value, TWriteDone done);

  // Main thread: waits until every queued write has run and hands their outcomes over here and now
  // (tests, a one-shot command without an event loop, a shutdown that finishes the queue).
  void Drain();
  // Main thread: drops the queued writes (their completions told Dropped), waits for the one in
  // flight and hands its outcome over, and ends the thread; later writes are refused. Bounded by one
  // write: an exchange's attempts and its pause.
  void Stop();
  bool Stopped() const;
  // Writes queued or in flight whose outcome has not been handed over yet.
  size_t Pending() const;

  // True when writes run on the writer's thread: only when the clock is the system's.
  static bool Threaded();

 private:
  struct TJob {
    TCustomRegister* Target = nullptr;  // touched on the main thread only, while Life says it is there
    std::unique_ptr<TCustomRegister> Copy;
    QString TextBefore;  // the copy's text when made: a write that leaves it so stores no text
    std::shared_ptr<TRegisterLife> Life;
    TLineContext Line;
    TWriteValue Value;
    TWriteDone Done;
    TWriteResult Outcome;
  };
  class TDispatcher;

  static std::unique_ptr<TJob> MakeJob(TCustomRegister& reg, const TLineContext& line, TWriteValue value,
                                       TWriteDone done);
  static void Run(TJob& job);
  // Main thread: stores a finished job's outcome and calls its completion.
  static void Finish(TJob& job);
  void StartThread();
  void Execute();
  void DeliverFinished();
  void PostDeliver();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::unique_ptr<TJob>> queue_;
  std::vector<std::unique_ptr<TJob>> finished_;
  bool busy_ = false;
  bool stopping_ = false;
  bool stopped_ = false;
  bool deliverPosted_ = false;
  size_t pending_ = 0;
  std::unique_ptr<TDispatcher> dispatcher_;  // made with the thread, on the main thread
  std::thread thread_;
};

}  // namespace vexa
