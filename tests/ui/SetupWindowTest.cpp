// The network settings window as the operator uses it: the fields and what "ОК" and "Отмена" keep,
// the port, speed and simulation acting at once, the three searches with their counters, the stop
// button, the report, a dead port, the question before emptying the network, the structure window
// shown modally afterwards, and the diagram list.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "broker/BrokerSettings.h"
#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/FileDescriptor.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "core/SimulatedNetwork.h"
#include "historian/HistorySettings.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "tests/broker/MosquittoBroker.h"
#include "tests/web/WebClient.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/app/Program.h"
#include "ui/config/NetUnit.h"
#include "ui/config/SetupUnit.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/MessageBoxService.h"
#include "web/WebSettings.h"

namespace vexa::test {
namespace {

void Click(QWidget* w) {
  QTest::mouseClick(w, Qt::LeftButton);
}

void TypeOver(QWidget* w, const QString& text) {
  QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
  TypeText(w, text);
}

QStringList Rows(const QTreeWidget* list, int column) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(column);
  return rows;
}

int CurrentRow(const QTreeWidget* list) {
  return list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : -1;
}

void ClickRow(QTreeWidget* list, int row) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(list->topLevelItem(row)).center());
}

// The next file dialog picks `file`, or is cancelled when it is empty.
void AnswerFileDialog(const QString& file, QString* title = nullptr) {
  WhenModal<QFileDialog>([file, title](QFileDialog* dialog) {
    if (title) *title = dialog->windowTitle();
    if (file.isEmpty()) return dialog->reject();
    dialog->selectFile(file);
    QMetaObject::invokeMethod(dialog, "accept");  // as the "Open" button does
  });
}

class SetupWindowTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Current().Dir()).mkdir(QStringLiteral("Config"));
    picture1 = MakeFile(QStringLiteral("plant.bmp"));
    picture2 = MakeFile(QStringLiteral("boiler.png"));
  }
  void TearDown() override {
    form.reset();
    mainForm.reset();
    TVexaTest::TearDown();
  }

  QString MakeFile(const QString& name) const {
    const QString path = QDir(Current().Dir()).filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("BM");
    return path;
  }

  // Channel templates for the simulated channel types 0 and 1, so a search copies instead of probing
  // 256 registers per channel.
  void SaveTemplates() {
    for (int type = 0; type < 2; ++type) {
      auto* pattern = new TRootNode(Registry().get());
      pattern->SetName(QStringLiteral("T%1").arg(type));
      pattern->SetCaption(QStringLiteral("00%1").arg(type));
      pattern->SetComments(QStringLiteral("Тип %1").arg(type));
      for (int k = 0; k < 3; ++k) {
        auto* reg = new TRegisterNode(pattern);
        reg->SetName(QStringLiteral("R%1").arg(k));
        reg->SetCaption(QStringLiteral("Шаблон %1").arg(k));
      }
    }
    ASSERT_TRUE(SaveTreeFile(Current(), *Registry()));
  }

  TSetupForm& Open(bool withMain = false) {
    if (withMain) {
      mainForm = std::make_unique<TMainForm>(Current());
      Messages->Shown.clear();  // its own notices about the pages
    }
    form = std::make_unique<TSetupForm>(Current(), mainForm.get());
    EXPECT_TRUE(Activate(form.get()));
    return *form;
  }

  // The window's controls, found by their names.
  QTabWidget* Pages() const { return Child<QTabWidget>(*form, "pageTabs"); }
  QLineEdit* OldPassword() const { return Child<QLineEdit>(*form, "oldPasswordEdit"); }
  QLineEdit* NewPassword() const { return Child<QLineEdit>(*form, "newPasswordEdit"); }
  QComboBox* PortBox() const { return Child<QComboBox>(*form, "portBox"); }
  QComboBox* SpeedBox() const { return Child<QComboBox>(*form, "speedBox"); }
  QCheckBox* AutoSave() const { return Child<QCheckBox>(*form, "autoSaveCheckBox"); }
  QSpinBox* AutoSaveInterval() const { return Child<QSpinBox>(*form, "autoSaveIntervalSpin"); }
  QCheckBox* AutoLoad() const { return Child<QCheckBox>(*form, "autoLoadCheckBox"); }
  QProgressBar* Progress() const { return Child<QProgressBar>(*form, "searchProgress"); }
  QPushButton* SearchButton() const { return Child<QPushButton>(*form, "searchButton"); }
  QTreeWidget* Diagrams() const { return Child<QTreeWidget>(*form, "diagramList"); }
  QPushButton* AddButton() const { return Child<QPushButton>(*form, "addButton"); }
  QPushButton* ChangeButton() const { return Child<QPushButton>(*form, "changeButton"); }
  QPushButton* DeleteButton() const { return Child<QPushButton>(*form, "deleteButton"); }
  QPushButton* UpButton() const { return Child<QPushButton>(*form, "upButton"); }
  QPushButton* DownButton() const { return Child<QPushButton>(*form, "downButton"); }
  QCheckBox* Demo() const { return Child<QCheckBox>(*form, "demoCheckBox"); }
  QPushButton* OkButton() const { return Child<QPushButton>(*form, "okButton"); }
  QPushButton* CancelButton() const { return Child<QPushButton>(*form, "cancelButton"); }
  QRadioButton* ModeButton(int mode) const {
    const char* const names[] = {"afreshButton", "addedButton", "removedButton"};
    return Child<QRadioButton>(*form, names[mode]);
  }
  QLabel* Found(int mode) const {
    const char* const names[] = {"afreshFoundLabel", "addedFoundLabel", "removedFoundLabel"};
    return Child<QLabel>(*form, names[mode]);
  }

  // The in-place editor of a row's name, when one is open.
  QWidget* Editor(int row) const { return Diagrams()->indexWidget(Diagrams()->model()->index(row, 0)); }

  QStringList Counters() const {
    QStringList texts;
    for (int mode : {smAfresh, smAdded, smRemoved}) texts << Found(mode)->text();
    return texts;
  }

  QStringList Regulators() {
    QStringList names;
    for (int i = 0; i < Net()->NodeCount(); ++i) names << Net()->Node(i)->Name();
    return names;
  }

  // Presses "Произвести поиск" in the given mode and answers the question with `answer`.
  void Search(TSearchMode mode, TMsgButton answer = mbYes) {
    Click(ModeButton(mode));
    Messages->Answers.push_back(answer);
    Click(SearchButton());
  }

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TSetupForm> form;
  QString picture1;
  QString picture2;
};

// ---- the fields -----------------------------------------------------------------------------------

