// Start-up and shutdown of the program: the core before any window, the windows in order with the
// start-up work under the wait window, the single-instance rule against a real running copy, and the
// orderly end.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "storage/CompoundFile.h"
#include "storage/FolderLock.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/app/Program.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/RdWarnUnit.h"
#include "ui/model/TickRunner.h"
#include "ui/parts/MessageBoxService.h"

namespace vexa::test {
namespace {

const QStringList kLoadCaptions = {
    QStringLiteral("Загрузка структуры сети..."), QStringLiteral("Загрузка шаблонов процессов..."),
    QStringLiteral("Загрузка процессов..."),      QStringLiteral("Загрузка шаблонов отчетов..."),
    QStringLiteral("Загрузка отчетов..."),        QStringLiteral("Загрузка параметров сети..."),
};

// The copies of one test run find each other only: the socket lives in a runtime folder of our own.
class TRuntimeFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_->path()));
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};
const auto* const kRuntimeFolder = ::testing::AddGlobalTestEnvironment(new TRuntimeFolder);

struct TSettings {
  int PortIndex = 1;
  int BaudRateIndex = 4;
  bool AutoLoad = true;
  bool Demo = false;
  QStringList Pages = {QStringLiteral("Цех")};
};

class TStartUpTest : public TVexaTest {
 protected:
  void TearDown() override {
    UseNetwork(nullptr);
    program.reset();
    TVexaTest::TearDown();
  }

  QString Path(const QString& name) const { return Dir->path() + QLatin1Char('/') + name; }

  // Writes the settings file (and a picture for each page) into `dir`.
  void WriteSettings(const QString& dir, const TSettings& s) {
    QDir().mkpath(dir + QStringLiteral("/Config"));
    TNetwork writer(dir, nullptr);
    TSetupNode& setup = *writer.Setup();
    setup.SetPortIndex(s.PortIndex);  // kept only: nothing is opened
    setup.SetBaudRateIndex(s.BaudRateIndex);
    setup.SetAutoLoadEnabled(s.AutoLoad);
    setup.SetDemo(s.Demo);
    QStringList files;
    for (int i = 0; i < s.Pages.size(); ++i) {
      QImage image(60, 40, QImage::Format_RGB32);
      image.fill(Qt::gray);
      files << dir + QStringLiteral("/page%1.png").arg(i);
      image.save(files.last(), "PNG");
    }
    setup.SetMNames(s.Pages);
    setup.SetMFiles(files);
    EXPECT_TRUE(SaveTreeFile(writer, setup));
  }

  // A saved network holding one regulator.
  void WriteNetwork(const QString& regulator) {
    QDir().mkpath(Path(QStringLiteral("Config")));
    TRootNode net(nullptr);
    net.SetName(QStringLiteral("NET"));
    auto* node = new TRootNode(&net);  // owned by net
    node->SetName(regulator);
    ASSERT_TRUE(SaveTreeFile(Current(), net));
  }

  // The program over the test folder (given with a trailing separator, as a folder text may come),
  // its core up with a port of our own.
  void Init() {
    program = std::make_unique<TProgram>(Dir->path() + QLatin1Char('/'));
    auto comm = std::make_unique<TFakeComm>(*Clock);
    port = comm.get();
    port->FailOpen = failOpen;
    program->InitCore(std::move(comm));
    UseNetwork(program->Network());
    QObject::connect(program.get(), &TProgram::StartUpProgress, [this](const QString& caption) {
      captions << caption;
      waitShown = waitShown && program->WaitForm() != nullptr && program->WaitForm()->isVisible();
    });
  }

  std::unique_ptr<TProgram> program;
  TFakeComm* port = nullptr;
  bool failOpen = false;
  QStringList captions;
  bool waitShown = true;
};

