// The main window: services it installs, command gating, closing, placement of secondary windows,
// and the diagram pages built from the settings.

#include <time.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <cerrno>
#include <memory>
#include <thread>

#include "alarms/gui/AlarmsUnit.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "core/ExecuterUnit.h"
#include "core/LineWriter.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/AtomicFile.h"
#include "storage/CompoundFile.h"
#include "storage/NetworkState.h"
#include "storage/StartUp.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RampingProcesses.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "ui/AboutUnit.h"
#include "ui/MainUnit.h"
#include "ui/MnemoPages.h"
#include "ui/model/TickRunner.h"
#include "ui/parts/HelpUnit.h"

namespace vexa::test {
namespace {

// Records the addresses the desktop would have been asked to open.
class TUrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> Opened;
 public Q_SLOTS:
  void Open(const QUrl& url) { Opened << url; }
};

// Counts a signal's emissions and keeps their boolean argument, if any.
struct TSignalLog {
  int Count = 0;
  QList<bool> Values;
};
template <class Signal>
std::shared_ptr<TSignalLog> Watch(TMainForm* form, Signal signal) {
  auto log = std::make_shared<TSignalLog>();
  QObject::connect(form, signal, form, [log](auto... args) {
    ++log->Count;
    if constexpr (sizeof...(args) == 1) log->Values << bool(args...);
  });
  return log;
}

class TMainFormTest : public TVexaTest {
 protected:
  void TearDown() override {
    form.reset();
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  QString ExePath(const QString& name) const { return Dir->path() + QLatin1Char('/') + name; }

  // A picture of the given size in the given format; the file's name decides its extension.
  QString Picture(const QString& path, QSize size, const char* format) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QDir().mkpath(QFileInfo(path).path());
    EXPECT_TRUE(image.save(path, format)) << path.toStdString();
    return path;
  }

  // The settings file the main window reads its pages from.
  void Pages(const QStringList& names, const QStringList& files) {
    QDir().mkpath(ExePath(QStringLiteral("Config")));
    Settings()->SetMNames(names);
    Settings()->SetMFiles(files);
    ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
  }

  void OnePage() { Pages({QStringLiteral("Котельная")}, {Picture(ExePath("a.png"), {120, 80}, "PNG")}); }

  TMainForm& Create() {
    form = std::make_unique<TMainForm>(Current());
    return *form;
  }

  // The window's pages, its commands and the key picture, found by their names.
  QTabWidget* Tabs() const { return Child<QTabWidget>(*form, "diagramPages"); }
  QAction* Command(const char* name) const { return Child<QAction>(*form, name); }
  QLabel* KeyPicture() const { return Child<QLabel>(*form, "keyPicture"); }
  TMnemoPage* Page(int i) const { return qobject_cast<TMnemoPage*>(Tabs()->widget(i)); }

  // Runs `inside` as soon as a modal window is up, then closes that window.
  static void WhenModal(std::function<void(QWidget*)> inside) {
    // Only the pending timer holds the poll alive, so it is freed once the modal window was handled.
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weak = poll;
    *poll = [inside, weak] {
      const auto self = weak.lock();
      if (!self) return;
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) {
        QTimer::singleShot(10, [self] { (*self)(); });
        return;
      }
      inside(modal);
      if (auto* d = qobject_cast<QDialog*>(modal); d != nullptr && d->isVisible()) d->reject();
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
  }

  std::unique_ptr<TMainForm> form;
};

// --- services and status line ------------------------------------------------------------------

TEST_F(TMainFormTest, InstallsTheStatusLineBusyCursorAndAutoSaveAndTakesThemAway) {
  OnePage();
  Create();
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Останов"));
  ShowProgramState(QStringLiteral("Сохранение состояния сети"));
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Сохранение состояния сети"));

  {
    TBusyCursor busy;
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  ASSERT_TRUE(Current().AutoSave);
  Current().AutoSave();
  for (const char* name : {"NET", "TTEMPLATES", "TASKS", "RTEMPLATES", "REPORTS", "SETUP"})
    EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), QString::fromLatin1(name)))) << name;
  // After the save the status line tells the poller's state: none runs here.
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Останов"));
  Current().StartPoller();
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
  Current().AutoSave();
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
  Current().StopPoller();
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Останов"));

  form.reset();
  EXPECT_FALSE(Services().ProgramState);
  EXPECT_FALSE(Current().PollerState);
  EXPECT_FALSE(Services().BusyCursor);
  EXPECT_FALSE(Current().AutoSave);
}