TEST_F(SetupWindowTest, ShowingFillsEveryFieldFromTheSettings) {
  Settings()->SetPassword(QStringLiteral("Печь1"));
  // No port is open: the speed is only kept in the settings, which is what this test shows.
  static_cast<void>(Current().SetBaudRateIndex(5));
  Settings()->SetAutoSaveEnabled(true);
  Settings()->SetAutoSaveInterval(17);
  Settings()->SetAutoLoadEnabled(false);
  Settings()->SetDemo(true);
  Settings()->SetMNames({QStringLiteral("Цех"), QStringLiteral("Котельная")});
  Settings()->SetMFiles({picture1, picture2});
  Open(true);

  EXPECT_EQ(form->windowTitle(), "Настройка параметров сети");
  EXPECT_EQ(Pages()->tabText(0), "Общие");
  EXPECT_EQ(Pages()->tabText(1), "Мнемосхемы");
  EXPECT_EQ(Pages()->currentIndex(), 0);
  EXPECT_TRUE(OldPassword()->isReadOnly());
  EXPECT_EQ(OldPassword()->text(), "Печь1");
  EXPECT_EQ(NewPassword()->text(), "Печь1");
  QStringList speeds;
  for (int i = 0; i < SpeedBox()->count(); ++i) speeds << SpeedBox()->itemText(i);
  EXPECT_EQ(speeds, QStringList({"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
  EXPECT_EQ(SpeedBox()->currentIndex(), 5);
  EXPECT_TRUE(AutoSave()->isChecked());
  EXPECT_EQ(AutoSaveInterval()->value(), 17);
  EXPECT_EQ(AutoSaveInterval()->minimum(), 1);
  EXPECT_EQ(AutoSaveInterval()->maximum(), 120);
  EXPECT_FALSE(AutoLoad()->isChecked());
  EXPECT_TRUE(Demo()->isChecked());
  EXPECT_TRUE(ModeButton(smAfresh)->isChecked());
  EXPECT_EQ(Counters(), QStringList({"0", "0", "0"}));
  EXPECT_EQ(Progress()->value(), 0);
  EXPECT_EQ(Progress()->maximum(), 255);
  EXPECT_EQ(SearchButton()->text(), "Произвести поиск");
  EXPECT_EQ(Rows(Diagrams(), 0), QStringList({"Цех", "Котельная"}));
  EXPECT_EQ(Rows(Diagrams(), 1), QStringList({picture1, picture2}));
  EXPECT_TRUE(OkButton()->isEnabled());
  EXPECT_TRUE(OkButton()->isDefault());
  EXPECT_FALSE(form->MnemonicsChanged());
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);

  // Shown again after a search and a different page: counters, progress and page start over.
  Found(1)->setText("4");
  Progress()->setValue(100);
  Pages()->setCurrentIndex(1);
  form->reject();
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  form->show();
  EXPECT_EQ(Counters(), QStringList({"0", "0", "0"}));
  EXPECT_EQ(Progress()->value(), 0);
  EXPECT_EQ(Pages()->currentIndex(), 0);
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);
}

TEST_F(SetupWindowTest, PortListShowsTheDeviceEachEntryOpensAndMarksABusyOne) {
  // COM3 is a link to a device anyone may open; COM4 a terminal another program holds; COM5 a
  // link to a plain file, which is no port.
  const QString ports = QDir(Current().Dir()).filePath(QStringLiteral("Ports"));
  QDir().mkpath(ports);
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), ports + QStringLiteral("/COM3")));
  const TFileDescriptor master(posix_openpt(O_RDWR | O_NOCTTY));
  ASSERT_TRUE(master.Valid());
  ASSERT_EQ(grantpt(master.Get()), 0);
  ASSERT_EQ(unlockpt(master.Get()), 0);
  const QString slave = QString::fromLocal8Bit(ptsname(master.Get()));
  const TFileDescriptor held(::open(QFile::encodeName(slave).constData(), O_RDWR | O_NOCTTY));
  ASSERT_EQ(flock(held.Get(), LOCK_EX | LOCK_NB), 0);
  ASSERT_TRUE(QFile::link(slave, ports + QStringLiteral("/COM4")));
  ASSERT_TRUE(QFile::link(picture1, ports + QStringLiteral("/COM5")));

  Open();
  ASSERT_EQ(PortBox()->count(), 8);
  EXPECT_EQ(PortBox()->currentIndex(), -1);  // no port chosen yet
  const struct {
    int Index;
    QString Text;
  } cases[] = {
      {2, QStringLiteral("COM3 — /dev/null")},
      {3, QStringLiteral("COM4 (занят) — ") + slave},
      {4, QStringLiteral("COM5 (не существует) — ") + picture1},
  };
  for (const auto& c : cases) EXPECT_EQ(PortBox()->itemText(c.Index), c.Text);
  for (int i = 0; i < 8; ++i)
    EXPECT_TRUE(PortBox()->itemText(i).startsWith(QStringLiteral("COM%1").arg(i + 1)));
}

// A pseudo-terminal for the real port to open; closing its master is an adapter pulled out.
struct TPtyMaster {
  TPtyMaster() : Master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (Master.Valid() && grantpt(Master.Get()) == 0 && unlockpt(Master.Get()) == 0)
      Slave = QString::fromLocal8Bit(ptsname(Master.Get()));
  }
  TFileDescriptor Master;
  QString Slave;
};

// The operator opens the port list (read afresh, so it shows the device the link names now) and
// picks COM1 again: the port whose device went away opens on the device that is there now.
TEST_F(SetupWindowTest, ChoosingALostPortAgainReopensItOnTheDeviceItsLinkNamesNow) {
  ReplaceNetwork(std::make_unique<TComm>(Current().Dir()));
  const QString ports = QDir(Current().Dir()).filePath(QStringLiteral("Ports"));
  QDir().mkpath(ports);
  const QString link = ports + QStringLiteral("/COM1");
  auto first = std::make_unique<TPtyMaster>();
  ASSERT_FALSE(first->Slave.isEmpty());
  ASSERT_TRUE(QFile::link(first->Slave, link));
  EXPECT_NO_FAULTS(Current().SetPortIndex(0));
  ASSERT_TRUE(Current().Line().Port()->Connected());
  Open();
  EXPECT_EQ(PortBox()->itemText(0), QStringLiteral("COM1 — ") + first->Slave);

  // The device goes; a read finds it gone.
  first.reset();
  TRegisterNode reg(nullptr);
  reg.SetName(QStringLiteral("D000C001R002"));
  EXPECT_EQ(reg.StringData(Line()), "***");
  ASSERT_TRUE(Current().Line().Port()->Lost());
  // Another one is plugged in where the link points.
  TPtyMaster second;
  ASSERT_TRUE(QFile::remove(link));
  ASSERT_TRUE(QFile::link(second.Slave, link));

  QTest::mouseClick(PortBox(), Qt::LeftButton);  // opens the list
  QAbstractItemView* view = PortBox()->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
  EXPECT_EQ(PortBox()->itemText(0), QStringLiteral("COM1 — ") + second.Slave);
  // COM1 is the current entry of the open list: the operator's Enter picks it again.
  view->setCurrentIndex(view->model()->index(0, 0));
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join('|').toStdString();
  ASSERT_TRUE(Current().Line().Port()->Connected());
  EXPECT_FALSE(Current().Line().Port()->Lost());
  EXPECT_EQ(Settings()->PortIndex(), 0);
  const uint8_t ping[] = {'p', 'i', 'n', 'g'};
  ASSERT_EQ(Current().Line().Port()->Write(ping, 4), 4);
  char got[8] = {};
  ASSERT_TRUE(RunEventsUntil([&] { return ::read(second.Master.Get(), got, sizeof got) == 4; }, 2000));
  EXPECT_EQ(QByteArray(got, 4), "ping");
}

