// One writer per program folder, with real processes: a vexa-cli run holds its folder, every other
// writer is refused at once naming it and writes nothing, the readers work on, and a holder that was
// killed keeps nobody out. A writer's start also clears what killed saves left in the folder.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QThread>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "historian/HistoryStore.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/FolderLock.h"
#include "storage/TreeFiles.h"
#include "support/Cli.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

const QString kTemplates = QStringLiteral(
    "TRootNode TTEMPLATES Caption='Шаблоны процессов'\n"
    "  TRootNode P001 Caption='Отжиг'\n");

// Every file of the folder's Config/ and Archives/ with its bytes.
QMap<QString, QByteArray> Contents(const QString& dir) {
  QMap<QString, QByteArray> files;
  for (const char* sub : {"Config", "Archives"}) {
    const QDir folder(dir + QLatin1Char('/') + QLatin1String(sub));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) {
      if (IsHistoryFile(name)) continue;  // the run's own recording
      QFile file(folder.filePath(name));
      files[QLatin1String(sub) + QLatin1Char('/') + name] =
          file.open(QIODevice::ReadOnly) ? file.readAll() : "?";
    }
  }
  return files;
}

class CliLockTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
    AddRegulatorNode(*Net(), 0, QStringLiteral("Печь"));
    for (TRootNode* root : {Net().get(), Tasks().get(), Reports().get()})
      ASSERT_TRUE(SaveTreeFile(Current(), *root));
    TReportNode report(nullptr);
    report.SetCaption(QStringLiteral("Печь_07_12_2026_0905"));
    report.SetStartPoint(46363.375);
    report.SetLastPoint(46363.375 + 1.0 / 24);
    auto* reg = new TRegisterNode(&report);
    reg->SetName(TCustomRegister::RegisterName(0, 0, 4));
    reg->SetCaption(QStringLiteral("Уставка"));
    reg->SetPoints({"07.12.2026 9:05:00", "07.12.2026 9:05:03"});
    reg->SetDataList({"20", "21"});
    ASSERT_TRUE(SaveArchive(Current().Dir(), report));
    archive = ArchivePath(Current().Dir(), report.Caption());
  }
  void TearDown() override {
    if (holder.state() != QProcess::NotRunning) {
      holder.kill();
      holder.waitForFinished(5000);
    }
    TVexaTest::TearDown();
  }

  // Starts `vexa-cli run` on the folder and waits until it holds the folder.
  void StartHolder(const QString& seconds) {
    holder.setProgram(QStringLiteral(VEXA_CLI_PATH));
    holder.setArguments({"--demo", "--dir", Dir->path(), "run", "--seconds", seconds});
    holder.start();
    ASSERT_TRUE(holder.waitForStarted(10000));
    holderPid = holder.processId();
    ASSERT_TRUE(WaitUntilFolderHeld(holder, Dir->path(), QStringLiteral("vexa-cli run")))
        << "the run never took its folder: " << holder.readAllStandardError().toStdString();
  }

  QString Busy() const {
    return QStringLiteral("Папка программы %1 занята: её использует vexa-cli run (процесс %2).")
        .arg(Dir->path())
        .arg(holderPid);
  }

  QProcess holder;
  qint64 holderPid = 0;
  QString archive;
};

