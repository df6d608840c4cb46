#include "ui/config/SetupUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>
#include <functional>
#include <initializer_list>

#include "broker/ConnectionCheck.h"
#include "core/LineSpeeds.h"
#include "core/Network.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "ui/MainUnit.h"
#include "ui/config/NetUnit.h"
#include "ui/parts/FileDialogs.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

const QString kDemoNotice = QStringLiteral(
    "Внимание! Включен режим имитации работы в сети.\r\nОбмен с сетевыми устройствами реально не "
    "производится.");
const QString kSearchWarning = QStringLiteral(
    "Внимание! Это действие может привести\r\nк потере текущих настроек сети!\r\nРекомендуем сделать "
    "резервные копии\r\nвсех файлов папки 'Config'. Продолжить?");
const QString kRestartNotice = QStringLiteral(
    "Для того, чтобы изменения мнемосхем вступили в силу,\r\nпрограмму следует перезапустить.");
const QString kRemoveAllQuestion = QStringLiteral(
    "Ни один регулятор сети не ответил на запрос: возможно, неисправна линия связи.\r\nУдалить из сети "
    "все не ответившие регуляторы (%1)?");
const QString kSearchCaption = QStringLiteral("Произвести поиск");
const QString kStopCaption = QStringLiteral("Остановить поиск");

// The port list is read afresh whenever the operator opens it: since the window was shown an
// adapter may have come or gone, or a link may name another device.
class TPortBox : public QComboBox {
 public:
  std::function<void()> BeforePopup;
  void showPopup() override {
    if (BeforePopup) BeforePopup();
    QComboBox::showPopup();
  }
};

// Only the name of a diagram is edited in place; its file comes from the file dialog.
class TNameOnlyDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    return index.column() == 0 ? QStyledItemDelegate::createEditor(parent, option, index) : nullptr;
  }
};

}  // namespace