// The poller's exchange finds the port lost: the status line tells it in a place of its own, beside
// the program's state, until the port is back; the return is told for a while, then goes.
TEST_F(TMainFormTest, TheStatusLineTellsALostPortAndItsReturnOnce) {
  OnePage();
  Create();
  form->show();
  ASSERT_TRUE(Current().Line().Notice);
  const auto* panel = Child<QLabel>(*form, "linePanel");
  const auto* state = Child<QLabel>(*form, "programStatePanel");
  ShowProgramState(kStateWorking);
  Port->SetDeviceName(QStringLiteral("COM1"));
  Port->Open();
  auto* reg = new TRegisterNode(Net().get());
  reg->SetName(QStringLiteral("D000C001R002"));
  // Exchanges on another thread, as the poller runs them.
  const auto exchange = [reg, line = Line()] {
    std::thread poller([reg, line] {
      const std::unique_ptr<TCustomRegister> copy = reg->DetachedCopy();
      copy->StringData(line);
    });
    poller.join();
  };

  Port->SetLost(true);
  exchange();
  exchange();
  const QString lost = QStringLiteral("Порт COM1 потерян: устройство отключено");
  ASSERT_TRUE(RunEventsUntil([&] { return panel->toolTip() == lost; }, 3000))
      << panel->toolTip().toStdString();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_TRUE(state->isVisible());
  EXPECT_EQ(state->text(), Current().PollerStateText());
  EXPECT_EQ(form->ProgramState(), Current().PollerStateText()) << "the state under the news is the poller's";
  // A state shown meanwhile does not hide the loss.
  ShowProgramState(kStateSaving);
  ShowProgramState(kStateWorking);
  EXPECT_EQ(panel->toolTip(), lost);
  EXPECT_TRUE(panel->isVisible());

  Port->SetLost(false);
  exchange();
  const QString back = QStringLiteral("Порт COM1 снова открыт");
  ASSERT_TRUE(RunEventsUntil([&] { return panel->toolTip() == back; }, 3000))
      << panel->toolTip().toStdString();
  // The return's notice goes by itself; hurried here.
  for (QTimer* timer : form->findChildren<QTimer*>())
    if (timer->isActive() && timer->interval() == TMainForm::kLineNewsMs) timer->start(1);
  EXPECT_TRUE(RunEventsUntil([&] { return panel->isHidden(); }, 3000)) << panel->toolTip().toStdString();
  EXPECT_EQ(state->text(), Current().PollerStateText());

  form.reset();
  EXPECT_FALSE(Current().Line().Notice);
}

// The broker's outage stays in its own place for as long as it lasts, other news of it for a while
// over it; neither hides the line's notice or the program's state.
TEST_F(TMainFormTest, TheBrokersOutageLastsInTheStatusLineBesideTheLinesNews) {
  OnePage();
  Create();
  form->show();
  const auto* broker = Child<QLabel>(*form, "brokerPanel");
  const auto* line = Child<QLabel>(*form, "linePanel");
  const auto* state = Child<QLabel>(*form, "programStatePanel");
  const auto hurry = [this] {
    for (QTimer* timer : form->findChildren<QTimer*>())
      if (timer->isActive() && timer->interval() == TMainForm::kLineNewsMs) timer->start(1);
  };
  const QString out = QStringLiteral("MQTT: нет связи с localhost:1883, повтор");
  const QString full = QStringLiteral("MQTT: очередь была полна, потеряно сообщений: 5");
  // The broker's place shows the text told, then, once news' while is over, `after`.
  struct Step {
    const char* what;
    QString text, outage, after;
  };
  const Step steps[] = {{"lost", out, out, out},
                        {"news in the outage", full, out, out},
                        {"back", QStringLiteral("MQTT: подключено"), QString(), QString()}};
  form->ShowLineNotice(QStringLiteral("Порт COM1 потерян"), true);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    form->ShowBrokerNotice(step.text, step.outage);
    EXPECT_EQ(broker->toolTip(), step.text);
    hurry();
    RunEventsFor(50);
    EXPECT_EQ(broker->toolTip(), step.after);
    EXPECT_EQ(broker->isHidden(), step.after.isEmpty());
    EXPECT_TRUE(line->isVisible()) << "the line's loss stays";
    EXPECT_TRUE(state->isVisible());
  }
}

