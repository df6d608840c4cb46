#pragma once
// The poller: a background thread that walks the network tree and reads every enabled register when
// it is due. A register node's exchange runs on the poller thread, on a detached copy the main thread
// makes; the main thread stores the outcome with the poller's next call. Other registers' refreshes
// and the automatic save run on the main thread. A network has one poller at a time (TNetwork). A
// silent regulator's registers fail without an exchange between its probes (TSilentRegulators).

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "core/Protocol.h"
#include "core/SilentRegulators.h"

class QObject;

class QEvent;

namespace vexa {

class TComponent;
class TCustomRegister;
class TRegisterNode;
class TRootNode;

class TExecuter;
class TNetwork;

// One step of the walk over the tree under root, without recursion: goes down into a container (a
// node whose class is exactly TRootNode), up when current's children are done, or past one child;
// found is the register passed, else null. Other children are skipped, and the walk never enters a
// register. Returns true when a pass over the whole tree is complete (current is root again).
bool NextRegister(const TComponent* root, const TComponent*& current, int& index, TCustomRegister*& found);

class TExecuter {
 public:
  // Create on the main thread: the calls the poller hands over are served by its event loop. It
  // walks the network's NET and reads on its line.
  explicit TExecuter(TNetwork& network);
  ~TExecuter();  // terminates and waits
  TExecuter(const TExecuter&) = delete;
  TExecuter& operator=(const TExecuter&) = delete;

  void Start();
  void Terminate();
  bool Terminated() const;
  // Waits until the thread has ended (after Terminate).
  void WaitFor();
  // Nested: the poller hands nothing to the main thread until every Suspend has been resumed.
  void Suspend();
  void Resume();
  // True while a call of this poller runs on the main thread.
  bool InCall() const;
  // Main thread, once the thread has ended (WaitFor): stores a read it had finished but not handed
  // over. Its node is still there: the tree changes only after the poller was stopped.
  void StoreFinishedRead();

  double LastSave() const { return lastSave_; }
  // Exchanges and passes over the tree completed so far, counted by the poller thread: a count
  // that stands still while time passes is a poller stuck (a service's watchdog). An idle poller
  // still completes a pass at the end of each rest.
  uint64_t Progress() const { return progress_; }
  // CPU seconds the poller thread has used.
  double ThreadCpuSeconds() const;

  // Main thread, after every refresh the poller had run (vexa-cli poll counts the reads with it).
  std::function<void(TCustomRegister&)> OnRefreshed;

 private:
  enum class TCall { Refresh, BeginRead, FinishRead, AutoSave };
  enum class TCallState { Idle, Pending, Running, Done };

  void Execute();
  void Step();
  void Offer(TCustomRegister& reg);
  bool AutoSaveDue() const;
  // Sleeps at the end of a pass until something can be due, at once awake when terminated.
  void Rest();
  void NoteDue(int64_t tick);
  // Poller thread: runs `call` on the main thread and waits for it; false when it was dropped.
  bool CallInMain(TCall call);
  void ServeCall();  // main thread
  void DoRefresh();
  void DoBeginRead();
  void DoFinishRead();
  void DoAutoSave();

  TNetwork& network_;
  const TRootNode* root_;
  const TComponent* current_ = nullptr;
  int index_ = 0;
  TCustomRegister* found_ = nullptr;
  // The read in flight and its node: made and stored on the main thread, read on the poller thread,
  // handed over by the calls.
  std::unique_ptr<TCustomRegister> read_;
  TLineContext readLine_;
  int readInterval_ = 0;
  TRegisterNode* readNode_ = nullptr;
  // Poller thread: which regulators are silent, so that their registers cost the line little.
  TSilentRegulators silent_;
  // Poller thread: a read is done and waits to be stored. It rides on the next call to the main
  // thread, so a read costs one call; a rest longer than a moment, or a second one, stores it first.
  bool storePending_ = false;
  bool storeRested_ = false;
  std::atomic<double> lastSave_ = 0;  // shown; the tick decides
  std::atomic<int64_t> lastSaveTick_ = 0;
  // Earliest tick at which a register seen in this pass can read again; anything not a register
  // node reads on every refresh.
  int64_t passDue_ = std::numeric_limits<int64_t>::max();
  bool passAlwaysDue_ = false;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool terminated_ = false;
  int suspended_ = 0;
  TCall call_ = TCall::Refresh;
  bool storeFirst_ = false;  // the call stores the pending read before it runs
  TCallState callState_ = TCallState::Idle;

  class TDispatcher;
  // Called with mutex_ held: a request to serve the pending call, for PostServe once unlocked.
  static QEvent* ServeRequest();
  void PostServe(QEvent* request);

  std::unique_ptr<TDispatcher> dispatcher_;  // lives in the main thread; its queued calls die with it
  std::thread thread_;
  std::atomic<bool> finished_ = false;
  std::atomic<uint64_t> progress_ = 0;
  std::atomic<double> cpuAtExit_ = 0;
};

}  // namespace vexa
