#include "alarms/model/AlarmLimits.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <functional>
#include <optional>

#include "alarms/model/AlarmNode.h"
#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RootNode.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"

namespace vexa {

namespace {

const std::array<QString, 4> kLimitNames = {QStringLiteral("аварийная верхняя"), QStringLiteral("верхняя"),
                                            QStringLiteral("нижняя"), QStringLiteral("аварийная нижняя")};

TAlarmNode* NodeOf(TNetwork& network, const QString& name) {
  return FindAlarmNode(network.Alarms().get(), name);
}

}  // namespace

TAlarmLimitsEdit ReadAlarmLimits(TNetwork& network, const QString& name) {
  TAlarmLimitsEdit edit;
  const TAlarmNode* node = NodeOf(network, name);
  if (node == nullptr) return edit;
  edit.Enabled = node->Enabled();
  edit.LimitEnabled = {node->HiHiEnabled(), node->HiEnabled(), node->LoEnabled(), node->LoLoEnabled()};
  const std::array<double, 4> limits = {node->HiHiLimit(), node->HiLimit(), node->LoLimit(),
                                        node->LoLoLimit()};
  for (int i = 0; i < 4; ++i) edit.Limit[i] = FloatToStr(limits[i]);
  edit.Deadband = FloatToStr(node->Deadband());
  edit.DelaySeconds = node->DelaySeconds();
  edit.Priority = node->Priority();
  return edit;
}

TAlarmLimitsApplied ApplyAlarmLimits(TNetwork& network, const QString& name, const TAlarmLimitsEdit& edit) {
  TFaults faults;
  std::array<double, 4> limits{};
  for (int i = 0; i < 4; ++i) {
    const QString text = edit.Limit[i].trimmed();
    if (!edit.LimitEnabled[i] && text.isEmpty()) continue;
    const std::optional<double> value = StrToFloat(text);
    if (!value) {
      faults.Add(QStringLiteral("Уставка «%1»: «%2» не является числом").arg(kLimitNames[i], text));
      continue;
    }
    if (!std::isfinite(*value) || std::abs(*value) > kMaxAlarmLimit) {
      faults.Add(QStringLiteral("Уставка «%1» должна быть числом от %2 до %3")
                     .arg(kLimitNames[i], FloatToStr(-kMaxAlarmLimit), FloatToStr(kMaxAlarmLimit)));
      continue;
    }
    limits[i] = *value;
  }
  const std::optional<double> deadband = StrToFloat(edit.Deadband.trimmed());
  if (!deadband || !std::isfinite(*deadband) || *deadband < 0 || *deadband > kMaxAlarmDeadband)
    faults.Add(QStringLiteral("Зона нечувствительности должна быть числом от 0 до %1")
                   .arg(FloatToStr(kMaxAlarmDeadband)));
  if (edit.DelaySeconds < 0 || edit.DelaySeconds > kMaxAlarmDelaySeconds)
    faults.Add(QStringLiteral("Задержка должна быть от 0 до %1 с").arg(kMaxAlarmDelaySeconds));
  if (edit.Priority < kMinAlarmPriority || edit.Priority > kMaxAlarmPriority)
    faults.Add(
        QStringLiteral("Приоритет должен быть от %1 до %2").arg(kMinAlarmPriority).arg(kMaxAlarmPriority));
  if (!faults.Items().isEmpty()) return {false, faults};
  if (const auto pair = AlarmLimitsOutOfOrder(edit.LimitEnabled, limits)) {
    const bool crossesBand = pair->first <= 1 && pair->second >= 2;  // a high limit against a low one
    faults.Add(QStringLiteral("Уставка «%1» должна быть %2 уставки «%3»")
                   .arg(kLimitNames[pair->first],
                        crossesBand ? QStringLiteral("больше") : QStringLiteral("не меньше"),
                        kLimitNames[pair->second]));
  }
  if (!faults.Items().isEmpty()) return {false, faults};
  if (!network.Alarms()) return {false, TFaults(QStringLiteral("Настройки тревог не загружены"))};

  TAlarmNode* node = NodeOf(network, name);
  if (node == nullptr) {
    node = new TAlarmNode(&AlarmLevelFor(network, name));  // owned by ALARMS
    node->SetName(name);
  }
  node->SetEnabled(edit.Enabled);
  node->SetHiHiEnabled(edit.LimitEnabled[0]);
  node->SetHiEnabled(edit.LimitEnabled[1]);
  node->SetLoEnabled(edit.LimitEnabled[2]);
  node->SetLoLoEnabled(edit.LimitEnabled[3]);
  node->SetHiHiLimit(limits[0]);
  node->SetHiLimit(limits[1]);
  node->SetLoLimit(limits[2]);
  node->SetLoLoLimit(limits[3]);
  node->SetDeadband(*deadband);
  node->SetDelaySeconds(edit.DelaySeconds);
  node->SetPriority(edit.Priority);
  faults.Add(SaveTreeFileForOperator(network, *network.Alarms(), true));
  return {true, faults};
}

QString RegulatorOf(TNetwork& network, const QString& name) {
  const TRootNode* net = network.Net().get();
  const TComponent* at = FindNode(net, name);
  while (at != nullptr && at->Owner() != nullptr && at->Owner() != net) at = at->Owner();
  return at != nullptr && at->Owner() == net ? at->Name() : QString();
}

TCommAlarmEdit ReadCommAlarm(TNetwork& network, const QString& regulator) {
  const TAlarmLimitsEdit edit = ReadAlarmLimits(network, regulator);
  return {edit.Enabled, edit.DelaySeconds, edit.Priority};
}

TAlarmLimitsApplied ApplyCommAlarm(TNetwork& network, const QString& regulator, const TCommAlarmEdit& edit) {
  TAlarmLimitsEdit limits = ReadAlarmLimits(network, regulator);
  limits.Enabled = edit.Enabled;
  limits.LimitEnabled = {};
  limits.DelaySeconds = edit.DelaySeconds;
  limits.Priority = edit.Priority;
  return ApplyAlarmLimits(network, regulator, limits);
}

TRootNode& AlarmLevelFor(TNetwork& network, const QString& name) {
  TRootNode& alarms = *network.Alarms();
  const TRootNode* net = network.Net().get();
  // The target's levels from NET down: its regulator (a regulator's own communication alarm goes
  // there too), then its channel. Named apart from the alarm nodes, which a flat file keeps beside
  // them.
  QStringList path;
  const TComponent* target = FindNode(net, name);
  if (target != nullptr && target->Owner() == net) path << name;
  for (const TComponent* at = target; at != nullptr && at->Owner() != nullptr && at->Owner() != net;
       at = at->Owner())
    path.prepend(at->Owner()->Name());
  if (path.size() > 2) path = path.mid(0, 2);
  TRootNode* level = &alarms;
  for (QString group : path) {
    group += QLatin1String(kAlarmLevelSuffix);
    auto* next = dynamic_cast<TRootNode*>(level->FindComponent(group));
    if (next == nullptr || !IsAlarmGroup(*next)) {
      next = new TRootNode(level);  // owned by the level above
      next->SetName(group);
    }
    level = next;
  }
  return *level;
}

TFaults CheckAlarmSettings(TNetwork& network) {
  TFaults faults;
  const TRootNode* alarms = network.Alarms().get();
  const TRootNode* net = network.Net().get();
  if (alarms == nullptr || net == nullptr) return faults;
  // A long list is cut: the operator is told there is more, not shown thousands of lines.
  constexpr int kListed = 10;
  QStringList foreign;
  QStringList unmatched;
  int foreignCount = 0;
  int unmatchedCount = 0;
  const QHash<QString, TComponent*> nodes = NodesByName(net);
  const std::function<void(const TComponent&)> walk = [&](const TComponent& level) {
    for (int i = 0; i < level.ComponentCount(); ++i) {
      const TComponent* child = level.Component(i);
      if (dynamic_cast<const TAlarmJournalNode*>(child) != nullptr) continue;
      if (IsAlarmGroup(*child)) {
        walk(*child);
        continue;
      }
      if (dynamic_cast<const TAlarmNode*>(child) == nullptr) {
        if (foreignCount++ < kListed)
          foreign << QStringLiteral("%1 (%2)").arg(child->Name(), child->ClassName());
        continue;
      }
      const TComponent* target = nodes.value(child->Name());
      const bool watched = dynamic_cast<const TCustomRegister*>(target) != nullptr ||
                           (target != nullptr && target->Owner() == net);
      if (!watched && unmatchedCount++ < kListed) unmatched << child->Name();
    }
  };
  walk(*alarms);
  const auto more = [](int count) {
    return count > kListed ? QStringLiteral(" и ещё %1").arg(count - kListed) : QString();
  };
  if (foreignCount > 0)
    faults.Add(QStringLiteral("В настройках тревог (ALARMS) не уставки тревог, они не действуют: %1%2")
                   .arg(foreign.join(QStringLiteral(", ")), more(foreignCount)),
               TMsgIcon::Warning);
  if (unmatchedCount > 0)
    faults.Add(QStringLiteral("Уставки тревог для регистров, которых нет в сети: %1%2")
                   .arg(unmatched.join(QStringLiteral(", ")), more(unmatchedCount)),
               TMsgIcon::Warning);
  return faults;
}

namespace {

// The JOURNAL node, made when missing; ALARMS must be loaded.
TAlarmJournalNode& JournalNodeFor(TNetwork& network) {
  auto* journal =
      dynamic_cast<TAlarmJournalNode*>(network.Alarms()->FindComponent(QLatin1String(kJournalNodeName)));
  if (journal == nullptr) {
    journal = new TAlarmJournalNode(network.Alarms().get());  // owned by ALARMS
    journal->SetName(QString::fromLatin1(kJournalNodeName));
  }
  return *journal;
}

}  // namespace

TFaults SetAlarmBeep(TNetwork& network, bool beep) {
  if (!network.Alarms()) return TFaults(QStringLiteral("Настройки тревог не загружены"));
  JournalNodeFor(network).SetBeep(beep);
  TFaults faults;
  faults.Add(SaveTreeFileForOperator(network, *network.Alarms(), true));
  return faults;
}

QString SuggestedJournalExport(TNetwork& network) {
  const QString archives = QDir::cleanPath(network.Dir() + QStringLiteral("/Archives"));
  QString folder = QDir::cleanPath(AlarmExportFolder(network.Alarms().get()));
  const bool inArchives = folder == archives || folder.startsWith(archives + QLatin1Char('/'));
  if (folder.isEmpty() || inArchives || !QFileInfo(folder).isDir()) folder = network.Dir();
  return QDir(folder).filePath(QStringLiteral("alarms.txt"));
}

TFaults RememberJournalExport(TNetwork& network, const QString& path) {
  if (!network.Alarms()) return TFaults(QStringLiteral("Настройки тревог не загружены"));
  const QString folder = QFileInfo(path).absolutePath();
  TAlarmJournalNode& journal = JournalNodeFor(network);
  if (journal.ExportFolder() == folder) return {};
  journal.SetExportFolder(folder);
  TFaults faults;
  faults.Add(SaveTreeFileForOperator(network, *network.Alarms(), true));
  return faults;
}

}  // namespace vexa