TEST_F(SetupWindowTest, OKStoresTheFieldsAndSavesThemCancelKeepsTheOldOnes) {
  Settings()->SetMNames({QStringLiteral("Цех")});
  Settings()->SetMFiles({picture1});
  for (const bool confirm : {false, true}) {
    SCOPED_TRACE(confirm ? "ОК" : "Отмена");
    Open();
    TypeOver(NewPassword(), QStringLiteral("Новый7"));
    TypeOver(AutoSaveInterval(), QStringLiteral("300"));  // the field keeps to 1..120
    Click(AutoSave());
    Click(AutoLoad());
    Click(confirm ? OkButton() : CancelButton());

    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), confirm ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("SETUP"))), confirm);
    if (!confirm) {
      EXPECT_EQ(Settings()->Password(), "BrastLun");
    }
  }
  // What the file holds is what the window stored.
  auto saved = std::make_unique<TSetupNode>(nullptr);
  saved->SetName(QStringLiteral("SETUP"));
  LoadTreeFile(Current(), saved);
  for (const TSetupNode* s : {Settings().get(), saved.get()}) {
    EXPECT_EQ(s->Password(), "Новый7");
    EXPECT_EQ(s->AutoSaveInterval(), 30);  // "300" typed over 5: the field took "30", then refused "0"
    EXPECT_TRUE(s->AutoSaveEnabled());
    EXPECT_FALSE(s->AutoLoadEnabled());
    EXPECT_EQ(s->MNames(), QStringList({"Цех"}));
  }
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join('|').toStdString();
}

// "Интеграция": a wrong broker address is told in the real box and keeps the window open on its
// page; a right one is written to Config/MQTT.ini, readable by the owner alone, and announced.
TEST_F(SetupWindowTest, TheBrokerPageRefusesAWrongAddressAndWritesARightOneForTheOwnerAlone) {
  Settings()->SetMNames({QStringLiteral("Цех")});
  Settings()->SetMFiles({picture1});
  Open();
  int announced = 0;
  QObject::connect(form.get(), &TSetupForm::BrokerSettingsChanged, [&announced] { ++announced; });
  Pages()->setCurrentIndex(2);
  EXPECT_EQ(Pages()->tabText(2), QStringLiteral("Интеграция"));
  auto* url = Child<QLineEdit>(*form, "brokerUrlEdit");
  url->setFocus();
  KeyClick(url, Qt::Key_F1);  // the page's own topic, not the window's
  ASSERT_NE(THelpWindow::Instance(), nullptr);
  EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcIntegration);
  THelpWindow::Instance()->close();
  ASSERT_TRUE(Activate(form.get()));
  {
    TRealMessageBoxes boxes;
    TypeOver(url, QStringLiteral("http://plant:1883"));
    Click(OkButton());
    EXPECT_EQ(boxes.Answered, 1);
  }
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Pages()->currentIndex(), 2);
  EXPECT_FALSE(QFileInfo::exists(BrokerSettingsPath(Current().Dir())));
  EXPECT_EQ(announced, 0);

  ASSERT_TRUE(Activate(form.get()));
  TypeOver(url, QStringLiteral("mqtt://127.0.0.1:1884"));
  TypeOver(Child<QLineEdit>(*form, "brokerUserEdit"), QStringLiteral("vexa"));
  TypeOver(Child<QLineEdit>(*form, "brokerPasswordEdit"), QStringLiteral("секрет"));
  auto* discovery = Child<QCheckBox>(*form, "brokerDiscoveryCheckBox");
  EXPECT_FALSE(discovery->isChecked()) << "off by default";
  // On its box: the row is wider than the box and its text.
  QTest::mouseClick(discovery, Qt::LeftButton, {}, QPoint(6, discovery->height() / 2));
  EXPECT_TRUE(discovery->isChecked());
  Click(OkButton());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(announced, 1);
  const TBrokerSettings saved = LoadBrokerSettings(Current().Dir());
  EXPECT_TRUE(saved.Discovery);
  EXPECT_TRUE(saved.FileProblems.isEmpty()) << saved.FileProblems.join('\n').toStdString();
  EXPECT_EQ(saved.Url, QStringLiteral("mqtt://127.0.0.1:1884"));
  EXPECT_EQ(saved.Password, QStringLiteral("секрет"));
  EXPECT_EQ(
      QFileInfo(BrokerSettingsPath(Current().Dir())).permissions() & (QFile::ReadGroup | QFile::ReadOther),
      QFileDevice::Permissions{});
}

// The history page: the keeping times typed, refused out of order in the real box with the window
// left on the page, written to HISTORY.ini when right and announced once; its own help topic.
TEST_F(SetupWindowTest, TheHistoryPageWritesTheKeepingTimesInOrderOnly) {
  Settings()->SetMNames({QStringLiteral("Цех")});
  Settings()->SetMFiles({picture1});
  Open();
  int announced = 0;
  QObject::connect(form.get(), &TSetupForm::HistorySettingsChanged, [&announced] { ++announced; });
  Pages()->setCurrentIndex(3);
  EXPECT_EQ(Pages()->tabText(3), QStringLiteral("История"));
  auto* enabled = Child<QCheckBox>(*form, "historyCheckBox");
  auto* raw = Child<QSpinBox>(*form, "rawDaysSpin");
  EXPECT_TRUE(enabled->isChecked()) << "on from the first start";
  EXPECT_EQ(raw->value(), 31);
  raw->setFocus();
  KeyClick(raw, Qt::Key_F1);
  ASSERT_NE(THelpWindow::Instance(), nullptr);
  EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcHistorySettings);
  THelpWindow::Instance()->close();
  ASSERT_TRUE(Activate(form.get()));
  {
    TRealMessageBoxes boxes;
    TypeOver(raw, QStringLiteral("800"));  // longer than the minutes are kept
    Click(OkButton());
    EXPECT_EQ(boxes.Answered, 1);
  }
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Pages()->currentIndex(), 3);
  EXPECT_FALSE(QFileInfo::exists(HistorySettingsPath(Current().Dir())));

  ASSERT_TRUE(Activate(form.get()));
  TypeOver(raw, QStringLiteral("7"));
  TypeOver(Child<QSpinBox>(*form, "hourDaysSpin"), QStringLiteral("3650"));
  Click(OkButton());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(announced, 1);
  const THistorySettings saved = LoadHistorySettings(Current().Dir());
  EXPECT_TRUE(saved.FileProblems.isEmpty()) << saved.FileProblems.join('\n').toStdString();
  EXPECT_TRUE(saved.Enabled);
  EXPECT_EQ(saved.Tiers.RawDays, 7);
  EXPECT_EQ(saved.Tiers.MinuteDays, 731);
  EXPECT_EQ(saved.Tiers.HourDays, 3650);

  // Switched off: the days wait greyed.
  Open();
  Pages()->setCurrentIndex(3);
  enabled = Child<QCheckBox>(*form, "historyCheckBox");
  EXPECT_EQ(Child<QSpinBox>(*form, "rawDaysSpin")->value(), 7);
  QTest::mouseClick(enabled, Qt::LeftButton, {}, QPoint(6, enabled->height() / 2));
  EXPECT_FALSE(Child<QSpinBox>(*form, "rawDaysSpin")->isEnabled());
  Click(OkButton());
  EXPECT_FALSE(LoadHistorySettings(Current().Dir()).Enabled);
}

