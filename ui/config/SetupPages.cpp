// The settings window's pages for the plant's other systems: the broker and the historian.
#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "broker/ConnectionCheck.h"
#include "core/Network.h"
#include "core/Services.h"
#include "ui/config/SetupUnit.h"
#include "ui/parts/Tell.h"

namespace vexa {

// --- integration ---------------------------------------------------------------------------------

namespace {
const QString kCheckBrokerText = QStringLiteral("Проверить соединение");
}  // namespace

QWidget* TSetupForm::CreateIntegrationPage() {
  auto* page = new QWidget;
  const auto line = [](const char* name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
  };
  brokerUrlEdit_ = line("brokerUrlEdit");
  brokerUrlEdit_->setPlaceholderText(QStringLiteral("mqtt://узел:1883 (пусто: не публиковать)"));
  brokerUserEdit_ = line("brokerUserEdit");
  brokerPasswordEdit_ = line("brokerPasswordEdit");
  brokerPasswordEdit_->setEchoMode(QLineEdit::Password);
  brokerCaEdit_ = line("brokerCaEdit");
  brokerCaEdit_->setPlaceholderText(QStringLiteral("сертификаты системы"));
  topicRootEdit_ = line("topicRootEdit");
  clientIdEdit_ = line("clientIdEdit");
  queueBoundSpin_ = new QSpinBox;
  queueBoundSpin_->setObjectName(QStringLiteral("queueBoundSpin"));
  queueBoundSpin_->setRange(1, kMaxQueueBound);
  brokerWritesCheckBox_ = new QCheckBox(QStringLiteral("Разрешить запись значений от брокера"));
  brokerWritesCheckBox_->setObjectName(QStringLiteral("brokerWritesCheckBox"));
  brokerDiscoveryCheckBox_ = new QCheckBox(QStringLiteral("Обнаружение в Home Assistant"));
  brokerDiscoveryCheckBox_->setObjectName(QStringLiteral("brokerDiscoveryCheckBox"));
  checkBrokerButton_ = new QPushButton(kCheckBrokerText);
  checkBrokerButton_->setObjectName(QStringLiteral("checkBrokerButton"));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Брокер MQTT:"), brokerUrlEdit_);
  form->addRow(QStringLiteral("Пользователь:"), brokerUserEdit_);
  form->addRow(QStringLiteral("Пароль:"), brokerPasswordEdit_);
  form->addRow(QStringLiteral("Сертификат CA:"), brokerCaEdit_);
  form->addRow(QStringLiteral("Корень тем:"), topicRootEdit_);
  form->addRow(QStringLiteral("Идентификатор:"), clientIdEdit_);
  form->addRow(QStringLiteral("Очередь, сообщений:"), queueBoundSpin_);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(brokerWritesCheckBox_);
  layout->addWidget(brokerDiscoveryCheckBox_);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(checkBrokerButton_);
  layout->addLayout(row);
  layout->addStretch();

  brokerLoaded_ = LoadBrokerSettings(network_.Dir());
  brokerUrlEdit_->setText(brokerLoaded_.Url);
  brokerUserEdit_->setText(brokerLoaded_.User);
  brokerPasswordEdit_->setText(brokerLoaded_.Password);
  brokerCaEdit_->setText(brokerLoaded_.CaFile);
  topicRootEdit_->setText(brokerLoaded_.TopicRoot);
  topicRootEdit_->setPlaceholderText(brokerLoaded_.TopicRootFor(network_.Dir()));
  clientIdEdit_->setText(brokerLoaded_.ClientId);
  clientIdEdit_->setPlaceholderText(brokerLoaded_.ClientIdFor(network_.Dir()));
  queueBoundSpin_->setValue(brokerLoaded_.QueueBound);
  brokerWritesCheckBox_->setChecked(brokerLoaded_.Writes);
  brokerDiscoveryCheckBox_->setChecked(brokerLoaded_.Discovery);
  connect(checkBrokerButton_, &QPushButton::clicked, this, &TSetupForm::CheckConnectionClick);
  InstallHelpShortcut(page, hcIntegration);
  return page;
}

TBrokerSettings TSetupForm::BrokerFields() const {
  TBrokerSettings settings;
  settings.Url = brokerUrlEdit_->text().trimmed();
  settings.User = brokerUserEdit_->text();
  settings.Password = brokerPasswordEdit_->text();
  settings.CaFile = brokerCaEdit_->text().trimmed();
  settings.TopicRoot = topicRootEdit_->text().trimmed();
  settings.ClientId = clientIdEdit_->text().trimmed();
  settings.QueueBound = queueBoundSpin_->value();
  settings.Writes = brokerWritesCheckBox_->isChecked();
  settings.Discovery = brokerDiscoveryCheckBox_->isChecked();
  return settings;
}

void TSetupForm::CheckConnectionClick() {
  const TBrokerSettings settings = BrokerFields();
  if (const QStringList problems = settings.Problems(); !problems.isEmpty()) {
    ShowMessage(problems.join(QStringLiteral("\r\n")), TMsgIcon::Warning);
    return;
  }
  if (!settings.Enabled()) {
    ShowMessage(QStringLiteral("Брокер не задан"), TMsgIcon::Warning);
    return;
  }
  // The lookup and the wait run elsewhere; the window goes on answering meanwhile.
  const auto done = [this](const TConnectionCheck& check) {
    checkBrokerButton_->setText(kCheckBrokerText);
    checkBrokerButton_->setEnabled(true);
    ShowMessage(check.Text, check.Ok ? TMsgIcon::Information : TMsgIcon::Error);
  };
  if (!brokerCheck_.Start(settings, this, done)) return;
  checkBrokerButton_->setEnabled(false);
  checkBrokerButton_->setText(QStringLiteral("Проверка соединения…"));
}

// --- history -------------------------------------------------------------------------------------

QWidget* TSetupForm::CreateHistoryPage() {
  auto* page = new QWidget;
  historyCheckBox_ = new QCheckBox(QStringLiteral("Вести архив значений (каждое чтение регистров)"));
  historyCheckBox_->setObjectName(QStringLiteral("historyCheckBox"));
  const auto days = [](const char* name) {
    auto* spin = new QSpinBox;
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(1, kMaxHistoryDays);
    spin->setSuffix(QStringLiteral(" сут."));
    return spin;
  };
  rawDaysSpin_ = days("rawDaysSpin");
  minuteDaysSpin_ = days("minuteDaysSpin");
  hourDaysSpin_ = days("hourDaysSpin");
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Каждое чтение хранить:"), rawDaysSpin_);
  form->addRow(QStringLiteral("Поминутные значения:"), minuteDaysSpin_);
  form->addRow(QStringLiteral("Почасовые значения:"), hourDaysSpin_);
  auto* where =
      new QLabel(QStringLiteral("Архив: %1").arg(QDir::toNativeSeparators(HistoryPath(network_.Dir()))));
  where->setObjectName(QStringLiteral("historyPathLabel"));
  where->setWordWrap(true);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(historyCheckBox_);
  layout->addLayout(form);
  layout->addWidget(where);
  layout->addStretch();

  historyLoaded_ = LoadHistorySettings(network_.Dir());
  historyCheckBox_->setChecked(historyLoaded_.Enabled);
  rawDaysSpin_->setValue(historyLoaded_.Tiers.RawDays);
  minuteDaysSpin_->setValue(historyLoaded_.Tiers.MinuteDays);
  hourDaysSpin_->setValue(historyLoaded_.Tiers.HourDays);
  const auto enable = [this](bool on) {
    for (QSpinBox* spin : {rawDaysSpin_, minuteDaysSpin_, hourDaysSpin_}) spin->setEnabled(on);
  };
  connect(historyCheckBox_, &QCheckBox::toggled, this, enable);
  enable(historyLoaded_.Enabled);
  InstallHelpShortcut(page, hcHistorySettings);
  return page;
}

THistorySettings TSetupForm::HistoryFields() const {
  THistorySettings settings = historyLoaded_;
  settings.FileProblems.clear();
  settings.Enabled = historyCheckBox_->isChecked();
  settings.Tiers = {rawDaysSpin_->value(), minuteDaysSpin_->value(), hourDaysSpin_->value()};
  return settings;
}

// --- confirming the pages ------------------------------------------------------------------------

bool TSetupForm::ConfirmIntegration() {
  // A wrong setting keeps the window open on its page.
  const TBrokerSettings broker = BrokerFields();
  const int brokerPage = pageTabs_->indexOf(brokerUrlEdit_->parentWidget());
  if (broker != brokerLoaded_) {
    if (const QStringList problems = broker.Problems(); !problems.isEmpty()) {
      pageTabs_->setCurrentIndex(brokerPage);
      ShowMessage(problems.join(QStringLiteral("\r\n")), TMsgIcon::Warning);
      return false;
    }
    QString why;
    if (!SaveBrokerSettings(network_.Dir(), broker, &why)) {
      pageTabs_->setCurrentIndex(brokerPage);
      ShowMessage(QStringLiteral("Не могу записать %1\r\n%2").arg(BrokerSettingsPath(network_.Dir()), why),
                  TMsgIcon::Error);
      return false;
    }
    brokerLoaded_ = broker;
    Q_EMIT BrokerSettingsChanged();
  }
  const THistorySettings history = HistoryFields();
  if (!history.SameAs(historyLoaded_)) {
    const int historyPage = pageTabs_->indexOf(historyCheckBox_->parentWidget());
    if (const QStringList problems = history.Problems(); !problems.isEmpty()) {
      pageTabs_->setCurrentIndex(historyPage);
      ShowMessage(problems.join(QStringLiteral("\r\n")), TMsgIcon::Warning);
      return false;
    }
    if (const TFaults faults = SaveHistorySettings(network_.Dir(), history); !faults.Empty()) {
      pageTabs_->setCurrentIndex(historyPage);
      ShowFaults(faults);
      return false;
    }
    historyLoaded_ = history;
    Q_EMIT HistorySettingsChanged();
  }
  return true;
}

}  // namespace vexa
