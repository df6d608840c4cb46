#include "ui/model/AlarmMonitor.h"

#include <QFileInfo>
#include <algorithm>

#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RootNode.h"
#include "core/Services.h"
#include "ui/model/AlarmNode.h"

namespace vexa {

namespace {

constexpr TAlarmCondition kLimitConditions[4] = {TAlarmCondition::HiHi, TAlarmCondition::Hi,
                                                 TAlarmCondition::Lo, TAlarmCondition::LoLo};

// A register's last value as a number; NaN for "***" or a text that is none.
double ValueOf(const TCustomRegister& reg) {
  const QString& text = reg.LastStringData();
  const QChar separator = FormatSettings().DecimalSeparator;
  bool ok = false;
  // Whole numbers, the most of them, are read without a copy.
  const double value = separator != QLatin1Char('.') && text.contains(separator)
                           ? QString(text).replace(separator, QLatin1Char('.')).toDouble(&ok)
                           : text.toDouble(&ok);
  return ok ? value : kNoValue;
}

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
  journal_.Close();
  journalPath_ = journalPath.isEmpty() ? AlarmJournalPath(network_.Dir()) : journalPath;
  journalTried_ = false;
  // A folder where nothing has been raised yet gets no journal until something is.
  if (!QFileInfo::exists(journalPath_)) {
    Rebuild();
    return faults;
  }
  journalTried_ = true;
  if (journal_.Open(journalPath_)) {
    keepDays_ = JournalKeepDays(network_.Alarms().get());
    Prune(now, &faults);
    const std::vector<TAlarmEvent> outstanding = journal_.Outstanding(now);
    for (const TAlarmEvent& e : outstanding) {
      TRecord& record = RecordOf(e.Name, e.Condition);
      const double until = e.ShelvedUntil > now ? e.ShelvedUntil : 0;
      record.Alarm.Restore(until > 0 ? TAlarmState::Normal : e.State, until);
      record.Caption = e.Caption;
      record.Priority = e.Priority;
      record.Value = e.Value;
      record.Since = e.Time;
      if (until > 0 && (nextShelfEnd_ == 0 || until < nextShelfEnd_)) nextShelfEnd_ = until;
    }
    // The active list shows when an alarm was raised, which may be earlier than its last event
    // (an acknowledgement, its return).
    for (const TAlarmEvent& e : outstanding) {
      if (e.Kind == TAlarmEventKind::Raised || e.State == TAlarmState::Normal) continue;
      TRecord& record = RecordOf(e.Name, e.Condition);
      TJournalQuery query;
      query.Name = e.Name;
      for (const TAlarmEvent& earlier : journal_.Query(query))
        if (earlier.Condition == e.Condition && earlier.Kind == TAlarmEventKind::Raised)
          record.Since = earlier.Time;
    }
  } else {
    faults.Add(journal_.ErrorText() + QStringLiteral(". Тревоги не записываются в журнал."));
  }
  Rebuild();
  return faults;
}

void TAlarmMonitor::Prune(double now, TFaults* faults) {
  lastPrune_ = now;
  if (keepDays_ <= 0 || !journal_.IsOpen()) return;
  const int removed = journal_.RemoveBefore(now - keepDays_);
  if (faults == nullptr) return;
  if (removed < 0)
    faults->Add(journal_.ErrorText(), TMsgIcon::Warning);
  else if (removed > 0)
    faults->Add(QStringLiteral("Журнал тревог хранит события за %1 дн.: удалено старых событий: %2")
                    .arg(keepDays_)
                    .arg(removed),
                TMsgIcon::Warning);
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
  for (int i = 0; i < alarms->ComponentCount(); ++i) {
    const auto* node = dynamic_cast<const TAlarmNode*>(alarms->Component(i));
    if (node == nullptr) continue;
    TComponent* target = FindNode(net, node->Name());
    if (const auto* reg = dynamic_cast<const TCustomRegister*>(target)) {
      TWatched& w = watch(reg);
      w.Limits = node->Enabled();
      const TAlarmLimit limits[4] = {{node->HiHiEnabled(), node->HiHiLimit(), true, node->Deadband()},
                                     {node->HiEnabled(), node->HiLimit(), true, node->Deadband()},
                                     {node->LoEnabled(), node->LoLimit(), false, node->Deadband()},
                                     {node->LoLoEnabled(), node->LoLoLimit(), false, node->Deadband()}};
      for (int k = 0; k < 4; ++k) {
        w.Limit[k] = limits[k];
        if (!node->Enabled()) w.Limit[k].Enabled = false;
        TRecord& record = RecordOf(node->Name(), kLimitConditions[k]);
        record.Caption = reg->Caption();
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
  if (*kind == TAlarmEventKind::Raised) record.Since = now;
  if (!std::isnan(value)) record.Value = value;
  TAlarmEvent event;
  event.Time = now;
  event.Name = record.Name;
  event.Caption = record.Caption;
  event.Condition = record.Condition;
  event.Kind = *kind;
  event.State = record.Alarm.State();
  event.Value = record.Value;
  event.Who = who;
  event.Priority = record.Priority;
  event.ShelvedUntil = record.Alarm.ShelvedUntil();
  Tell(event);
}

bool TAlarmMonitor::Note(const TAlarmEvent& event) {
  if (event.IsAlarm()) return false;
  Tell(event);
  return true;
}

void TAlarmMonitor::Tell(const TAlarmEvent& event) {
  if (!journal_.IsOpen() && !journalTried_ && !journalPath_.isEmpty()) {
    journalTried_ = true;
    if (!journal_.Open(journalPath_)) journalError_ = journal_.ErrorText();
  }
  if (journal_.IsOpen()) {
    if (journal_.Append(event))
      journalError_.clear();
    else
      journalError_ = journal_.ErrorText();
  }
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
  if (nextShelfEnd_ > 0 && now >= nextShelfEnd_) Tick();
  TWatched& w = watched_[static_cast<size_t>(*it)];
  const bool ok = reg.LastIOResult() == iorOK;
  if (w.Regulator >= 0) {
    TComm& comm = comm_[static_cast<size_t>(w.Regulator)];
    if (w.Failing != !ok) {
      w.Failing = !ok;
      comm.Failing += ok ? -1 : 1;
    }
    const bool silent = comm.Enabled && comm.Registers > 0 && comm.Failing == comm.Registers;
    Apply(*comm.Record, comm.Record->Alarm.Evaluate(now, silent, comm.Record->Delay), now, kNoValue);
  }
  if (!w.Limits) return;
  const double value = ok ? ValueOf(reg) : kNoValue;
  for (int k = 0; k < 4; ++k) {
    TRecord& record = *w.Records[k];
    if (std::isnan(value)) {
      // A failed read tells nothing of the limits: the alarm stays as it was.
      record.Alarm.Interrupt();
      continue;
    }
    w.Passed[k] = LimitPassed(w.Limit[k], value, w.Passed[k]);
    record.Value = value;  // the active list shows the value as it is now
    Apply(record, record.Alarm.Evaluate(now, w.Passed[k], record.Delay), now, value);
  }
}

void TAlarmMonitor::Tick() {
  const double now = Now();
  nextShelfEnd_ = 0;
  for (auto& [key, record] : records_) {
    if (record.Alarm.Shelved()) {
      if (const auto kind = record.Alarm.Expire(now)) {
        Apply(record, kind, now, kNoValue);
      } else {
        const double until = record.Alarm.ShelvedUntil();
        if (nextShelfEnd_ == 0 || until < nextShelfEnd_) nextShelfEnd_ = until;
        continue;
      }
    }
    // A condition that still holds: its delay may have run out since the last read.
    if (record.Alarm.Present() && !record.Alarm.Active())
      Apply(record, record.Alarm.Evaluate(now, true, record.Delay), now, kNoValue);
  }
  if (now - lastPrune_ >= 1.0) Prune(now, nullptr);
}

std::vector<TActiveAlarm> TAlarmMonitor::Active() const {
  std::vector<TActiveAlarm> list;
  for (const auto& [key, record] : records_) {
    if (record.Alarm.State() == TAlarmState::Normal) continue;
    list.push_back({record.Name, record.Caption, record.Condition, record.Alarm.State(), record.Since,
                    record.Value, record.Priority});
  }
  std::stable_sort(list.begin(), list.end(), [](const TActiveAlarm& a, const TActiveAlarm& b) {
    return a.Priority != b.Priority ? a.Priority < b.Priority : a.Time < b.Time;
  });
  return list;
}

int TAlarmMonitor::ActiveCount() const {
  return static_cast<int>(
      std::count_if(records_.begin(), records_.end(), [](const auto& r) { return r.second.Alarm.Active(); }));
}

int TAlarmMonitor::UnackedCount() const {
  return static_cast<int>(std::count_if(records_.begin(), records_.end(), [](const auto& r) {
    const TAlarmState s = r.second.Alarm.State();
    return s == TAlarmState::ActiveUnacked || s == TAlarmState::ReturnedUnacked;
  }));
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
  const double until = now + seconds / kSecondsPerDay;
  Apply(it->second, it->second.Alarm.Shelve(until), now, kNoValue, who.isEmpty() ? who_ : who);
  if (nextShelfEnd_ == 0 || until < nextShelfEnd_) nextShelfEnd_ = until;
  return true;
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