TSetupForm::TSetupForm(TNetwork& network, TMainForm* mainForm, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mainForm_(mainForm),
      search_(network),
      network_(network) {
  setWindowTitle(QStringLiteral("Настройка параметров сети"));
  new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window
  InstallHelpShortcut(this, kHelpContext);

  pcPages = new QTabWidget(this);
  pcPages->setObjectName(QStringLiteral("pageTabs"));
  pcPages->addTab(CreateGeneralPage(), QStringLiteral("Общие"));
  pcPages->addTab(CreateDiagramsPage(), QStringLiteral("Мнемосхемы"));
  pcPages->addTab(CreateIntegrationPage(), QStringLiteral("Интеграция"));

  chDemo = new QCheckBox(QStringLiteral("Имитация работы в сети"), this);
  btOK = new QPushButton(QStringLiteral("ОК"), this);
  btCancel = new QPushButton(QStringLiteral("Отмена"), this);
  chDemo->setObjectName(QStringLiteral("demoCheckBox"));
  btOK->setObjectName(QStringLiteral("okButton"));
  btCancel->setObjectName(QStringLiteral("cancelButton"));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(chDemo);
  bottom->addStretch();
  bottom->addWidget(btOK);
  bottom->addWidget(btCancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pcPages);
  layout->addLayout(bottom);

  connect(chDemo, &QCheckBox::clicked, this, &TSetupForm::DemoClick);
  connect(btOK, &QPushButton::clicked, this, &TSetupForm::OKClick);
  connect(btCancel, &QPushButton::clicked, this, &TSetupForm::reject);
}

TSetupForm::~TSetupForm() = default;

QWidget* TSetupForm::CreateGeneralPage() {
  auto* page = new QWidget;

  auto* password = new QGroupBox(QStringLiteral("Пароль"));
  edOldPassword = new QLineEdit;
  edOldPassword->setObjectName(QStringLiteral("oldPasswordEdit"));
  edOldPassword->setReadOnly(true);
  edNewPassword = new QLineEdit;
  edNewPassword->setObjectName(QStringLiteral("newPasswordEdit"));
  auto* pg = new QGridLayout(password);
  pg->addWidget(new QLabel(QStringLiteral("Старый:")), 0, 0);
  pg->addWidget(edOldPassword, 0, 1);
  pg->addWidget(new QLabel(QStringLiteral("Новый:")), 1, 0);
  pg->addWidget(edNewPassword, 1, 1);

  auto* line = new QGroupBox(QStringLiteral("Канал связи"));
  auto* portBox = new TPortBox;
  portBox->BeforePopup = [this] { FillPortList(); };
  cbPort = portBox;
  cbPort->setObjectName(QStringLiteral("portBox"));
  cbPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbPort->setMinimumContentsLength(24);
  cbSpeed = new QComboBox;
  cbSpeed->setObjectName(QStringLiteral("speedBox"));
  for (const TLineSpeed& speed : kLineSpeeds) cbSpeed->addItem(QString::number(speed.BitsPerSecond));
  auto* lg = new QGridLayout(line);
  lg->addWidget(new QLabel(QStringLiteral("Порт:")), 0, 0);
  lg->addWidget(cbPort, 0, 1);
  lg->addWidget(new QLabel(QStringLiteral("Скорость:")), 1, 0);
  lg->addWidget(cbSpeed, 1, 1);
  lg->setColumnStretch(1, 1);
  // Only the operator's choice acts on the port; filling the lists does not.
  connect(cbPort, &QComboBox::activated, this, &TSetupForm::PortChosen);
  connect(cbSpeed, &QComboBox::activated, this, &TSetupForm::SpeedChosen);

  auto* autoSave = new QGroupBox(QStringLiteral("Автосохранение"));
  chAutoSave = new QCheckBox(QStringLiteral("Сохранять состояние сети"));
  chAutoSave->setObjectName(QStringLiteral("autoSaveCheckBox"));
  seAutoSaveInterval = new QSpinBox;
  seAutoSaveInterval->setObjectName(QStringLiteral("autoSaveIntervalSpin"));
  seAutoSaveInterval->setRange(kAutoSaveIntervalMin, kAutoSaveIntervalMax);
  auto* ag = new QGridLayout(autoSave);
  ag->addWidget(chAutoSave, 0, 0, 1, 3);
  ag->addWidget(new QLabel(QStringLiteral("через каждые")), 1, 0);
  ag->addWidget(seAutoSaveInterval, 1, 1);
  ag->addWidget(new QLabel(QStringLiteral("мин")), 1, 2);
  ag->setColumnStretch(3, 1);

  auto* startUp = new QGroupBox(QStringLiteral("Действия при запуске"));
  chAutoLoad = new QCheckBox(QStringLiteral("Автоматически восстанавливать"));
  chAutoLoad->setObjectName(QStringLiteral("autoLoadCheckBox"));
  auto* note = new QLabel(QStringLiteral("состояние сети при запуске\nпрограммы"));
  note->setContentsMargins(20, 0, 0, 0);
  auto* sg = new QVBoxLayout(startUp);
  sg->addWidget(chAutoLoad);
  sg->addWidget(note);

  auto* search = new QGroupBox(QStringLiteral("Поиск сетевых устройств"));
  const QString modes[] = {QStringLiteral("Начать заново ........................."),
                           QStringLiteral("Только добавленных ..............."),
                           QStringLiteral("Только удаленных .....................")};
  const char* const names[][2] = {{"afreshButton", "afreshFoundLabel"},
                                  {"addedButton", "addedFoundLabel"},
                                  {"removedButton", "removedFoundLabel"}};
  auto* fg = new QGridLayout(search);
  for (int m = 0; m < 3; ++m) {
    rbMode[m] = new QRadioButton(modes[m]);
    rbMode[m]->setObjectName(QString::fromLatin1(names[m][0]));
    lbFound[m] = new QLabel(QStringLiteral("0"));
    lbFound[m]->setObjectName(QString::fromLatin1(names[m][1]));
    lbFound[m]->setMinimumWidth(lbFound[m]->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    lbFound[m]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fg->addWidget(rbMode[m], m, 0);
    fg->addWidget(lbFound[m], m, 1);
  }
  rbMode[smAfresh]->setChecked(true);
  pbPassed = new QProgressBar;
  pbPassed->setObjectName(QStringLiteral("searchProgress"));
  pbPassed->setRange(0, kProgressMax);
  pbPassed->setTextVisible(false);
  btSearch = new QPushButton(kSearchCaption);
  btSearch->setObjectName(QStringLiteral("searchButton"));
  btSearch->setAutoDefault(false);
  fg->addWidget(pbPassed, 3, 0, 1, 2);
  fg->addWidget(btSearch, 4, 0, 1, 2);
  connect(btSearch, &QPushButton::clicked, this, &TSetupForm::SearchClick);

  auto* left = new QVBoxLayout;
  left->addWidget(password);
  left->addWidget(line);
  left->addWidget(autoSave);
  left->addStretch();
  auto* right = new QVBoxLayout;
  right->addWidget(startUp);
  right->addWidget(search);
  right->addStretch();
  auto* columns = new QHBoxLayout(page);
  columns->addLayout(left);
  columns->addLayout(right);
  return page;
}

QWidget* TSetupForm::CreateDiagramsPage() {
  auto* page = new QWidget;
  lvDiagrams = new QTreeWidget;
  lvDiagrams->setObjectName(QStringLiteral("diagramList"));
  lvDiagrams->setColumnCount(2);
  lvDiagrams->setHeaderLabels({QStringLiteral("Название"), QStringLiteral("Файл рисунка")});
  lvDiagrams->setRootIsDecorated(false);
  lvDiagrams->setAllColumnsShowFocus(true);
  lvDiagrams->setItemDelegate(new TNameOnlyDelegate(lvDiagrams));
  lvDiagrams->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked);
  lvDiagrams->header()->setStretchLastSection(true);
  lvDiagrams->setColumnWidth(0, 160);
  connect(lvDiagrams, &QTreeWidget::itemChanged, this, &TSetupForm::ItemRenamed);

  btAdd = new QPushButton(QStringLiteral("Добавить"));
  btChange = new QPushButton(QStringLiteral("Изменить"));
  btDelete = new QPushButton(QStringLiteral("Удалить"));
  btUp = new QPushButton(QStringLiteral("Переместить выше"));
  btDown = new QPushButton(QStringLiteral("Переместить ниже"));
  btAdd->setObjectName(QStringLiteral("addButton"));
  btChange->setObjectName(QStringLiteral("changeButton"));
  btDelete->setObjectName(QStringLiteral("deleteButton"));
  btUp->setObjectName(QStringLiteral("upButton"));
  btDown->setObjectName(QStringLiteral("downButton"));
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {btAdd, btChange, btDelete, btUp, btDown}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  connect(btAdd, &QPushButton::clicked, this, &TSetupForm::AddClick);
  connect(btChange, &QPushButton::clicked, this, &TSetupForm::ChangeClick);
  connect(btDelete, &QPushButton::clicked, this, &TSetupForm::DeleteClick);
  connect(btUp, &QPushButton::clicked, this, [this] { MoveClick(true); });
  connect(btDown, &QPushButton::clicked, this, [this] { MoveClick(false); });

  auto* layout = new QHBoxLayout(page);
  layout->addWidget(lvDiagrams, 1);
  layout->addLayout(buttons);
  return page;
}

// --- showing -------------------------------------------------------------------------------------

void TSetupForm::showEvent(QShowEvent* event) {
  if (!search_.Running()) FillFields();
  QDialog::showEvent(event);
}

void TSetupForm::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) UpdateConfirm();
  QDialog::changeEvent(event);
}