// "Проверить соединение" checks off the window's thread: the window says it is checking, keeps its
// button off and answers keys meanwhile, and tells the result in the real box when it comes. A
// listener that never answers holds the check until the test closes it; a real broker answers.
TEST_F(SetupWindowTest, TheBrokerCheckRunsWhileTheWindowAnswersKeys) {
  Open();
  Pages()->setCurrentIndex(2);
  auto* url = Child<QLineEdit>(*form, "brokerUrlEdit");
  auto* check = Child<QPushButton>(*form, "checkBrokerButton");
  auto* root = Child<QLineEdit>(*form, "topicRootEdit");
  const QString idle = check->text();

  // Takes the connection (the kernel's backlog) and says nothing.
  const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(silent, 4), 0);
  socklen_t size = sizeof a;
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&a), &size);
  const int silentPort = ntohs(a.sin_port);
  TypeOver(url, QStringLiteral("mqtt://127.0.0.1:%1").arg(silentPort));
  {
    TRealMessageBoxes boxes;
    Click(check);
    EXPECT_FALSE(check->isEnabled());
    EXPECT_EQ(check->text(), QStringLiteral("Проверка соединения…"));
    TypeOver(root, QStringLiteral("plant/line"));
    EXPECT_EQ(root->text(), QStringLiteral("plant/line")) << "keys are taken during the check";
    EXPECT_FALSE(check->isEnabled()) << "the check still runs";
    EXPECT_EQ(boxes.Answered, 0);
    ::close(silent);  // refused now: the check ends
    EXPECT_TRUE(RunEventsUntil([&] { return boxes.Answered == 1; }, 4000));
  }
  EXPECT_EQ(Messages->Texts().last(), QStringLiteral("MQTT: нет связи с 127.0.0.1:%1").arg(silentPort));
  EXPECT_TRUE(check->isEnabled());
  EXPECT_EQ(check->text(), idle);

  TMosquitto broker;
  TypeOver(url, broker.Url());
  {
    TRealMessageBoxes boxes;
    Click(check);
    EXPECT_FALSE(check->isEnabled());
    EXPECT_TRUE(RunEventsUntil([&] { return boxes.Answered == 1; }, 4000));
  }
  EXPECT_EQ(Messages->Texts().last(),
            QStringLiteral("MQTT: брокер 127.0.0.1:%1 принимает соединение").arg(broker.Port));
  EXPECT_TRUE(check->isEnabled());
}

// The program started on a folder whose MQTT.ini cannot be used: it says so at start, in a message
// and on the status line, and publishes nothing.
class ProgramBrokerSettingsTest : public TVexaTest {
 protected:
  void TearDown() override {
    if (program) program->Shutdown();
    UseNetwork(nullptr);
    program.reset();
    TVexaTest::TearDown();
  }
  std::unique_ptr<TProgram> program;
};

TEST_F(ProgramBrokerSettingsTest, AFileThatCannotBeUsedIsToldAtStartAndNothingIsPublished) {
  TMosquitto broker;
  TBrokerSettings settings;
  settings.Url = broker.Url();
  settings.TopicRoot = QStringLiteral("vexa/plant");
  ASSERT_TRUE(SaveBrokerSettings(Dir->path(), settings));
  {
    QSettings ini(BrokerSettingsPath(Dir->path()), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Broker/Writes"), QStringLiteral("maybe"));
  }
  TSubscriber sub(broker.Port, QStringLiteral("vexa/plant/#"));
  program = std::make_unique<TProgram>(Dir->path());
  program->InitCore(std::make_unique<TFakeComm>(*Clock));
  UseNetwork(program->Network());
  ASSERT_TRUE(program->Start());
  const QStringList told = Messages->Texts().filter(QStringLiteral("MQTT"));
  ASSERT_EQ(told.size(), 1) << Messages->Texts().join('|').toStdString();
  EXPECT_TRUE(told[0].contains(QStringLiteral("ключ Writes = 'maybe'"))) << told[0].toStdString();
  const auto* panel = Child<QLabel>(*program->MainForm(), "brokerPanel");
  EXPECT_TRUE(panel->toolTip().contains(QStringLiteral("MQTT: не публикуется")))
      << panel->toolTip().toStdString();
  RunEventsUntil([] { return false; }, 300);
  EXPECT_TRUE(sub.On(QStringLiteral("vexa/plant/service/status")).empty());
}

// The program with the web view on in WEB.ini serves it from its start, and no longer after its end.
TEST_F(ProgramBrokerSettingsTest, TheWebViewIsServedFromTheStartToTheEnd) {
  TWebSettings web;
  web.Enabled = true;
  web.AnonymousView = true;
  web.Port = FreeLoopbackPort();
  ASSERT_TRUE(SaveWebSettings(Dir->path(), web));
  program = std::make_unique<TProgram>(Dir->path());
  program->InitCore(std::make_unique<TFakeComm>(*Clock));
  UseNetwork(program->Network());
  ASSERT_TRUE(program->Start());
  const auto port = static_cast<uint16_t>(web.Port);
  EXPECT_EQ(Http(port, "GET", "/network").Status, 200);
  program->Shutdown();
  EXPECT_EQ(Http(port, "GET", "/network").Status, 0);
}

TEST_F(SetupWindowTest, PortSpeedAndSimulationActAtOnceAndStayAfterCancel) {
  Open();
  // The speed of a port that is not open cannot be set, but the choice is kept.
  QTest::keyClick(SpeedBox(), Qt::Key_Down);
  EXPECT_EQ(Settings()->BaudRateIndex(), 4);
  EXPECT_EQ(Messages->Texts(), QStringList({"Скорость обмена не установлена!"}));

  PortBox()->setFocus();
  QTest::keyClick(PortBox(), Qt::Key_Down);  // from none to COM1
  EXPECT_EQ(Settings()->PortIndex(), 0);
  EXPECT_EQ(Current().Line().Port()->DeviceName(), "COM1");
  EXPECT_TRUE(Current().Line().Port()->Connected());
  QTest::keyClick(SpeedBox(), Qt::Key_Up);
  EXPECT_EQ(Settings()->BaudRateIndex(), 3);
  EXPECT_EQ(Messages->Shown.size(), 1u);  // the port is open now

  Click(Demo());
  EXPECT_TRUE(Settings()->Demo());
  ASSERT_EQ(Messages->Shown.size(), 2u);
  EXPECT_EQ(Messages->Shown.back().Text,
            "Внимание! Включен режим имитации работы в сети.\r\nОбмен с сетевыми устройствами реально не "
            "производится.");
  EXPECT_EQ(Messages->Shown.back().Icon, TMsgIcon::Information);
  Click(Demo());
  EXPECT_FALSE(Settings()->Demo());
  EXPECT_EQ(Messages->Shown.size(), 2u);  // switching it off says nothing
  Click(Demo());

  Click(CancelButton());
  EXPECT_TRUE(Settings()->Demo());
  EXPECT_EQ(Settings()->PortIndex(), 0);
  EXPECT_EQ(Settings()->BaudRateIndex(), 3);
}

// The real boxes come up inside the speed list's key, the simulation box's click and the search
// button's click; the window goes on after each.
TEST_F(SetupWindowTest, RealBoxesFromTheSpeedListTheSimulationBoxAndTheSearchQuestion) {
  Open();
  const int regulators = Net()->NodeCount();
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    QTest::keyClick(SpeedBox(), how == TBoxClose::Keys ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_EQ(Settings()->BaudRateIndex(), how == TBoxClose::Keys ? 4 : 3);
    Click(Demo());
    EXPECT_TRUE(Settings()->Demo());
    Click(Demo());
    EXPECT_FALSE(Settings()->Demo());
    Search(smAfresh, mbNo);
    EXPECT_EQ(boxes.Answered, 3);
    ASSERT_EQ(Messages->Shown.size(), 3u);
    EXPECT_EQ(Messages->Shown[0].Text, "Скорость обмена не установлена!");
    EXPECT_TRUE(Messages->Shown[1].Text.startsWith("Внимание! Включен режим имитации"));
    EXPECT_TRUE(Messages->Shown[2].Text.endsWith("Продолжить?"));
    EXPECT_EQ(Net()->NodeCount(), regulators);
    EXPECT_FALSE(form->Searching());
    EXPECT_TRUE(form->isVisible());
  }
}

// ---- the search -----------------------------------------------------------------------------------

TEST_F(SetupWindowTest, FreshSearchAsksFirstThenBuildsTheNetworkWhileTheWindowStaysResponsive) {
  Settings()->SetDemo(true);
  SaveTemplates();
  new TRootNode(Tasks().get());
  Open(true);
  TNetForm net(Current(), SessionOf(mainForm.get()));
  mainForm->SetWindow(TWindowRole::NetTree, &net);
  int finished = 0;
  QObject::connect(form.get(), &TSetupForm::SearchFinished, [&finished] { ++finished; });

  Search(smAfresh, mbNo);
  ASSERT_EQ(Messages->Shown.size(), 1u) << Messages->Texts().join('|').toStdString();
  EXPECT_EQ(Messages->Shown[0].Text,
            "Внимание! Это действие может привести\r\nк потере текущих настроек сети!\r\nРекомендуем "
            "сделать резервные копии\r\nвсех файлов папки 'Config'. Продолжить?");
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Question);
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo));
  EXPECT_EQ(finished, 0);
  EXPECT_EQ(Tasks()->NodeCount(), 1);
  EXPECT_FALSE(Settings()->NewConfig());

  // What the operator sees while the search runs, sampled by the event loop the search keeps going.
  QSet<int> progress;
  bool stopShown = false, cancelEnabled = true, busyCursor = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!form->Searching()) return;
    progress << Progress()->value();
    stopShown = SearchButton()->text() == "Остановить поиск";
    cancelEnabled = cancelEnabled && CancelButton()->isEnabled();
    busyCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
    QTest::keyClick(form.get(), Qt::Key_Escape);  // the window stays while it searches
  });
  watch.start(0);
  int structureShown = 0;
  WhenModal<TNetForm>([&structureShown](TNetForm* shown) {
    ++structureShown;
    shown->close();
  });
  Search(smAfresh);
  watch.stop();

  EXPECT_EQ(structureShown, 1);
  EXPECT_GT(progress.size(), 100);
  EXPECT_TRUE(stopShown);
  EXPECT_FALSE(cancelEnabled);
  EXPECT_TRUE(busyCursor);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Regulators(), QStringList({"D000", "D001"}));
  EXPECT_EQ(Net()->Node(0)->NodeCount(), 6);
  EXPECT_EQ(Tasks()->NodeCount(), 0);
  EXPECT_EQ(Counters(), QStringList({"2", "0", "0"}));
  EXPECT_EQ(Progress()->value(), 255);
  EXPECT_EQ(SearchButton()->text(), "Произвести поиск");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(CancelButton()->isEnabled());
  EXPECT_TRUE(Settings()->NewConfig());
  EXPECT_EQ(finished, 1);
  // The structure window shows the new tree, not items of nodes that are gone.
  ASSERT_EQ(Child<QTreeWidget>(net, "networkTree")->topLevelItemCount(), 1);
  EXPECT_EQ(Child<QTreeWidget>(net, "networkTree")->topLevelItem(0)->childCount(), 2);
}