// With the restore off the program starts empty; its automatic save keeps the network an earlier
// run saved aside instead of replacing it silently by an empty one.
TEST_F(TMainFormTest, TheAutomaticSaveWithTheRestoreOffKeepsTheSavedNetworkAside) {
  OnePage();
  for (int d = 0; d < 3; ++d) AddRegulatorNode(*Net(), d);
  Settings()->SetAutoLoadEnabled(false);
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  const QString net = ConfigFilePath(Current().Dir(), QStringLiteral("NET"));
  const auto bytes = [](const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  const QByteArray saved = bytes(net);

  // The program starts again on the folder: empty trees, the settings read, nothing restored.
  Current().RecreateRoot(QStringLiteral("NET"));
  Settings() = std::make_unique<TSetupNode>(nullptr);
  ShowFaults(RunSetupStartUp(Current(), nullptr));
  ASSERT_FALSE(Settings()->AutoLoadEnabled());
  ASSERT_EQ(Net()->NodeCount(), 0);
  Create();
  Current().AutoSave();
  QCoreApplication::processEvents();

  const QString aside = net + QStringLiteral(".replaced-20261207-1200");
  EXPECT_EQ(bytes(aside), saved);
  std::unique_ptr<TRootNode> written = std::make_unique<TRootNode>(nullptr);
  written->SetName(QStringLiteral("NET"));
  LoadTreeFile(Current(), written);
  EXPECT_EQ(written->NodeCount(), 0) << "the empty network is what was saved";
  Current().AutoSave();  // the file is this run's now
  EXPECT_EQ(QDir(ExePath("Config")).entryList({"NET.cfg*"}, QDir::Files).size(), 2);
  EXPECT_TRUE(Messages->Texts().filter(QStringLiteral("Ошибка")).isEmpty())
      << Messages->Texts().join(" | ").toStdString();
}

// --- gating ------------------------------------------------------------------------------------

TEST_F(TMainFormTest, NetworkOpenGatesTheConfigurationCommandsAndTheKey) {
  OnePage();
  Create();
  QDialog setup;
  form->SetWindow(TWindowRole::Setup, &setup);
  QDialog xy;
  form->SetWindow(TWindowRole::XY, &xy);
  QDialog labelProps;
  form->SetWindow(TWindowRole::LabelProperties, &labelProps);
  int exports = 0;
  form->SaveNetworkDescription = [&] { ++exports; };
  // The commands that only look are there once their windows are.
  for (QAction* a : {Command("historyAction"), Command("printAction"), Command("channelAction")})
    EXPECT_FALSE(a->isEnabled());
  QDialog channel;
  form->SetWindow(TWindowRole::Channel, &channel);
  form->ShowHistory = [](TLabelDisplay&) {};
  form->PrintHistory = [](TLabelDisplay&) {};
  form->show();
  auto changed = Watch(form.get(), &TMainForm::NetworkOpenChanged);
  form->SetNetworkOpen(false);

  for (QAction* a : {Command("setupAction"), Command("saveDescriptionAction"), Command("positionAction"),
                     Command("labelPropertiesAction"), Command("deleteLabelAction")})
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  EXPECT_FALSE(KeyPicture()->isVisible());
  EXPECT_EQ(Command("accessAction")->text(), QStringLiteral("Открыть сеть для настройки"));
  // The label commands that only look stay available.
  for (QAction* a : {Command("historyAction"), Command("printAction"), Command("channelAction")})
    EXPECT_TRUE(a->isEnabled());

  form->SetNetworkOpen(true);
  QApplication::processEvents();  // the toolbar lays itself out again
  for (QAction* a : {Command("setupAction"), Command("saveDescriptionAction"), Command("positionAction"),
                     Command("labelPropertiesAction"), Command("deleteLabelAction")})
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  EXPECT_TRUE(KeyPicture()->isVisible());
  EXPECT_EQ(Command("accessAction")->text(), QStringLiteral("Закрыть сеть для настройки"));
  Command("saveDescriptionAction")->trigger();
  EXPECT_EQ(exports, 1);

  // The key leads to the channel templates only with Ctrl, Shift and Alt all held.
  QWidget templates(nullptr, Qt::Window);
  form->SetWindow(TWindowRole::Registry, &templates);
  auto release = [&](Qt::KeyboardModifiers mods) {
    QMouseEvent e(QEvent::MouseButtonRelease, QPointF(5, 5), KeyPicture()->mapToGlobal(QPointF(5, 5)),
                  Qt::LeftButton, Qt::NoButton, mods);
    QApplication::sendEvent(KeyPicture(), &e);
  };
  release(Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(templates.isVisible());
  release(Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  EXPECT_TRUE(templates.isVisible());
  templates.hide();

  // Closing needs no password and takes everything away again.
  Command("accessAction")->trigger();
  QApplication::processEvents();
  EXPECT_FALSE(form->NetworkOpen());
  EXPECT_FALSE(Command("setupAction")->isEnabled());
  EXPECT_FALSE(KeyPicture()->isVisible());
  ASSERT_EQ(changed->Count, 3);
  EXPECT_EQ(changed->Values.at(1), true);
  EXPECT_EQ(changed->Values.at(2), false);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(TMainFormTest, OpeningTheNetworkAsksThePasswordQuestion) {
  OnePage();
  Create();
  // Without the password question nothing can open the network.
  EXPECT_FALSE(Command("accessAction")->isEnabled());
  bool answer = false;
  int asked = 0;
  form->AskPassword = [&] {
    ++asked;
    return answer;
  };
  form->SetNetworkOpen(false);
  ASSERT_TRUE(Command("accessAction")->isEnabled());
  Command("accessAction")->trigger();
  EXPECT_FALSE(form->NetworkOpen());
  answer = true;
  Command("accessAction")->trigger();
  EXPECT_TRUE(form->NetworkOpen());
  Command("accessAction")->trigger();
  EXPECT_FALSE(form->NetworkOpen());
  EXPECT_EQ(asked, 2);
}

TEST_F(TMainFormTest, WindowCommandsWaitForTheirWindowsAndRestoreWaitsForToolWindows) {
  OnePage();
  Create();
  for (QAction* a : {Command("processesAction"), Command("reportsAction"), Command("archivesAction"),
                     Command("networkTreeAction")}) {
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_TRUE(a->isVisible());
  }
  QWidget tree(nullptr, Qt::Window);
  tree.resize(100, 80);
  form->SetWindow(TWindowRole::NetTree, &tree);
  EXPECT_TRUE(Command("networkTreeAction")->isEnabled());
  Command("networkTreeAction")->trigger();
  EXPECT_TRUE(tree.isVisible());

  EXPECT_TRUE(Command("restoreAction")->isEnabled());
  form->Session().AdjustToolWindowCount(+1);
  form->Session().AdjustToolWindowCount(+1);
  EXPECT_FALSE(Command("restoreAction")->isEnabled());
  form->Session().AdjustToolWindowCount(-1);
  EXPECT_FALSE(Command("restoreAction")->isEnabled());
  form->Session().AdjustToolWindowCount(-1);
  EXPECT_TRUE(Command("restoreAction")->isEnabled());
  EXPECT_TRUE(Command("saveAction")->isEnabled());
}

TEST_F(TMainFormTest, RestoreReadsTheSavedStateAndAnnouncesIt) {
  OnePage();
  AddRegulatorNode(*Net(), 7);
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  Net()->DestroyComponents();
  Create();
  auto restored = Watch(form.get(), &TMainForm::StateRestored);
  Command("restoreAction")->trigger();
  EXPECT_NE(FindNode(Net().get(), QStringLiteral("D007")), nullptr);
  EXPECT_EQ(restored->Count, 1);
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
  EXPECT_TRUE(Current().PollerRunning());

  // A broken file is reported; the program goes on.
  QFile net(ConfigFilePath(Current().Dir(), QStringLiteral("NET")));
  ASSERT_TRUE(net.open(QIODevice::WriteOnly));
  net.write(QByteArray(600, '\x5A'));
  net.close();
  QFile setup(ConfigFilePath(Current().Dir(), QStringLiteral("SETUP")));
  ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
  setup.write(QByteArray(600, '\x5A'));
  setup.close();
  Messages->Shown.clear();
  Command("restoreAction")->trigger();
  EXPECT_EQ(restored->Count, 2);
  EXPECT_TRUE(Current().PollerRunning());
  // One message names both files and why.
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_TRUE(Messages->Shown[0].Text.contains(ConfigFilePath(Current().Dir(), QStringLiteral("NET")) +
                                               ": не составной файл"))
      << Messages->Shown[0].Text.toStdString();
  EXPECT_TRUE(Messages->Shown[0].Text.contains(ConfigFilePath(Current().Dir(), QStringLiteral("SETUP")) +
                                               ": не составной файл"));
  EXPECT_NE(FindNode(Net().get(), QStringLiteral("D007")), nullptr) << "the tree stays as it was";
}

// The real boxes of the restore command and of the close question, answered by keys and clicks.
TEST_F(TMainFormTest, RealBoxesTellAFailedRestoreAndAskOnClosing) {
  OnePage();
  Create();
  form->show();
  Current().StartPoller();
  QFile net(ConfigFilePath(Current().Dir(), QStringLiteral("NET")));
  ASSERT_TRUE(net.open(QIODevice::WriteOnly));
  net.write(QByteArray(600, '\x5A'));
  net.close();
  auto restored = Watch(form.get(), &TMainForm::StateRestored);
  auto closed = Watch(form.get(), &TMainForm::Closed);
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    Command("restoreAction")->trigger();
    EXPECT_EQ(boxes.Answered, 1);
    ASSERT_EQ(Messages->Shown.size(), 1u);
    EXPECT_TRUE(Messages->Shown[0].Text.startsWith("Ошибка чтения состояния сети"))
        << Messages->Shown[0].Text.toStdString();
    EXPECT_TRUE(Current().PollerRunning());
    // Cancel is Esc's button: the window stays.
    Messages->Answers = {mbCancel};
    EXPECT_FALSE(form->close());
    EXPECT_EQ(boxes.Answered, 2);
    EXPECT_TRUE(form->isVisible());
  }
  EXPECT_EQ(restored->Count, 2);
  TRealMessageBoxes boxes(TBoxClose::Keys);
  Messages->Answers = {mbNo};
  EXPECT_TRUE(form->close());
  EXPECT_EQ(boxes.Answered, 1);
  EXPECT_EQ(closed->Count, 1);
  form.reset();
  Current().StopPoller();
}

// Saves that cannot write, by hand and automatic: told with the file and the reason (the automatic
// one once per streak of failures), the tree still Changed and the old file as it was.
TEST_F(TMainFormTest, SavesThatCannotWriteAreToldAndKeepTheOldFile) {
  OnePage();
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  Create();
  const QString net = ConfigFilePath(Current().Dir(), QStringLiteral("NET"));
  const auto bytes = [&net] {
    QFile f(net);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  const QByteArray before = bytes();
  Net()->SetComments(QStringLiteral("изменено"));  // a change to save
  const auto diskFull = [&net](TFileStep step, const QString& path) {
    return step == TFileStep::Write && path == net ? ENOSPC : 0;
  };
  const auto autoSave = [this] {
    Current().AutoSave();  // as the poller calls it, on the main thread
    QCoreApplication::processEvents();
  };
  const auto told = [this](const QString& start) {
    int n = 0;
    for (const QString& text : Messages->Texts())
      if (text.startsWith(start)) ++n;
    return n;
  };

  SetFileFault(diskFull);
  Command("saveAction")->trigger();
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_TRUE(Messages->Shown[0].Text.startsWith(QStringLiteral("Ошибка сохранения состояния сети: ")));
  EXPECT_TRUE(Messages->Shown[0].Text.contains(net)) << Messages->Shown[0].Text.toStdString();
  EXPECT_TRUE(Messages->Shown[0].Text.contains(QStringLiteral("на диске нет места")));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_TRUE(Net()->Changed());
  EXPECT_EQ(bytes(), before);

  const QString automatic = QStringLiteral("Ошибка автоматического сохранения состояния сети: ");
  for (int i = 0; i < 3; ++i) autoSave();
  EXPECT_EQ(told(automatic), 1) << "once for the streak";
  EXPECT_TRUE(Messages->Shown.back().Text.contains(net));
  EXPECT_TRUE(Net()->Changed());
  EXPECT_EQ(bytes(), before);

  SetFileFault(nullptr);
  autoSave();
  EXPECT_EQ(Messages->Shown.size(), 2u);
  EXPECT_FALSE(Net()->Changed());
  EXPECT_NE(bytes(), before);

  Net()->SetComments(QStringLiteral("изменено снова"));
  SetFileFault(diskFull);
  autoSave();
  autoSave();
  EXPECT_EQ(told(automatic), 2) << "a new streak is told again";
  SetFileFault(nullptr);

  // A file nearing its size bound is saved and told as a warning: at every save asked for, and by
  // the automatic save once until it no longer warns.
  autoSave();
  const CompoundFile::TLowerSizeBound lowered(QFileInfo(net).size() * 10 / 9);
  const auto nearBound = [&] {
    int n = 0;
    for (const auto& shown : Messages->Shown)
      n += shown.Icon == TMsgIcon::Warning && shown.Text.contains(net);
    return n;
  };
  for (int i = 0; i < 2; ++i) {
    Net()->SetComments(QStringLiteral("у предела %1").arg(i));
    Command("saveAction")->trigger();
  }
  EXPECT_EQ(nearBound(), 2) << Messages->Texts().join(QLatin1Char('\n')).toStdString();
  for (int i = 0; i < 3; ++i) {
    Net()->SetComments(QStringLiteral("автоматически %1").arg(i));
    autoSave();
  }
  EXPECT_EQ(nearBound(), 3);
  EXPECT_FALSE(Net()->Changed());
}

TEST_F(TMainFormTest, NetworkSettingsRunWithPollingStoppedAndRestartIt) {
  OnePage();
  Create();
  QDialog setup;
  form->SetWindow(TWindowRole::Setup, &setup);
  Current().StartPoller();
  // Closed for configuration: nothing happens, even when asked directly.
  Command("setupAction")->setEnabled(true);
  Command("setupAction")->trigger();
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа")) << "the poller still runs";

  form->SetNetworkOpen(true);
  bool pollingDuring = true;
  QString stateDuring;
  WhenModal([&](QWidget* modal) {
    EXPECT_EQ(modal, &setup);
    pollingDuring = Current().PollerRunning();
    stateDuring = form->ProgramState();
  });
  Command("setupAction")->trigger();
  EXPECT_FALSE(pollingDuring);
  EXPECT_EQ(stateDuring, QStringLiteral("Останов"));
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
}

// --- closing -----------------------------------------------------------------------------------

TEST_F(TMainFormTest, CloseQuestionCancelKeepsTheWindowAndPolling) {
  OnePage();
  Create();
  form->show();
  Current().StartPoller();
  auto closed = Watch(form.get(), &TMainForm::Closed);
  Messages->Answers = {mbCancel};
  EXPECT_FALSE(form->close());
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text, QStringLiteral("Сохранить текущее состояние сети?"));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Question);
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo | mbCancel));
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_EQ(closed->Count, 0);
  EXPECT_FALSE(QFile::exists(ConfigFilePath(Current().Dir(), QStringLiteral("NET"))));
}

