#pragma once
// TAlarmLimitsDlg: the limits of one register's alarms and its regulator's communication alarm
// (ALARMS.cfg), or a regulator's communication alarm alone; opened from the alarm window, a label's
// menu or the structure window while the network is open for configuration.

#include <QDialog>
#include <array>

#include "alarms/model/AlarmLimits.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace vexa {

class TNetwork;
class TAlarmMonitor;

class TAlarmLimitsDlg : public QDialog {
  Q_OBJECT
 public:
  // monitor: read again after a change (null: none).
  TAlarmLimitsDlg(TNetwork& network, TAlarmMonitor* monitor, const QString& name, QWidget* parent = nullptr);

  const QString& Name() const { return name_; }

 private:
  void Confirm();

  TNetwork& network_;
  TAlarmMonitor* monitor_;
  QString name_;
  QCheckBox* enabled_ = nullptr;
  std::array<QCheckBox*, 4> limitEnabled_{};
  std::array<QLineEdit*, 4> limit_{};
  QLineEdit* deadband_ = nullptr;
  QSpinBox* delay_ = nullptr;
  QSpinBox* priority_ = nullptr;
  QString regulator_;    // whose communication alarm the dialog also sets; empty: none
  TCommAlarmEdit comm_;  // as read
  QCheckBox* commEnabled_ = nullptr;
  QSpinBox* commDelay_ = nullptr;
  QSpinBox* commPriority_ = nullptr;
};

// Opens the dialog for a register or a regulator, modally; true when the settings were written.
bool EditAlarmLimits(TNetwork& network, TAlarmMonitor* monitor, const QString& name, QWidget* parent);

}  // namespace vexa
