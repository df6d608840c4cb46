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

  pageTabs_ = new QTabWidget(this);
  pageTabs_->setObjectName(QStringLiteral("pageTabs"));
  pageTabs_->addTab(CreateGeneralPage(), QStringLiteral("Общие"));
  pageTabs_->addTab(CreateDiagramsPage(), QStringLiteral("Мнемосхемы"));
  pageTabs_->addTab(CreateIntegrationPage(), QStringLiteral("Интеграция"));
  pageTabs_->addTab(CreateHistoryPage(), QStringLiteral("История"));
  pageTabs_->addTab(CreateWebPage(), QStringLiteral("Веб-доступ"));

  demoCheckBox_ = new QCheckBox(QStringLiteral("Имитация работы в сети"), this);
  okButton_ = new QPushButton(QStringLiteral("ОК"), this);
  cancelButton_ = new QPushButton(QStringLiteral("Отмена"), this);
  demoCheckBox_->setObjectName(QStringLiteral("demoCheckBox"));
  okButton_->setObjectName(QStringLiteral("okButton"));
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(demoCheckBox_);
  bottom->addStretch();
  bottom->addWidget(okButton_);
  bottom->addWidget(cancelButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pageTabs_);
  layout->addLayout(bottom);

  connect(demoCheckBox_, &QCheckBox::clicked, this, &TSetupForm::DemoClick);
  connect(okButton_, &QPushButton::clicked, this, &TSetupForm::OKClick);
  connect(cancelButton_, &QPushButton::clicked, this, &TSetupForm::reject);
}

TSetupForm::~TSetupForm() = default;