TEST_F(TMainFormTest, CloseQuestionNoClosesWithoutSavingAndYesSavesFirst) {
  for (const TMsgButton answer : {mbNo, mbYes}) {
    SCOPED_TRACE(answer == mbYes ? "Yes" : "No");
    QDir(ExePath(QStringLiteral("Config"))).removeRecursively();
    OnePage();
    QFile::remove(ConfigFilePath(Current().Dir(), QStringLiteral("NET")));
    Create();
    form->show();
    Current().StartPoller();
    auto closed = Watch(form.get(), &TMainForm::Closed);
    Messages->Shown.clear();
    Messages->Answers = {answer};
    EXPECT_TRUE(form->close());
    EXPECT_EQ(closed->Count, 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(Messages->Shown.size(), 1u);
    EXPECT_FALSE(Current().PollerRunning());  // told to end, not waited for
    EXPECT_EQ(QFile::exists(ConfigFilePath(Current().Dir(), QStringLiteral("NET"))), answer == mbYes);
    form.reset();
    Current().StopPoller();
  }
}

TEST_F(TMainFormTest, SessionEndOffersOnlyYesAndNo) {
  OnePage();
  Create();
  form->show();
  auto closed = Watch(form.get(), &TMainForm::Closed);
  Messages->Answers = {mbYes};
  form->SessionEnding();
  EXPECT_TRUE(form->ShutdownPending());
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text, QStringLiteral("Сохранить текущее состояние сети?"));
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo));
  EXPECT_EQ(closed->Count, 1);
  EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), QStringLiteral("NET"))));
}