TEST_F(SetupWindowTest, AddedAndRemovedSearchesCountInTheirOwnCounter) {
  Settings()->SetDemo(true);
  SaveTemplates();
  Open();
  Search(smAfresh);
  ASSERT_EQ(Regulators(), QStringList({"D000", "D001"}));
  // D001 is forgotten and a regulator at 5 that the line does not have is in the tree.
  Net()->RemoveComponent(Net()->Node(1)).reset();
  AddRegulatorNode(*Net(), 5);

  const struct {
    TSearchMode Mode;
    QStringList Counters;
    QStringList Regulators;
  } steps[] = {
      {smAdded, {"2", "1", "0"}, {"D000", "D005", "D001"}},
      {smAdded, {"2", "0", "0"}, {"D000", "D005", "D001"}},  // an unchanged line adds nothing
      {smRemoved, {"2", "0", "1"}, {"D000", "D001"}},
      {smRemoved, {"2", "0", "0"}, {"D000", "D001"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Regulators.join(' ').toStdString() + " " + std::to_string(step.Mode));
    Search(step.Mode);
    EXPECT_EQ(Counters(), step.Counters);
    EXPECT_EQ(Regulators(), step.Regulators);
    EXPECT_EQ(Progress()->value(), 255);
  }
}

TEST_F(SetupWindowTest, StopEndsTheSearchAfterTheRegulatorBeingBuilt) {
  Settings()->SetDemo(true);
  SaveTemplates();
  Open();
  // The operator presses stop as soon as the first regulator is counted.
  QTimer operatorHand;
  QObject::connect(&operatorHand, &QTimer::timeout, [&] {
    if (form->Searching() && Found(smAfresh)->text() == "1") {
      operatorHand.stop();
      Click(SearchButton());
    }
  });
  operatorHand.start(0);
  Search(smAfresh);

  EXPECT_FALSE(form->Searching());
  EXPECT_EQ(Regulators(), QStringList({"D000"}));
  EXPECT_EQ(Net()->Node(0)->NodeCount(), 6);  // complete, every channel with its registers
  for (int c = 0; c < 6; ++c) EXPECT_EQ(Net()->Node(0)->Node(c)->NodeCount(), 3);
  EXPECT_EQ(Counters(), QStringList({"1", "0", "0"}));
  EXPECT_LT(Progress()->value(), 2);
  EXPECT_EQ(SearchButton()->text(), "Произвести поиск");
  EXPECT_TRUE(Settings()->NewConfig());
}

// The report of a search on a noisy line (every fifth answer lost) warns of a regulator only when a
// request of its stayed unanswered after all attempts, as the count says.
TEST_F(SetupWindowTest, TheReportOfANoisyLineWarnsOnlyOfRequestsLeftUnanswered) {
  SaveTemplates();
  Open();
  PortBox()->setFocus();
  QTest::keyClick(PortBox(), Qt::Key_Down);  // COM1, the scripted port
  for (const bool silent : {false, true}) {  // D001's channel 0 after its address probe
    TSimNetwork network;
    int requests = 0, channel0 = 0;
    Port->Respond = [&](const QByteArray& request) -> std::vector<TChunk> {
      if (silent && request.startsWith(QByteArray("\x01\x00\x00", 3)) && ++channel0 > 1) return {};
      const auto answer =
          ++requests % 5 == 2 ? std::nullopt : network.Answer(request, Current().Line().Random());
      return answer ? std::vector<TChunk>{{*answer, 2}} : std::vector<TChunk>{};
    };
    Messages->Shown.clear();
    Search(smAfresh);
    ASSERT_EQ(Messages->Shown.size(), 2u) << Messages->Texts().join('|').toStdString();
    const QStringList lines = Messages->Shown[1].Text.split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.value(1),
              QStringLiteral("Запросов без ответа после всех попыток: %1.").arg(silent ? 1 : 0));
    EXPECT_NE(lines.value(2), "Запросов с ответом только после повтора: 0.") << "the line is noisy";
    EXPECT_EQ(lines.mid(3),
              silent ? QStringList{"Регулятор 001 ответил не на все запросы: поиск стоит повторить."}
                     : QStringList{});
    EXPECT_EQ(Messages->Shown[1].Icon, silent ? TMsgIcon::Warning : TMsgIcon::Information);
  }
  Port->Respond = nullptr;
}

