#include "alarms/model/AlarmJournalWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <chrono>
#include <cmath>
#include <optional>

#include "core/Services.h"

namespace vexa {

namespace {

constexpr size_t kChunk = 1000;  // events in one transaction

QByteArray SpillLine(const TAlarmEvent& e) {
  QJsonObject o;
  o[QLatin1String("time")] = e.Time;
  o[QLatin1String("at")] = static_cast<double>(e.At != 0 ? e.At : UtcMsOfLocal(e.Time));
  o[QLatin1String("name")] = e.Name;
  o[QLatin1String("caption")] = e.Caption;
  o[QLatin1String("condition")] = ConditionCode(e.Condition);
  o[QLatin1String("event")] = EventWord(e.Kind);
  o[QLatin1String("state")] = StateWord(e.State);
  if (!std::isnan(e.Value)) o[QLatin1String("value")] = e.Value;
  o[QLatin1String("who")] = e.Who;
  o[QLatin1String("priority")] = e.Priority;
  if (e.ShelvedUntil > 0) o[QLatin1String("until")] = e.ShelvedUntil;
  o[QLatin1String("asked")] = e.Asked;
  o[QLatin1String("outcome")] = e.Outcome;
  o[QLatin1String("key")] = e.Key;
  return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<TAlarmEvent> SpilledEvent(const QByteArray& line) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  const auto condition = ConditionOfCode(o[QLatin1String("condition")].toString());
  const auto kind = EventOfWord(o[QLatin1String("event")].toString());
  const auto state = StateOfWord(o[QLatin1String("state")].toString());
  if (!condition || !kind || !state) return std::nullopt;
  TAlarmEvent e;
  e.Time = o[QLatin1String("time")].toDouble();
  e.At = static_cast<qint64>(o[QLatin1String("at")].toDouble());
  e.Name = o[QLatin1String("name")].toString();
  e.Caption = o[QLatin1String("caption")].toString();
  e.Condition = *condition;
  e.Kind = *kind;
  e.State = *state;
  e.Value = o.contains(QLatin1String("value")) ? o[QLatin1String("value")].toDouble() : kNoValue;
  e.Who = o[QLatin1String("who")].toString();
  e.Priority = o[QLatin1String("priority")].toInt();
  e.ShelvedUntil = o[QLatin1String("until")].toDouble();
  e.Asked = o[QLatin1String("asked")].toString();
  e.Outcome = o[QLatin1String("outcome")].toString();
  e.Key = o[QLatin1String("key")].toString();
  return e;
}

}  // namespace

QString TAlarmJournalWriter::SpillPath(const QString& journalPath) {
  return journalPath + QStringLiteral("-spill");
}

std::vector<TAlarmEvent> TAlarmJournalWriter::ReadSpill(const QString& path) {
  std::vector<TAlarmEvent> events;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return events;
  for (const QByteArray& line : file.readAll().split('\n'))
    if (auto e = SpilledEvent(line)) events.push_back(std::move(*e));
  return events;
}

TAlarmJournalWriter::TAlarmJournalWriter(TJournalWriterOptions options)
    : options_(std::move(options)),
      keyPrefix_(QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('-')) {
  for (TAlarmEvent& e : ReadSpill(SpillPath(options_.Path))) waiting_.push_back({std::move(e), true});
  status_.Waiting = static_cast<int>(waiting_.size());
  busy_ = true;  // the first pass opens a journal that is there: Flush waits for its word
  thread_ = std::thread([this] { Run(); });
}

TAlarmJournalWriter::~TAlarmJournalWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TAlarmJournalWriter::Post(TAlarmEvent event) {
  {
    std::lock_guard lock(mutex_);
    if (event.Key.isEmpty()) event.Key = keyPrefix_ + QString::number(nextKey_++);
    incoming_.push_back(std::move(event));
    busy_ = true;
    ++status_.Waiting;
  }
  wake_.notify_one();
}

void TAlarmJournalWriter::Prune(double before) {
  {
    std::lock_guard lock(mutex_);
    pruneAsked_ = before;
    busy_ = true;
  }
  wake_.notify_one();
}

bool TAlarmJournalWriter::Flush(int ms) {
  std::unique_lock lock(mutex_);
  idle_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !busy_; });
  return status_.Waiting == 0;
}

TJournalWriterStatus TAlarmJournalWriter::Status() const {
  std::lock_guard lock(mutex_);
  TJournalWriterStatus status = status_;
  status.Error = Detached(status_.Error);
  status.SetAside = Detached(status_.SetAside);
  return status;
}

void TAlarmJournalWriter::SetTrouble(TJournalTrouble trouble, const QString& error) {
  std::lock_guard lock(mutex_);
  status_.Trouble = trouble;
  status_.Error = error;
}

