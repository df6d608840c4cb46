#include "core/ExecuterUnit.h"

#include <pthread.h>

#include <QEvent>
#include <QObject>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <exception>
#include <vector>

#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"

namespace vexa {

namespace {

// The shortest rest at the end of a pass, so a pass never follows a pass without a pause.
constexpr int kMinRestMs = 1;
// The longest: the operator may enable a register or shorten its interval while the poller rests,
// and the poller has to notice that without being told.
constexpr int kMaxRestMs = 100;
// A read waits to be stored with the next call through a rest of at most this long.
constexpr int kStoreWithNextMs = 50;

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

bool NextRegister(const TComponent* root, const TComponent*& current, int& index, TCustomRegister*& found) {
  found = nullptr;
  if (!root) return true;
  if (!current) current = root;
  if (index >= current->ComponentCount()) {
    if (current == root || !current->Owner()) {
      current = root;
      index = 0;
      return true;
    }
    index = current->ComponentIndex() + 1;
    current = current->Owner();
    return false;
  }
  TComponent* child = current->Component(index);
  // Only plain containers are entered: by exact class, not by inheritance.
  if (&child->ClassInfo() == &TRootNode::StaticClassInfo()) {
    current = child;
    index = 0;
    return false;
  }
  ++index;
  found = dynamic_cast<TCustomRegister*>(child);
  return false;
}

// The main thread's end of the poller's calls. A request is made under the poller's lock and read
// only under it, so the hand-over is ordered by that lock: Qt's own event queue is not built with
// ThreadSanitizer, and an order that only it gives would be invisible to the thread check.
class TExecuter::TDispatcher : public QObject {
 public:
  explicit TDispatcher(TExecuter& owner) : owner_(owner) {}

  static QEvent::Type ServeType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }

  bool event(QEvent* e) override {
    std::unique_lock lock(owner_.mutex_);
    const bool serve = e->type() == ServeType();
    lock.unlock();
    if (!serve) return QObject::event(e);
    owner_.ServeCall();
    return true;
  }

 private:
  TExecuter& owner_;
};

TExecuter::TExecuter(TNetwork& network)
    : network_(network),
      root_(network.Net().get()),
      current_(root_),
      lastSave_(Now()),
      lastSaveTick_(TickMs()),
      dispatcher_(std::make_unique<TDispatcher>(*this)) {
  TDispatcher::ServeType();  // registered before a thread can race for it
}

QEvent* TExecuter::ServeRequest() {
  return new QEvent(TDispatcher::ServeType());
}

void TExecuter::PostServe(QEvent* request) {
  PostEvent(dispatcher_.get(), request);
}

TExecuter::~TExecuter() {
  Terminate();
  WaitFor();
  // Only now: a call the poller posted and then dropped goes with its receiver, unserved.
  dispatcher_.reset();
}

void TExecuter::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Execute(); });
}

void TExecuter::Terminate() {
  std::lock_guard lock(mutex_);
  terminated_ = true;
  cv_.notify_all();
}

bool TExecuter::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

void TExecuter::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TExecuter::Suspend() {
  std::lock_guard lock(mutex_);
  ++suspended_;
}

void TExecuter::Resume() {
  std::lock_guard lock(mutex_);
  if (suspended_ == 0) return;
  if (--suspended_ > 0) return;
  cv_.notify_all();
  // A call that arrived while suspended was left waiting; serve it now.
  if (callState_ == TCallState::Pending) PostServe(ServeRequest());
}

bool TExecuter::InCall() const {
  std::lock_guard lock(mutex_);
  return callState_ == TCallState::Running;
}

double TExecuter::ThreadCpuSeconds() const {
  if (finished_ || !thread_.joinable()) return cpuAtExit_;
  clockid_t clock{};
  if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0)
    return cpuAtExit_;
  return CpuSeconds(clock);
}

void TExecuter::Execute() {
  // Named, so that ps -L and top -H tell it from the line's writer and the broker's thread.
  pthread_setname_np(pthread_self(), "vexa-poller");
  while (!Terminated()) {
    for (;;) {
      Step();
      if (found_ && found_->Enabled()) {
        Offer(*found_);
        break;
      }
      if (current_ == root_ || Terminated()) break;
    }
    if (AutoSaveDue()) CallInMain(TCall::AutoSave);
  }
  cpuAtExit_ = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  finished_ = true;
}

void TExecuter::Step() {
  if (Terminated()) {
    found_ = nullptr;
    return;
  }
  if (NextRegister(root_, current_, index_, found_)) {
    ++progress_;
    Rest();
  }
}

void TExecuter::Offer(TCustomRegister& reg) {
  // Only the exact class of register node is read here: its subclasses may refresh otherwise, and
  // other registers refresh on the main thread on every pass.
  TRegisterNode* node =
      &reg.ClassInfo() == &TRegisterNode::StaticClassInfo() ? static_cast<TRegisterNode*>(&reg) : nullptr;
  if (!node) {
    CallInMain(TCall::Refresh);
    passAlwaysDue_ = true;
    return;
  }
  // A register node reads only every LoggingInterval seconds: handing it over before that would
  // cost a round trip to the main thread for a refresh that does nothing.
  if (!node->RefreshDue()) {
    NoteDue(node->NextRefreshDueTick());
    return;
  }
  // Once terminated the tree may be going: the node is not touched again.
  if (!CallInMain(TCall::BeginRead) || Terminated()) return;
  if (read_) {
    // The exchange, the long part of a read, keeps the main thread free.
    silent_.Read(*read_, readLine_, readInterval_);
    ++progress_;
    storePending_ = true;
    storeRested_ = false;
  }
  // Due again an interval after the read began, whether it is stored yet or not.
  NoteDue(node->NextRefreshDueTick());
}

