// One writer per program folder, and the sweep of what killed saves leave behind: the lock between
// holders of this process and of others (the system's lock is per open file, so two holders in one
// process exclude each other as two processes do), the holder's lines, and temporaries of ended and
// running processes.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <climits>

#include "core/FileDescriptor.h"
#include "storage/AtomicFile.h"
#include "storage/FolderLock.h"

namespace vexa {
namespace {

void WriteFile(const QString& path, const QByteArray& bytes, int ageSeconds = 0) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(bytes);
  ASSERT_TRUE(file.flush());  // before the time is set, or the write sets it again
  if (ageSeconds != 0) {
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds),
                                 QFileDevice::FileModificationTime));
  }
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                QDir::Name);
}

// The number of a process that has ended (and was reaped).
qint64 EndedProcess() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// A process that runs until the test ends it.
class TRunningProcess {
 public:
  TRunningProcess() {
    process_.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    EXPECT_TRUE(process_.waitForStarted(5000));
    pid_ = process_.processId();
  }
  ~TRunningProcess() { End(); }
  qint64 Pid() const { return pid_; }
  void End() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(5000);
  }

 private:
  QProcess process_;
  qint64 pid_ = 0;
};

// --- the lock ------------------------------------------------------------------------------------

TEST(FolderLockTest, ASecondHolderIsRefusedWithTheFirstOnesNameUntilItLetsGo) {
  QTemporaryDir dir;
  TFolderLock first;
  ASSERT_EQ(first.Take(dir.path(), QStringLiteral("vexa-cli run")), TFolderLock::TOutcome::Taken);
  EXPECT_TRUE(first.Held());
  // The file says who holds the folder, for those who are refused.
  EXPECT_EQ(
      ReadFile(TFolderLock::LockFilePath(dir.path())),
      QStringLiteral("%1\nvexa-cli run\n%2\n").arg(::getpid()).arg(QSysInfo::machineHostName()).toUtf8());

  TFolderLock second;
  EXPECT_EQ(second.Take(dir.path() + QStringLiteral("/."), QStringLiteral("vexa")),
            TFolderLock::TOutcome::Busy);
  EXPECT_FALSE(second.Held());
  EXPECT_EQ(second.Holder().Program, QStringLiteral("vexa-cli run"));
  EXPECT_EQ(second.Holder().Pid, ::getpid());
  EXPECT_EQ(FolderBusyText(QStringLiteral("/srv/vexa"), second.Holder()),
            QStringLiteral("Папка программы /srv/vexa занята: её использует vexa-cli run (процесс %1).")
                .arg(::getpid()));

  // Another folder is free.
  QTemporaryDir other;
  TFolderLock elsewhere;
  EXPECT_EQ(elsewhere.Take(other.path(), QStringLiteral("vexa")), TFolderLock::TOutcome::Taken);

  first.Release();
  EXPECT_TRUE(ReadFile(TFolderLock::LockFilePath(dir.path())).isEmpty()) << "no holder named after it went";
  EXPECT_EQ(second.Take(dir.path(), QStringLiteral("vexa")), TFolderLock::TOutcome::Taken);
  EXPECT_EQ(first.Take(dir.path(), QStringLiteral("vexa-cli run")), TFolderLock::TOutcome::Busy);
  EXPECT_EQ(first.Holder().Program, QStringLiteral("vexa"));
}