void TSetupForm::FillFields() {
  if (const std::unique_ptr<TSetupNode>& setup = network_.Setup()) {
    edOldPassword->setText(setup->Password());
    edNewPassword->setText(setup->Password());
    cbSpeed->setCurrentIndex(setup->BaudRateIndex() < cbSpeed->count() ? setup->BaudRateIndex() : -1);
    chAutoSave->setChecked(setup->AutoSaveEnabled());
    seAutoSaveInterval->setValue(setup->AutoSaveInterval());
    chAutoLoad->setChecked(setup->AutoLoadEnabled());
    chDemo->setChecked(setup->Demo());
    diagrams_.Load(setup->MNames(), setup->MFiles());
  }
  FillPortList();
  pcPages->setCurrentIndex(0);
  pbPassed->setValue(0);
  for (QLabel* counter : lbFound) counter->setText(QStringLiteral("0"));
  FillDiagrams(diagrams_.Count() > 0 ? 0 : -1);
  UpdateConfirm();
}

void TSetupForm::FillPortList() {
  const int current = network_.Setup() ? network_.Setup()->PortIndex() : -1;
  const TCustomComm* port = network_.Line().Port();
  cbPort->clear();
  // A lost port is not held by the program: it is probed like the others.
  for (const TPortEntry& entry : vexa::FillPortList(network_.Dir(), current, !(port && port->Lost()))) {
    cbPort->addItem(PortEntryCaption(entry));
    cbPort->setItemData(cbPort->count() - 1, entry.DevicePath, Qt::ToolTipRole);
  }
  cbPort->setCurrentIndex(current >= 0 && current < cbPort->count() ? current : -1);
}