QWidget* TSetupForm::CreateGeneralPage() {
  auto* page = new QWidget;

  auto* password = new QGroupBox(QStringLiteral("Пароль"));
  oldPasswordEdit_ = new QLineEdit;
  oldPasswordEdit_->setObjectName(QStringLiteral("oldPasswordEdit"));
  oldPasswordEdit_->setReadOnly(true);
  newPasswordEdit_ = new QLineEdit;
  newPasswordEdit_->setObjectName(QStringLiteral("newPasswordEdit"));
  auto* pg = new QGridLayout(password);
  pg->addWidget(new QLabel(QStringLiteral("Старый:")), 0, 0);
  pg->addWidget(oldPasswordEdit_, 0, 1);
  pg->addWidget(new QLabel(QStringLiteral("Новый:")), 1, 0);
  pg->addWidget(newPasswordEdit_, 1, 1);

  auto* line = new QGroupBox(QStringLiteral("Канал связи"));
  auto* portBox = new TPortBox;
  portBox->BeforePopup = [this] { FillPortList(); };
  portBox_ = portBox;
  portBox_->setObjectName(QStringLiteral("portBox"));
  portBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  portBox_->setMinimumContentsLength(24);
  speedBox_ = new QComboBox;
  speedBox_->setObjectName(QStringLiteral("speedBox"));
  for (const TLineSpeed& speed : kLineSpeeds) speedBox_->addItem(QString::number(speed.BitsPerSecond));
  auto* lg = new QGridLayout(line);
  lg->addWidget(new QLabel(QStringLiteral("Порт:")), 0, 0);
  lg->addWidget(portBox_, 0, 1);
  lg->addWidget(new QLabel(QStringLiteral("Скорость:")), 1, 0);
  lg->addWidget(speedBox_, 1, 1);
  lg->setColumnStretch(1, 1);
  // Only the operator's choice acts on the port; filling the lists does not.
  connect(portBox_, &QComboBox::activated, this, &TSetupForm::PortChosen);
  connect(speedBox_, &QComboBox::activated, this, &TSetupForm::SpeedChosen);

  auto* autoSave = new QGroupBox(QStringLiteral("Автосохранение"));
  autoSaveCheckBox_ = new QCheckBox(QStringLiteral("Сохранять состояние сети"));
  autoSaveCheckBox_->setObjectName(QStringLiteral("autoSaveCheckBox"));
  autoSaveIntervalSpin_ = new QSpinBox;
  autoSaveIntervalSpin_->setObjectName(QStringLiteral("autoSaveIntervalSpin"));
  autoSaveIntervalSpin_->setRange(kAutoSaveIntervalMin, kAutoSaveIntervalMax);
  auto* ag = new QGridLayout(autoSave);
  ag->addWidget(autoSaveCheckBox_, 0, 0, 1, 3);
  ag->addWidget(new QLabel(QStringLiteral("через каждые")), 1, 0);
  ag->addWidget(autoSaveIntervalSpin_, 1, 1);
  ag->addWidget(new QLabel(QStringLiteral("мин")), 1, 2);
  ag->setColumnStretch(3, 1);

  auto* startUp = new QGroupBox(QStringLiteral("Действия при запуске"));
  autoLoadCheckBox_ = new QCheckBox(QStringLiteral("Автоматически восстанавливать"));
  autoLoadCheckBox_->setObjectName(QStringLiteral("autoLoadCheckBox"));
  auto* note = new QLabel(QStringLiteral("состояние сети при запуске\nпрограммы"));
  note->setContentsMargins(20, 0, 0, 0);
  auto* sg = new QVBoxLayout(startUp);
  sg->addWidget(autoLoadCheckBox_);
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
  searchProgress_ = new QProgressBar;
  searchProgress_->setObjectName(QStringLiteral("searchProgress"));
  searchProgress_->setRange(0, kProgressMax);
  searchProgress_->setTextVisible(false);
  searchButton_ = new QPushButton(kSearchCaption);
  searchButton_->setObjectName(QStringLiteral("searchButton"));
  searchButton_->setAutoDefault(false);
  fg->addWidget(searchProgress_, 3, 0, 1, 2);
  fg->addWidget(searchButton_, 4, 0, 1, 2);
  connect(searchButton_, &QPushButton::clicked, this, &TSetupForm::SearchClick);

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
  diagramList_ = new QTreeWidget;
  diagramList_->setObjectName(QStringLiteral("diagramList"));
  diagramList_->setColumnCount(2);
  diagramList_->setHeaderLabels({QStringLiteral("Название"), QStringLiteral("Файл рисунка")});
  diagramList_->setRootIsDecorated(false);
  diagramList_->setAllColumnsShowFocus(true);
  diagramList_->setItemDelegate(new TNameOnlyDelegate(diagramList_));
  diagramList_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked);
  diagramList_->header()->setStretchLastSection(true);
  diagramList_->setColumnWidth(0, 160);
  connect(diagramList_, &QTreeWidget::itemChanged, this, &TSetupForm::ItemRenamed);

  addButton_ = new QPushButton(QStringLiteral("Добавить"));
  changeButton_ = new QPushButton(QStringLiteral("Изменить"));
  deleteButton_ = new QPushButton(QStringLiteral("Удалить"));
  upButton_ = new QPushButton(QStringLiteral("Переместить выше"));
  downButton_ = new QPushButton(QStringLiteral("Переместить ниже"));
  addButton_->setObjectName(QStringLiteral("addButton"));
  changeButton_->setObjectName(QStringLiteral("changeButton"));
  deleteButton_->setObjectName(QStringLiteral("deleteButton"));
  upButton_->setObjectName(QStringLiteral("upButton"));
  downButton_->setObjectName(QStringLiteral("downButton"));
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {addButton_, changeButton_, deleteButton_, upButton_, downButton_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  connect(addButton_, &QPushButton::clicked, this, &TSetupForm::AddClick);
  connect(changeButton_, &QPushButton::clicked, this, &TSetupForm::ChangeClick);
  connect(deleteButton_, &QPushButton::clicked, this, &TSetupForm::DeleteClick);
  connect(upButton_, &QPushButton::clicked, this, [this] { MoveClick(true); });
  connect(downButton_, &QPushButton::clicked, this, [this] { MoveClick(false); });

  auto* layout = new QHBoxLayout(page);
  layout->addWidget(diagramList_, 1);
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
    oldPasswordEdit_->setText(setup->Password());
    newPasswordEdit_->setText(setup->Password());
    speedBox_->setCurrentIndex(setup->BaudRateIndex() < speedBox_->count() ? setup->BaudRateIndex() : -1);
    autoSaveCheckBox_->setChecked(setup->AutoSaveEnabled());
    autoSaveIntervalSpin_->setValue(setup->AutoSaveInterval());
    autoLoadCheckBox_->setChecked(setup->AutoLoadEnabled());
    demoCheckBox_->setChecked(setup->Demo());
    diagrams_.Load(setup->MNames(), setup->MFiles());
  }
  FillPortList();
  pageTabs_->setCurrentIndex(0);
  searchProgress_->setValue(0);
  for (QLabel* counter : lbFound) counter->setText(QStringLiteral("0"));
  FillDiagrams(diagrams_.Count() > 0 ? 0 : -1);
  UpdateConfirm();
}