TEST_F(TMainFormTest, ExitWithoutSavingNeverAsks) {
  OnePage();
  Create();
  form->show();
  Current().StartPoller();
  auto closed = Watch(form.get(), &TMainForm::Closed);
  Command("exitWithoutSavingAction")->trigger();
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_EQ(closed->Count, 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(QFile::exists(ConfigFilePath(Current().Dir(), QStringLiteral("NET"))));
}

TEST_F(TMainFormTest, ActivationRestoresAMinimisedWindow) {
  OnePage();
  Create();
  form->showMinimized();
  QApplication::processEvents();
  ASSERT_TRUE(form->isMinimized());
  form->Activate();
  EXPECT_FALSE(form->isMinimized());
  EXPECT_TRUE(form->isVisible());
}

// --- shell, about --------------------------------------------------------------------------------

TEST_F(TMainFormTest, WebPageAndMailGoToTheDesktop) {
  OnePage();
  Create();
  TUrlRecorder recorder;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "Open");
  QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &recorder, "Open");
  Command("webAction")->trigger();
  Command("mailAction")->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
  ASSERT_EQ(recorder.Opened.size(), 2);
  EXPECT_EQ(recorder.Opened[0].scheme(), QStringLiteral("https"));
  EXPECT_EQ(recorder.Opened[1].scheme(), QStringLiteral("mailto"));
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(TMainFormTest, AboutBoxIsShownModallyAndReleased) {
  OnePage();
  Create();
  QString title;
  WhenModal([&](QWidget* modal) {
    EXPECT_NE(qobject_cast<TAboutBox*>(modal), nullptr);
    title = modal->windowTitle();
  });
  Command("aboutAction")->trigger();
  EXPECT_EQ(title, QStringLiteral("О программе"));
  EXPECT_TRUE(form->findChildren<TAboutBox*>().isEmpty());
}