TEST_F(SetupWindowTest, OnASilentLineTheProgressMovesAndStopTakesEffectWithinOneAddress) {
  // A real port (the scripted one) on which no regulator ever answers: every address costs the
  // exchange its full waits, on the test clock.
  Open();
  PortBox()->setFocus();
  QTest::keyClick(PortBox(), Qt::Key_Down);  // COM1
  ASSERT_TRUE(Port->Connected());
  ASSERT_FALSE(Settings()->Demo());

  QSet<int> progress;
  bool stopShown = false;
  int pressedAt = -1;
  size_t writtenAtPress = 0;
  QTimer operatorHand;
  QObject::connect(&operatorHand, &QTimer::timeout, [&] {
    if (!form->Searching()) return;
    progress << Progress()->value();
    stopShown = stopShown || SearchButton()->text() == "Остановить поиск";
    if (progress.size() < 20) return;
    operatorHand.stop();
    pressedAt = Progress()->value();
    writtenAtPress = Port->Written.size();
    Click(SearchButton());
  });
  operatorHand.start(0);
  Search(smAfresh);
  operatorHand.stop();

  ASSERT_GE(pressedAt, 0) << "the window never took events while the search ran";
  EXPECT_GE(progress.size(), 20);
  EXPECT_TRUE(stopShown);
  EXPECT_FALSE(form->Searching());
  // Addresses 0..pressedAt were asked when stop was pressed; at most one more is.
  const size_t perAddress = writtenAtPress / size_t(pressedAt + 1);
  EXPECT_GE(perAddress, 1u);
  EXPECT_EQ(writtenAtPress % size_t(pressedAt + 1), 0u);
  EXPECT_LE(Port->Written.size(), writtenAtPress + perAddress);
  EXPECT_GE(Progress()->value(), pressedAt);
  EXPECT_LE(Progress()->value(), pressedAt + 1);
  EXPECT_LT(Progress()->value(), TSetupForm::kProgressMax);
  // Every unanswered request was waited for on the clock, at least the exchange's 50 ms.
  EXPECT_GE(Clock->Slept(), int64_t(50) * int64_t(Port->Written.size()));
  EXPECT_EQ(Net()->NodeCount(), 0);
  EXPECT_EQ(Counters(), QStringList({"0", "0", "0"}));
  EXPECT_EQ(SearchButton()->text(), "Произвести поиск");
  EXPECT_TRUE(CancelButton()->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SetupWindowTest, AFailedSearchIsReportedAndTheWindowComesBack) {
  Settings()->SetDemo(true);
  // A templates file that holds no templates.
  TSetupNode stranger(nullptr);
  stranger.SetName(QStringLiteral("REGISTRY"));
  ASSERT_TRUE(SaveTreeFile(Current(), stranger));
  Open();
  int finished = 0;
  QObject::connect(form.get(), &TSetupForm::SearchFinished, [&finished] { ++finished; });
  Search(smAfresh);

  ASSERT_EQ(Messages->Shown.size(), 2u);
  EXPECT_TRUE(Messages->Shown[1].Text.startsWith("Ошибка поиска: "));
  EXPECT_EQ(Messages->Shown[1].Icon, TMsgIcon::Error);
  EXPECT_EQ(SearchButton()->text(), "Произвести поиск");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(CancelButton()->isEnabled());
  EXPECT_EQ(finished, 1);
}

// The real message boxes from here on: the test answers them as the operator does.
void UseRealMessageBoxes() {
  Services().Messages = std::make_unique<TMessageBoxService>();
}

TEST_F(SetupWindowTest, AfterASearchTheReportAndThenTheStructureWindowComeUpModallyAndTakeClicks) {
  Settings()->SetDemo(true);
  SaveTemplates();
  mainForm = std::make_unique<TMainForm>(Current());
  form = std::make_unique<TSetupForm>(Current(), mainForm.get());
  TNetForm net(Current(), SessionOf(mainForm.get()));
  mainForm->SetWindow(TWindowRole::Setup, form.get());
  mainForm->SetWindow(TWindowRole::NetTree, &net);
  mainForm->SetNetworkOpen(true);
  ASSERT_TRUE(Activate(mainForm.get()));
  UseRealMessageBoxes();
  Messages = nullptr;
  QTabWidget* pages = Child<QTabWidget>(*mainForm, "diagramPages");
  QWidget* page = pages->currentWidget() ? pages->currentWidget() : pages;

  QString question, report, comments;
  QMessageBox::Icon reportIcon = QMessageBox::NoIcon;
  bool structureModal = false, searchGroupInView = false, settingsBlocked = false;
  QPoint structureAt;
  QStringList regulators;
  WhenModal<TSetupForm>([&](TSetupForm* setup) {
    WhenModal<QMessageBox>([&](QMessageBox* warning) {
      question = warning->text();
      QTest::mouseClick(warning->button(QMessageBox::Yes), Qt::LeftButton);  // "Да"
      WhenModal<QMessageBox>([&](QMessageBox* summary) {
        report = summary->text();
        reportIcon = summary->icon();
        KeyClick(summary, Qt::Key_Return);  // "OK"
        WhenModal<TNetForm>([&](TNetForm* shown) {
          structureModal = QApplication::activeModalWidget() == shown;
          structureAt = page->mapFromGlobal(shown->pos());
          settingsBlocked = !setup->isActiveWindow();
          QGroupBox* group = nullptr;
          for (QGroupBox* g : setup->findChildren<QGroupBox*>())
            if (g->title() == "Поиск сетевых устройств") group = g;
          searchGroupInView = group != nullptr && !shown->frameGeometry().intersects(
                                                      QRect(group->mapToGlobal(QPoint()), group->size()));
          // The operator picks a regulator: its comments show; then Esc closes the window.
          QTreeWidgetItem* top = Child<QTreeWidget>(*shown, "networkTree")->topLevelItem(0);
          for (int i = 0; top && i < top->childCount(); ++i) regulators << top->child(i)->text(0);
          if (top && top->childCount() > 1) {
            QTreeWidgetItem* second = top->child(1);
            QTest::mouseClick(Child<QTreeWidget>(*shown, "networkTree")->viewport(), Qt::LeftButton, {},
                              Child<QTreeWidget>(*shown, "networkTree")->visualItemRect(second).center());
          }
          comments = Child<QPlainTextEdit>(*shown, "commentsField")->toPlainText();
          KeyClick(shown, Qt::Key_Escape);
        });
      });
    });
    Click(Child<QPushButton>(*setup, "searchButton"));
    Click(Child<QPushButton>(*setup, "cancelButton"));
  });
  Child<QAction>(*mainForm, "setupAction")->trigger();
  Current().StopPoller();

  EXPECT_TRUE(question.startsWith("Внимание! Это действие может привести"));
  EXPECT_EQ(report,
            "Найдено регуляторов: 2, каналов: 9.\nЗапросов без ответа после всех попыток: 0.\n"
            "Запросов с ответом только после повтора: 0.");
  EXPECT_EQ(reportIcon, QMessageBox::Information);
  EXPECT_TRUE(structureModal);
  EXPECT_EQ(structureAt, QPoint(24, 24));
  EXPECT_TRUE(settingsBlocked);
  EXPECT_TRUE(searchGroupInView);
  EXPECT_EQ(regulators, QStringList({"Регулятор 000", "Регулятор 001"}));
  EXPECT_EQ(comments, "Сетевой адрес 001");
  EXPECT_FALSE(net.isVisible());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(Regulators(), QStringList({"D000", "D001"}));
}

TEST_F(SetupWindowTest, RemovingEveryRegulatorOfASilentLineIsAskedNamingHowMany) {
  Settings()->SetDemo(true);
  SaveTemplates();
  for (const int address : {5, 6}) AddRegulatorNode(*Net(), address);
  Open();
  UseRealMessageBoxes();
  Messages = nullptr;

  const struct {
    const char* Answer;
    QStringList Left;
    QString Report;
  } steps[] = {
      {"Нет",
       {"D005", "D006"},
       "Удалено регуляторов: 0.\nНи один регулятор не ответил; оставлено в сети без ответа: 2.\n"
       "Запросов без ответа после всех попыток: 0.\nЗапросов с ответом только после повтора: 0."},
      {"Да",
       {},
       "Удалено регуляторов: 2.\nЗапросов без ответа после всех попыток: 0.\nЗапросов с ответом только после "
       "повтора: 0."},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Answer);
    QString asked, report;
    WhenModal<QMessageBox>([&](QMessageBox* warning) {
      QTest::mouseClick(warning->button(QMessageBox::Yes), Qt::LeftButton);  // the search's warning
      WhenModal<QMessageBox>([&](QMessageBox* question) {
        asked = question->text();
        if (QString::fromUtf8(step.Answer) == "Да")
          QTest::mouseClick(question->button(QMessageBox::Yes), Qt::LeftButton);
        else
          KeyClick(question, Qt::Key_Escape);  // Esc answers No
        WhenModal<QMessageBox>([&](QMessageBox* summary) {
          report = summary->text();
          KeyClick(summary, Qt::Key_Return);
        });
      });
    });
    Click(ModeButton(smRemoved));
    Click(SearchButton());

    EXPECT_EQ(
        asked,
        "Ни один регулятор сети не ответил на запрос: возможно, неисправна линия связи.\nУдалить из сети все "
        "не ответившие регуляторы (2)?");
    EXPECT_EQ(report, step.Report);
    EXPECT_EQ(Regulators(), step.Left);
  }
}