void TSetupForm::FillPortList() {
  const int current = network_.Setup() ? network_.Setup()->PortIndex() : -1;
  const TCustomComm* port = network_.Line().Port();
  portBox_->clear();
  // A lost port is not held by the program: it is probed like the others.
  for (const TPortEntry& entry : vexa::FillPortList(network_.Dir(), current, !(port && port->Lost()))) {
    portBox_->addItem(PortEntryCaption(entry));
    portBox_->setItemData(portBox_->count() - 1, entry.DevicePath, Qt::ToolTipRole);
  }
  portBox_->setCurrentIndex(current >= 0 && current < portBox_->count() ? current : -1);
}

void TSetupForm::FillDiagrams(int select) {
  filling_ = true;
  diagramList_->clear();
  for (int i = 0; i < diagrams_.Count(); ++i) {
    auto* item = new QTreeWidgetItem(diagramList_, {diagrams_.Row(i).Name, diagrams_.Row(i).File});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
  }
  filling_ = false;
  if (select >= 0 && select < diagramList_->topLevelItemCount()) {
    QTreeWidgetItem* item = diagramList_->topLevelItem(select);
    diagramList_->setCurrentItem(item);
    diagramList_->scrollToItem(item);
  }
}

void TSetupForm::UpdateConfirm() {
  const bool can = diagrams_.CanConfirm() && !search_.Running();
  okButton_->setEnabled(can);
  okButton_->setDefault(can);
  cancelButton_->setDefault(!can);
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
    searchProgress_->setValue(address);
    searchProgress_->repaint();
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
    const QString caption = searchButton_->text();
    searchButton_->setText(kStopCaption);
    SetSearching(true);
    // Caption, cursor and controls come back however the search ends.
    const auto restore = qScopeGuard([this, caption] {
      SetSearching(false);
      searchButton_->setText(caption);
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
  for (QWidget* w : std::initializer_list<QWidget*>{newPasswordEdit_, portBox_, speedBox_, autoSaveCheckBox_,
                                                    autoSaveIntervalSpin_, autoLoadCheckBox_, rbMode[0],
                                                    rbMode[1], rbMode[2], demoCheckBox_, cancelButton_})
    w->setEnabled(!on);
  pageTabs_->setTabEnabled(1, !on);
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
  QTreeWidgetItem* item = diagramList_->currentItem();
  return item ? diagramList_->indexOfTopLevelItem(item) : -1;
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
  if (QTreeWidgetItem* item = diagramList_->topLevelItem(row)) {
    diagramList_->setFocus();
    diagramList_->editItem(item, 0);
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
  diagrams_.Rename(diagramList_->indexOfTopLevelItem(item), item->text(0));
}

// --- confirming ----------------------------------------------------------------------------------

void TSetupForm::OKClick() {
  if (!diagrams_.CanConfirm() || search_.Running() || !network_.Setup()) return;
  if (!ConfirmIntegration()) return;
  const TSetupFields fields{newPasswordEdit_->text(), autoSaveIntervalSpin_->value(),
                            autoSaveCheckBox_->isChecked(), autoLoadCheckBox_->isChecked(),
                            demoCheckBox_->isChecked()};
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
