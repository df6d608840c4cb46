#include "alarms/model/AlarmMonitor.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

#include "alarms/model/AlarmLimits.h"
#include "alarms/model/AlarmNode.h"
#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RootNode.h"
#include "core/Services.h"

namespace vexa {

namespace {

constexpr TAlarmCondition kLimitConditions[4] = {TAlarmCondition::HiHi, TAlarmCondition::Hi,
                                                 TAlarmCondition::Lo, TAlarmCondition::LoLo};

// The registers under a node, in the tree's order.
void CollectRegisters(const TComponent& node, std::vector<const TCustomRegister*>& out) {
  for (int i = 0; i < node.ComponentCount(); ++i) {
    const TComponent* child = node.Component(i);
    if (const auto* reg = dynamic_cast<const TCustomRegister*>(child))
      out.push_back(reg);
    else
      CollectRegisters(*child, out);
  }
}

// Delays and shelvings run on the monotonic clock: a step of the wall clock neither stalls nor
// hurries them. Days, as TAlarm counts.
double MonotonicDays() {
  return static_cast<double>(Services().Clock->TickMs()) / static_cast<double>(kMsPerDay);
}

// A query waits this long for the events just handed over, and for another program's lock.
constexpr int kReadWaitMs = 200;
constexpr int kReadBusyMs = 250;

QString WaitingText(int waiting) {
  return QStringLiteral("Журнал тревог недоступен: %1 событий ждут записи").arg(waiting);
}

QString SetAsideText(const QString& path, const QString& aside) {
  return QStringLiteral("Журнал тревог %1 повреждён: он сохранён как %2, начат новый журнал")
      .arg(path, aside);
}

// The rank a label shows first: unacknowledged active, acknowledged active, returned.
int Rank(TAlarmState state) {
  switch (state) {
    case TAlarmState::ActiveUnacked:
      return 3;
    case TAlarmState::ActiveAcked:
      return 2;
    case TAlarmState::ReturnedUnacked:
      return 1;
    case TAlarmState::Normal:
      break;
  }
  return 0;
}

}  // namespace

TAlarmMonitor::TAlarmMonitor(TNetwork& network, QString who) : network_(network), who_(std::move(who)) {}

TAlarmMonitor::~TAlarmMonitor() {
  Detach();
}

void TAlarmMonitor::Attach() {
  if (readTicket_ != 0) return;
  readTicket_ = network_.RegisterRead.Add([this](const TCustomRegister& reg) { Read(reg); });
}

void TAlarmMonitor::Detach() {
  if (readTicket_ != 0) network_.RegisterRead.Remove(readTicket_);
  readTicket_ = 0;
}

TAlarmMonitor::TRecord& TAlarmMonitor::RecordOf(const QString& name, TAlarmCondition condition) {
  TRecord& record = records_[{name, static_cast<int>(condition)}];
  record.Name = name;
  record.Condition = condition;
  return record;
}

TFaults TAlarmMonitor::Open(const QString& journalPath) {
  TFaults faults;
  const double now = Now();
  const double tick = MonotonicDays();
  writer_.reset();  // what the earlier journal still had to write, first
  reader_.Close();
  journalPath_ = journalPath.isEmpty() ? AlarmJournalPath(network_.Dir()) : journalPath;
  keepDays_ = JournalKeepDays(network_.Alarms().get());
  TJournalWriterOptions options;
  options.Path = journalPath_;
  options.RetryMs = JournalRetryMs;
  // Looked at before the writer starts: its first pass may set a damaged journal aside, or write
  // the spilled events and remove their file, before this thread comes to look.
  const std::vector<TAlarmEvent> spilled =
      TAlarmJournalWriter::ReadSpill(TAlarmJournalWriter::SpillPath(journalPath_));
  const bool journalThere = QFileInfo::exists(journalPath_);
  writer_ = std::make_unique<TAlarmJournalWriter>(options);
  lastPrune_ = now;
  if (keepDays_ > 0) writer_->Prune(now - keepDays_);
  // A folder where nothing has been raised yet gets no journal until something is. One that is
  // there is opened, checked and pruned by the writer; start-up waits a moment for its word.
  if (!journalThere && spilled.empty()) {
    Rebuild();
    faults.Add(CheckAlarmSettings(network_));
    return faults;
  }
  writer_->Flush(JournalOpenWaitMs);
  const TJournalWriterStatus status = writer_->Status();
  if (!status.SetAside.isEmpty()) {
    faults.Add(SetAsideText(journalPath_, status.SetAside));
    setAsideTold_ = status.SetAside;
  }
  if (status.Pruned > 0)
    faults.Add(QStringLiteral("Журнал тревог хранит события за %1 дн.: удалено старых событий: %2")
                   .arg(keepDays_)
                   .arg(status.Pruned),
               TMsgIcon::Warning);
  if (status.Trouble != TJournalTrouble::None)
    faults.Add(status.Error + QStringLiteral(". ") +
                   (status.Waiting > 0 ? WaitingText(status.Waiting)
                                       : QStringLiteral("События будут записаны, когда журнал освободится")),
               TMsgIcon::Warning);

  // The last event of every alarm: the journal's, then those still waiting to go into it.
  std::map<std::pair<QString, int>, TAlarmEvent> last;
  std::map<std::pair<QString, int>, double> raised;
  if (reader_.Open(journalPath_, true, kReadBusyMs)) {
    for (TAlarmEvent& e : reader_.Outstanding(now))
      last[{e.Name, static_cast<int>(e.Condition)}] = std::move(e);
    if (!reader_.ErrorText().isEmpty()) faults.Add(reader_.ErrorText(), TMsgIcon::Warning);
  }
  for (const TAlarmEvent& e : spilled) {
    if (!e.IsAlarm()) continue;
    last[{e.Name, static_cast<int>(e.Condition)}] = e;
    if (e.Kind == TAlarmEventKind::Raised) raised[{e.Name, static_cast<int>(e.Condition)}] = e.Time;
  }
  for (const auto& [key, e] : last) {
    const double until = e.ShelvedUntil > now ? e.ShelvedUntil : 0;
    if (e.State == TAlarmState::Normal && until == 0) continue;
    TRecord& record = RecordOf(e.Name, e.Condition);
    // The shelving runs out on the monotonic clock, as long after now as the journal says.
    const double untilTick = until > 0 ? tick + (until - now) : 0;
    record.Alarm.Restore(until > 0 ? TAlarmState::Normal : e.State, untilTick);
    Recount(record);
    record.ShelvedUntil = until;
    record.Caption = e.Caption;
    record.Priority = e.Priority;
    record.Value = e.Value;
    record.Since = e.Time;
    if (untilTick > 0 && (nextShelfEnd_ == 0 || untilTick < nextShelfEnd_)) nextShelfEnd_ = untilTick;
    // The active list shows when an alarm was raised, which may be earlier than its last event
    // (an acknowledgement, its return).
    if (e.Kind == TAlarmEventKind::Raised || e.State == TAlarmState::Normal) continue;
    if (const auto it = raised.find(key); it != raised.end()) {
      record.Since = it->second;
      continue;
    }
    TJournalQuery query;
    query.Name = e.Name;
    for (const TAlarmEvent& earlier : reader_.Query(query))
      if (earlier.Condition == e.Condition && earlier.Kind == TAlarmEventKind::Raised)
        record.Since = earlier.Time;
  }
  reader_.Close();
  Rebuild();
  faults.Add(CheckAlarmSettings(network_));
  return faults;
}

TAlarmJournal& TAlarmMonitor::Journal(bool waitForWriter) {
  if (writer_ && waitForWriter) writer_->Flush(kReadWaitMs);
  // Opened anew each time: the writer may have made the file since, or put a damaged one aside.
  reader_.Close();
  if (!journalPath_.isEmpty() && QFileInfo::exists(journalPath_))
    reader_.Open(journalPath_, true, kReadBusyMs);
  return reader_;
}

QString TAlarmMonitor::JournalError() const {
  return writer_ ? writer_->Status().Error : QString();
}

int TAlarmMonitor::JournalWaiting() const {
  return writer_ ? writer_->Status().Waiting : 0;
}

QString TAlarmMonitor::JournalStatusText() const {
  if (!writer_) return {};
  const TJournalWriterStatus status = writer_->Status();
  QString text = status.Waiting > 0 ? WaitingText(status.Waiting) : QString();
  if (status.Lost > 0)
    text += (text.isEmpty() ? QString() : QStringLiteral("; ")) +
            QStringLiteral("потеряно событий: %1").arg(status.Lost);
  return text;
}

bool TAlarmMonitor::FlushJournal(int ms) {
  return writer_ ? writer_->Flush(ms) : true;
}

void TAlarmMonitor::TellJournalNews() {
  if (!writer_) return;
  const TJournalWriterStatus status = writer_->Status();
  if (status.SetAside != setAsideTold_) {
    setAsideTold_ = status.SetAside;
    if (JournalNews)
      JournalNews(SetAsideText(journalPath_, status.SetAside.section(QStringLiteral(", "), -1)));
  }
  QString text = JournalStatusText();
  if (!text.isEmpty() && !status.Error.isEmpty())
    text += QStringLiteral(" (") + status.Error + QLatin1Char(')');
  if (text == journalNews_) return;
  const bool wasWaiting = !journalNews_.isEmpty();
  journalNews_ = text;
  if (!JournalNews) return;
  if (!text.isEmpty())
    JournalNews(text);
  else if (wasWaiting)
    JournalNews(QString());  // written: the notice goes
}

void TAlarmMonitor::Rebuild() {
  index_.clear();
  watched_.clear();
  comm_.clear();
  keepDays_ = JournalKeepDays(network_.Alarms().get());
  const TRootNode* alarms = network_.Alarms().get();
  const TRootNode* net = network_.Net().get();
  builtNet_ = net;
  builtAlarms_ = alarms;
  if (alarms == nullptr || net == nullptr) return;
  const auto watch = [this](const TCustomRegister* reg) -> TWatched& {
    const auto it = index_.constFind(reg);
    if (it != index_.constEnd()) return watched_[static_cast<size_t>(*it)];
    index_.insert(reg, static_cast<int>(watched_.size()));
    return watched_.emplace_back();
  };
  // One walk of NET for every limit: tens of thousands of them cost no walk each.
  const QHash<QString, TComponent*> nodes = NodesByName(net);
  for (const TAlarmNode* node : AlarmNodes(alarms)) {
    TComponent* target = nodes.value(node->Name());
    if (const auto* reg = dynamic_cast<const TCustomRegister*>(target)) {
      TWatched& w = watch(reg);
      w.Limits = node->Enabled();
      QStringList levels;
      for (const TComponent* at = reg->Owner(); at != nullptr && at != net; at = at->Owner())
        if (const auto* level = dynamic_cast<const TRootNode*>(at); level && !level->Caption().isEmpty())
          levels.prepend(level->Caption());
      const QString place = levels.join(QStringLiteral(" / "));
      const double band = std::max(0.0, node->Deadband());
      const TAlarmLimit limits[4] = {{node->HiHiEnabled(), node->HiHiLimit(), true, band},
                                     {node->HiEnabled(), node->HiLimit(), true, band},
                                     {node->LoEnabled(), node->LoLimit(), false, band},
                                     {node->LoLoEnabled(), node->LoLoLimit(), false, band}};
      for (int k = 0; k < 4; ++k) {
        w.Limit[k] = limits[k];
        if (!node->Enabled()) w.Limit[k].Enabled = false;
        TRecord& record = RecordOf(node->Name(), kLimitConditions[k]);
        record.Caption = reg->Caption();
        record.Place = place;
        record.Priority = node->Priority();
        record.Delay = node->DelaySeconds();
        w.Records[k] = &record;
        w.Passed[k] = record.Alarm.Present();
      }
    } else if (target != nullptr && target->Owner() == net) {
      // A regulator: silent when every enabled register under it fails its reads.
      TComm comm;
      comm.Enabled = node->Enabled();
      TRecord& record = RecordOf(node->Name(), TAlarmCondition::Comm);
      if (const auto* regulator = dynamic_cast<const TRootNode*>(target))
        record.Caption = regulator->Caption();
      record.Priority = node->Priority();
      record.Delay = node->DelaySeconds();
      comm.Record = &record;
      const int index = static_cast<int>(comm_.size());
      std::vector<const TCustomRegister*> registers;
      CollectRegisters(*target, registers);
      for (const TCustomRegister* reg : registers) {
        if (!reg->Enabled()) continue;
        TWatched& w = watch(reg);
        w.Regulator = index;
        w.Failing = reg->LastIOResult() != iorOK && reg->RDTime() > 0;
        ++comm.Registers;
        if (w.Failing) ++comm.Failing;
      }
      comm_.push_back(comm);
    }
  }
}

void TAlarmMonitor::Apply(TRecord& record, std::optional<TAlarmEventKind> kind, double now, double value,
                          const QString& who) {
  if (!kind) return;
  Recount(record);
  if (*kind == TAlarmEventKind::Raised) record.Since = now;
  if (!std::isnan(value)) record.Value = value;
  TAlarmEvent event;
  event.Time = now;
  event.At = UtcMsOfLocal(now);
  event.Name = record.Name;
  event.Caption = record.Caption;
  event.Condition = record.Condition;
  event.Kind = *kind;
  event.State = record.Alarm.State();
  event.Value = record.Value;
  event.Who = who;
  event.Priority = record.Priority;
  event.ShelvedUntil = record.Alarm.Shelved() ? record.ShelvedUntil : 0;
  Tell(event);
}

bool TAlarmMonitor::Note(const TAlarmEvent& event) {
  if (event.IsAlarm()) return false;
  Tell(event);
  return true;
}

void TAlarmMonitor::Tell(const TAlarmEvent& event) {
  // Handed to the writer's thread; the observers are told at once, as the journal will have it.
  if (writer_) writer_->Post(event);
  // An observer may forget itself or another while told.
  const auto observers = observers_;
  for (const auto& [id, observer] : observers) observer(event);
}

void TAlarmMonitor::Read(const TCustomRegister& reg) {
  // A load replaced a tree: what the index points at may be gone.
  if (network_.Net().get() != builtNet_ || network_.Alarms().get() != builtAlarms_) Rebuild();
  const auto it = index_.constFind(&reg);
  // A disabled register is not read: its value is an old one.
  if (it == index_.constEnd() || !reg.Enabled()) return;
  const double now = Now();
  const double tick = MonotonicDays();
  if (nextShelfEnd_ > 0 && tick >= nextShelfEnd_) Tick();
  TWatched& w = watched_[static_cast<size_t>(*it)];
  const bool ok = reg.LastIOResult() == iorOK;
  if (w.Regulator >= 0) {
    TComm& comm = comm_[static_cast<size_t>(w.Regulator)];
    if (w.Failing != !ok) {
      w.Failing = !ok;
      comm.Failing += ok ? -1 : 1;
    }
    const bool silent = comm.Enabled && comm.Registers > 0 && comm.Failing == comm.Registers;
    Apply(*comm.Record, comm.Record->Alarm.Evaluate(tick, silent, comm.Record->Delay), now, kNoValue);
  }
  if (!w.Limits) return;
  const double value = ok ? LastNumber(reg) : kNoValue;
  for (int k = 0; k < 4; ++k) {
    TRecord& record = *w.Records[k];
    if (std::isnan(value)) {
      // A failed read tells nothing of the limits: the alarm stays as it was.
      record.Alarm.Interrupt();
      continue;
    }
    w.Passed[k] = LimitPassed(w.Limit[k], value, w.Passed[k]);
    record.Value = value;  // the active list shows the value as it is now
    Apply(record, record.Alarm.Evaluate(tick, w.Passed[k], record.Delay), now, value);
  }
}

void TAlarmMonitor::Tick() {
  const double now = Now();
  const double tick = MonotonicDays();
  nextShelfEnd_ = 0;
  for (auto& [key, record] : records_) {
    if (record.Alarm.Shelved()) {
      if (const auto kind = record.Alarm.Expire(tick)) {
        Apply(record, kind, now, kNoValue);
      } else {
        const double until = record.Alarm.ShelvedUntil();
        if (nextShelfEnd_ == 0 || until < nextShelfEnd_) nextShelfEnd_ = until;
        continue;
      }
    }
    // A condition that still holds: its delay may have run out since the last read.
    if (record.Alarm.Present() && !record.Alarm.Active())
      Apply(record, record.Alarm.Evaluate(tick, true, record.Delay), now, kNoValue);
  }
  if (writer_ && keepDays_ > 0 && std::abs(now - lastPrune_) >= 1.0) {
    lastPrune_ = now;
    writer_->Prune(now - keepDays_);
  }
  TellJournalNews();
}

std::vector<TActiveAlarm> TAlarmMonitor::Active() const {
  std::vector<TActiveAlarm> list;
  for (const auto& [key, record] : records_) {
    if (record.Alarm.State() == TAlarmState::Normal) continue;
    list.push_back({record.Name, record.Caption, record.Condition, record.Alarm.State(), record.Since,
                    record.Value, record.Priority, record.Place});
  }
  std::stable_sort(list.begin(), list.end(), [](const TActiveAlarm& a, const TActiveAlarm& b) {
    return a.Priority != b.Priority ? a.Priority < b.Priority : a.Time < b.Time;
  });
  return list;
}

int TAlarmMonitor::ActiveCount() const {
  return activeCount_;
}

int TAlarmMonitor::UnackedCount() const {
  return unackedCount_;
}

void TAlarmMonitor::Recount(TRecord& record) {
  const auto active = [](TAlarmState s) {
    return s == TAlarmState::ActiveUnacked || s == TAlarmState::ActiveAcked;
  };
  const auto unacked = [](TAlarmState s) {
    return s == TAlarmState::ActiveUnacked || s == TAlarmState::ReturnedUnacked;
  };
  const TAlarmState now = record.Alarm.State();
  activeCount_ += static_cast<int>(active(now)) - static_cast<int>(active(record.Counted));
  unackedCount_ += static_cast<int>(unacked(now)) - static_cast<int>(unacked(record.Counted));
  record.Counted = now;
}

TAlarmState TAlarmMonitor::State(const QString& name, TAlarmCondition condition) const {
  const auto it = records_.find({name, static_cast<int>(condition)});
  return it == records_.end() ? TAlarmState::Normal : it->second.Alarm.State();
}

std::pair<TAlarmState, int> TAlarmMonitor::WorstState(const QString& name) const {
  std::pair<TAlarmState, int> worst{TAlarmState::Normal, kMaxAlarmPriority};
  for (auto it = records_.lower_bound({name, 0}); it != records_.end() && it->first.first == name; ++it) {
    const TAlarmState s = it->second.Alarm.State();
    const int p = it->second.Priority;
    if (Rank(s) > Rank(worst.first) ||
        (Rank(s) == Rank(worst.first) && s != TAlarmState::Normal && p < worst.second))
      worst = {s, p};
  }
  return worst;
}

bool TAlarmMonitor::AnyShelved(const QString& name) const {
  for (auto it = records_.lower_bound({name, 0}); it != records_.end() && it->first.first == name; ++it)
    if (it->second.Alarm.Shelved()) return true;
  return false;
}

int TAlarmMonitor::Acknowledge(const QString& name, const QString& who) {
  const double now = Now();
  int count = 0;
  for (auto& [key, record] : records_) {
    if (!name.isEmpty() && record.Name != name) continue;
    const auto kind = record.Alarm.Acknowledge();
    if (!kind) continue;
    ++count;
    Apply(record, kind, now, kNoValue, who.isEmpty() ? who_ : who);
  }
  return count;
}

bool TAlarmMonitor::Shelve(const QString& name, TAlarmCondition condition, int seconds, const QString& who) {
  if (seconds <= 0) return false;
  const auto it = records_.find({name, static_cast<int>(condition)});
  if (it == records_.end()) return false;
  const double now = Now();
  const double until = MonotonicDays() + seconds / kSecondsPerDay;
  it->second.ShelvedUntil = now + seconds / kSecondsPerDay;
  Apply(it->second, it->second.Alarm.Shelve(until), now, kNoValue, who.isEmpty() ? who_ : who);
  if (nextShelfEnd_ == 0 || until < nextShelfEnd_) nextShelfEnd_ = until;
  return true;
}

bool TAlarmMonitor::Unshelve(const QString& name, TAlarmCondition condition, const QString& who) {
  const auto it = records_.find({name, static_cast<int>(condition)});
  if (it == records_.end() || !it->second.Alarm.Shelved()) return false;
  TRecord& record = it->second;
  const double now = Now();
  Apply(record, record.Alarm.Expire(record.Alarm.ShelvedUntil()), now, kNoValue, who.isEmpty() ? who_ : who);
  if (record.Alarm.Present() && !record.Alarm.Active())
    Apply(record, record.Alarm.Evaluate(MonotonicDays(), true, record.Delay), now, kNoValue);
  return true;
}

std::vector<TShelvedAlarm> TAlarmMonitor::ShelvedList() const {
  std::vector<TShelvedAlarm> list;
  const double tick = MonotonicDays();
  for (const auto& [key, record] : records_) {
    if (!record.Alarm.Shelved()) continue;
    const double left = std::max(0.0, (record.Alarm.ShelvedUntil() - tick) * kSecondsPerDay);
    list.push_back({record.Name, record.Caption, record.Condition, record.ShelvedUntil,
                    static_cast<int>(std::ceil(left)), record.Priority, record.Place});
  }
  std::stable_sort(list.begin(), list.end(), [](const TShelvedAlarm& a, const TShelvedAlarm& b) {
    return a.SecondsLeft < b.SecondsLeft;
  });
  return list;
}

int TAlarmMonitor::Observe(std::function<void(const TAlarmEvent&)> observer) {
  const int id = nextObserver_++;
  observers_.emplace(id, std::move(observer));
  return id;
}

void TAlarmMonitor::Forget(int id) {
  observers_.erase(id);
}

}  // namespace vexa
