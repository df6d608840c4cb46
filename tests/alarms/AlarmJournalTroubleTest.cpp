// No alarm event is lost to the journal's troubles: another program's lock (during a run, when the
// journal is made, at start-up), a full disk, and each kind of damage. The events wait in the spill
// file, the operator is told, and every one is in the journal afterwards, in order; a damaged
// journal is kept aside. The lock is a real sqlite3 process holding BEGIN IMMEDIATE.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <csignal>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmJournalWriter.h"
#include "alarms/model/AlarmMonitor.h"
#include "support/ForeignLock.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

TAlarmEvent AskedWrite(int i, const QString& asked = QStringLiteral("1")) {
  TAlarmEvent e;
  e.Time = Now();
  e.Kind = TAlarmEventKind::RemoteWrite;
  e.Name = QStringLiteral("W%1").arg(i);
  e.Asked = asked;
  e.Outcome = OutcomeWord(TWriteOutcome::Written);
  e.Who = QStringLiteral("mqtt");
  e.Priority = 0;
  return e;
}

QStringList EventNames(const std::vector<TAlarmEvent>& events) {
  QStringList names;
  for (const TAlarmEvent& e : events) names << e.Name;
  return names;
}

QStringList WriteNames(int from, int to) {
  QStringList names;
  for (int i = from; i <= to; ++i) names << QStringLiteral("W%1").arg(i);
  return names;
}

class AlarmJournalTroubleTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    if (!HaveSqliteShell()) GTEST_SKIP() << "sqlite3 is not installed (scripts/deps installs it)";
  }
  QString Path() const { return AlarmJournalPath(Dir->path()); }

  std::unique_ptr<TAlarmMonitor> Monitor(QStringList* told = nullptr, TFaults* faults = nullptr) {
    auto monitor = std::make_unique<TAlarmMonitor>(Current());
    monitor->JournalRetryMs = 50;
    monitor->JournalOpenWaitMs = 10000;  // a slow machine's first word is still the start-up's
    if (told != nullptr)
      monitor->JournalNews = [told](const QString& text) {
        if (!text.isEmpty()) *told << text;
      };
    const TFaults opened = monitor->Open();
    if (faults != nullptr) *faults = opened;
    return monitor;
  }

  // A journal with the events W1..Wn, written and closed.
  void MakeJournal(int n) {
    auto monitor = Monitor();
    for (int i = 1; i <= n; ++i) monitor->Note(AskedWrite(i));
    ASSERT_TRUE(monitor->FlushJournal());
  }

  // Ticks (which tells the news) until nothing waits, at most a few seconds.
  static bool WaitWritten(TAlarmMonitor& monitor) {
    QElapsedTimer waited;
    waited.start();
    while (monitor.JournalWaiting() > 0 && waited.elapsed() < 8000) {
      monitor.FlushJournal(50);
      monitor.Tick();
      QThread::msleep(10);
    }
    monitor.Tick();
    return monitor.JournalWaiting() == 0;
  }

  QStringList Journalled() {
    TAlarmJournal journal;
    EXPECT_TRUE(journal.Open(Path(), true)) << journal.ErrorText().toStdString();
    return EventNames(journal.Query());
  }
};

// Where the lock is taken: during a run, before the journal exists (it is made under the lock), or
// before start-up opens it; and whether the program stops while the events wait.
struct TLockCase {
  const char* Name;
  int Before;      // events in the journal before the lock
  bool AtStartUp;  // locked before the monitor opens the journal
  bool Restart;    // the monitor stops while locked; the next one writes the spill file
};

