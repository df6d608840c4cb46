#include "historian/HistorianWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <cmath>
#include <ctime>

#include "core/Services.h"

namespace vexa {

namespace {

constexpr size_t kChunk = 20000;  // reads in one transaction

// One read a line: time, value (empty when none), outcome, name last (a name has no tab).
QByteArray SpillLine(const THistorySample& s) {
  QByteArray line = QByteArray::number(static_cast<qlonglong>(s.At));
  line += '\t';
  if (std::isfinite(s.Value)) line += QByteArray::number(s.Value, 'g', 17);
  line += s.Ok ? "\t1\t" : "\t0\t";
  line += s.Name.toUtf8();
  line += '\n';
  return line;
}

double ThreadCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

QString THistorianWriter::SpillPath(const QString& path) {
  return path + QStringLiteral("-spill");
}

std::vector<THistorySample> THistorianWriter::ReadSpill(const QString& path) {
  std::vector<THistorySample> samples;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return samples;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine();
    // A line cut by a crash has no end and is left out.
    if (!line.endsWith('\n')) break;
    const QList<QByteArray> fields = line.chopped(1).split('\t');
    if (fields.size() != 4 || fields[3].isEmpty()) continue;
    bool ok = false;
    THistorySample s;
    s.At = fields[0].toLongLong(&ok);
    if (!ok) continue;
    s.Value = fields[1].isEmpty() ? std::nan("") : fields[1].toDouble(&ok);
    if (!ok) continue;
    s.Ok = fields[2] == "1";
    s.Name = QString::fromUtf8(fields[3]);
    samples.push_back(std::move(s));
  }
  return samples;
}

THistorianWriter::THistorianWriter(THistorianOptions options) : options_(std::move(options)) {
  store_ = options_.Url.isEmpty() ? static_cast<THistoryDatabase*>(&sqlite_) : &postgres_;
  for (THistorySample& s : ReadSpill(SpillPath(options_.Path))) waiting_.push_back({std::move(s), true});
  status_.Waiting = static_cast<long long>(waiting_.size());
  thread_ = std::thread([this] { Run(); });
}

THistorianWriter::~THistorianWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void THistorianWriter::Post(THistorySample sample) {
  std::lock_guard lock(mutex_);
  // A writer held up that long (a disk that hangs) loses the newest: the line goes on.
  if (incoming_.size() >= options_.MaxWaiting) {
    ++status_.Lost;
    return;
  }
  incoming_.push_back(std::move(sample));
  ++status_.Waiting;
  // No wake: the batch is taken on the writer's own beat.
}

bool THistorianWriter::Flush(int ms) {
  std::unique_lock lock(mutex_);
  flushAsked_ = true;
  busy_ = true;
  wake_.notify_one();
  idle_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !busy_; });
  return status_.Waiting == 0;
}

THistorianStatus THistorianWriter::Status() const {
  std::lock_guard lock(mutex_);
  THistorianStatus status = status_;
  status.Error = Detached(status_.Error);
  status.SetAside = Detached(status_.SetAside);
  return status;
}

void THistorianWriter::SetTrouble(TJournalTrouble trouble, const QString& error) {
  std::lock_guard lock(mutex_);
  status_.Trouble = trouble;
  status_.Error = error;
}

int64_t THistorianWriter::UtcNow() const {
  return options_.UtcNowMs ? options_.UtcNowMs() : QDateTime::currentMSecsSinceEpoch();
}

