#include "ui/config/AlarmLimitsUnit.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/Network.h"
#include "core/RootNode.h"
#include "ui/model/AlarmMonitor.h"
#include "ui/model/AlarmNode.h"
#include "ui/model/AlarmTexts.h"
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

  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(AlarmFullName(caption, name), this);
  title->setObjectName(QStringLiteral("registerName"));
  layout->addWidget(title);
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

  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  layout->addLayout(OkCancelRow(this, ok, cancel));
  connect(ok, &QPushButton::clicked, this, &TAlarmLimitsDlg::Accept);
}

void TAlarmLimitsDlg::Accept() {
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
  if (applied.Written && monitor_ != nullptr) monitor_->Rebuild();
  if (!applied.Faults.Items().isEmpty()) ShowFaults(applied.Faults);
  // A refused input keeps the dialog open; a failed save has still changed the settings.
  if (applied.Written) accept();
}

bool EditAlarmLimits(TNetwork& network, TAlarmMonitor* monitor, const QString& name, QWidget* parent) {
  TAlarmLimitsDlg dialog(network, monitor, name, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace vexa
