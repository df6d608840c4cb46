#pragma once
// The alarm settings, the children of the ALARMS root (Config/ALARMS.cfg). A TAlarmNode named by a
// register's name watches that register's value against four limits; one named by a regulator's
// name (a node directly under NET) is that regulator's communication alarm and uses only Enabled,
// DelaySeconds and Priority. TAlarmJournalNode (named JOURNAL) holds the journal's settings.

#include <QHash>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "core/RootNode.h"

namespace vexa {

inline constexpr int kMaxAlarmDelaySeconds = 86400;
inline constexpr int kMinAlarmPriority = 1;  // the most urgent
inline constexpr int kMaxAlarmPriority = 3;
inline constexpr int kDefaultJournalDays = 400;
inline constexpr int kMaxJournalDays = 36500;
inline constexpr const char* kJournalNodeName = "JOURNAL";
// The nested layout's levels are named by their regulator or channel and this.
inline constexpr const char* kAlarmLevelSuffix = "_ALARMS";
// What a limit and a deadband may be, in the dialog as in a file: finite, and no further from zero
// than any register's value the program shows.
inline constexpr double kMaxAlarmLimit = 1e9;
inline constexpr double kMaxAlarmDeadband = 1e9;

// The first pair of enabled limits (HH, H, L, LL in that order) out of order HH >= H > L >= LL:
// their indexes; none when they keep it.
std::optional<std::pair<int, int>> AlarmLimitsOutOfOrder(const std::array<bool, 4>& enabled,
                                                         const std::array<double, 4>& limits);

class TAlarmNode : public TRootNode {
 public:
  explicit TAlarmNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  void Assign(const TPersistent& source) override;
  // Refuses, as the stream reader refuses a value out of its range, limits that are not finite or
  // out of kMaxAlarmLimit, a deadband out of 0 to kMaxAlarmDeadband, and enabled limits out of order.
  void Loaded() override;

  bool HiHiEnabled() const { return hiHiEnabled_; }
  void SetHiHiEnabled(bool value);
  double HiHiLimit() const { return hiHiLimit_; }
  void SetHiHiLimit(double value);
  bool HiEnabled() const { return hiEnabled_; }
  void SetHiEnabled(bool value);
  double HiLimit() const { return hiLimit_; }
  void SetHiLimit(double value);
  bool LoEnabled() const { return loEnabled_; }
  void SetLoEnabled(bool value);
  double LoLimit() const { return loLimit_; }
  void SetLoLimit(double value);
  bool LoLoEnabled() const { return loLoEnabled_; }
  void SetLoLoEnabled(bool value);
  double LoLoLimit() const { return loLoLimit_; }
  void SetLoLoLimit(double value);
  // Hysteresis in the register's units: a limit passed clears only this far back inside it.
  double Deadband() const { return deadband_; }
  void SetDeadband(double value);
  // How long a condition must hold before it is raised.
  int DelaySeconds() const { return delaySeconds_; }
  void SetDelaySeconds(int value);
  int Priority() const { return priority_; }
  void SetPriority(int value);

 private:
  bool hiHiEnabled_ = false;
  double hiHiLimit_ = 0;
  bool hiEnabled_ = false;
  double hiLimit_ = 0;
  bool loEnabled_ = false;
  double loLimit_ = 0;
  bool loLoEnabled_ = false;
  double loLoLimit_ = 0;
  double deadband_ = 0;
  int delaySeconds_ = 0;
  int priority_ = 2;
};

class TAlarmJournalNode : public TRootNode {
 public:
  explicit TAlarmJournalNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  void Assign(const TPersistent& source) override;

  // Events older than this are removed from the journal.
  int KeepDays() const { return keepDays_; }
  void SetKeepDays(int value);
  // A new alarm of the first priority beeps.
  bool Beep() const { return beep_; }
  void SetBeep(bool value);
  // Where the operator last exported the journal to; empty: never.
  const QString& ExportFolder() const { return exportFolder_; }
  void SetExportFolder(const QString& value);

 private:
  int keepDays_ = kDefaultJournalDays;
  bool beep_ = true;
  QString exportFolder_;
};

// The alarm nodes of ALARMS in the tree's order, at any depth: the flat layout of the first files
// (every node right under ALARMS) and the nested one (grouped under plain TRootNode levels named
// by regulator and channel with kAlarmLevelSuffix, so that no level holds more children than a
// stored level can).
std::vector<TAlarmNode*> AlarmNodes(const TRootNode* alarms);
TAlarmNode* FindAlarmNode(const TRootNode* alarms, const QString& name);
// Whether a child of ALARMS is one of the nested layout's levels.
bool IsAlarmGroup(const TComponent& node);
// The nodes of a tree by name, the first in the tree's order where names repeat (as FindNode finds
// them): one walk for many look-ups.
QHash<QString, TComponent*> NodesByName(const TComponent* root);

// The journal's age bound in the ALARMS root: its JOURNAL node's, else the default.
int JournalKeepDays(const TRootNode* alarms);
// Whether a new alarm of the first priority beeps (on unless the JOURNAL node says otherwise).
bool AlarmBeep(const TRootNode* alarms);
// The folder the journal was last exported to, empty when none was.
QString AlarmExportFolder(const TRootNode* alarms);

}  // namespace vexa