void TExecuter::NoteDue(int64_t tick) {
  passDue_ = std::min(passDue_, tick);
}

namespace {
int64_t AutoSaveIntervalMs(const TSetupNode& setup) {
  return int64_t{setup.AutoSaveInterval()} * 60000;  // minutes
}
}  // namespace

bool TExecuter::AutoSaveDue() const {
  // The settings change only while the poller is stopped (the settings window stops it).
  const TSetupNode* setup = network_.Setup().get();
  if (!setup || !setup->AutoSaveEnabled()) return false;
  return TickMs() - lastSaveTick_.load() >= AutoSaveIntervalMs(*setup);
}

void TExecuter::Rest() {
  const int64_t now = TickMs();
  int64_t wake = passAlwaysDue_ ? now : passDue_;
  const TSetupNode* setup = network_.Setup().get();
  if (setup && setup->AutoSaveEnabled())
    wake = std::min(wake, lastSaveTick_.load() + AutoSaveIntervalMs(*setup));
  passDue_ = std::numeric_limits<int64_t>::max();
  passAlwaysDue_ = false;

  const int restMs = wake == std::numeric_limits<int64_t>::max()
                         ? kMaxRestMs
                         : static_cast<int>(std::clamp<int64_t>(wake - now, kMinRestMs, kMaxRestMs));
  if (storePending_ && (storeRested_ || restMs > kStoreWithNextMs)) CallInMain(TCall::FinishRead);
  storeRested_ = storePending_;
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(restMs), [this] { return terminated_; });
}

bool TExecuter::CallInMain(TCall call) {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return terminated_ || suspended_ == 0; });
  if (terminated_) return false;
  call_ = call;
  storeFirst_ = storePending_;
  callState_ = TCallState::Pending;
  QEvent* request = ServeRequest();
  lock.unlock();
  PostServe(request);
  lock.lock();
  // Once terminated, a call the main thread has not taken up is dropped: whoever stops the poller
  // may be waiting for this thread and not serving calls.
  cv_.wait(lock, [this] {
    return callState_ == TCallState::Done || (terminated_ && callState_ == TCallState::Pending);
  });
  const bool ran = callState_ == TCallState::Done;
  callState_ = TCallState::Idle;
  if (ran) storePending_ = false;
  return ran;
}

void TExecuter::ServeCall() {
  std::unique_lock lock(mutex_);
  // Already dropped or served (a nested event loop may run this twice), or held by a suspend.
  if (callState_ != TCallState::Pending || suspended_ > 0) return;
  callState_ = TCallState::Running;
  TCall call = call_;
  const bool storeFirst = storeFirst_ || call == TCall::FinishRead;
  lock.unlock();
  try {
    if (storeFirst) {
      DoFinishRead();
      // Stopped from inside the store: the tree the call is about may be gone.
      lock.lock();
      const bool stopped = terminated_;
      lock.unlock();
      if (stopped) call = TCall::FinishRead;
    }
    switch (call) {
      case TCall::Refresh:
        DoRefresh();
        break;
      case TCall::BeginRead:
        DoBeginRead();
        break;
      case TCall::FinishRead:
        break;
      case TCall::AutoSave:
        DoAutoSave();
        break;
    }
  } catch (const std::exception& e) {
    // Nothing may leave an event handler; the poller goes on with the next register.
    qWarning("Vexa poller: %s", e.what());
  } catch (...) {
    qWarning("Vexa poller: unknown exception");
  }
  lock.lock();
  callState_ = TCallState::Done;
  cv_.notify_all();
}

void TExecuter::DoRefresh() {
  found_->Refresh(network_.LineContext());
  if (OnRefreshed) OnRefreshed(*found_);
  network_.RegisterRead.Notify(*found_);
}

void TExecuter::DoBeginRead() {
  readNode_ = static_cast<TRegisterNode*>(found_);
  read_ = readNode_->BeginRefresh();
  readLine_ = network_.LineContext();
  readInterval_ = readNode_->LoggingInterval();
  // Nothing was due, or the refresh needed no exchange: it is complete.
  if (!read_ && OnRefreshed) OnRefreshed(*found_);
  if (!read_) network_.RegisterRead.Notify(*found_);
}

void TExecuter::DoFinishRead() {
  // Taken first: the copy goes on this thread however the store ends.
  const std::unique_ptr<TCustomRegister> read = std::move(read_);
  if (!read) return;
  readNode_->FinishRefresh(*read);
  network_.RegisterRead.Notify(*readNode_);
  if (OnRefreshed) OnRefreshed(*readNode_);
}

void TExecuter::StoreFinishedRead() {
  if (!storePending_) return;
  storePending_ = false;
  DoFinishRead();
}

void TExecuter::DoAutoSave() {
  if (network_.AutoSave) network_.AutoSave();
  lastSave_ = Now();
  lastSaveTick_ = TickMs();
}

}  // namespace vexa