TEST_F(TStartUpTest, TheCoreIsUpBeforeAnyWindow) {
  Init();
  EXPECT_EQ(Current().Dir(), Dir->path());
  for (const char* root : {"NET", "TTEMPLATES", "TASKS", "RTEMPLATES", "REPORTS", "REGISTRY"}) {
    ASSERT_NE(Current().RootSlot(QString::fromLatin1(root))->get(), nullptr) << root;
    EXPECT_EQ(Current().RootSlot(QString::fromLatin1(root))->get()->Name(), QString::fromLatin1(root));
  }
  ASSERT_NE(Settings(), nullptr);
  EXPECT_EQ(Current().Line().Port(), port);
  EXPECT_FALSE(port->Connected());
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_EQ(program->MainForm(), nullptr);
}

TEST_F(TStartUpTest, WindowsComeInOrderAndTheSavedStateIsRestoredUnderTheWaitWindow) {
  WriteSettings(Dir->path(), {});
  WriteNetwork(QStringLiteral("D003"));
  Init();
  ASSERT_TRUE(program->Start());
  const QStringList windows = {"Vexa",
                               "Ждите ...",
                               "Структура сети",
                               "Свойства узла",
                               "Свойства регистра",
                               "Свойства ярлыка",
                               "X-Y",
                               "Архив отчетов",
                               "Шаблоны-Отчеты",
                               "Свойства отчета",
                               "Шаблоны-Процессы",
                               "Редактор циклограмм",
                               "Предварительный просмотр",
                               "Введите пароль",
                               "Канал",
                               "Настройка параметров сети",
                               "Шаблоны каналов"};
  EXPECT_EQ(program->CreatedWindows(), windows);
  EXPECT_EQ(captions, kLoadCaptions);
  EXPECT_TRUE(waitShown);
  EXPECT_EQ(program->WaitForm(), nullptr);
  // Settings restored and applied to the port.
  EXPECT_TRUE(port->Connected());
  EXPECT_EQ(port->DeviceName(), QStringLiteral("COM2"));
  EXPECT_EQ(port->BaudRate(), br38400);
  EXPECT_EQ(Settings()->BaudRateIndex(), 4);
  EXPECT_NE(FindNode(Net().get(), QStringLiteral("D003")), nullptr);
  ASSERT_NE(program->MainForm(), nullptr);
  // The processes' and reports' ticks run from their windows' creation, whether shown or not.
  ASSERT_NE(program->Ticks(), nullptr);
  for (const TTick tick : {TTick::Processes, TTick::Reports}) {
    EXPECT_TRUE(program->Ticks()->Timer(tick).Active());
    EXPECT_EQ(program->Ticks()->Timer(tick).Interval(), TTickRunner::PeriodMs(tick));
  }
  EXPECT_EQ(Child<QTabWidget>(*program->MainForm(), "diagramPages")->count(), 1);
  EXPECT_EQ(program->MainForm()->ProgramState(), QStringLiteral("Работа"));
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_TRUE(program->Instance().Held());
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join(" | ").toStdString();
}

TEST_F(TStartUpTest, WithoutAutomaticRestoreTheTreesStayEmpty) {
  WriteSettings(Dir->path(), {.AutoLoad = false});
  WriteNetwork(QStringLiteral("D003"));
  Init();
  ASSERT_TRUE(program->Start());
  EXPECT_TRUE(captions.isEmpty());
  EXPECT_EQ(Net()->ComponentCount(), 0);
  EXPECT_EQ(program->WaitForm(), nullptr);
  EXPECT_TRUE(port->Connected());
  // Nothing was restored, but the poller runs from start-up on, and the status line says so.
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_EQ(program->MainForm()->ProgramState(), QStringLiteral("Работа"));
}