TEST_F(CliLockTest, WhileARunHoldsTheFolderOtherWritersAreRefusedAtOnceAndReadersWorkOn) {
  // What killed saves left: the temporary of an ended process goes when the writer starts, that of
  // a running one (a save of another program in progress, as far as anyone can tell) stays.
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  QProcess running;
  running.start(QStringLiteral("sleep"), {QStringLiteral("60")});
  ASSERT_TRUE(running.waitForStarted(5000));
  const QString stale =
      Dir->filePath(QStringLiteral("Archives/.Печь_07_12_2026_1005.%1-k3j9x0a1b2.tmp").arg(ended));
  const QString live =
      Dir->filePath(QStringLiteral("Config/.NET.cfg.%1-k3j9x0a1b2.tmp").arg(running.processId()));
  for (const QString& path : {stale, live}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("half");
  }

  StartHolder(QStringLiteral("120"));
  // The writer sweeps right after it took the folder; a slow start (the sanitizers) may still be at it.
  QDeadlineTimer swept(10000);
  while (QFile::exists(stale) && !swept.hasExpired()) QThread::msleep(20);
  EXPECT_FALSE(QFile::exists(stale));
  EXPECT_TRUE(QFile::exists(live));
  ASSERT_TRUE(QFile::remove(live));
  running.kill();
  running.waitForFinished(5000);

  QFile text(Dir->filePath(QStringLiteral("templates.txt")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write(kTemplates.toUtf8());
  text.close();
  const QMap<QString, QByteArray> before = Contents(Dir->path());
  QTemporaryDir elsewhere;
  const struct {
    const char* Name;
    QStringList Args;
    QString WorkDir;
  } writers[] = {
      {"a second run", {"--demo", "--dir", Dir->path(), "run", "--seconds", "1"}, {}},
      // The folder is the one the file lies in, wherever the command is given.
      {"load",
       {"load", text.fileName(), Dir->filePath(QStringLiteral("Config/TTEMPLATES.cfg"))},
       elsewhere.path()},
      {"load from inside the folder", {"load", text.fileName(), "Config/TTEMPLATES.cfg"}, Dir->path()},
      {"search --save", {"--demo", "--dir", Dir->path(), "search", "--last", "1", "--save"}, {}},
  };
  for (const auto& w : writers) {
    SCOPED_TRACE(w.Name);
    const TRun run = Cli(w.Args, {.WorkDir = w.WorkDir});
    EXPECT_EQ(run.Code, 1);
    EXPECT_TRUE(run.Err.contains(Busy())) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("ничего не записано"))) << run.Err.toStdString();
    // Refused at once: the holder is still at work.
    EXPECT_EQ(holder.state(), QProcess::Running);
  }
  EXPECT_EQ(Contents(Dir->path()), before);

  // Those that only read.
  const QString pdf = elsewhere.filePath(QStringLiteral("p.pdf"));
  const struct {
    const char* Name;
    QStringList Args;
  } readers[] = {
      {"dump", {"dump", ConfigFilePath(Current().Dir(), QStringLiteral("NET"))}},
      {"read", {"--demo", "--dir", Dir->path(), "read", "D000C000R003"}},
      {"archive-to-txt", {"archive-to-txt", archive}},
      {"print", {"print", archive, "--pdf", pdf}},
  };
  for (const auto& r : readers) {
    SCOPED_TRACE(r.Name);
    const TRun run = Cli(r.Args);
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_FALSE(run.Err.contains(QStringLiteral("занята"))) << run.Err.toStdString();
  }
  EXPECT_EQ(holder.state(), QProcess::Running);
  EXPECT_TRUE(QFile::exists(archive + QStringLiteral(".txt")));
  EXPECT_TRUE(QFile::exists(pdf));

  // Stopped as a service is, the holder saves as it ends, and the folder is free again: now the
  // template goes in and stays.
  holder.terminate();
  ASSERT_TRUE(holder.waitForFinished(60000));
  EXPECT_EQ(holder.exitCode(), 0) << holder.readAllStandardError().toStdString();
  const TRun load =
      Cli({"load", text.fileName(), ConfigFilePath(Current().Dir(), QStringLiteral("TTEMPLATES"))});
  ASSERT_EQ(load.Code, 0) << load.Err.toStdString();
  const TRun dump = Cli({"dump", ConfigFilePath(Current().Dir(), QStringLiteral("TTEMPLATES"))});
  EXPECT_TRUE(dump.Out.contains(QStringLiteral("TRootNode P001 Caption='Отжиг'"))) << dump.Out.toStdString();
}

// Where the lock cannot be taken, no writer can know it is alone: all are refused, readers work on.
TEST_F(CliLockTest, AFolderInTheLockFilesPlaceRefusesEveryWriter) {
  ASSERT_TRUE(QDir().mkdir(TFolderLock::LockFilePath(Dir->path())));
  QFile text(Dir->filePath(QStringLiteral("templates.txt")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write(kTemplates.toUtf8());
  text.close();
  const QMap<QString, QByteArray> before = Contents(Dir->path());
  const QStringList writers[] = {
      {"--demo", "--dir", Dir->path(), "run", "--seconds", "0.2"},
      {"load", text.fileName(), ConfigFilePath(Current().Dir(), QStringLiteral("TTEMPLATES"))},
  };
  for (const QStringList& args : writers) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const TRun run = Cli(args);
    EXPECT_EQ(run.Code, 1);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("Папку программы %1 не удалось запереть").arg(Dir->path())))
        << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("на месте файла папка"))) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("ничего не записано"))) << run.Err.toStdString();
  }
  EXPECT_EQ(Contents(Dir->path()), before);
  const TRun dump = Cli({"dump", ConfigFilePath(Current().Dir(), QStringLiteral("NET"))});
  EXPECT_EQ(dump.Code, 0) << dump.Err.toStdString();
}

TEST_F(CliLockTest, AKilledHolderKeepsNobodyOut) {
  StartHolder(QStringLiteral("120"));
  ::kill(static_cast<pid_t>(holderPid), SIGKILL);
  ASSERT_TRUE(holder.waitForFinished(10000));
  // Its lines are still in the lock file; the lock went with the process.
  QFile lock(TFolderLock::LockFilePath(Dir->path()));
  ASSERT_TRUE(lock.open(QIODevice::ReadOnly));
  EXPECT_TRUE(lock.readAll().startsWith(QByteArray::number(holderPid) + "\nvexa-cli run\n"));

  QFile text(Dir->filePath(QStringLiteral("templates.txt")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write(kTemplates.toUtf8());
  text.close();
  const TRun load =
      Cli({"load", text.fileName(), ConfigFilePath(Current().Dir(), QStringLiteral("TTEMPLATES"))});
  EXPECT_EQ(load.Code, 0) << load.Err.toStdString();
  const TRun run = Cli({"--demo", "--dir", Dir->path(), "run", "--seconds", "0.2"});
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  EXPECT_TRUE(Cli({"dump", ConfigFilePath(Current().Dir(), QStringLiteral("TTEMPLATES"))})
                  .Out.contains(QStringLiteral("P001")));
}

}  // namespace
}  // namespace vexa::test