void TSetupForm::FillDiagrams(int select) {
  filling_ = true;
  lvDiagrams->clear();
  for (int i = 0; i < diagrams_.Count(); ++i) {
    auto* item = new QTreeWidgetItem(lvDiagrams, {diagrams_.Row(i).Name, diagrams_.Row(i).File});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
  }
  filling_ = false;
  if (select >= 0 && select < lvDiagrams->topLevelItemCount()) {
    QTreeWidgetItem* item = lvDiagrams->topLevelItem(select);
    lvDiagrams->setCurrentItem(item);
    lvDiagrams->scrollToItem(item);
  }
}

void TSetupForm::UpdateConfirm() {
  const bool can = diagrams_.CanConfirm() && !search_.Running();
  btOK->setEnabled(can);
  btOK->setDefault(can);
  btCancel->setDefault(!can);
}

// --- what acts at once ---------------------------------------------------------------------------

void TSetupForm::PortChosen(int index) {
  for (const QString& text : network_.SetPortIndex(index).Texts()) ShowMessage(text, TMsgIcon::Error);
}

void TSetupForm::SpeedChosen(int index) {
  for (const QString& text : network_.SetBaudRateIndex(index).Texts()) ShowMessage(text, TMsgIcon::Error);
}

void TSetupForm::DemoClick(bool checked) {
  if (!network_.Setup()) return;
  network_.Setup()->SetDemo(checked);
  if (checked) ShowMessage(kDemoNotice, TMsgIcon::Information);
}

// --- the search ----------------------------------------------------------------------------------

TSearchMode TSetupForm::SelectedMode() const {
  if (rbMode[smAdded]->isChecked()) return smAdded;
  if (rbMode[smRemoved]->isChecked()) return smRemoved;
  return smAfresh;
}

void TSetupForm::SearchClick() {
  if (search_.Running()) {
    search_.Stop();  // taken between addresses
    return;
  }
  if (ShowMessage(kSearchWarning, TMsgIcon::Question, mbYes | mbNo, mbNo) != mbYes) return;
  RunSearch(SelectedMode());
}

