#include "core/LineWriter.h"

#include <QEvent>
#include <QObject>
#include <QtGlobal>
#include <exception>
#include <typeinfo>

#include "core/CustomRegister.h"
#include "core/Services.h"

namespace vexa {

// The main thread's end of the writer. A request is made under the writer's lock and read only
// under it, as the poller's are: Qt's queue is not built with ThreadSanitizer, and an order that only
// it gives would be invisible to the thread check.
class TLineWriter::TDispatcher : public QObject {
 public:
  explicit TDispatcher(TLineWriter& owner) : owner_(owner) {}

  static QEvent::Type DeliverType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }

  bool event(QEvent* e) override {
    std::unique_lock lock(owner_.mutex_);
    const bool deliver = e->type() == DeliverType();
    lock.unlock();
    if (!deliver) return QObject::event(e);
    owner_.DeliverFinished();
    return true;
  }

 private:
  TLineWriter& owner_;
};

TLineWriter::~TLineWriter() {
  std::vector<std::unique_ptr<TJob>> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& job : queue_) dropped.push_back(std::move(job));
    queue_.clear();
    cv_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  // Nobody is told at the end: what the completions captured may be gone already.
  for (auto& job : finished_) job->Done = nullptr;
  for (auto& job : dropped) job->Done = nullptr;
  DeliverFinished();
  for (auto& job : dropped) {
    job->Outcome.Dropped = true;
    Finish(*job);
  }
  dispatcher_.reset();
}

TLineWriter::TLineWriter() = default;

bool TLineWriter::Threaded() {
  // A clock of simulated time moves only when slept on: a thread sleeping on it would race the
  // caller's time, and the outcome would depend on the scheduler.
  const TClock& clock = *Services().Clock;
  return typeid(clock) == typeid(TClock);
}

std::unique_ptr<TLineWriter::TJob> TLineWriter::MakeJob(TCustomRegister& reg, const TLineContext& line,
                                                        TWriteValue value, TWriteDone done) {
  auto job = std::make_unique<TJob>();
  job->Target = &reg;
  job->Copy = reg.DetachedCopy();
  job->TextBefore = job->Copy->LastStringData();
  job->Life = reg.Life();
  job->Line = line;
  job->Value = std::move(value);
  job->Done = std::move(done);
  ++reg.writesPending_;
  return job;
}

void TLineWriter::RunHere(TCustomRegister& reg, const TLineContext& line, TWriteValue value,
                          TWriteDone done) {
  const std::unique_ptr<TJob> job = MakeJob(reg, line, std::move(value), std::move(done));
  Run(*job);
  Finish(*job);
}

void TLineWriter::Refuse(TCustomRegister& reg, const TLineContext& line, TWriteValue value, TWriteDone done) {
  const std::unique_ptr<TJob> job = MakeJob(reg, line, std::move(value), std::move(done));
  job->Outcome.Refused = true;
  Finish(*job);
}

void TLineWriter::Submit(TCustomRegister& reg, const TLineContext& line, TWriteValue value, TWriteDone done) {
  if (!Threaded()) {
    RunHere(reg, line, std::move(value), std::move(done));
    return;
  }
  std::unique_ptr<TJob> job = MakeJob(reg, line, std::move(value), std::move(done));
  {
    std::unique_lock lock(mutex_);
    if (stopping_ || stopped_ || queue_.size() >= kMaxQueued) {
      lock.unlock();
      job->Outcome.Refused = true;
      Finish(*job);
      return;
    }
    queue_.push_back(std::move(job));
    ++pending_;
    cv_.notify_all();
  }
  StartThread();
}

void TLineWriter::StartThread() {
  if (thread_.joinable()) return;
  dispatcher_ = std::make_unique<TDispatcher>(*this);
  TDispatcher::DeliverType();  // registered before the thread can race for it
  thread_ = std::thread([this] { Execute(); });
}

void TLineWriter::Run(TJob& job) {
  TCustomRegister& copy = *job.Copy;
  try {
    if (job.Value.IsNumber)
      copy.SetFloatData(job.Line, job.Value.Number);
    else
      copy.SetStringData(job.Line, job.Value.Text);
  } catch (const std::exception& e) {
    // Nothing may leave the writer's thread: the write failed, the next ones go on.
    qWarning("Vexa writer: %s", e.what());
    copy.SetLastIOResult(iorFAIL);
  }
  job.Outcome.Result = copy.LastIOResult();
}

void TLineWriter::Finish(TJob& job) {
  const bool ran = !job.Outcome.Refused && !job.Outcome.Dropped;
  if (!ran) job.Outcome.Result = iorFAIL;
  if (!job.Life->Gone) {
    TCustomRegister& reg = *job.Target;
    --reg.writesPending_;
    if (ran) reg.TakeWrite(*job.Copy, job.TextBefore);
    job.Outcome.Stored = ran;
  }
  if (!job.Done) return;
  try {
    job.Done(job.Outcome);
  } catch (const std::exception& e) {
    // Nothing may leave an event handler; the other outcomes are still handed over.
    qWarning("Vexa writer: %s", e.what());
  } catch (...) {
    qWarning("Vexa writer: unknown exception");
  }
}

void TLineWriter::Execute() {
  std::unique_lock lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    // Stop takes the queue away first: a stop ends the thread after the write in flight.
    if (queue_.empty()) break;
    std::unique_ptr<TJob> job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    Run(*job);
    lock.lock();
    busy_ = false;
    finished_.push_back(std::move(job));
    cv_.notify_all();
    if (deliverPosted_) continue;
    deliverPosted_ = true;
    QEvent* request = new QEvent(TDispatcher::DeliverType());
    lock.unlock();
    PostEvent(dispatcher_.get(), request);
    lock.lock();
  }
}

void TLineWriter::DeliverFinished() {
  std::vector<std::unique_ptr<TJob>> done;
  {
    std::lock_guard lock(mutex_);
    done.swap(finished_);
    deliverPosted_ = false;
    pending_ -= done.size();
  }
  for (auto& job : done) Finish(*job);
}

void TLineWriter::Drain() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (pending_ == 0) return;
      cv_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }
    // A completion may ask for more writes: those are drained too.
    DeliverFinished();
  }
}

void TLineWriter::Stop() {
  std::deque<std::unique_ptr<TJob>> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(queue_);
    pending_ -= dropped.size();
    cv_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  DeliverFinished();
  for (auto& job : dropped) {
    job->Outcome.Dropped = true;
    Finish(*job);
  }
}

bool TLineWriter::Stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

size_t TLineWriter::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

}  // namespace vexa
