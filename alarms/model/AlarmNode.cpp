#include "alarms/model/AlarmNode.h"

#include <cmath>

#include "storage/StreamFormat.h"

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
          P::Float("HiHiLimit", &TAlarmNode::HiHiLimit, &TAlarmNode::SetHiHiLimit)
              .Within(-kMaxAlarmLimit, kMaxAlarmLimit),
          P::Bool("HiEnabled", false, &TAlarmNode::HiEnabled, &TAlarmNode::SetHiEnabled),
          P::Float("HiLimit", &TAlarmNode::HiLimit, &TAlarmNode::SetHiLimit)
              .Within(-kMaxAlarmLimit, kMaxAlarmLimit),
          P::Bool("LoEnabled", false, &TAlarmNode::LoEnabled, &TAlarmNode::SetLoEnabled),
          P::Float("LoLimit", &TAlarmNode::LoLimit, &TAlarmNode::SetLoLimit)
              .Within(-kMaxAlarmLimit, kMaxAlarmLimit),
          P::Bool("LoLoEnabled", false, &TAlarmNode::LoLoEnabled, &TAlarmNode::SetLoLoEnabled),
          P::Float("LoLoLimit", &TAlarmNode::LoLoLimit, &TAlarmNode::SetLoLoLimit)
              .Within(-kMaxAlarmLimit, kMaxAlarmLimit),
          P::Float("Deadband", &TAlarmNode::Deadband, &TAlarmNode::SetDeadband)
              .Within(0.0, kMaxAlarmDeadband),
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
  // A file's negative band is refused at its load; the monitor takes none below zero.
  StoreChanged(deadband_, value);
}

std::optional<std::pair<int, int>> AlarmLimitsOutOfOrder(const std::array<bool, 4>& enabled,
                                                         const std::array<double, 4>& limits) {
  // Each enabled limit against the next enabled one below it.
  for (int i = 0; i < 4; ++i) {
    if (!enabled[i]) continue;
    for (int j = i + 1; j < 4; ++j) {
      if (!enabled[j]) continue;
      const bool crossesBand = i <= 1 && j >= 2;  // a high limit against a low one
      if (crossesBand ? limits[i] <= limits[j] : limits[i] < limits[j]) return std::pair{i, j};
      break;
    }
  }
  return std::nullopt;
}

void TAlarmNode::Loaded() {
  TRootNode::Loaded();
  const QString object = QStringLiteral("%1 (%2)").arg(Name(), ClassName());
  // Each limit's own range the property table holds; the stream reader checked it.
  const char* const names[4] = {"HiHiLimit", "HiLimit", "LoLimit", "LoLoLimit"};
  const std::array<double, 4> limits = {hiHiLimit_, hiLimit_, loLimit_, loLoLimit_};
  if (const auto pair = AlarmLimitsOutOfOrder({hiHiEnabled_, hiEnabled_, loEnabled_, loLoEnabled_}, limits))
    throw EStreamRecordError(
        QStringLiteral("%1: %2=%3 and %4=%5 are out of order; enabled limits keep HiHiLimit >= HiLimit > "
                       "LoLimit >= LoLoLimit")
            .arg(object, QLatin1String(names[pair->first]), QString::number(limits[pair->first], 'g', 17),
                 QLatin1String(names[pair->second]), QString::number(limits[pair->second], 'g', 17)),
        EStreamRecordError::rpValue);
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
          P::String("ExportFolder", &TAlarmJournalNode::ExportFolder, &TAlarmJournalNode::SetExportFolder),
      }};
  return info;
}

void TAlarmJournalNode::Assign(const TPersistent& source) {
  TRootNode::Assign(source);
  if (const auto* src = dynamic_cast<const TAlarmJournalNode*>(&source)) {
    SetKeepDays(src->keepDays_);
    SetBeep(src->beep_);
    SetExportFolder(src->exportFolder_);
  }
}

void TAlarmJournalNode::SetBeep(bool value) {
  StoreChanged(beep_, value);
}

void TAlarmJournalNode::SetExportFolder(const QString& value) {
  StoreChanged(exportFolder_, value);
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

namespace {

void CollectAlarmNodes(const TComponent& level, std::vector<TAlarmNode*>& out) {
  for (int i = 0; i < level.ComponentCount(); ++i) {
    TComponent* child = level.Component(i);
    if (auto* node = dynamic_cast<TAlarmNode*>(child))
      out.push_back(node);
    else if (IsAlarmGroup(*child))
      CollectAlarmNodes(*child, out);
  }
}

void IndexByName(const TComponent& level, QHash<QString, TComponent*>& out) {
  for (int i = 0; i < level.ComponentCount(); ++i) {
    TComponent* child = level.Component(i);
    if (!out.contains(child->Name())) out.insert(child->Name(), child);
    if (child->ComponentCount() > 0) IndexByName(*child, out);
  }
}

}  // namespace

bool IsAlarmGroup(const TComponent& node) {
  return &node.ClassInfo() == &TRootNode::StaticClassInfo();
}

std::vector<TAlarmNode*> AlarmNodes(const TRootNode* alarms) {
  std::vector<TAlarmNode*> nodes;
  if (alarms != nullptr) CollectAlarmNodes(*alarms, nodes);
  return nodes;
}

TAlarmNode* FindAlarmNode(const TRootNode* alarms, const QString& name) {
  if (alarms == nullptr) return nullptr;
  // The flat layout's node is a direct child: found without a walk.
  if (auto* node = dynamic_cast<TAlarmNode*>(alarms->FindComponent(name))) return node;
  for (TAlarmNode* node : AlarmNodes(alarms))
    if (node->Name() == name) return node;
  return nullptr;
}

QHash<QString, TComponent*> NodesByName(const TComponent* root) {
  QHash<QString, TComponent*> index;
  if (root != nullptr) IndexByName(*root, index);
  return index;
}

int JournalKeepDays(const TRootNode* alarms) {
  const TAlarmJournalNode* journal = JournalNodeOf(alarms);
  return journal ? journal->KeepDays() : kDefaultJournalDays;
}

bool AlarmBeep(const TRootNode* alarms) {
  const TAlarmJournalNode* journal = JournalNodeOf(alarms);
  return journal ? journal->Beep() : true;
}

QString AlarmExportFolder(const TRootNode* alarms) {
  const TAlarmJournalNode* journal = JournalNodeOf(alarms);
  return journal ? journal->ExportFolder() : QString();
}

}  // namespace vexa