TEST_F(SetupWindowTest, ASearchOverADeadPortSaysSoAndChangesNothing) {
  mainForm = std::make_unique<TMainForm>(Current());
  form = std::make_unique<TSetupForm>(Current(), mainForm.get());
  TNetForm net(Current(), SessionOf(mainForm.get()));
  mainForm->SetWindow(TWindowRole::NetTree, &net);
  ASSERT_TRUE(Activate(form.get()));
  PortBox()->setFocus();
  QTest::keyClick(PortBox(), Qt::Key_Down);  // COM1
  ASSERT_TRUE(Port->Connected());
  TRootNode* kept = &AddRegulatorNode(*Net(), 3);
  Port->SetLost(true);  // the adapter was pulled out

  for (const TSearchMode mode : {smAfresh, smAdded, smRemoved}) {
    SCOPED_TRACE(mode);
    Messages->Shown.clear();
    Settings()->SetNewConfig(false);
    TNoModalWindow noStructureWindow;
    Search(mode);

    ASSERT_EQ(Messages->Shown.size(), 2u) << Messages->Texts().join('|').toStdString();
    EXPECT_EQ(Messages->Shown[1].Text,
              "Поиск прерван: порт COM1 потерян: устройство отключено.\r\nСеть не изменена.");
    EXPECT_EQ(Messages->Shown[1].Icon, TMsgIcon::Error);
    EXPECT_EQ(Regulators(), QStringList({"D003"}));
    EXPECT_EQ(Net()->Node(0), kept);
    EXPECT_FALSE(Settings()->NewConfig());
    EXPECT_EQ(Counters()[mode], "0");
    EXPECT_EQ(SearchButton()->text(), "Произвести поиск");
    EXPECT_FALSE(net.isVisible());
  }
}

// ---- the diagram list -----------------------------------------------------------------------------

TEST_F(SetupWindowTest, AddingTheFirstDiagramEnablesOKAndARestartFollows) {
  Open(true);
  EXPECT_FALSE(OkButton()->isEnabled());
  EXPECT_TRUE(CancelButton()->isDefault());
  QTest::mouseClick(Pages()->tabBar(), Qt::LeftButton, {}, Pages()->tabBar()->tabRect(1).center());

  // A cancelled file dialog adds nothing.
  QString title;
  AnswerFileDialog(QString(), &title);
  Click(AddButton());
  EXPECT_EQ(title, "Выбор мнемосхемы");
  EXPECT_EQ(Diagrams()->topLevelItemCount(), 0);
  EXPECT_FALSE(form->MnemonicsChanged());

  AnswerFileDialog(picture2);
  Click(AddButton());
  ASSERT_EQ(Rows(Diagrams(), 0), QStringList({"Новая мнемосхема"}));
  EXPECT_EQ(Rows(Diagrams(), 1), QStringList({picture2}));
  EXPECT_EQ(CurrentRow(Diagrams()), 0);
  EXPECT_TRUE(OkButton()->isEnabled());
  EXPECT_TRUE(OkButton()->isDefault());
  // The name is being edited in place.
  QWidget* editor = Editor(0);
  ASSERT_TRUE(qobject_cast<QLineEdit*>(editor));
  TypeOver(editor, QStringLiteral("Котельная"));
  EXPECT_EQ(static_cast<QLineEdit*>(editor)->text(), "Котельная");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the list takes the name once the key is handled
  EXPECT_EQ(Rows(Diagrams(), 0), QStringList({"Котельная"}));

  Messages->Answers = {mbOK, mbNo};  // the restart notice, then the main window's close question
  bool closed = false;
  QObject::connect(mainForm.get(), &TMainForm::Closed, [&closed] { closed = true; });
  Click(OkButton());
  QTest::qWait(50);

  EXPECT_EQ(Settings()->MNames(), QStringList({"Котельная"}));
  EXPECT_EQ(Settings()->MFiles(), QStringList({picture2}));
  EXPECT_TRUE(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("SETUP"))));
  ASSERT_EQ(Messages->Shown.size(), 2u);
  EXPECT_EQ(Messages->Shown[0].Text,
            "Для того, чтобы изменения мнемосхем вступили в силу,\r\nпрограмму следует перезапустить.");
  // The main window closes as when the session ends: only Yes and No.
  EXPECT_EQ(Messages->Shown[1].Text, "Сохранить текущее состояние сети?");
  EXPECT_EQ(Messages->Shown[1].Buttons, unsigned(mbYes | mbNo));
  EXPECT_TRUE(closed);
}