TEST(FolderLockTest, LinesLeftByAnEndedHolderNameNobody) {
  QTemporaryDir dir;
  const QString path = TFolderLock::LockFilePath(dir.path());
  const QString host = QSysInfo::machineHostName();
  // A holder killed before it could clear its lines: they do not keep anybody out.
  WriteFile(path, QStringLiteral("%1\nvexa\n%2\n").arg(EndedProcess()).arg(host).toUtf8());
  {
    TFolderLock lock;
    EXPECT_EQ(lock.Take(dir.path(), QStringLiteral("vexa-cli load")), TFolderLock::TOutcome::Taken);
  }

  // Held by a process that has not yet written its lines over an ended holder's: refused, but the
  // ended one is not named.
  WriteFile(path, QStringLiteral("%1\nvexa\n%2\n").arg(EndedProcess()).arg(host).toUtf8());
  TFileDescriptor raw(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(raw.Valid());
  ASSERT_EQ(::flock(raw.Get(), LOCK_EX | LOCK_NB), 0);
  TFolderLock refused;
  EXPECT_EQ(refused.Take(dir.path(), QStringLiteral("vexa")), TFolderLock::TOutcome::Busy);
  EXPECT_EQ(refused.Holder().Pid, 0);
  EXPECT_EQ(FolderBusyText(QStringLiteral("/srv/vexa"), refused.Holder()),
            QStringLiteral("Папка программы /srv/vexa занята: её использует другая программа."));

  // A holder on another computer (a shared folder) is named with it.
  WriteFile(path, "4321\nvexa-cli run\nplant-pc-2\n");
  EXPECT_EQ(refused.Take(dir.path(), QStringLiteral("vexa")), TFolderLock::TOutcome::Busy);
  EXPECT_EQ(FolderBusyText(QStringLiteral("/srv/vexa"), refused.Holder()),
            QStringLiteral("Папка программы /srv/vexa занята: её использует vexa-cli run (процесс 4321 на "
                           "компьютере plant-pc-2)."));
}

TEST(FolderLockTest, WhereNoLockCanBeMadeTheWriterIsToldWhy) {
  QTemporaryDir dir;
  TFolderLock lock;
  EXPECT_EQ(lock.Take(dir.filePath(QStringLiteral("missing")), QStringLiteral("vexa")),
            TFolderLock::TOutcome::Unavailable);
  EXPECT_TRUE(lock.Why().contains(QStringLiteral("папка не существует"))) << lock.Why().toStdString();
  EXPECT_FALSE(lock.Held());
  // A link in the lock file's place is never followed.
  ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("elsewhere")), TFolderLock::LockFilePath(dir.path())));
  EXPECT_EQ(lock.Take(dir.path(), QStringLiteral("vexa")), TFolderLock::TOutcome::Unavailable);
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("elsewhere"))));
}

// Whatever keeps the lock from being taken refuses the writer, and the reason is told.
TEST(FolderLockTest, ALockThatCannotBeTakenRefusesTheWriterWithTheReason) {
  const auto faultAt = [](TFileStep at, int error, int times = INT_MAX) {
    return [at, error, times, calls = 0](TFileStep step, const QString&) mutable {
      return step == at && calls++ < times ? error : 0;
    };
  };
  const struct {
    const char* What;
    bool DirectoryInPlace;
    TFileFault Fault;
    const char* Says;
  } cases[] = {
      {"a folder in the lock file's place", true, {}, "на месте файла папка"},
      {"no rights to the lock file", false, faultAt(TFileStep::OpenLock, EACCES), "нет прав на запись"},
      {"a read-only folder without a lock file", false, faultAt(TFileStep::OpenLock, EROFS),
       "диск доступен только для чтения"},
      {"flock refused", false, faultAt(TFileStep::Lock, ENOLCK), "система не запирает файлы"},
      {"flock failing otherwise", false, faultAt(TFileStep::Lock, EIO), "не могу запереть"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    QTemporaryDir dir;
    if (c.DirectoryInPlace) {
      ASSERT_TRUE(QDir().mkdir(TFolderLock::LockFilePath(dir.path())));
    }
    SetFileFault(c.Fault);
    TFolderLock lock;
    const TFolderLock::TOutcome outcome = lock.Take(dir.path(), QStringLiteral("vexa"));
    SetFileFault({});
    EXPECT_EQ(outcome, TFolderLock::TOutcome::Unavailable);
    EXPECT_FALSE(lock.Held());
    EXPECT_TRUE(lock.Why().contains(QString::fromUtf8(c.Says))) << lock.Why().toStdString();
    EXPECT_TRUE(lock.Why().contains(TFolderLock::LockFilePath(dir.path()))) << lock.Why().toStdString();
    EXPECT_EQ(FolderLockFailedText(QStringLiteral("/srv/vexa"), lock.Why()),
              QStringLiteral("Папку программы /srv/vexa не удалось запереть от других программ: %1.")
                  .arg(lock.Why()));
  }
  // A lock file that may only be read (another user's) locks all the same.
  QTemporaryDir dir;
  WriteFile(TFolderLock::LockFilePath(dir.path()), "");
  SetFileFault(faultAt(TFileStep::OpenLock, EACCES, 1));
  TFolderLock lock;
  EXPECT_EQ(lock.Take(dir.path(), QStringLiteral("vexa")), TFolderLock::TOutcome::Taken);
  SetFileFault({});
  TFolderLock second;
  EXPECT_EQ(second.Take(dir.path(), QStringLiteral("vexa-cli run")), TFolderLock::TOutcome::Busy);
}

TEST(FolderLockTest, TheProgramFolderOfAFileIsTheOneAboveItsConfigOrArchives) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("Config")));
  const struct {
    QString File;
    std::optional<QString> Folder;
  } cases[] = {
      {dir.filePath(QStringLiteral("Config/TTEMPLATES.cfg")), dir.path()},
      {dir.filePath(QStringLiteral("Config/../Config/NET.cfg")), dir.path()},
      {dir.filePath(QStringLiteral("Archives/Печь_07_12_2026_0905")), dir.path()},
      {dir.filePath(QStringLiteral("templates.cfg")), std::nullopt},
      {dir.filePath(QStringLiteral("config/NET.cfg")), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File.toStdString());
    EXPECT_EQ(ProgramFolderOf(c.File), c.Folder);
  }
  // A relative name, from inside the folder.
  const QString current = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.filePath(QStringLiteral("Config"))));
  EXPECT_EQ(ProgramFolderOf(QStringLiteral("NET.cfg")), QFileInfo(dir.path()).canonicalFilePath());
  QDir::setCurrent(current);
}

