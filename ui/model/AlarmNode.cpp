#include "ui/model/AlarmNode.h"

namespace vexa {

TAlarmNode::TAlarmNode(TComponent* owner) : TRootNode(owner) {}

const TClassInfo& TAlarmNode::StaticClassInfo() {
  using P = Props<TAlarmNode>;
  static const TClassInfo info{
      "TAlarmNode",
      &TRootNode::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TAlarmNode(owner); },
      {
          P::Bool("HiHiEnabled", false, &TAlarmNode::HiHiEnabled, &TAlarmNode::SetHiHiEnabled),
          P::Float("HiHiLimit", &TAlarmNode::HiHiLimit, &TAlarmNode::SetHiHiLimit),
          P::Bool("HiEnabled", false, &TAlarmNode::HiEnabled, &TAlarmNode::SetHiEnabled),
          P::Float("HiLimit", &TAlarmNode::HiLimit, &TAlarmNode::SetHiLimit),
          P::Bool("LoEnabled", false, &TAlarmNode::LoEnabled, &TAlarmNode::SetLoEnabled),
          P::Float("LoLimit", &TAlarmNode::LoLimit, &TAlarmNode::SetLoLimit),
          P::Bool("LoLoEnabled", false, &TAlarmNode::LoLoEnabled, &TAlarmNode::SetLoLoEnabled),
          P::Float("LoLoLimit", &TAlarmNode::LoLoLimit, &TAlarmNode::SetLoLoLimit),
          P::Float("Deadband", &TAlarmNode::Deadband, &TAlarmNode::SetDeadband),
          P::Int("DelaySeconds", 0, &TAlarmNode::DelaySeconds, &TAlarmNode::SetDelaySeconds)
              .Within(0, kMaxAlarmDelaySeconds),
          P::Int("Priority", 2, &TAlarmNode::Priority, &TAlarmNode::SetPriority)
              .Within(kMinAlarmPriority, kMaxAlarmPriority),
      }};
  return info;
}

void TAlarmNode::Assign(const TPersistent& source) {
  TRootNode::Assign(source);
  if (const auto* src = dynamic_cast<const TAlarmNode*>(&source)) {
    SetHiHiEnabled(src->hiHiEnabled_);
    SetHiHiLimit(src->hiHiLimit_);
    SetHiEnabled(src->hiEnabled_);
    SetHiLimit(src->hiLimit_);
    SetLoEnabled(src->loEnabled_);
    SetLoLimit(src->loLimit_);
    SetLoLoEnabled(src->loLoEnabled_);
    SetLoLoLimit(src->loLoLimit_);
    SetDeadband(src->deadband_);
    SetDelaySeconds(src->delaySeconds_);
    SetPriority(src->priority_);
  }
}

void TAlarmNode::SetHiHiEnabled(bool value) {
  StoreChanged(hiHiEnabled_, value);
}
void TAlarmNode::SetHiHiLimit(double value) {
  StoreChanged(hiHiLimit_, value);
}
void TAlarmNode::SetHiEnabled(bool value) {
  StoreChanged(hiEnabled_, value);
}
void TAlarmNode::SetHiLimit(double value) {
  StoreChanged(hiLimit_, value);
}
void TAlarmNode::SetLoEnabled(bool value) {
  StoreChanged(loEnabled_, value);
}
void TAlarmNode::SetLoLimit(double value) {
  StoreChanged(loLimit_, value);
}
void TAlarmNode::SetLoLoEnabled(bool value) {
  StoreChanged(loLoEnabled_, value);
}
void TAlarmNode::SetLoLoLimit(double value) {
  StoreChanged(loLoLimit_, value);
}
void TAlarmNode::SetDeadband(double value) {
  // A negative band would clear before the limit is passed back.
  StoreChanged(deadband_, value < 0 ? 0.0 : value);
}
void TAlarmNode::SetDelaySeconds(int value) {
  StoreChanged(delaySeconds_, value);
}
void TAlarmNode::SetPriority(int value) {
  StoreChanged(priority_, value);
}

TAlarmJournalNode::TAlarmJournalNode(TComponent* owner) : TRootNode(owner) {}

const TClassInfo& TAlarmJournalNode::StaticClassInfo() {
  using P = Props<TAlarmJournalNode>;
  static const TClassInfo info{
      "TAlarmJournalNode",
      &TRootNode::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TAlarmJournalNode(owner); },
      {
          P::Int("KeepDays", kDefaultJournalDays, &TAlarmJournalNode::KeepDays,
                 &TAlarmJournalNode::SetKeepDays)
              .Within(1, kMaxJournalDays),
          P::Bool("Beep", true, &TAlarmJournalNode::Beep, &TAlarmJournalNode::SetBeep),
      }};
  return info;
}

void TAlarmJournalNode::Assign(const TPersistent& source) {
  TRootNode::Assign(source);
  if (const auto* src = dynamic_cast<const TAlarmJournalNode*>(&source)) {
    SetKeepDays(src->keepDays_);
    SetBeep(src->beep_);
  }
}

void TAlarmJournalNode::SetBeep(bool value) {
  StoreChanged(beep_, value);
}

void TAlarmJournalNode::SetKeepDays(int value) {
  StoreChanged(keepDays_, value);
}

namespace {

const TAlarmJournalNode* JournalNodeOf(const TRootNode* alarms) {
  return alarms
             ? dynamic_cast<const TAlarmJournalNode*>(alarms->FindComponent(QLatin1String(kJournalNodeName)))
             : nullptr;
}

}  // namespace

int JournalKeepDays(const TRootNode* alarms) {
  const TAlarmJournalNode* journal = JournalNodeOf(alarms);
  return journal ? journal->KeepDays() : kDefaultJournalDays;
}

bool AlarmBeep(const TRootNode* alarms) {
  const TAlarmJournalNode* journal = JournalNodeOf(alarms);
  return journal ? journal->Beep() : true;
}

}  // namespace vexa