void THistorianWriter::Run() {
  using Clock = std::chrono::steady_clock;
  bool failing = false;
  Clock::time_point retryAt;
  Clock::time_point nextBatch = Clock::now();  // a spill file or a damaged file is seen at once
  for (;;) {
    std::vector<THistorySample> taken;
    bool stopping = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_until(lock, failing ? std::max(retryAt, nextBatch) : nextBatch,
                       [this] { return stop_ || flushAsked_; });
      taken.swap(incoming_);
      stopping = stop_;
      if (flushAsked_) retryAt = Clock::now();
      flushAsked_ = false;
      busy_ = true;
    }
    nextBatch = Clock::now() + std::chrono::milliseconds(options_.BatchMs);
    for (THistorySample& s : taken) waiting_.push_back({std::move(s), false});
    long long lost = 0;
    while (waiting_.size() > options_.MaxWaiting) {
      waiting_.pop_front();
      ++lost;
    }
    const size_t before = waiting_.size();
    if (!failing || stopping || Clock::now() >= retryAt) {
      failing = !WriteWaiting();
      if (failing) retryAt = Clock::now() + std::chrono::milliseconds(options_.RetryMs);
    }
    if (!waiting_.empty()) SpillWaiting();
    {
      std::lock_guard lock(mutex_);
      status_.Written += static_cast<long long>(before - waiting_.size());
      status_.Waiting = static_cast<long long>(waiting_.size() + incoming_.size());
      status_.Lost += lost;
      status_.CpuSeconds = ThreadCpuSeconds();
      busy_ = flushAsked_;
    }
    idle_.notify_all();
    if (stopping) break;
  }
  store_->Close();
}

bool THistorianWriter::OpenStore() {
  if (!options_.Url.isEmpty()) {
    if (postgres_.Open(options_.Url, options_.Source)) return true;
    SetTrouble(postgres_.Trouble(), postgres_.ErrorText());
    return false;
  }
  if (sqlite_.Open(options_.Path, false, options_.BusyMs)) return true;
  if (store_->Trouble() != TJournalTrouble::Damaged) {
    SetTrouble(store_->Trouble(), store_->ErrorText());
    return false;
  }
  const QString damage = store_->ErrorText();
  QString why;
  const QString aside = THistoryStore::SetAside(options_.Path, &why);
  if (aside.isEmpty()) {
    SetTrouble(TJournalTrouble::Damaged, damage + QStringLiteral("; ") + why);
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    status_.SetAside += (status_.SetAside.isEmpty() ? QString() : QStringLiteral(", ")) + aside;
  }
  if (sqlite_.Open(options_.Path, false, options_.BusyMs)) return true;
  SetTrouble(store_->Trouble(), store_->ErrorText());
  return false;
}

bool THistorianWriter::WriteWaiting() {
  if (!store_->IsOpen() && !OpenStore()) return false;
  bool wrote = false;
  bool setAsideOnce = false;
  const auto failed = [&] {
    const TJournalTrouble trouble = store_->Trouble();
    const QString error = store_->ErrorText();
    store_->Close();
    // Damaged under our hands: kept aside once, and the reads go into a fresh database.
    if (trouble == TJournalTrouble::Damaged && !setAsideOnce) {
      setAsideOnce = true;
      if (OpenStore()) return true;
    } else {
      SetTrouble(trouble, error);
    }
    if (wrote) {
      // What went in must not come back from the spill file after a restart.
      QFile::remove(SpillPath(options_.Path));
      for (TPending& p : waiting_) p.Spilled = false;
    }
    return false;
  };
  while (!waiting_.empty()) {
    const size_t n = std::min(kChunk, waiting_.size());
    std::vector<THistorySample> chunk;
    chunk.reserve(n);
    for (size_t i = 0; i < n; ++i) chunk.push_back(waiting_[i].Sample);
    if (store_->Write(chunk)) {
      waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(n));
      wrote = true;
      continue;
    }
    if (!failed()) return false;
  }
  if (wrote) QFile::remove(SpillPath(options_.Path));
  while (!store_->RollUp(UtcNow(), options_.Tiers))
    if (!failed()) return false;
  SetTrouble(TJournalTrouble::None, QString());
  return true;
}

void THistorianWriter::SpillWaiting() {
  QByteArray bytes;
  for (const TPending& p : waiting_)
    if (!p.Spilled) bytes += SpillLine(p.Sample);
  if (bytes.isEmpty()) return;
  // A server's spill file may be the first of the folder's archives.
  QDir().mkpath(QFileInfo(options_.Path).absolutePath());
  if (!AppendSynced(SpillPath(options_.Path), bytes)) return;
  for (TPending& p : waiting_) p.Spilled = true;
}

}  // namespace vexa