// --- the sweep -----------------------------------------------------------------------------------

QString Temporary(const QString& target, qint64 pid, const char* random = "k3j9x0a1b2c3") {
  return QStringLiteral(".%1.%2-%3.tmp").arg(target).arg(pid).arg(QLatin1String(random));
}

TEST(StaleTemporariesTest, TheTemporariesOfEndedProcessesGoThoseOfRunningOnesStay) {
  QTemporaryDir dir;
  TRunningProcess running;
  const qint64 ended = EndedProcess();
  const qint64 self = ::getpid();
  const struct {
    QString Name;
    int AgeSeconds;
    bool Stays;
  } cases[] = {
      {Temporary(QStringLiteral("Печь_07_12_2026_0905"), ended), 3600, false},
      {Temporary(QStringLiteral("NET.cfg"), ended), 0, false},  // ended a moment ago
      {Temporary(QStringLiteral("TASKS.cfg"), running.Pid()), 0, true},
      {Temporary(QStringLiteral("TASKS.cfg"), running.Pid(), "a1"), 5, true},
      // Last written long before its process began: the number was someone else's.
      {Temporary(QStringLiteral("REPORTS.cfg"), running.Pid(), "b2"), 7200, false},
      {Temporary(QStringLiteral("SETUP.cfg"), self), 0, true},  // a save of this very process
      // Of earlier versions, without a process: by age.
      {QStringLiteral(".Котел_1_07_12_2026_1200.k3j9x0a1b2c3.tmp"), 3600, false},
      {QStringLiteral(".NET.cfg.k3j9x0a1b2c3.tmp"), 5, true},
      // Not names a save makes.
      {QStringLiteral(".NET.cfg.my.notes.tmp"), 3600, true},
      {QStringLiteral(".NET.cfg.0-ABC.tmp"), 3600, true},
      {QStringLiteral("NET.cfg.12-k3j9x0a1b2c3.tmp"), 3600, true},
      {QStringLiteral(".NET.cfg.x12-k3j9x0a1b2c3.tmp"), 3600, true},
      {QStringLiteral("NET.cfg"), 3600, true},
  };
  QStringList stays;
  for (const auto& c : cases) {
    WriteFile(dir.filePath(c.Name), "half a save", c.AgeSeconds);
    if (c.Stays) stays << c.Name;
  }
  // A folder and a link named like temporaries are nobody's saves.
  const QString folder = Temporary(QStringLiteral("A"), ended);
  const QString link = Temporary(QStringLiteral("B"), ended);
  ASSERT_TRUE(QDir(dir.path()).mkdir(folder));
  ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("NET.cfg")), dir.filePath(link)));
  stays << folder << link;
  stays.sort();

  EXPECT_EQ(RemoveStaleTemporaries(dir.path()), 4);
  EXPECT_EQ(Entries(dir.path()), stays);

  // Once its process ends, its temporary goes too.
  running.End();
  EXPECT_EQ(RemoveStaleTemporaries(dir.path()), 2);
  EXPECT_FALSE(QFile::exists(dir.filePath(Temporary(QStringLiteral("TASKS.cfg"), running.Pid()))));
  EXPECT_TRUE(QFile::exists(dir.filePath(Temporary(QStringLiteral("SETUP.cfg"), self))));
}