void TSetupForm::RunSearch(TSearchMode mode) {
  auto* main = static_cast<TMainForm*>(mainForm_.data());
  search_.OnDevicesFound = [this, mode](int count) { ShowFound(mode, count); };
  search_.OnDevicesPassed = [this](int address) {
    pbPassed->setValue(address);
    pbPassed->repaint();
  };
  search_.OnIdle = [this] { PumpEvents(); };
  // A channel without a template may take long to explore: the window still repaints and takes
  // the stop, which ends the search once the regulator is complete.
  search_.OnProbe = [this](int, int, int) { PumpEvents(); };
  // The structure window's items refer to nodes the search may destroy, and events run meanwhile.
  search_.OnBeforeChange = [main] {
    if (auto* net = main ? qobject_cast<TNetForm*>(main->Window(TWindowRole::NetTree)) : nullptr)
      net->Clear();
  };
  search_.OnAfterChange = [main] {
    if (auto* net = main ? qobject_cast<TNetForm*>(main->Window(TWindowRole::NetTree)) : nullptr)
      net->Rebuild();
  };
  // Silence everywhere may be a dead line rather than unplugged regulators: the operator decides.
  search_.ConfirmRemoval = [](int count) {
    return ShowMessage(kRemoveAllQuestion.arg(count), TMsgIcon::Question, mbYes | mbNo, mbNo) == mbYes;
  };

  TSearchResult result;
  bool failed = false;
  {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const QString caption = btSearch->text();
    btSearch->setText(kStopCaption);
    SetSearching(true);
    // Caption, cursor and controls come back however the search ends.
    const auto restore = qScopeGuard([this, caption] {
      SetSearching(false);
      btSearch->setText(caption);
      QApplication::restoreOverrideCursor();
    });
    if (main) main->repaint();
    repaint();
    try {
      result = search_.Run(mode);
    } catch (const std::exception& e) {
      failed = true;
      ShowMessage(QStringLiteral("Ошибка поиска: %1").arg(QString::fromUtf8(e.what())), TMsgIcon::Error);
    }
  }
  Q_EMIT SearchFinished();
  if (failed) return;
  ShowReport(result);
  if (result.PortError) return;  // nothing changed: the tree is the one the window showed before
  if (auto* net = main ? qobject_cast<TNetForm*>(main->Window(TWindowRole::NetTree)) : nullptr)
    main->ShowModalNearPage(net, 24, 24);
}

void TSetupForm::ShowReport(const TSearchResult& result) {
  TMsgIcon icon = TMsgIcon::Information;
  if (result.Failed > 0 || !result.Partial.empty() || result.Kept > 0) icon = TMsgIcon::Warning;
  if (result.PortError) icon = TMsgIcon::Error;
  ShowMessage(SearchReport(result).join(QStringLiteral("\r\n")), icon);
}

void TSetupForm::ShowFound(TSearchMode mode, int count) {
  lbFound[mode]->setText(QString::number(count));
  for (QLabel* counter : lbFound) counter->repaint();
}

void TSetupForm::PumpEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TSetupForm::SetSearching(bool on) {
  // While the search runs only its button answers: the rest would change what the search uses.
  for (QWidget* w :
       std::initializer_list<QWidget*>{edNewPassword, cbPort, cbSpeed, chAutoSave, seAutoSaveInterval,
                                       chAutoLoad, rbMode[0], rbMode[1], rbMode[2], chDemo, btCancel})
    w->setEnabled(!on);
  pcPages->setTabEnabled(1, !on);
  UpdateConfirm();
}

void TSetupForm::reject() {
  if (search_.Running()) return;  // stop the search first
  QDialog::reject();
}