TEST_F(TMainFormTest, F1OpensTheMainWindowTopicAndTheMenuTheContents) {
  OnePage();
  Create();
  form->show();
  QApplication::processEvents();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
  form->activateWindow();
  QWidget* target = Tabs();
  target->setFocus();
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
  ASSERT_NE(THelpWindow::Instance(), nullptr);
  EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), TMainForm::kHelpContext);
  Command("helpAction")->trigger();
  EXPECT_EQ(THelpWindow::Instance()->CurrentContext(), hcContents);
  THelpWindow::Instance()->close();
}

// Tells when a key reaches its widget.
class TKeyWatch : public QObject {
 public:
  TKeyWatch(QObject* target, std::function<void()> seen) : seen_(std::move(seen)) {
    target->installEventFilter(this);
  }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) seen_();
    return false;
  }

 private:
  std::function<void()> seen_;
};

// 2,000 alarms raised as the poller hands its reads over, a few at a time, with the alarm window
// open: a key the operator presses meanwhile waits for no more than a tenth of a second of the main
// thread's work, and the alarm window has every alarm once the flood is over.
TEST_F(TMainFormTest, AKeyIsAnsweredWithinATenthOfASecondDuringAnAlarmFlood) {
  constexpr int kAlarms = 2000;
  OnePage();
  TRootNode& regulator = AddRegulatorNode(*Net(), 0);
  std::vector<TRegisterNode*> registers;
  for (int c = 0; c < kAlarms / 100; ++c) {
    TRootNode& channel = AddChannelNode(regulator, c);
    for (int r = 0; r < 100; ++r) {
      registers.push_back(&AddRegisterNode(channel, r, {.Enabled = true}));
      AddHighAlarm(Current(), registers.back()->Name(), {.Priority = 1 + r % 3});
    }
  }
  TAlarmMonitor monitor(Current());
  ASSERT_TRUE(monitor.Open().Texts().isEmpty());
  monitor.Attach();
  Create();
  form->SetAlarms(&monitor);
  auto alarms = std::make_unique<TAlarmsForm>(Current(), monitor, SessionOf(form.get()));
  form->SetWindow(TWindowRole::Alarms, alarms.get());
  form->show();
  alarms->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(alarms.get()));

  const auto cpuMs = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  };
  // The key as the window system delivers it: queued behind what the main thread has to do.
  double pressedAt = -1;
  double answeredAt = -1;
  TKeyWatch answered(Tabs(), [&] {
    if (answeredAt < 0) answeredAt = cpuMs();
  });
  size_t next = 0;
  QTimer reads;
  reads.setInterval(0);
  QObject::connect(&reads, &QTimer::timeout, [&] {
    // Pressed as a handful of reads begins: it waits for their work, and for nothing more.
    if (next == registers.size() / 4 && pressedAt < 0) {
      pressedAt = cpuMs();
      QCoreApplication::postEvent(Tabs(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier));
    }
    for (int i = 0; i < 50 && next < registers.size(); ++i, ++next) {
      registers[next]->SetLastIOResult(iorOK);
      registers[next]->SetLastStringData(QStringLiteral("75"));
      Current().RegisterRead.Notify(*registers[next]);
    }
    if (next == registers.size()) reads.stop();
  });
  reads.start();
  QTreeWidget* list = Child<QTreeWidget>(*alarms, "activeList");
  EXPECT_TRUE(
      RunEventsUntil([&] { return !reads.isActive() && list->topLevelItemCount() == kAlarms; }, 20000))
      << list->topLevelItemCount() << " rows";
  ASSERT_GE(answeredAt, 0) << "the key was never answered";
  EXPECT_LT(answeredAt - pressedAt, 100.0) << "of the main thread's work before the key";
  EXPECT_EQ(monitor.ActiveCount(), kAlarms);
  form->SetWindow(TWindowRole::Alarms, nullptr);
  alarms.reset();
  form->SetAlarms(nullptr);
}

// --- placement -----------------------------------------------------------------------------------

TEST(PlaceNearPointTest, MovesToTheOtherSideOnlyWhenThereIsRoom) {
  const QRect screen(0, 0, 800, 600);
  const QSize w(200, 100);
  // Room on both axes: unchanged.
  EXPECT_EQ(PlaceNearPoint({100, 100}, w, screen), QPoint(100, 100));
  // Exactly touching the edges still fits.
  EXPECT_EQ(PlaceNearPoint({600, 500}, w, screen), QPoint(600, 500));
  // Past the right edge: left by its width; past the bottom: up by its height + 60.
  EXPECT_EQ(PlaceNearPoint({601, 501}, w, screen), QPoint(401, 341));
  // The shift would leave the screen: the point stays.
  const QSize big(700, 550);
  EXPECT_EQ(PlaceNearPoint({650, 560}, big, screen), QPoint(650, 560));
  // The bottom rule needs height + 60 above the point.
  EXPECT_EQ(PlaceNearPoint({10, 159}, w, QRect(0, 0, 800, 200)), QPoint(10, 159));
  EXPECT_EQ(PlaceNearPoint({10, 160}, w, QRect(0, 0, 800, 200)), QPoint(10, 0));
  // A second screen to the right has its own edges.
  const QRect right(800, 0, 800, 600);
  EXPECT_EQ(PlaceNearPoint({1400, 100}, w, right), QPoint(1400, 100));
  EXPECT_EQ(PlaceNearPoint({1450, 100}, w, right), QPoint(1250, 100));
  EXPECT_EQ(PlaceNearPoint({1000, 100}, QSize(700, 100), right), QPoint(1000, 100));
}