TEST_F(SetupWindowTest, ListCommandsChangeMoveAndDeleteRows) {
  Settings()->SetMNames({"A", "B", "C"});
  Settings()->SetMFiles({picture1, picture1, picture1});
  Open();
  QTest::mouseClick(Pages()->tabBar(), Qt::LeftButton, {}, Pages()->tabBar()->tabRect(1).center());
  EXPECT_EQ(CurrentRow(Diagrams()), 0);

  const struct {
    const char* Step;
    int Select;
    const char* Button;
    QStringList Names;
    int Selected;
  } steps[] = {
      {"up at the top", 0, "upButton", {"A", "B", "C"}, 0},
      {"down", 0, "downButton", {"B", "A", "C"}, 1},
      {"down again", 1, "downButton", {"B", "C", "A"}, 2},
      {"down at the bottom", 2, "downButton", {"B", "C", "A"}, 2},
      {"up", 2, "upButton", {"B", "A", "C"}, 1},
      {"delete the last", 2, "deleteButton", {"B", "A"}, 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.Step);
    ClickRow(Diagrams(), s.Select);
    Click(Child<QPushButton>(*form, s.Button));
    EXPECT_EQ(Rows(Diagrams(), 0), s.Names);
    EXPECT_EQ(CurrentRow(Diagrams()), s.Selected);
  }
  EXPECT_TRUE(form->MnemonicsChanged());

  // "Изменить" replaces the file of the selected row and opens its name for editing.
  ClickRow(Diagrams(), 1);
  AnswerFileDialog(picture2);
  Click(ChangeButton());
  EXPECT_EQ(Rows(Diagrams(), 1), QStringList({picture1, picture2}));
  QWidget* editor = Editor(1);
  ASSERT_NE(editor, nullptr);
  QTest::keyClick(editor, Qt::Key_Escape);

  // Deleting every row disables OK.
  for (int i = 0; i < 2; ++i) Click(DeleteButton());
  EXPECT_EQ(Diagrams()->topLevelItemCount(), 0);
  EXPECT_FALSE(OkButton()->isEnabled());
  EXPECT_TRUE(CancelButton()->isDefault());

  // "Отмена" keeps the pages as they were.
  Click(CancelButton());
  EXPECT_EQ(Settings()->MNames(), QStringList({"A", "B", "C"}));
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(SetupWindowTest, Screenshots) {
  const QString dir = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
  QDir().mkpath(dir);
  Settings()->SetMNames({QStringLiteral("Цех 1"), QStringLiteral("Котельная")});
  Settings()->SetMFiles(
      {QStringLiteral("/opt/vexa/Mnemo/ceh1.bmp"), QStringLiteral("/opt/vexa/Mnemo/boiler.png")});
  Settings()->SetDemo(true);
  EXPECT_NO_FAULTS(Current().SetPortIndex(0));
  SaveTemplates();
  Open();
  Search(smAfresh);
  QTest::qWait(100);
  EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/setup-window.png")));
  Pages()->setCurrentIndex(1);
  QTest::qWait(100);
  EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/setup-diagrams.png")));
  Pages()->setCurrentIndex(2);
  TypeOver(Child<QLineEdit>(*form, "brokerUrlEdit"), QStringLiteral("mqtt://scada.plant.local:1883"));
  TypeOver(Child<QLineEdit>(*form, "brokerUserEdit"), QStringLiteral("boiler-house"));
  TypeOver(Child<QLineEdit>(*form, "brokerPasswordEdit"), QStringLiteral("secret"));
  QTest::qWait(100);
  EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/setup-integration.png")));
  Pages()->setCurrentIndex(3);
  QTest::qWait(100);
  EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/setup-history.png")));
  Pages()->setCurrentIndex(4);
  Child<QCheckBox>(*form, "webCheckBox")->setChecked(true);
  TypeOver(Child<QLineEdit>(*form, "webAddressEdit"), QStringLiteral("0.0.0.0"));
  TypeOver(Child<QLineEdit>(*form, "webHostsEdit"), QStringLiteral("scada.plant.local"));
  QTest::qWait(100);
  EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/setup-web.png")));
}

}  // namespace
// The web page: off by default with its fields greyed; an address that is none refused in the real
// box with the window left on the page; written to WEB.ini (the owner's alone) when right and
// announced once; its own help topic.
TEST_F(SetupWindowTest, TheWebPageWritesWebIniOnlyWithAUsableAddress) {
  Settings()->SetMNames({QStringLiteral("Цех")});
  Settings()->SetMFiles({picture1});
  Open();
  int announced = 0;
  QObject::connect(form.get(), &TSetupForm::WebSettingsChanged, [&announced] { ++announced; });
  Pages()->setCurrentIndex(4);
  EXPECT_EQ(Pages()->tabText(4), QStringLiteral("Веб-доступ"));
  auto* enabled = Child<QCheckBox>(*form, "webCheckBox");
  auto* address = Child<QLineEdit>(*form, "webAddressEdit");
  EXPECT_FALSE(enabled->isChecked()) << "off until turned on";
  EXPECT_FALSE(address->isEnabled());
  EXPECT_EQ(address->text(), QStringLiteral("127.0.0.1"));
  QTest::mouseClick(enabled, Qt::LeftButton, {}, QPoint(6, enabled->height() / 2));
  ASSERT_TRUE(address->isEnabled());
  address->setFocus();
  KeyClick(address, Qt::Key_F1);
  ASSERT_NE(THelpWindow::Instance(), nullptr);
  EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcWebSettings);
  THelpWindow::Instance()->close();
  ASSERT_TRUE(Activate(form.get()));
  {
    TRealMessageBoxes boxes;
    TypeOver(address, QStringLiteral("plant.local"));  // a name: the server binds an address
    Click(OkButton());
    EXPECT_EQ(boxes.Answered, 1);
  }
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Pages()->currentIndex(), 4);
  EXPECT_FALSE(QFileInfo::exists(WebSettingsPath(Current().Dir())));

  ASSERT_TRUE(Activate(form.get()));
  TypeOver(address, QStringLiteral("0.0.0.0"));
  TypeOver(Child<QSpinBox>(*form, "webPortSpin"), QStringLiteral("8443"));
  auto* anonymous = Child<QCheckBox>(*form, "webAnonymousCheckBox");
  QTest::mouseClick(anonymous, Qt::LeftButton, {}, QPoint(6, anonymous->height() / 2));
  TypeOver(Child<QLineEdit>(*form, "webHostsEdit"), QStringLiteral("scada.plant.local, scada"));
  Click(OkButton());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(announced, 1);
  const TWebSettings saved = LoadWebSettings(Current().Dir());
  EXPECT_TRUE(saved.FileProblems.isEmpty()) << saved.FileProblems.join('\n').toStdString();
  EXPECT_TRUE(saved.Enabled);
  EXPECT_TRUE(saved.AnonymousView);
  EXPECT_EQ(saved.Address, QStringLiteral("0.0.0.0"));
  EXPECT_EQ(saved.Port, 8443);
  EXPECT_EQ(saved.Hosts, (QStringList{"scada.plant.local", "scada"}));
  EXPECT_EQ(QFileInfo(WebSettingsPath(Current().Dir())).permissions() & (QFile::ReadGroup | QFile::ReadOther),
            QFileDevice::Permissions{});
}

}  // namespace vexa::test