void TSetupForm::closeEvent(QCloseEvent* event) {
  if (search_.Running()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

// --- the diagram list ----------------------------------------------------------------------------

int TSetupForm::SelectedRow() const {
  QTreeWidgetItem* item = lvDiagrams->currentItem();
  return item ? lvDiagrams->indexOfTopLevelItem(item) : -1;
}

QString TSetupForm::ChoosePicture(const QString& current) {
  const QString folder = current.isEmpty() ? network_.Dir() : QFileInfo(current).absolutePath();
  QFileDialog dialog(this, QStringLiteral("Выбор мнемосхемы"), folder,
                     QStringLiteral("Точечный рисунок (*.bmp);;Рисунок PNG (*.png)"));
  PrepareFileDialog(dialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (!current.isEmpty()) dialog.selectFile(current);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const QString file = dialog.selectedFiles().first();
  return QFileInfo(file).isFile() ? QDir::toNativeSeparators(file) : QString();
}

void TSetupForm::EditName(int row) {
  if (QTreeWidgetItem* item = lvDiagrams->topLevelItem(row)) {
    lvDiagrams->setFocus();
    lvDiagrams->editItem(item, 0);
  }
}

void TSetupForm::AddClick() {
  const QString file = ChoosePicture(QString());
  if (file.isEmpty()) return;
  const int row = diagrams_.Add(file);
  FillDiagrams(row);
  UpdateConfirm();
  EditName(row);
}

void TSetupForm::ChangeClick() {
  const int row = SelectedRow();
  if (row < 0) return;
  const QString file = ChoosePicture(diagrams_.Row(row).File);
  if (file.isEmpty()) return;
  FillDiagrams(diagrams_.ChangeFile(row, file));
  UpdateConfirm();
  EditName(row);
}

void TSetupForm::DeleteClick() {
  const int row = SelectedRow();
  if (row < 0) return;
  FillDiagrams(diagrams_.Remove(row));
  UpdateConfirm();
}

void TSetupForm::MoveClick(bool up) {
  const int row = SelectedRow();
  if (row < 0) return;
  FillDiagrams(up ? diagrams_.MoveUp(row) : diagrams_.MoveDown(row));
}

void TSetupForm::ItemRenamed(QTreeWidgetItem* item, int column) {
  if (filling_ || column != 0) return;
  diagrams_.Rename(lvDiagrams->indexOfTopLevelItem(item), item->text(0));
}

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
  edBrokerUrl = line("brokerUrlEdit");
  edBrokerUrl->setPlaceholderText(QStringLiteral("mqtt://узел:1883 (пусто: не публиковать)"));
  edBrokerUser = line("brokerUserEdit");
  edBrokerPassword = line("brokerPasswordEdit");
  edBrokerPassword->setEchoMode(QLineEdit::Password);
  edBrokerCa = line("brokerCaEdit");
  edBrokerCa->setPlaceholderText(QStringLiteral("сертификаты системы"));
  edTopicRoot = line("topicRootEdit");
  edClientId = line("clientIdEdit");
  seQueueBound = new QSpinBox;
  seQueueBound->setObjectName(QStringLiteral("queueBoundSpin"));
  seQueueBound->setRange(1, kMaxQueueBound);
  chBrokerWrites = new QCheckBox(QStringLiteral("Разрешить запись значений от брокера"));
  chBrokerWrites->setObjectName(QStringLiteral("brokerWritesCheckBox"));
  chBrokerDiscovery = new QCheckBox(QStringLiteral("Обнаружение в Home Assistant"));
  chBrokerDiscovery->setObjectName(QStringLiteral("brokerDiscoveryCheckBox"));
  btCheckBroker = new QPushButton(kCheckBrokerText);
  btCheckBroker->setObjectName(QStringLiteral("checkBrokerButton"));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Брокер MQTT:"), edBrokerUrl);
  form->addRow(QStringLiteral("Пользователь:"), edBrokerUser);
  form->addRow(QStringLiteral("Пароль:"), edBrokerPassword);
  form->addRow(QStringLiteral("Сертификат CA:"), edBrokerCa);
  form->addRow(QStringLiteral("Корень тем:"), edTopicRoot);
  form->addRow(QStringLiteral("Идентификатор:"), edClientId);
  form->addRow(QStringLiteral("Очередь, сообщений:"), seQueueBound);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(chBrokerWrites);
  layout->addWidget(chBrokerDiscovery);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(btCheckBroker);
  layout->addLayout(row);
  layout->addStretch();

  brokerLoaded_ = LoadBrokerSettings(network_.Dir());
  edBrokerUrl->setText(brokerLoaded_.Url);
  edBrokerUser->setText(brokerLoaded_.User);
  edBrokerPassword->setText(brokerLoaded_.Password);
  edBrokerCa->setText(brokerLoaded_.CaFile);
  edTopicRoot->setText(brokerLoaded_.TopicRoot);
  edTopicRoot->setPlaceholderText(brokerLoaded_.TopicRootFor(network_.Dir()));
  edClientId->setText(brokerLoaded_.ClientId);
  edClientId->setPlaceholderText(brokerLoaded_.ClientIdFor(network_.Dir()));
  seQueueBound->setValue(brokerLoaded_.QueueBound);
  chBrokerWrites->setChecked(brokerLoaded_.Writes);
  chBrokerDiscovery->setChecked(brokerLoaded_.Discovery);
  connect(btCheckBroker, &QPushButton::clicked, this, &TSetupForm::CheckConnectionClick);
  InstallHelpShortcut(page, hcIntegration);
  return page;
}

TBrokerSettings TSetupForm::BrokerFields() const {
  TBrokerSettings settings;
  settings.Url = edBrokerUrl->text().trimmed();
  settings.User = edBrokerUser->text();
  settings.Password = edBrokerPassword->text();
  settings.CaFile = edBrokerCa->text().trimmed();
  settings.TopicRoot = edTopicRoot->text().trimmed();
  settings.ClientId = edClientId->text().trimmed();
  settings.QueueBound = seQueueBound->value();
  settings.Writes = chBrokerWrites->isChecked();
  settings.Discovery = chBrokerDiscovery->isChecked();
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
    btCheckBroker->setText(kCheckBrokerText);
    btCheckBroker->setEnabled(true);
    ShowMessage(check.Text, check.Ok ? TMsgIcon::Information : TMsgIcon::Error);
  };
  if (!brokerCheck_.Start(settings, this, done)) return;
  btCheckBroker->setEnabled(false);
  btCheckBroker->setText(QStringLiteral("Проверка соединения…"));
}

// --- confirming ----------------------------------------------------------------------------------

void TSetupForm::OKClick() {
  if (!diagrams_.CanConfirm() || search_.Running() || !network_.Setup()) return;
  // The broker's settings first: a wrong one keeps the window open on its page.
  const TBrokerSettings broker = BrokerFields();
  if (broker != brokerLoaded_) {
    if (const QStringList problems = broker.Problems(); !problems.isEmpty()) {
      pcPages->setCurrentIndex(2);
      ShowMessage(problems.join(QStringLiteral("\r\n")), TMsgIcon::Warning);
      return;
    }
    QString why;
    if (!SaveBrokerSettings(network_.Dir(), broker, &why)) {
      pcPages->setCurrentIndex(2);
      ShowMessage(QStringLiteral("Не могу записать %1\r\n%2").arg(BrokerSettingsPath(network_.Dir()), why),
                  TMsgIcon::Error);
      return;
    }
    brokerLoaded_ = broker;
    Q_EMIT BrokerSettingsChanged();
  }
  const TSetupFields fields{edNewPassword->text(), seAutoSaveInterval->value(), chAutoSave->isChecked(),
                            chAutoLoad->isChecked(), chDemo->isChecked()};
  const TSetupConfirmed confirmed = ConfirmSetup(network_, fields, diagrams_);
  ShowFaults(confirmed.Faults);
  if (!confirmed.Restart) {
    accept();
    return;
  }
  ShowMessage(kRestartNotice, TMsgIcon::Information);
  accept();
  // The pages are built at start only: the program ends as when the desktop session does, once this
  // window's own loop has returned.
  if (auto* main = static_cast<TMainForm*>(mainForm_.data())) {
    QTimer::singleShot(0, main, [main] {
      main->Activate();
      main->SessionEnding();
    });
  }
}

}  // namespace vexa