TEST_F(TMainFormTest, ShowNearPagePlacesRelativeToTheActivePage) {
  OnePage();
  Create();
  form->show();
  QApplication::processEvents();
  QWidget tool(nullptr, Qt::Window);
  tool.resize(150, 90);
  form->ShowNearPage(&tool, 12, 12);
  const QPoint expected = Page(0)->mapToGlobal(QPoint(12, 12));
  EXPECT_EQ(tool.pos(), expected);
  EXPECT_TRUE(tool.isVisible());
  tool.hide();

  // A point near the screen's bottom-right corner sends the window to the other side.
  const QRect screen = form->screen()->geometry();
  const QPoint corner = Page(0)->mapFromGlobal(QPoint(screen.right() - 20, screen.bottom() - 20));
  form->ShowNearPage(&tool, corner.x(), corner.y());
  EXPECT_EQ(tool.pos(), QPoint(screen.right() - 20 - 150, screen.bottom() - 20 - 90 - 60));
}

TEST_F(TMainFormTest, ShowModalNearPageReturnsTheResult) {
  OnePage();
  Create();
  QDialog dialog;
  dialog.resize(100, 60);
  WhenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->accept(); });
  EXPECT_EQ(form->ShowModalNearPage(&dialog, 5, 5), int(QDialog::Accepted));
}

// --- diagram pages -------------------------------------------------------------------------------

TEST_F(TMainFormTest, NoPagesIsToldOnceAndLeavesTheWindowAtItsSize) {
  Pages({}, {});
  Create();
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(
      Messages->Shown[0].Text,
      QStringLiteral("Мнемосхемы отсутствуют!\r\nУкажите мнемосхемы в окне 'Настройка параметров сети'."));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_EQ(Tabs()->count(), 0);
  EXPECT_EQ(form->width(), TMainForm::kClientWidth);
  // Placing still works, relative to the page control.
  QWidget tool(nullptr, Qt::Window);
  form->ShowNearPage(&tool, 0, 0);
  EXPECT_TRUE(tool.isVisible());
}