TEST_F(AlarmJournalTroubleTest, EventsWaitOutAnotherProgramsLockAndAreWrittenInOrder) {
  const std::vector<TLockCase> cases = {{"during a run", 3, false, false},
                                        {"when the journal is made", 0, false, false},
                                        {"at start-up", 3, true, false},
                                        {"through a restart", 3, false, true}};
  for (const TLockCase& c : cases) {
    SCOPED_TRACE(c.Name);
    QDir(Dir->path() + "/Archives").removeRecursively();
    QDir().mkpath(Dir->path() + "/Archives");  // made at start-up, before any journal
    if (c.Before > 0) MakeJournal(c.Before);
    QStringList told;
    std::unique_ptr<TAlarmMonitor> monitor;
    TFaults faults;
    if (!c.AtStartUp) monitor = Monitor(&told);
    auto lock = std::make_unique<TForeignLock>(Path());
    if (c.AtStartUp) {
      monitor = Monitor(&told, &faults);
      ASSERT_EQ(faults.Texts().size(), 1);
      EXPECT_TRUE(faults.Texts()[0].contains(QStringLiteral("занят другой программой")))
          << faults.Texts()[0].toStdString();
    }
    for (int i = c.Before + 1; i <= c.Before + 5; ++i) monitor->Note(AskedWrite(i));
    EXPECT_FALSE(monitor->FlushJournal(2000));
    monitor->Tick();
    EXPECT_EQ(monitor->JournalStatusText(),
              QStringLiteral("Журнал тревог недоступен: 5 событий ждут записи"));
    ASSERT_FALSE(told.isEmpty());
    EXPECT_TRUE(told.last().startsWith(QStringLiteral("Журнал тревог недоступен: 5 событий ждут записи")))
        << told.last().toStdString();
    EXPECT_EQ(TAlarmJournalWriter::ReadSpill(TAlarmJournalWriter::SpillPath(Path())).size(), 5u)
        << "each waiting event is on disk";
    if (c.Restart) {
      monitor.reset();
      lock->Release();
      monitor = Monitor(&told);
    } else {
      lock->Release();
    }
    ASSERT_TRUE(WaitWritten(*monitor));
    EXPECT_EQ(Journalled(), WriteNames(1, c.Before + 5));
    EXPECT_FALSE(QFile::exists(TAlarmJournalWriter::SpillPath(Path())));
    EXPECT_TRUE(monitor->JournalStatusText().isEmpty());
    // Written once: a later run does not write them again.
    monitor.reset();
    monitor = Monitor();
    monitor->Note(AskedWrite(c.Before + 6));
    ASSERT_TRUE(monitor->FlushJournal());
    EXPECT_EQ(Journalled(), WriteNames(1, c.Before + 6));
  }
}

// A crash between the commit of waiting events and the spill file's removal replays them at the
// next start: each is kept once.
TEST_F(AlarmJournalTroubleTest, EventsReplayedAfterTheirCommitAreKeptOnce) {
  QDir().mkpath(Dir->path() + "/Archives");
  MakeJournal(1);
  auto monitor = Monitor();
  const QString spill = TAlarmJournalWriter::SpillPath(Path());
  {
    TForeignLock lock(Path());
    for (int i = 2; i <= 4; ++i) monitor->Note(AskedWrite(i));
    EXPECT_FALSE(monitor->FlushJournal(2000));
    ASSERT_TRUE(QFile::copy(spill, spill + ".copy"));
  }
  ASSERT_TRUE(WaitWritten(*monitor));
  monitor.reset();
  ASSERT_TRUE(QFile::rename(spill + ".copy", spill));  // as the crash left it
  monitor = Monitor();
  monitor->Note(AskedWrite(5));
  ASSERT_TRUE(WaitWritten(*monitor));
  EXPECT_EQ(Journalled(), WriteNames(1, 5));
}