void TAlarmJournalWriter::Run() {
  using Clock = std::chrono::steady_clock;
  bool failing = false;
  bool first = true;  // a journal already there is opened at once: its damage is told at start-up
  Clock::time_point retryAt;
  for (;;) {
    std::vector<TAlarmEvent> taken;
    double prune = 0;
    bool stopping = false;
    {
      std::unique_lock lock(mutex_);
      const auto due = [&] { return stop_ || !incoming_.empty() || pruneAsked_ > 0; };
      if (failing)
        wake_.wait_until(lock, retryAt, due);
      else if (waiting_.empty() && !first)
        wake_.wait(lock, due);
      taken.swap(incoming_);
      prune = pruneAsked_;
      pruneAsked_ = 0;
      stopping = stop_;
      busy_ = true;
    }
    for (TAlarmEvent& e : taken) waiting_.push_back({std::move(e), false});
    long long lost = 0;
    while (waiting_.size() > options_.MaxWaiting) {
      waiting_.pop_front();
      ++lost;
    }
    if (prune > 0) pruneBefore_ = prune;
    if (!failing || stopping || Clock::now() >= retryAt) {
      failing = !WriteWaiting(first);
      first = false;
      if (failing) retryAt = Clock::now() + std::chrono::milliseconds(options_.RetryMs);
    }
    if (!waiting_.empty()) SpillWaiting();
    {
      std::lock_guard lock(mutex_);
      status_.Waiting = static_cast<int>(waiting_.size() + incoming_.size());
      status_.Lost += lost;
      busy_ = !incoming_.empty() || pruneAsked_ > 0;
    }
    idle_.notify_all();
    if (stopping) break;
  }
  journal_.Close();
}

bool TAlarmJournalWriter::OpenJournal() {
  if (journal_.Open(options_.Path, false, options_.BusyMs, !checked_)) {
    checked_ = true;
    return true;
  }
  if (journal_.Trouble() != TJournalTrouble::Damaged) {
    SetTrouble(journal_.Trouble(), journal_.ErrorText());
    return false;
  }
  const QString damage = journal_.ErrorText();
  QString why;
  const QString aside = TAlarmJournal::SetAside(options_.Path, &why);
  if (aside.isEmpty()) {
    SetTrouble(TJournalTrouble::Damaged, damage + QStringLiteral("; ") + why);
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    status_.SetAside += (status_.SetAside.isEmpty() ? QString() : QStringLiteral(", ")) + aside;
  }
  if (journal_.Open(options_.Path, false, options_.BusyMs)) {
    checked_ = true;
    return true;
  }
  SetTrouble(journal_.Trouble(), journal_.ErrorText());
  return false;
}

bool TAlarmJournalWriter::WriteWaiting(bool first) {
  // A folder where nothing was ever raised gets no journal from the age bound or the start.
  const bool exists = QFileInfo::exists(options_.Path);
  if (waiting_.empty() && !(exists && (first || pruneBefore_ > 0))) return true;
  if (!journal_.IsOpen() && !OpenJournal()) return false;
  bool wrote = false;
  bool setAsideOnce = false;
  while (!waiting_.empty()) {
    const size_t n = std::min(kChunk, waiting_.size());
    std::vector<TAlarmEvent> chunk;
    chunk.reserve(n);
    for (size_t i = 0; i < n; ++i) chunk.push_back(waiting_[i].Event);
    if (journal_.Append(chunk)) {
      waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(n));
      wrote = true;
      continue;
    }
    const TJournalTrouble trouble = journal_.Trouble();
    const QString error = journal_.ErrorText();
    journal_.Close();
    // Damaged under our hands: kept aside once, and the events go into a fresh journal.
    if (trouble == TJournalTrouble::Damaged && !setAsideOnce) {
      setAsideOnce = true;
      checked_ = false;
      if (OpenJournal()) continue;
    } else {
      SetTrouble(trouble, error);
    }
    if (wrote) {
      // What went in must not come back from the spill file after a restart.
      QFile::remove(SpillPath(options_.Path));
      for (TPending& p : waiting_) p.Spilled = false;
    }
    return false;
  }
  if (wrote) QFile::remove(SpillPath(options_.Path));
  if (pruneBefore_ > 0) {
    const int removed = journal_.RemoveBefore(pruneBefore_);
    if (removed < 0) {
      // Locked or full: tried again with the next attempt, as an event would be.
      SetTrouble(journal_.Trouble(), journal_.ErrorText());
      journal_.Close();
      return false;
    }
    pruneBefore_ = 0;
    std::lock_guard lock(mutex_);
    status_.Pruned = removed;
  }
  SetTrouble(TJournalTrouble::None, QString());
  return true;
}

void TAlarmJournalWriter::SpillWaiting() {
  // A spill file that lost its earlier part (events dropped past the bound) is written anew.
  QByteArray bytes;
  for (const TPending& p : waiting_)
    if (!p.Spilled) bytes += SpillLine(p.Event);
  if (bytes.isEmpty() || !AppendSynced(SpillPath(options_.Path), bytes)) return;
  for (TPending& p : waiting_) p.Spilled = true;
}

}  // namespace vexa