TEST_F(TMainFormTest, PagesAreNamedAndUntitledOnesNumbered) {
  const QString pic = Picture(ExePath("p.png"), {60, 40}, "PNG");
  Pages({QStringLiteral("Котельная"), QString(), QStringLiteral("  \t \r\n"), QStringLiteral(" Насосная ")},
        {pic, pic, pic, pic});
  Create();
  ASSERT_EQ(Tabs()->count(), 4);
  EXPECT_EQ(Tabs()->tabText(0), QStringLiteral("Котельная"));
  EXPECT_EQ(Tabs()->tabText(1), QStringLiteral("[Без названия - 2]"));
  EXPECT_EQ(Tabs()->tabText(2), QStringLiteral("[Без названия - 3]"));
  EXPECT_EQ(Tabs()->tabText(3), QStringLiteral(" Насосная "));  // as stored
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Page(i)->objectName(), QStringLiteral("ts%1").arg(i));
    EXPECT_EQ(Page(i)->Picture()->objectName(), QStringLiteral("im%1").arg(i));
    EXPECT_EQ(FindMnemoPage(Tabs(), QStringLiteral("ts%1").arg(i)), Page(i));
  }
  EXPECT_EQ(FindMnemoPage(Tabs(), QStringLiteral("ts4")), nullptr);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(TMainFormTest, PicturesLoadByTheirExtension) {
  const QString bmp = Picture(ExePath("pics/a.bmp"), {31, 21}, "BMP");
  const QString png = Picture(ExePath("pics/b.PNG"), {32, 22}, "PNG");
  const QString jpg = Picture(ExePath("pics/c.jpg"), {33, 23}, "JPEG");
  const QString jpeg = Picture(ExePath("pics/d.jpeg"), {34, 24}, "JPEG");
  // PNG bytes under a .bmp name are not read as a bitmap.
  const QString wrong = Picture(ExePath("pics/e.bmp"), {35, 25}, "PNG");
  QFile junk(ExePath("pics/f.png"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a picture");
  junk.close();
  Pages({"a", "b", "c", "d", "e", "f"}, {bmp, png, jpg, jpeg, wrong, ExePath("pics/f.png")});
  Create();
  const QSize builtIn = BuiltInMnemoPicture().size();
  EXPECT_EQ(Page(0)->Picture()->Picture().size(), QSize(31, 21));
  EXPECT_EQ(Page(1)->Picture()->Picture().size(), QSize(32, 22));
  EXPECT_EQ(Page(2)->Picture()->Picture().size(), QSize(33, 23));
  EXPECT_EQ(Page(3)->Picture()->Picture().size(), QSize(34, 24));
  EXPECT_EQ(Page(4)->Picture()->Picture().size(), builtIn);
  EXPECT_EQ(Page(5)->Picture()->Picture().size(), builtIn);
  EXPECT_EQ(Page(0)->PictureFile(), bmp);
  EXPECT_TRUE(Page(4)->PictureFile().isEmpty());
}

TEST_F(TMainFormTest, AMovedPictureIsFoundInTheProgramFolderAndTheSettingsAreSaved) {
  const QString local = Picture(ExePath("plant.png"), {40, 30}, "PNG");
  const QString elsewhere = Picture(ExePath("other/kept.png"), {41, 31}, "PNG");
  // One path from a Windows installation, one that no longer exists, one still valid.
  Pages({"a", "b", "c"},
        {QStringLiteral("C:\\Vexa\\Pictures\\plant.png"), QStringLiteral("/nowhere/plant.png"), elsewhere});
  Create();
  EXPECT_EQ(Page(0)->Picture()->Picture().size(), QSize(40, 30));
  EXPECT_EQ(Page(1)->Picture()->Picture().size(), QSize(40, 30));
  EXPECT_EQ(Page(2)->Picture()->Picture().size(), QSize(41, 31));
  EXPECT_EQ(Settings()->MFiles(), QStringList({local, local, elsewhere}));
  // The file holds the new paths.
  Settings()->SetMFiles({});
  LoadTreeFile(Current(), Settings());
  EXPECT_EQ(Settings()->MFiles(), QStringList({local, local, elsewhere}));
}

TEST_F(TMainFormTest, MissingPicturesShowTheBuiltInOneAndChangeNoSettings) {
  Pages({"a", "b", "c"}, {ExePath("gone.bmp"), QString()});  // the third page has no file entry
  QFile file(ConfigFilePath(Current().Dir(), QStringLiteral("SETUP")));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray before = file.readAll();
  file.close();
  Create();
  ASSERT_EQ(Tabs()->count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Page(i)->Picture()->Picture().size(), BuiltInMnemoPicture().size());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(TMainFormTest, TheWindowGrowsToTheLargestPictureAndIsCentred) {
  Pages({"small", "large"},
        {Picture(ExePath("s.png"), {50, 40}, "PNG"), Picture(ExePath("l.png"), {520, 410}, "PNG")});
  Create();
  EXPECT_GT(form->width(), TMainForm::kClientWidth);
  form->show();
  QApplication::processEvents();
  for (int i = 0; i < 2; ++i) {
    Tabs()->setCurrentIndex(i);
    QApplication::processEvents();
    const QSize room = Page(i)->Picture()->size();
    EXPECT_GE(room.width(), 520) << i;
    EXPECT_GE(room.height(), 410) << i;
    // Not more than the chrome around the page in either direction.
    EXPECT_LE(room.width(), 520 + 8) << i;
    EXPECT_LE(room.height(), 410 + 8) << i;
  }
  // The small picture sits in the middle of its page.
  const QRect r = Page(0)->Picture()->PictureRect();
  EXPECT_NEAR(r.center().x(), Page(0)->Picture()->width() / 2, 1);
  EXPECT_NEAR(r.center().y(), Page(0)->Picture()->height() / 2, 1);

  const QRect work = form->screen()->availableGeometry();
  form->hide();
  const int left = work.left() + (work.width() - form->width()) / 2;
  const int top = work.top() + (work.height() - form->height()) / 2;
  EXPECT_EQ(form->pos(), QPoint(std::max(left, 0), std::max(top, 0)));
}

TEST_F(TMainFormTest, SmallPicturesKeepTheWindowSize) {
  Pages({}, {});
  const QSize empty = Create().size();
  OnePage();  // 120 x 80, well inside the page
  EXPECT_EQ(Create().size(), empty);
  EXPECT_EQ(empty.width(), TMainForm::kClientWidth);
}

TEST(MnemoCaptionTest, BlankNamesAreUntitled) {
  EXPECT_EQ(MnemoPageCaption(QStringLiteral("Цех"), 0), QStringLiteral("Цех"));
  EXPECT_EQ(MnemoPageCaption(QString(QChar(0x01)) + QChar(0x1F), 6), QStringLiteral("[Без названия - 7]"));
  EXPECT_EQ(MnemoPageCaption(QStringLiteral("\tx"), 1), QStringLiteral("\tx"));
  EXPECT_EQ(PictureFileName(QStringLiteral("C:\\a\\b.bmp")), QStringLiteral("b.bmp"));
  EXPECT_EQ(PictureFileName(QStringLiteral("/a/b/c.png")), QStringLiteral("c.png"));
  EXPECT_EQ(PictureFileName(QStringLiteral("c.png")), QStringLiteral("c.png"));
  EXPECT_EQ(PictureFileName(QStringLiteral("/a/b/")), QString());
}

// Calls `arrived` when a key reaches the window it watches.
class TKeyArrival : public QObject {
 public:
  explicit TKeyArrival(std::function<void()> arrived) : arrived_(std::move(arrived)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) arrived_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> arrived_;
};

// A key posted as the program's tick runner begins a process tick of 10 processes of 5 command
// nodes on the simulated network is answered once the tick has asked for its 50 writes, while the
// line's writer still makes them (about 5.5 s of exchanges and pauses, which the main thread once
// waited through).
TEST_F(TMainFormTest, AKeyIsAnsweredWithinATenthOfASecondDuringAProcessTick) {
  const TSystemClockScope systemClock;
  OnePage();
  Settings()->SetDemo(true);
  Create().show();
  AddRampingProcesses(*Tasks(), 10, 5);
  TTickRunner ticks(Current(), [](const TFaults& faults) { ShowFaults(faults); });
  QElapsedTimer sincePosted;
  qint64 answeredMs = -1;
  size_t writesLeft = 0;
  TKeyArrival arrival([&] {
    answeredMs = sincePosted.elapsed();
    writesLeft = Current().Writer().Pending();
  });
  form->installEventFilter(&arrival);

  QTimer::singleShot(0, form.get(), [&] {
    QCoreApplication::postEvent(form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier));
    sincePosted.start();
    ticks.Fire(TTick::Processes);
  });
  ASSERT_TRUE(RunEventsUntil([&] { return answeredMs >= 0; }, 10000));
  EXPECT_LT(answeredMs, 100);
  EXPECT_GT(writesLeft, 40u) << "the tick's writes were asked, not waited for";
  Current().Writer().Stop();
}

}  // namespace
}  // namespace vexa::test

#include "MainWindowTest.moc"