TEST_F(TStartUpTest, FirstStartMakesTheFoldersAndSaysWhatIsMissing) {
  Init();
  ASSERT_TRUE(program->Start());
  EXPECT_TRUE(QDir(Path(QStringLiteral("Config"))).exists());
  EXPECT_TRUE(QDir(Path(QStringLiteral("Archives"))).exists());
  // The main window comes first and finds no pages; then the settings find no port.
  EXPECT_EQ(Messages->Texts(),
            QStringList({QStringLiteral("Мнемосхемы отсутствуют!\r\nУкажите мнемосхемы в окне 'Настройка "
                                        "параметров сети'."),
                         QStringLiteral("Порт связи не установлен!"),
                         QStringLiteral("Скорость обмена не установлена!")}));
  EXPECT_FALSE(port->Connected());
  EXPECT_EQ(program->WaitForm(), nullptr);
  EXPECT_EQ(Net()->ComponentCount(), 0);
  EXPECT_NE(program->MainForm(), nullptr);
}

TEST_F(TStartUpTest, APortThatCannotOpenIsReportedAndStartUpGoesOn) {
  WriteSettings(Dir->path(), {.AutoLoad = false});
  failOpen = true;
  Init();
  ASSERT_TRUE(program->Start());
  ASSERT_FALSE(Messages->Shown.empty());
  EXPECT_EQ(Messages->Shown[0].Text, QStringLiteral("Порт не существует или занят!"));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_FALSE(port->Connected());
  EXPECT_EQ(program->WaitForm(), nullptr);
  EXPECT_NE(program->MainForm(), nullptr);
}

TEST_F(TStartUpTest, ABrokenStateFileIsReportedAndTheWaitWindowStillCloses) {
  WriteSettings(Dir->path(), {});
  // A sound compound file whose object stream is not one.
  auto file = CompoundFile::Create();
  file->Root().CreateStream(QStringLiteral("Object")) = QByteArray(300, '\x7F');
  ASSERT_TRUE(file->Save(Path(QStringLiteral("Config/NET.cfg"))));
  Init();
  ASSERT_TRUE(program->Start());
  EXPECT_EQ(program->WaitForm(), nullptr);
  ASSERT_EQ(Messages->Shown.size(), 1u) << Messages->Texts().join(" | ").toStdString();
  EXPECT_TRUE(Messages->Shown[0].Text.startsWith(QStringLiteral("Ошибка чтения состояния сети")));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_TRUE(port->Connected());
}

// The same told by the real box, which runs its own loop while start-up is under way.
TEST_F(TStartUpTest, ABrokenStateFileIsToldByTheRealBoxAndStartUpGoesOn) {
  WriteSettings(Dir->path(), {});
  auto file = CompoundFile::Create();
  file->Root().CreateStream(QStringLiteral("Object")) = QByteArray(300, '\x7F');
  ASSERT_TRUE(file->Save(Path(QStringLiteral("Config/NET.cfg"))));
  Init();
  TRealMessageBoxes boxes(TBoxClose::Click);
  ASSERT_TRUE(program->Start());
  EXPECT_EQ(boxes.Answered, 1);
  EXPECT_EQ(program->WaitForm(), nullptr);
  ASSERT_EQ(Messages->Shown.size(), 1u) << Messages->Texts().join(" | ").toStdString();
  EXPECT_TRUE(Messages->Shown[0].Text.startsWith(QStringLiteral("Ошибка чтения состояния сети")));
  EXPECT_TRUE(Current().PollerRunning());
}