// Each kind of damage: the file is kept aside untouched, a fresh journal takes the events, and the
// operator is told at start-up.
TEST_F(AlarmJournalTroubleTest, ADamagedJournalIsKeptAsideAndAFreshOneTakesTheEvents) {
  const auto overwrite = [](const QString& path, qint64 at, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(at);
    f.write(bytes);
  };
  const std::vector<std::pair<const char*, std::function<void(const QString&)>>> damages = {
      {"a bad header", [&](const QString& p) { overwrite(p, 0, QByteArray(16, 'x')); }},
      {"cut short",
       [](const QString& p) {
         QFile f(p);
         ASSERT_TRUE(f.resize(f.size() / 2 + 100));
       }},
      {"another program's schema",
       [](const QString& p) {
         QFile::remove(p);
         const QString name = QStringLiteral("other-schema");
         {
           QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
           db.setDatabaseName(p);
           ASSERT_TRUE(db.open());
           QSqlQuery(db).exec(QStringLiteral("CREATE TABLE notes (id INTEGER, text TEXT)"));
           QSqlQuery(db).exec(QStringLiteral("INSERT INTO notes VALUES (1, 'keep me')"));
         }
         QSqlDatabase::removeDatabase(name);
       }},
      {"a folder in its place",
       [](const QString& p) {
         QFile::remove(p);
         ASSERT_TRUE(QDir().mkpath(p + "/inside"));
       }},
  };
  for (const auto& [name, damage] : damages) {
    SCOPED_TRACE(name);
    QDir(Dir->path() + "/Archives").removeRecursively();
    MakeJournal(300);
    damage(Path());
    const bool folder = QFileInfo(Path()).isDir();
    QByteArray before;
    if (!folder) {
      QFile f(Path());
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      before = f.readAll();
    }
    TFaults faults;
    auto monitor = Monitor(nullptr, &faults);
    const QStringList aside = QDir(Dir->path() + "/Archives")
                                  .entryList({QStringLiteral("alarms.sqlite.damaged-*")},
                                             QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(aside.size(), 1) << faults.Texts().join(" | ").toStdString();
    ASSERT_FALSE(faults.Texts().isEmpty());
    EXPECT_TRUE(faults.Texts()[0].contains(QStringLiteral("повреждён")) &&
                faults.Texts()[0].contains(aside[0]))
        << faults.Texts()[0].toStdString();
    const QString kept = Dir->path() + "/Archives/" + aside[0];
    if (folder) {
      EXPECT_TRUE(QFileInfo::exists(kept + "/inside"));
    } else {
      QFile f(kept);
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      EXPECT_EQ(f.readAll(), before) << "kept aside as it was";
    }
    for (int i = 1; i <= 3; ++i) monitor->Note(AskedWrite(i));
    ASSERT_TRUE(monitor->FlushJournal());
    EXPECT_EQ(Journalled(), WriteNames(1, 3));
    // A second damage in the same second never goes over the first one kept.
    monitor.reset();
    damage(Path());
    monitor = Monitor(nullptr, &faults);
    EXPECT_EQ(QDir(Dir->path() + "/Archives")
                  .entryList({QStringLiteral("alarms.sqlite.damaged-*")},
                             QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)
                  .size(),
              2);
    monitor->Note(AskedWrite(4));
    ASSERT_TRUE(monitor->FlushJournal());
    EXPECT_EQ(Journalled(), WriteNames(4, 4));
  }
}

// The child of the next test: the events of a run whose files may not grow past a bound, which is
// lifted after a while as space is made on a full disk.
class AlarmJournalTroubleChild : public TVexaTest {};

TEST_F(AlarmJournalTroubleChild, WritesUnderAFileSizeLimit) {
  const QByteArray path = qgetenv("VEXA_ALARM_FULL_CHILD");
  if (path.isEmpty()) GTEST_SKIP() << "run by AFullDiskKeepsTheEventsWaitingUntilThereIsRoom";
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the bound fails instead of ending the process
  TAlarmMonitor monitor(Current());
  monitor.JournalRetryMs = 50;
  QStringList told;
  monitor.JournalNews = [&told](const QString& text) {
    if (!text.isEmpty()) told << text;
  };
  ASSERT_TRUE(monitor.Open(AlarmJournalPath(QString::fromLocal8Bit(path))).Texts().isEmpty());
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit bound = saved;
  bound.rlim_cur = 96 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &bound), 0);
  // One commit at a time: the journal's log outgrows the bound long before the spill file does.
  int waited = 0;
  for (int i = 1; i <= 40; ++i) {
    monitor.Note(AskedWrite(i, QString(200, QLatin1Char('x'))));
    if (!monitor.FlushJournal(2000)) {
      ++waited;
      monitor.Tick();  // the news of the events waiting
    }
  }
  EXPECT_GT(waited, 0) << "the bound never stopped a write";
  ASSERT_FALSE(told.isEmpty());
  EXPECT_TRUE(told.last().contains(QStringLiteral("событий ждут записи"))) << told.last().toStdString();
  EXPECT_TRUE(told.join(QLatin1Char('\n')).contains(QStringLiteral("диск полон")))
      << told.join('\n').toStdString();
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
  QElapsedTimer clock;
  clock.start();
  while (monitor.JournalWaiting() > 0 && clock.elapsed() < 8000) monitor.FlushJournal(50);
  EXPECT_EQ(monitor.JournalWaiting(), 0);
  std::printf("waited %d\n", waited);
}

TEST_F(AlarmJournalTroubleTest, AFullDiskKeepsTheEventsWaitingUntilThereIsRoom) {
  qputenv("VEXA_ALARM_FULL_CHILD", Dir->path().toLocal8Bit());
  TChildProcess child(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--gtest_filter=AlarmJournalTroubleChild.WritesUnderAFileSizeLimit")});
  qunsetenv("VEXA_ALARM_FULL_CHILD");
  ASSERT_TRUE(child.Wait(60000));
  EXPECT_EQ(child.Code(), 0) << child.Out().toStdString() << child.Err().toStdString();
  EXPECT_TRUE(child.Out().contains(QLatin1String("waited "))) << child.Out().toStdString();
  EXPECT_EQ(Journalled(), WriteNames(1, 40));
}

}  // namespace
}  // namespace vexa::test
