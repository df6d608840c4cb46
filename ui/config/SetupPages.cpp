// The settings window's pages for the plant's other systems: the broker, the historian and the
// web view.
#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <initializer_list>

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

// --- web view ------------------------------------------------------------------------------------

QWidget* TSetupForm::CreateWebPage() {
  auto* page = new QWidget;
  webCheckBox_ = new QCheckBox(QStringLiteral("Показывать мнемосхемы в браузере (только просмотр)"));
  webCheckBox_->setObjectName(QStringLiteral("webCheckBox"));
  webAddressEdit_ = new QLineEdit;
  webAddressEdit_->setObjectName(QStringLiteral("webAddressEdit"));
  webPortSpin_ = new QSpinBox;
  webPortSpin_->setObjectName(QStringLiteral("webPortSpin"));
  webPortSpin_->setRange(1, 65535);
  webAnonymousCheckBox_ =
      new QCheckBox(QStringLiteral("Просмотр без входа (квитирование — только после входа)"));
  webAnonymousCheckBox_->setObjectName(QStringLiteral("webAnonymousCheckBox"));
  webCertEdit_ = new QLineEdit;
  webCertEdit_->setObjectName(QStringLiteral("webCertEdit"));
  webKeyEdit_ = new QLineEdit;
  webKeyEdit_->setObjectName(QStringLiteral("webKeyEdit"));
  webHostsEdit_ = new QLineEdit;
  webHostsEdit_->setObjectName(QStringLiteral("webHostsEdit"));
  webHostsEdit_->setPlaceholderText(
      QStringLiteral("scada.plant.local, … (адреса и имя компьютера — всегда)"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Адрес:"), webAddressEdit_);
  form->addRow(QStringLiteral("Порт:"), webPortSpin_);
  form->addRow(QString(), webAnonymousCheckBox_);
  form->addRow(QStringLiteral("Сертификат (PEM):"), webCertEdit_);
  form->addRow(QStringLiteral("Ключ (PEM):"), webKeyEdit_);
  form->addRow(QStringLiteral("Имена узла:"), webHostsEdit_);
  const int users = static_cast<int>(LoadWebUsers(network_.Dir()).size());
  auto* note =
      new QLabel(QStringLiteral("Адрес 127.0.0.1 — только с этого компьютера; 0.0.0.0 — из сети завода. "
                                "Пользователей: %1; добавляются командой vexa-cli web-user add ИМЯ.")
                     .arg(users));
  note->setObjectName(QStringLiteral("webUsersLabel"));
  note->setWordWrap(true);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(webCheckBox_);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addStretch();

  webLoaded_ = LoadWebSettings(network_.Dir());
  webCheckBox_->setChecked(webLoaded_.Enabled);
  webAddressEdit_->setText(webLoaded_.Address);
  webPortSpin_->setValue(webLoaded_.Port);
  webAnonymousCheckBox_->setChecked(webLoaded_.AnonymousView);
  webCertEdit_->setText(webLoaded_.CertFile);
  webKeyEdit_->setText(webLoaded_.KeyFile);
  webHostsEdit_->setText(webLoaded_.Hosts.join(QStringLiteral(", ")));
  const auto enable = [this](bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{webAddressEdit_, webPortSpin_, webAnonymousCheckBox_,
                                                      webCertEdit_, webKeyEdit_, webHostsEdit_})
      w->setEnabled(on);
  };
  connect(webCheckBox_, &QCheckBox::toggled, this, enable);
  enable(webLoaded_.Enabled);
  InstallHelpShortcut(page, hcWebSettings);
  return page;
}

TWebSettings TSetupForm::WebFields() const {
  TWebSettings s;
  s.Enabled = webCheckBox_->isChecked();
  s.Address = webAddressEdit_->text().trimmed();
  s.Port = webPortSpin_->value();
  s.AnonymousView = webAnonymousCheckBox_->isChecked();
  s.CertFile = webCertEdit_->text().trimmed();
  s.KeyFile = webKeyEdit_->text().trimmed();
  for (const QString& name : webHostsEdit_->text().split(QLatin1Char(','), Qt::SkipEmptyParts))
    if (!name.trimmed().isEmpty()) s.Hosts << name.trimmed();
  return s;
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
  const TWebSettings web = WebFields();
  if (web != webLoaded_ || !webLoaded_.FileProblems.isEmpty()) {
    const int webPage = pageTabs_->indexOf(webCheckBox_->parentWidget());
    if (const QStringList problems = web.Problems(); web.Enabled && !problems.isEmpty()) {
      pageTabs_->setCurrentIndex(webPage);
      ShowMessage(problems.join(QStringLiteral("\r\n")), TMsgIcon::Warning);
      return false;
    }
    QString why;
    if (!SaveWebSettings(network_.Dir(), web, &why)) {
      pageTabs_->setCurrentIndex(webPage);
      ShowMessage(QStringLiteral("Не могу записать %1\r\n%2").arg(WebSettingsPath(network_.Dir()), why),
                  TMsgIcon::Error);
      return false;
    }
    webLoaded_ = web;
    Q_EMIT WebSettingsChanged();
  }
  return true;
}

}  // namespace vexa