// A network file cut short, as an interrupted copy leaves it: told once with its name, the network
// empty and the other trees restored; the operator's save at exit keeps the cut file aside.
TEST_F(TStartUpTest, ACutNetworkFileIsToldAndKeptAsideWhenTheOperatorSavesAtExit) {
  WriteSettings(Dir->path(), {});
  WriteNetwork(QStringLiteral("D003"));
  {
    TRootNode tasks(nullptr);
    tasks.SetName(QStringLiteral("TASKS"));
    (new TRootNode(&tasks))->SetName(QStringLiteral("P1"));  // owned by tasks
    ASSERT_TRUE(SaveTreeFile(Current(), tasks));
  }
  const QString net = Path(QStringLiteral("Config/NET.cfg"));
  QFile file(net);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.resize(file.size() / 2));
  file.close();
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray cut = file.readAll();
  file.close();

  Init();
  ASSERT_TRUE(program->Start());
  EXPECT_EQ(program->WaitForm(), nullptr);
  ASSERT_EQ(Messages->Shown.size(), 1u) << Messages->Texts().join(" | ").toStdString();
  const QString text = Messages->Shown[0].Text;
  EXPECT_TRUE(text.startsWith(QStringLiteral("Ошибка чтения состояния сети"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("\n") + net + QStringLiteral(": "))) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("TASKS.cfg")));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_EQ(Net()->ComponentCount(), 0);
  EXPECT_NE(Tasks()->FindComponent(QStringLiteral("P1")), nullptr);
  EXPECT_TRUE(Current().PollerRunning());

  Messages->Shown.clear();
  Messages->Answers = {mbYes};  // "Сохранить текущее состояние сети?"
  EXPECT_TRUE(program->MainForm()->close());
  ASSERT_EQ(Messages->Shown.size(), 1u) << Messages->Texts().join(" | ").toStdString();
  QFile aside(net + QStringLiteral(".unreadable-20261207-1200"));
  ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
  EXPECT_EQ(aside.readAll(), cut);
  EXPECT_TRUE(CompoundFile::IsStorageFile(net));
}

TEST_F(TStartUpTest, ShutdownTakesEverythingDownAndFreesTheName) {
  WriteSettings(Dir->path(), {.AutoLoad = false});
  Init();
  ASSERT_TRUE(program->Start());
  ASSERT_TRUE(TSingleInstance::OtherInstanceRunning());
  UseNetwork(nullptr);
  program->Shutdown();
  EXPECT_EQ(program->MainForm(), nullptr);
  EXPECT_EQ(program->Network(), nullptr) << "the network, its poller, port, settings and trees are gone";
  EXPECT_FALSE(TSingleInstance::OtherInstanceRunning());
  EXPECT_FALSE(QFile::exists(TSingleInstance::ServerName()));
  program->Shutdown();  // once only
}

TEST_F(TStartUpTest, ASocketLeftByACrashedCopyDoesNotCountAsARunningCopy) {
  {
    QFile stale(TSingleInstance::ServerName());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  }
  WriteSettings(Dir->path(), {.AutoLoad = false});
  Init();
  ASSERT_TRUE(program->Start());
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_TRUE(program->Instance().Held());
  EXPECT_TRUE(TSingleInstance::OtherInstanceRunning());
}