TEST(StaleTemporariesTest, EverySaveSweepsItsFolderFirstAndNamesItsOwnTemporaryWithItsProcess) {
  QTemporaryDir dir;
  TRunningProcess running;
  const QString dead = Temporary(QStringLiteral("Печь_07_12_2026_0905"), EndedProcess());
  const QString live = Temporary(QStringLiteral("Печь_07_12_2026_1005"), running.Pid());
  WriteFile(dir.filePath(dead), "half");
  WriteFile(dir.filePath(live), "half");

  // The save's own temporary, seen while it is written.
  QString own;
  QString why;
  ASSERT_TRUE(ReplaceFileAtomically(
      dir.filePath(QStringLiteral("NET.cfg")),
      [&](int fd) {
        char link[PATH_MAX] = {};
        const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
        if (::readlink(proc.constData(), link, sizeof link - 1) > 0)
          own = QFileInfo(QFile::decodeName(link)).fileName();
        EXPECT_FALSE(QFile::exists(dir.filePath(dead))) << "swept before the write";
        return ::write(fd, "new", 3) == 3;
      },
      &why))
      << why.toStdString();
  EXPECT_TRUE(own.startsWith(QStringLiteral(".NET.cfg.%1-").arg(::getpid()))) << own.toStdString();
  EXPECT_TRUE(IsReplaceTemporary(own, QStringLiteral("NET.cfg")));
  EXPECT_EQ(Entries(dir.path()), (QStringList{live, QStringLiteral("NET.cfg")}));

  // A save that fails still has swept; its own temporary goes with it.
  WriteFile(dir.filePath(dead), "half");
  SetFileFault([](TFileStep step, const QString&) { return step == TFileStep::Write ? ENOSPC : 0; });
  EXPECT_FALSE(WriteFileAtomically(dir.filePath(QStringLiteral("NET.cfg")), "newer", &why));
  SetFileFault({});
  EXPECT_TRUE(why.contains(QStringLiteral("на диске нет места"))) << why.toStdString();
  EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("NET.cfg"))), "new");
  EXPECT_EQ(Entries(dir.path()), (QStringList{live, QStringLiteral("NET.cfg")}));
}

TEST(StaleTemporariesTest, AtStartUpConfigAndArchivesAreSwept) {
  QTemporaryDir dir;
  TRunningProcess running;
  const qint64 ended = EndedProcess();
  for (const char* sub : {"Config", "Archives", "Ports"}) {
    ASSERT_TRUE(QDir(dir.path()).mkpath(QString::fromLatin1(sub)));
    WriteFile(dir.filePath(QStringLiteral("%1/%2").arg(sub, Temporary(QStringLiteral("x"), ended))), "half");
    WriteFile(dir.filePath(QStringLiteral("%1/%2").arg(sub, Temporary(QStringLiteral("y"), running.Pid()))),
              "half");
  }
  EXPECT_EQ(RemoveStaleTemporariesOfProgramFolder(dir.path()), 2);
  EXPECT_EQ(Entries(dir.filePath(QStringLiteral("Config"))),
            QStringList{Temporary(QStringLiteral("y"), running.Pid())});
  EXPECT_EQ(Entries(dir.filePath(QStringLiteral("Archives"))),
            QStringList{Temporary(QStringLiteral("y"), running.Pid())});
  EXPECT_EQ(Entries(dir.filePath(QStringLiteral("Ports"))).size(), 2) << "only the program's two folders";
}

}  // namespace
}  // namespace vexa
