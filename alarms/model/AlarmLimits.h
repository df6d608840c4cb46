#pragma once
// The limits dialog's rules without the dialog: what a register's alarm settings are (its node in
// ALARMS, or the defaults), the texts typed checked, and the node written and ALARMS.cfg saved.

#include <QString>
#include <array>

#include "core/Faults.h"

namespace vexa {

class TNetwork;
class TAlarmNode;
class TRootNode;

// The settings of one register's alarms as the dialog shows them: the limits as text.
struct TAlarmLimitsEdit {
  bool Enabled = false;
  // HH, H, L, LL in that order.
  std::array<bool, 4> LimitEnabled{};
  std::array<QString, 4> Limit;
  QString Deadband = QStringLiteral("0");
  int DelaySeconds = 0;
  int Priority = 2;
};

// The register's settings (a register without a node: nothing enabled, priority 2).
TAlarmLimitsEdit ReadAlarmLimits(TNetwork& network, const QString& name);
// Checks the texts (numbers, a deadband not below zero, the enabled limits in order HH >= H > L >=
// LL), then writes the node (made when missing) and saves ALARMS.cfg. Not written: the faults say
// what is wrong. Written, the faults say why the save failed, if it did.
struct TAlarmLimitsApplied {
  bool Written = false;
  TFaults Faults;
};
TAlarmLimitsApplied ApplyAlarmLimits(TNetwork& network, const QString& name, const TAlarmLimitsEdit& edit);

// The regulator of a register, channel or regulator of NET (the node right under NET above it or
// itself): its name, empty when NET holds no such node.
QString RegulatorOf(TNetwork& network, const QString& name);

// A regulator's communication alarm as the dialog shows it: raised when every enabled register
// under it fails its reads for DelaySeconds.
struct TCommAlarmEdit {
  bool Enabled = false;
  int DelaySeconds = 0;
  int Priority = 2;
  bool operator==(const TCommAlarmEdit&) const = default;
};
TCommAlarmEdit ReadCommAlarm(TNetwork& network, const QString& regulator);
// Checked and written as the limits are (the regulator's node has no limits of its own).
TAlarmLimitsApplied ApplyCommAlarm(TNetwork& network, const QString& regulator, const TCommAlarmEdit& edit);

// Where a new alarm node for `name` goes in the nested layout: under ALARMS, the level of its
// regulator and then of its channel as NET holds it (made when missing; a regulator's own alarm in
// its regulator's level); ALARMS itself for a name NET does not hold.
TRootNode& AlarmLevelFor(TNetwork& network, const QString& name);

// What of ALARMS watches nothing: nodes of other classes than the alarms' (which the monitor leaves
// out), and alarm nodes whose name matches no register or regulator of NET. Told at start-up.
TFaults CheckAlarmSettings(TNetwork& network);

// Whether a new alarm of the first priority beeps: the JOURNAL node (made when missing) is set and
// ALARMS.cfg saved; the faults say why the save failed.
TFaults SetAlarmBeep(TNetwork& network, bool beep);

// Where the journal's export is proposed: in the folder it was last exported to while that still
// exists, else in the program's folder; never the archive folder, whose list shows every file.
QString SuggestedJournalExport(TNetwork& network);
// The folder of an export made, remembered in the JOURNAL node (ALARMS.cfg saved).
TFaults RememberJournalExport(TNetwork& network, const QString& path);

}  // namespace vexa