TEST(SingleInstanceTest, OnlyTheActivationLineIsAnswered) {
  TSingleInstance first;
  int activations = 0;
  first.OnActivate = [&] { ++activations; };
  ASSERT_TRUE(first.Acquire());
  TSingleInstance second;
  EXPECT_FALSE(second.Acquire());  // the name is taken
  // Served from this thread's event loop, so ask from another thread.
  bool confirmed = false;
  std::unique_ptr<QThread> asker(
      QThread::create([&] { confirmed = TSingleInstance::ActivateOtherInstance(); }));
  asker->start();
  while (!asker->isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(activations, 1);
  first.Release();
  EXPECT_FALSE(TSingleInstance::OtherInstanceRunning());
  EXPECT_FALSE(TSingleInstance::ActivateOtherInstance(200));
}

TEST(SingleInstanceTest, AGivenFolderHasANameOfItsOwnWhateverItsSpelling) {
  QTemporaryDir a;
  QTemporaryDir b;
  ASSERT_TRUE(QFile::link(a.path(), b.filePath("link")));
  const QString name = TSingleInstance::ServerName(a.path());
  EXPECT_TRUE(TSingleInstance::ServerName().endsWith("/Vexa"));  // without a folder, as always
  EXPECT_NE(name, TSingleInstance::ServerName());
  EXPECT_NE(name, TSingleInstance::ServerName(b.path()));
  for (const QString& spelling :
       {a.path() + "/", a.path() + "/./", b.path() + "/../" + QDir(a.path()).dirName(), b.filePath("link")})
    EXPECT_EQ(TSingleInstance::ServerName(spelling), name) << spelling.toStdString();

  TSingleInstance first;
  ASSERT_TRUE(first.Acquire(a.path()));
  EXPECT_TRUE(TSingleInstance::OtherInstanceRunning(a.path()));
  EXPECT_TRUE(TSingleInstance::OtherInstanceRunning(b.filePath("link")));
  EXPECT_FALSE(TSingleInstance::OtherInstanceRunning(b.path()));
  EXPECT_FALSE(TSingleInstance::OtherInstanceRunning());
  TSingleInstance other;
  EXPECT_TRUE(other.Acquire(b.path()));
  EXPECT_TRUE(other.Acquire());  // held already: one name per copy
  first.Release();
  EXPECT_FALSE(QFile::exists(name));
}

// A copy holds `held` (empty: the per-user name); the program over the test folder starts with the
// folder given on its command line or not.
struct TFolderCase {
  const char* Name;
  bool HeldIsTestFolder;
  bool HeldPerUser;
  bool PerFolder;
  bool Asked;
};

class TFolderInstanceTest : public TStartUpTest, public ::testing::WithParamInterface<TFolderCase> {};

TEST_P(TFolderInstanceTest, TheQuestionComesOnlyForTheSameName) {
  const TFolderCase& c = GetParam();
  QTemporaryDir other;
  TSingleInstance running;
  ASSERT_TRUE(running.Acquire(c.HeldPerUser ? QString() : c.HeldIsTestFolder ? Dir->path() : other.path()));
  WriteSettings(Dir->path(), {.AutoLoad = false});
  Init();
  program->SetInstancePerFolder(c.PerFolder);
  Messages->Answers = {mbYes};  // asked: a second copy all the same
  ASSERT_TRUE(program->Start());
  const bool asked =
      !Messages->Shown.empty() &&
      Messages->Shown[0].Text.startsWith(QStringLiteral("Обнаружена запущенная копия программы."));
  EXPECT_EQ(asked, c.Asked);
  // Not asked: this copy announces itself under its own name.
  EXPECT_EQ(program->Instance().Held(), !c.Asked);
  if (!c.Asked) {
    EXPECT_TRUE(TSingleInstance::OtherInstanceRunning(c.PerFolder ? Dir->path() : QString()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, TFolderInstanceTest,
    ::testing::Values(TFolderCase{"SameFolderGiven", true, false, true, true},
                      TFolderCase{"OtherFolderGiven", false, false, true, false},
                      TFolderCase{"PerUserCopyRunsFolderGiven", false, true, true, false},
                      TFolderCase{"NoFolderGivenFolderCopyRuns", true, false, false, false},
                      TFolderCase{"NoFolderGivenPerUserCopyRuns", false, true, false, true}),
    [](const ::testing::TestParamInfo<TFolderCase>& info) { return std::string(info.param.Name); });

// --- one writer per folder ------------------------------------------------------------------------

// What the program tells when another program holds its folder.
QString FolderBusyMessage(const QString& folder, const QString& holder, qint64 pid) {
  return QStringLiteral(
             "Папка программы %1 занята: её использует %2 (процесс %3).\r\n"
             "Две программы в одной папке затёрли бы сохранения друг друга.\r\n"
             "Закройте её или дождитесь её завершения и запустите Vexa снова.")
      .arg(folder, holder)
      .arg(pid);
}

TEST_F(TStartUpTest, TheProgramHoldsItsFolderFromStartToShutdownAndSweepsItFirst) {
  WriteSettings(Dir->path(), {.AutoLoad = false});
  QDir().mkpath(Path(QStringLiteral("Archives")));
  // Temporaries of saves that never finished: of an ended process, and of one still running.
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  QProcess running;
  running.start(QStringLiteral("sleep"), {QStringLiteral("60")});
  ASSERT_TRUE(running.waitForStarted(5000));
  const QStringList stale = {
      Path(QStringLiteral("Archives/.Печь_07_12_2026_0905.%1-k3j9x0a1b2.tmp").arg(ended)),
      Path(QStringLiteral("Config/.NET.cfg.%1-k3j9x0a1b2.tmp").arg(ended))};
  const QString live =
      Path(QStringLiteral("Archives/.Печь_07_12_2026_1005.%1-k3j9x0a1b2.tmp").arg(running.processId()));
  for (const QString& path : stale + QStringList{live}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("half");
  }

  Init();
  ASSERT_TRUE(program->Start());
  EXPECT_TRUE(program->FolderLock().Held());
  for (const QString& path : stale) EXPECT_FALSE(QFile::exists(path)) << path.toStdString();
  EXPECT_TRUE(QFile::exists(live));
  TFolderLock other;
  EXPECT_EQ(other.Take(Dir->path(), QStringLiteral("vexa-cli run")), TFolderLock::TOutcome::Busy);
  EXPECT_EQ(other.Holder().Program, QStringLiteral("vexa"));
  EXPECT_EQ(other.Holder().Pid, QCoreApplication::applicationPid());
  program->Shutdown();
  EXPECT_EQ(other.Take(Dir->path(), QStringLiteral("vexa-cli run")), TFolderLock::TOutcome::Taken);
  running.kill();
  running.waitForFinished(5000);
}

TEST_F(TStartUpTest, AFolderARunHoldsIsRefusedWithTheMessageAndNoWindow) {
  WriteSettings(Dir->path(), {.AutoLoad = false});
  QProcess run;
  run.start(QStringLiteral(VEXA_CLI_PATH), {"--demo", "--dir", Dir->path(), "run", "--seconds", "60"});
  ASSERT_TRUE(run.waitForStarted(10000));
  const qint64 pid = run.processId();
  const auto endRun = qScopeGuard([&run] {
    run.kill();
    run.waitForFinished(5000);
  });
  // It names itself in the lock file once it holds the folder.
  ASSERT_TRUE(WaitUntilFolderHeld(run, Dir->path(), QStringLiteral("vexa-cli run")))
      << "the run never took its folder: " << run.readAllStandardError().toStdString();
  ASSERT_EQ(run.state(), QProcess::Running) << run.readAllStandardError().toStdString();

  // The real message box, closed by the operator's Enter.
  Services().Messages = std::make_unique<TMessageBoxService>();
  QString shown;
  WhenModal<QMessageBox>([&shown](QMessageBox* box) {
    shown = box->text();
    KeyClick(box, Qt::Key_Return);
  });
  program = std::make_unique<TProgram>(Dir->path());
  program->InitCore(std::make_unique<TFakeComm>(*Clock));
  UseNetwork(program->Network());
  EXPECT_FALSE(program->Start());
  // The box shows the lines broken as the text breaks them.
  EXPECT_EQ(shown.remove(QLatin1Char('\r')),
            FolderBusyMessage(Dir->path(), QStringLiteral("vexa-cli run"), pid).remove(QLatin1Char('\r')));
  EXPECT_TRUE(program->FolderRefused());
  EXPECT_TRUE(program->CreatedWindows().isEmpty());
  EXPECT_EQ(program->MainForm(), nullptr);
  EXPECT_FALSE(program->Instance().Held()) << "announced no copy after all";
  program->Shutdown();
  EXPECT_EQ(program->Network(), nullptr);
  UseNetwork(nullptr);
  EXPECT_EQ(run.state(), QProcess::Running);
}

// --- against a real first copy -------------------------------------------------------------------

#ifdef VEXA_APP_PATH
class TSecondCopyTest : public TStartUpTest {
 protected:
  void SetUp() override {
    TStartUpTest::SetUp();
    // The first copy's own folder (its program file there, as the folder is where the program file
    // is: a symbolic link would lead back to the build folder), a terminal as its port.
    first = std::make_unique<QTemporaryDir>();
    const QString exe = first->path() + QStringLiteral("/vexa");
    if (::link(VEXA_APP_PATH, QFile::encodeName(exe).constData()) != 0) {
      ASSERT_TRUE(QFile::copy(QStringLiteral(VEXA_APP_PATH), exe));
    }
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    QDir().mkpath(first->path() + QStringLiteral("/Ports"));
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(::ptsname(master)),
                            first->path() + QStringLiteral("/Ports/COM1")));
    WriteSettings(first->path(), {.PortIndex = 0, .BaudRateIndex = 3, .AutoLoad = false, .Demo = true});

    // By --dir the program file stays in the build folder and the folder is given.
    process.setProgram(byDir ? QStringLiteral(VEXA_APP_PATH) : first->path() + QStringLiteral("/vexa"));
    if (byDir) process.setArguments({QStringLiteral("--dir"), first->path()});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    ASSERT_TRUE(process.waitForStarted(5000));
    QDeadlineTimer deadline(20000);
    const QString name = byDir ? first->path() : QString();
    while (!TSingleInstance::OtherInstanceRunning(name) && !deadline.hasExpired() &&
           process.state() == QProcess::Running)
      QThread::msleep(20);
    ASSERT_TRUE(TSingleInstance::OtherInstanceRunning(name)) << "the first copy never came up";
    // Its start-up work makes the archive folder in its own folder.
    while (!QDir(first->path() + QStringLiteral("/Archives")).exists() && !deadline.hasExpired())
      QThread::msleep(20);
    ASSERT_TRUE(QDir(first->path() + QStringLiteral("/Archives")).exists()) << "ran in the wrong folder";
  }
  void TearDown() override {
    process.terminate();
    if (!process.waitForFinished(5000)) {
      process.kill();
      process.waitForFinished(5000);
    }
    if (master >= 0) ::close(master);
    TStartUpTest::TearDown();
  }

  std::unique_ptr<QTemporaryDir> first;
  QProcess process;
  int master = -1;
  bool byDir = false;
};

// The first copy runs on a folder given by --dir.
class TFolderCopyTest : public TSecondCopyTest {
 protected:
  TFolderCopyTest() { byDir = true; }
};

TEST_F(TFolderCopyTest, ASecondStartOnTheSameFolderHandsOverAndAnotherFolderRunsItsOwnCopy) {
  // The per-user name is not taken by a copy with a folder of its own.
  EXPECT_FALSE(TSingleInstance::OtherInstanceRunning());
  EXPECT_TRUE(QFile::exists(first->path() + QStringLiteral("/Config/SETUP.cfg")));

  // The same folder, spelt differently: the question, and declining brings the first copy forward.
  program = std::make_unique<TProgram>(first->path() + QStringLiteral("/./"));
  program->InitCore(std::make_unique<TFakeComm>(*Clock));
  UseNetwork(program->Network());
  program->SetInstancePerFolder(true);
  Messages->Answers = {mbNo};
  EXPECT_FALSE(program->Start());
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text,
            QStringLiteral("Обнаружена запущенная копия программы.\r\nЗапустить новую копию?"));
  EXPECT_EQ(program->MainForm(), nullptr);
  EXPECT_TRUE(TSingleInstance::ActivateOtherInstance(3000, first->path()));
  program->Shutdown();
  program.reset();

  // Another folder: no question, a copy of its own.
  WriteSettings(Dir->path(), {.AutoLoad = false});
  Messages->Shown.clear();
  Init();
  program->SetInstancePerFolder(true);
  ASSERT_TRUE(program->Start());
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join(" | ").toStdString();
  EXPECT_TRUE(program->Instance().Held());
  EXPECT_EQ(process.state(), QProcess::Running);
}

TEST_F(TFolderCopyTest, WhileTheProgramIsOpenTheWritersAreRefusedAndACopyStartedAnywayIsToo) {
  const qint64 pid = process.processId();
  const QString busy = QStringLiteral("Папка программы %1 занята: её использует vexa (процесс %2).")
                           .arg(first->path())
                           .arg(pid);
  QFile text(Dir->filePath(QStringLiteral("templates.txt")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("TRootNode TTEMPLATES Caption='Шаблоны процессов'\n  TRootNode P001 Caption='Отжиг'\n");
  text.close();
  const QString templates = first->path() + QStringLiteral("/Config/TTEMPLATES.cfg");
  const struct {
    const char* Name;
    QStringList Args;
  } writers[] = {
      {"run", {"--demo", "--dir", first->path(), "run", "--seconds", "1"}},
      {"load", {"load", text.fileName(), templates}},
  };
  for (const auto& w : writers) {
    SCOPED_TRACE(w.Name);
    const TRun run = RunProgram(QStringLiteral(VEXA_CLI_PATH), w.Args);
    EXPECT_EQ(run.Code, 1);
    EXPECT_TRUE(run.Err.contains(busy)) << run.Err.toStdString();
  }
  EXPECT_FALSE(QFile::exists(templates));
  // A reader works on.
  const TRun dump = RunProgram(QStringLiteral(VEXA_CLI_PATH), {"dump", first->path() + "/Config/SETUP.cfg"});
  EXPECT_EQ(dump.Code, 0) << dump.Err.toStdString();

  // A second copy on the same folder, started anyway: told who holds the folder, and no window.
  program = std::make_unique<TProgram>(first->path());
  program->InitCore(std::make_unique<TFakeComm>(*Clock));
  UseNetwork(program->Network());
  program->SetInstancePerFolder(true);
  Messages->Answers = {mbYes};
  EXPECT_FALSE(program->Start());
  ASSERT_EQ(Messages->Shown.size(), 2u);
  EXPECT_EQ(Messages->Shown[1].Text, FolderBusyMessage(first->path(), QStringLiteral("vexa"), pid));
  EXPECT_EQ(Messages->Shown[1].Icon, TMsgIcon::Error);
  EXPECT_TRUE(program->FolderRefused());
  EXPECT_EQ(program->MainForm(), nullptr);
  program->Shutdown();
  EXPECT_EQ(process.state(), QProcess::Running);
}

TEST_F(TSecondCopyTest, DecliningBringsTheFirstCopyForwardAndOpensNoWindow) {
  WriteSettings(Dir->path(), {.AutoLoad = false});
  Init();
  Messages->Answers = {mbNo};
  EXPECT_FALSE(program->Start());
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text,
            QStringLiteral("Обнаружена запущенная копия программы.\r\nЗапустить новую копию?"));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Question);
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo));
  EXPECT_TRUE(program->CreatedWindows().isEmpty());
  EXPECT_EQ(program->MainForm(), nullptr);
  EXPECT_FALSE(program->Instance().Held());
  // The first copy answers every activation request once its window has come forward.
  EXPECT_TRUE(TSingleInstance::ActivateOtherInstance());
  EXPECT_EQ(process.state(), QProcess::Running);
  // The core's shutdown still runs.
  program->Shutdown();
  EXPECT_EQ(program->Network(), nullptr);
  UseNetwork(nullptr);
}

TEST_F(TSecondCopyTest, AcceptingRunsASecondCopyBesideTheFirst) {
  WriteSettings(Dir->path(), {.AutoLoad = false});
  Init();
  Messages->Answers = {mbYes};
  ASSERT_TRUE(program->Start());
  ASSERT_NE(program->MainForm(), nullptr);
  EXPECT_EQ(Messages->Shown[0].Text,
            QStringLiteral("Обнаружена запущенная копия программы.\r\nЗапустить новую копию?"));
  // It announces nothing: the first copy still holds the name.
  EXPECT_FALSE(program->Instance().Held());
  EXPECT_EQ(process.state(), QProcess::Running);
  EXPECT_TRUE(TSingleInstance::OtherInstanceRunning());
  program->Shutdown();
  EXPECT_TRUE(TSingleInstance::OtherInstanceRunning());
}
#endif

}  // namespace
}  // namespace vexa::test
