#include "alarms/gui/AlarmLimitsUnit.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "alarms/model/AlarmTexts.h"
#include "core/Network.h"
#include "core/RootNode.h"
#include "ui/parts/DialogButtons.h"
#include "ui/parts/Tell.h"

namespace vexa {

TAlarmLimitsDlg::TAlarmLimitsDlg(TNetwork& network, TAlarmMonitor* monitor, const QString& name,
                                 QWidget* parent)
    : QDialog(parent), network_(network), monitor_(monitor), name_(name) {
  setObjectName(QStringLiteral("AlarmLimitsDlg"));
  const TComponent* node = FindNode(network.Net().get(), name);
  const QString caption = node != nullptr ? static_cast<const TRootNode*>(node)->Caption() : QString();
  setWindowTitle(QStringLiteral("Уставки тревог"));
  const TAlarmLimitsEdit edit = ReadAlarmLimits(network, name);

  regulator_ = RegulatorOf(network, name);
  const bool regulatorOnly = !regulator_.isEmpty() && regulator_ == name;

  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(AlarmFullName(caption, name), this);
  title->setObjectName(QStringLiteral("registerName"));
  layout->addWidget(title);
  auto* limits = new QWidget(this);
  limits->setObjectName(QStringLiteral("limitsPart"));
  layout->addWidget(limits);
  limits->setVisible(!regulatorOnly);
  auto* limitsLayout = new QVBoxLayout(limits);
  limitsLayout->setContentsMargins({});
  layout = limitsLayout;
  enabled_ = new QCheckBox(QStringLiteral("Контроль включен"), this);
  enabled_->setObjectName(QStringLiteral("enabledBox"));
  enabled_->setChecked(edit.Enabled);
  layout->addWidget(enabled_);

  auto* grid = new QGridLayout;
  const std::array<const char*, 4> texts = {"Аварийная верхняя (HH)", "Верхняя (H)", "Нижняя (L)",
                                            "Аварийная нижняя (LL)"};
  const std::array<const char*, 4> names = {"hiHi", "hi", "lo", "loLo"};
  for (int i = 0; i < 4; ++i) {
    limitEnabled_[i] = new QCheckBox(QString::fromUtf8(texts[i]), this);
    limitEnabled_[i]->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Box"));
    limitEnabled_[i]->setChecked(edit.LimitEnabled[i]);
    limit_[i] = new QLineEdit(edit.Limit[i], this);
    limit_[i]->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Edit"));
    grid->addWidget(limitEnabled_[i], i, 0);
    grid->addWidget(limit_[i], i, 1);
  }
  layout->addLayout(grid);

  auto* form = new QFormLayout;
  deadband_ = new QLineEdit(edit.Deadband, this);
  deadband_->setObjectName(QStringLiteral("deadbandEdit"));
  form->addRow(QStringLiteral("Зона нечувствительности:"), deadband_);
  delay_ = new QSpinBox(this);
  delay_->setObjectName(QStringLiteral("delaySpin"));
  delay_->setRange(0, kMaxAlarmDelaySeconds);
  delay_->setSuffix(QStringLiteral(" с"));
  delay_->setValue(edit.DelaySeconds);
  form->addRow(QStringLiteral("Задержка:"), delay_);
  priority_ = new QSpinBox(this);
  priority_->setObjectName(QStringLiteral("prioritySpin"));
  priority_->setRange(kMinAlarmPriority, kMaxAlarmPriority);
  priority_->setValue(edit.Priority);
  form->addRow(QStringLiteral("Приоритет (1 - высший):"), priority_);
  layout->addLayout(form);
  layout = static_cast<QVBoxLayout*>(this->layout());

  if (!regulator_.isEmpty()) {
    comm_ = ReadCommAlarm(network, regulator_);
    const auto* regulator = static_cast<const TRootNode*>(FindNode(network.Net().get(), regulator_));
    auto* box = new QGroupBox(
        QStringLiteral("Связь с регулятором: %1").arg(AlarmFullName(regulator->Caption(), regulator_)), this);
    box->setObjectName(QStringLiteral("commBox"));
    auto* commForm = new QFormLayout(box);
    commEnabled_ = new QCheckBox(QStringLiteral("Тревога «Нет связи»"), box);
    commEnabled_->setObjectName(QStringLiteral("commEnabledBox"));
    commEnabled_->setToolTip(QStringLiteral("Когда все опрашиваемые регистры регулятора не читаются"));
    commEnabled_->setChecked(comm_.Enabled);
    commForm->addRow(commEnabled_);
    commDelay_ = new QSpinBox(box);
    commDelay_->setObjectName(QStringLiteral("commDelaySpin"));
    commDelay_->setRange(0, kMaxAlarmDelaySeconds);
    commDelay_->setSuffix(QStringLiteral(" с"));
    commDelay_->setValue(comm_.DelaySeconds);
    commForm->addRow(QStringLiteral("Задержка:"), commDelay_);
    commPriority_ = new QSpinBox(box);
    commPriority_->setObjectName(QStringLiteral("commPrioritySpin"));
    commPriority_->setRange(kMinAlarmPriority, kMaxAlarmPriority);
    commPriority_->setValue(comm_.Priority);
    commForm->addRow(QStringLiteral("Приоритет (1 - высший):"), commPriority_);
    layout->addWidget(box);
  }

  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  layout->addLayout(OkCancelRow(this, ok, cancel));
  connect(ok, &QPushButton::clicked, this, &TAlarmLimitsDlg::Confirm);
}

void TAlarmLimitsDlg::Confirm() {
  const bool regulatorOnly = !regulator_.isEmpty() && regulator_ == name_;
  bool written = false;
  if (!regulatorOnly) {
    TAlarmLimitsEdit edit;
    edit.Enabled = enabled_->isChecked();
    for (int i = 0; i < 4; ++i) {
      edit.LimitEnabled[i] = limitEnabled_[i]->isChecked();
      edit.Limit[i] = limit_[i]->text();
    }
    edit.Deadband = deadband_->text();
    edit.DelaySeconds = delay_->value();
    edit.Priority = priority_->value();
    const TAlarmLimitsApplied applied = ApplyAlarmLimits(network_, name_, edit);
    if (!applied.Faults.Items().isEmpty()) ShowFaults(applied.Faults);
    // A refused input keeps the dialog open; a failed save has still changed the settings.
    if (!applied.Written) return;
    written = true;
  }
  if (!regulator_.isEmpty()) {
    const TCommAlarmEdit comm{commEnabled_->isChecked(), commDelay_->value(), commPriority_->value()};
    // An unchanged regulator's alarm makes no node of its own.
    if (regulatorOnly || comm != comm_) {
      const TAlarmLimitsApplied applied = ApplyCommAlarm(network_, regulator_, comm);
      if (!applied.Faults.Items().isEmpty()) ShowFaults(applied.Faults);
      written = written || applied.Written;
    }
  }
  if (written && monitor_ != nullptr) monitor_->Rebuild();
  if (written) accept();
}

bool EditAlarmLimits(TNetwork& network, TAlarmMonitor* monitor, const QString& name, QWidget* parent) {
  TAlarmLimitsDlg dialog(network, monitor, name, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace vexa
