// The alarm journal: appends and queries, the writes asked through the broker kept beside the
// alarms, a journal made before them, the alarms restored at start-up, the age bound, two journals
// in one process, and a process killed while appending keeps every committed event.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <csignal>
#include <cstdio>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

constexpr double kDay = 46363.0;  // 07.12.2026 0:00
constexpr double kSecond = 1.0 / kSecondsPerDay;

TAlarmEvent Event(double time, const QString& name, TAlarmEventKind kind, TAlarmState state,
                  double value = 1) {
  TAlarmEvent e;
  e.Time = time;
  e.Name = name;
  e.Caption = QStringLiteral("Котёл ") + name;
  e.Condition = TAlarmCondition::Hi;
  e.Kind = kind;
  e.State = state;
  e.Value = value;
  e.Priority = 1;
  return e;
}

TAlarmEvent WriteEvent(double time, const QString& name, const QString& asked, TWriteOutcome outcome,
                       const QString& who) {
  TAlarmEvent e;
  e.Time = time;
  e.Kind = TAlarmEventKind::RemoteWrite;
  e.Name = name;
  e.Caption = QStringLiteral("Уставка ") + name;
  e.Asked = asked;
  e.Outcome = OutcomeWord(outcome);
  e.Who = who;
  e.Priority = 0;
  return e;
}

QStringList Names(const std::vector<TAlarmEvent>& events) {
  QStringList names;
  for (const TAlarmEvent& e : events) names << e.Name + QLatin1Char(':') + EventWord(e.Kind);
  return names;
}

class AlarmJournalTest : public TVexaTest {
 protected:
  QString Path() const { return AlarmJournalPath(Dir->path()); }
};

TEST_F(AlarmJournalTest, AppendsAndQueriesByTimeNameAndState) {
  TAlarmJournal journal;
  ASSERT_TRUE(journal.Open(Path())) << journal.ErrorText().toStdString();
  TAlarmEvent shelved = Event(kDay + 0.5, "B", TAlarmEventKind::Shelved, TAlarmState::Normal, kNoValue);
  shelved.Who = QStringLiteral("Петров");
  shelved.ShelvedUntil = kDay + 0.6;
  shelved.Condition = TAlarmCondition::Comm;
  ASSERT_TRUE(
      journal.Append(Event(kDay - 0.5, "A", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked, 71.5)));
  ASSERT_TRUE(journal.Append(Event(kDay + 0.25, "B", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked)));
  ASSERT_TRUE(
      journal.Append({Event(kDay + 0.5, "A", TAlarmEventKind::Cleared, TAlarmState::ReturnedUnacked), shelved,
                      Event(kDay + 1.5, "A", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked)}));
  EXPECT_EQ(journal.Count(), 5);

  EXPECT_EQ(Names(journal.Query()),
            (QStringList{"A:raised", "B:raised", "A:cleared", "B:shelved", "A:raised"}));
  TJournalQuery day;
  day.From = kDay;
  day.To = kDay + 1;
  EXPECT_EQ(Names(journal.Query(day)), (QStringList{"B:raised", "A:cleared", "B:shelved"}));
  TJournalQuery edge;  // both ends inclusive, to the millisecond
  edge.From = kDay + 0.5;
  edge.To = kDay + 0.5;
  EXPECT_EQ(journal.Query(edge).size(), 2u);
  TJournalQuery ofA;
  ofA.Name = QStringLiteral("A");
  EXPECT_EQ(Names(journal.Query(ofA)), (QStringList{"A:raised", "A:cleared", "A:raised"}));
  TJournalQuery unacked;
  unacked.State = TAlarmState::ActiveUnacked;
  EXPECT_EQ(Names(journal.Query(unacked)), (QStringList{"A:raised", "B:raised", "A:raised"}));
  TJournalQuery newest;
  newest.Limit = 2;
  EXPECT_EQ(Names(journal.Query(newest)), (QStringList{"B:shelved", "A:raised"}));

  // Every field comes back as written.
  const std::vector<TAlarmEvent> all = journal.Query();
  EXPECT_DOUBLE_EQ(all[0].Value, 71.5);
  EXPECT_NEAR(all[0].Time, kDay - 0.5, 1e-9);
  EXPECT_EQ(all[0].Caption, QStringLiteral("Котёл A"));
  EXPECT_EQ(all[3].Condition, TAlarmCondition::Comm);
  EXPECT_EQ(all[3].Who, QStringLiteral("Петров"));
  EXPECT_TRUE(std::isnan(all[3].Value));
  EXPECT_NEAR(all[3].ShelvedUntil, kDay + 0.6, 1e-9);
  EXPECT_EQ(all[3].State, TAlarmState::Normal);

  // The last event of each alarm (name and condition) that is not over: A's H active again, B's H
  // still active, B's COMM shelved until after noon.
  EXPECT_EQ(Names(journal.Outstanding(kDay + 0.55)), (QStringList{"B:raised", "B:shelved", "A:raised"}));
  EXPECT_EQ(Names(journal.Outstanding(kDay + 0.65)), (QStringList{"B:raised", "A:raised"}));
}

TEST_F(AlarmJournalTest, WritesAreKeptBesideTheAlarmsAndAreNoAlarmsLastEvent) {
  EXPECT_EQ(EventWord(TAlarmEventKind::RemoteWrite), QStringLiteral("write"));
  EXPECT_EQ(EventOfWord(QStringLiteral("write")), TAlarmEventKind::RemoteWrite);
  for (auto o : {TWriteOutcome::Written, TWriteOutcome::ReadOnly, TWriteOutcome::NoAnswer})
    EXPECT_EQ(OutcomeOfWord(OutcomeWord(o)), o);
  TAlarmJournal journal;
  ASSERT_TRUE(journal.Open(Path())) << journal.ErrorText().toStdString();
  // A's H raised, then written to and refused a write; B written to only.
  ASSERT_TRUE(journal.Append(
      {Event(kDay, "A", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked, 71.5),
       WriteEvent(kDay + 0.1, "A", QStringLiteral("35,5"), TWriteOutcome::Written,
                  QStringLiteral("диспетчер")),
       WriteEvent(kDay + 0.2, "A", QStringLiteral("abc"), TWriteOutcome::Invalid, QStringLiteral("mqtt")),
       WriteEvent(kDay + 0.3, "B", QStringLiteral("1"), TWriteOutcome::ReadOnly, QStringLiteral("scada"))}))
      << journal.ErrorText().toStdString();

  const std::vector<TAlarmEvent> all = journal.Query();
  ASSERT_EQ(Names(all), (QStringList{"A:raised", "A:write", "A:write", "B:write"}));
  EXPECT_TRUE(all[0].IsAlarm());
  EXPECT_TRUE(all[0].Outcome.isEmpty());
  EXPECT_FALSE(all[1].IsAlarm());
  EXPECT_EQ(all[1].Caption, QStringLiteral("Уставка A"));
  EXPECT_EQ(all[1].Asked, QStringLiteral("35,5"));
  EXPECT_EQ(all[1].Who, QStringLiteral("диспетчер"));
  EXPECT_EQ(all[1].Outcome, QStringLiteral("written"));
  EXPECT_TRUE(all[1].Written());
  EXPECT_NEAR(all[1].Time, kDay + 0.1, 1e-9);
  EXPECT_TRUE(std::isnan(all[1].Value));
  EXPECT_EQ(all[2].Outcome, QStringLiteral("refused: the register cannot take this value"));
  EXPECT_FALSE(all[2].Written());
  EXPECT_EQ(all[3].Outcome, QStringLiteral("refused: the register is read-only"));

  // A write neither hides an alarm's last event nor is one itself, nor has a state.
  EXPECT_EQ(Names(journal.Outstanding(kDay + 1)), QStringList{"A:raised"});
  TJournalQuery unacked;
  unacked.State = TAlarmState::ActiveUnacked;
  EXPECT_EQ(Names(journal.Query(unacked)), QStringList{"A:raised"});
  TJournalQuery ofB;
  ofB.Name = QStringLiteral("B");
  EXPECT_EQ(Names(journal.Query(ofB)), QStringList{"B:write"});

  // A reader sees them as the writer does.
  TAlarmJournal reader;
  ASSERT_TRUE(reader.Open(Path(), true));
  EXPECT_EQ(reader.Query()[3].Who, QStringLiteral("scada"));

  // The age bound takes old writes, even a register's last one; the alarm's last event stays.
  EXPECT_EQ(journal.RemoveBefore(kDay + 1), 3);
  EXPECT_EQ(Names(journal.Query()), QStringList{"A:raised"});
}

// A journal as the program made it before writes were kept: its table without their columns.
TEST_F(AlarmJournalTest, AJournalMadeBeforeTheWritesKeepsItsRowsAndTakesWrites) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old-journal"));
    db.setDatabaseName(Path());
    QDir().mkpath(QFileInfo(Path()).absolutePath());
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    for (const char* sql :
         {"PRAGMA journal_mode=WAL",
          "CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, at INTEGER NOT NULL, "
          "name TEXT NOT NULL, caption TEXT, condition TEXT NOT NULL, event TEXT NOT NULL, "
          "state TEXT NOT NULL, value REAL, who TEXT, priority INTEGER, until INTEGER)",
          "CREATE INDEX IF NOT EXISTS events_at ON events (at)",
          "CREATE INDEX IF NOT EXISTS events_alarm ON events (name, condition, id)",
          // 07.12.2026 0:00 and 6:00 in milliseconds of the program's date-time.
          "INSERT INTO events (at, name, caption, condition, event, state, value, who, priority, until) "
          "VALUES (4005763200000, 'A', 'Котёл', 'H', 'raised', 'unacked', 71.5, '', 1, NULL)",
          "INSERT INTO events (at, name, caption, condition, event, state, value, who, priority, until) "
          "VALUES (4005784800000, 'A', 'Котёл', 'H', 'acknowledged', 'acked', 71.5, 'program', 1, NULL)"})
      ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << q.lastError().text().toStdString();
    q.finish();
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("old-journal"));
  // vexa-cli alarms reads it as it is.
  {
    TAlarmJournal reader;
    ASSERT_TRUE(reader.Open(Path(), true)) << reader.ErrorText().toStdString();
    const std::vector<TAlarmEvent> old = reader.Query();
    EXPECT_TRUE(reader.ErrorText().isEmpty()) << reader.ErrorText().toStdString();
    EXPECT_EQ(Names(old), (QStringList{"A:raised", "A:acknowledged"}));
    EXPECT_EQ(Names(reader.Outstanding(kDay + 1)), QStringList{"A:acknowledged"});
  }

  // A writer adds the columns and keeps every row.
  TAlarmJournal journal;
  ASSERT_TRUE(journal.Open(Path())) << journal.ErrorText().toStdString();
  ASSERT_TRUE(journal.Append(
      WriteEvent(kDay + 0.5, "A", QStringLiteral("20"), TWriteOutcome::Written, QStringLiteral("диспетчер"))))
      << journal.ErrorText().toStdString();
  const std::vector<TAlarmEvent> events = journal.Query();
  ASSERT_EQ(Names(events), (QStringList{"A:raised", "A:acknowledged", "A:write"}));
  EXPECT_NEAR(events[0].Time, kDay, 1e-9);
  EXPECT_DOUBLE_EQ(events[0].Value, 71.5);
  EXPECT_EQ(events[1].Who, kWhoProgram);
  EXPECT_EQ(events[1].State, TAlarmState::ActiveAcked);
  EXPECT_EQ(events[2].Asked, QStringLiteral("20"));
  EXPECT_EQ(events[2].Outcome, QStringLiteral("written"));
  journal.Close();
  // Opened again: nothing to add, nothing lost.
  ASSERT_TRUE(journal.Open(Path())) << journal.ErrorText().toStdString();
  EXPECT_EQ(journal.Count(), 3);
}

TEST_F(AlarmJournalTest, TwoJournalsInOneProcessKeepTheirOwnConnections) {
  TAlarmJournal first, second;
  ASSERT_TRUE(first.Open(Dir->path() + "/one.sqlite"));
  ASSERT_TRUE(second.Open(Dir->path() + "/two.sqlite"));
  ASSERT_TRUE(first.Append(Event(kDay, "A", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked)));
  ASSERT_TRUE(second.Append(Event(kDay, "B", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked)));
  EXPECT_EQ(Names(first.Query()), QStringList{"A:raised"});
  EXPECT_EQ(Names(second.Query()), QStringList{"B:raised"});
  first.Close();
  EXPECT_TRUE(second.Append(Event(kDay, "C", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked)));
  EXPECT_EQ(second.Count(), 2);
}

TEST_F(AlarmJournalTest, AReaderFindsNoJournalWithoutMakingOne) {
  TAlarmJournal journal;
  EXPECT_FALSE(journal.Open(Path(), true));
  EXPECT_TRUE(journal.ErrorText().contains(Path())) << journal.ErrorText().toStdString();
  EXPECT_FALSE(QFile::exists(Path()));
}

TEST_F(AlarmJournalTest, TheActiveAlarmsAreRestoredAtStartUp) {
  const auto watched = [this](const char* name) {
    auto* reg = new TRegisterNode(Net().get());
    reg->SetName(QString::fromLatin1(name));
    reg->SetCaption(QStringLiteral("Давление"));
    reg->SetEnabled(true);
    auto* node = new TAlarmNode(Current().Alarms().get());
    node->SetName(reg->Name());
    node->SetEnabled(true);
    return std::make_pair(reg, node);
  };
  auto [reg, node] = watched("D000C000R001");
  node->SetHiEnabled(true);
  node->SetHiLimit(10);
  node->SetHiHiEnabled(true);
  node->SetHiHiLimit(20);
  auto [low, lowNode] = watched("D000C000R002");
  lowNode->SetLoEnabled(true);
  lowNode->SetLoLimit(0);
  const auto read = [this](TAlarmMonitor& m, TRegisterNode* r, const char* value) {
    r->SetLastIOResult(iorOK);
    r->SetLastStringData(QString::fromLatin1(value));
    m.Read(*r);
    Clock->AdvanceSeconds(60);
  };
  const double raisedAt = Now();
  {
    TAlarmMonitor monitor(Current());
    EXPECT_TRUE(monitor.Open().Texts().isEmpty());
    read(monitor, reg, "25");                        // H and HH raised
    read(monitor, reg, "15");                        // HH returned
    EXPECT_EQ(monitor.Acknowledge(reg->Name()), 2);  // H acknowledged, HH over
    read(monitor, low, "-5");                        // L raised, then shelved for an hour
    EXPECT_TRUE(monitor.Shelve(low->Name(), TAlarmCondition::Lo, 3600));
    read(monitor, low, "-5");
  }
  TAlarmMonitor restarted(Current());
  EXPECT_TRUE(restarted.Open().Texts().isEmpty());
  const std::vector<TActiveAlarm> active = restarted.Active();
  ASSERT_EQ(active.size(), 1u);
  EXPECT_EQ(active[0].Name, reg->Name());
  EXPECT_EQ(active[0].Condition, TAlarmCondition::Hi);
  EXPECT_EQ(active[0].State, TAlarmState::ActiveAcked);
  EXPECT_EQ(active[0].Caption, QStringLiteral("Давление"));
  EXPECT_NEAR(active[0].Time, raisedAt, 1e-9) << "the time it was raised, not acknowledged";
  // The shelving goes on where it was, and runs out at its time.
  EXPECT_EQ(restarted.State(low->Name(), TAlarmCondition::Lo), TAlarmState::Normal);
  QStringList after;
  restarted.Observe(
      [&after](const TAlarmEvent& e) { after << ConditionCode(e.Condition) + ':' + EventWord(e.Kind); });
  read(restarted, low, "-5");
  EXPECT_TRUE(after.isEmpty()) << after.join(", ").toStdString();
  Clock->AdvanceSeconds(3600);
  read(restarted, low, "-5");
  EXPECT_EQ(after, (QStringList{"L:unshelved", "L:raised"}));
  // A restored active alarm clears with the next read inside its limits.
  read(restarted, reg, "5");
  EXPECT_EQ(after.mid(2), (QStringList{"H:cleared"}));
}

TEST_F(AlarmJournalTest, OldEventsGoByTheAgeBoundAndTheMonitorSaysSo) {
  Clock->SetNow(kDay + 500);
  {
    TAlarmJournal journal;
    ASSERT_TRUE(journal.Open(Path()));
    std::vector<TAlarmEvent> events;
    // Two a day for 500 days, each alarm ending normal but the last one, which stays active.
    for (int d = 0; d < 500; ++d) {
      events.push_back(Event(kDay + d, "A", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked));
      events.push_back(Event(kDay + d + 0.1, "A", TAlarmEventKind::Cleared, TAlarmState::Normal));
    }
    events.push_back(Event(kDay + 1, "OLD", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked));
    ASSERT_TRUE(journal.Append(events));
  }
  auto* settings = new TAlarmJournalNode(Current().Alarms().get());
  settings->SetName(QString::fromLatin1(kJournalNodeName));
  settings->SetKeepDays(100);
  TAlarmMonitor monitor(Current());
  const QStringList told = monitor.Open().Texts();
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].contains("100 дн.") && told[0].contains(": 800")) << told[0].toStdString();
  EXPECT_EQ(monitor.KeepDays(), 100);
  // 100 days of A and the last event of OLD, still active, which start-up restores.
  EXPECT_EQ(monitor.Journal().Count(), 201);
  ASSERT_EQ(monitor.Active().size(), 1u);
  EXPECT_EQ(monitor.Active()[0].Name, QStringLiteral("OLD"));

  // The default bound, with no journal settings: 400 days.
  Current().RecreateRoot(QStringLiteral("ALARMS"));
  TAlarmMonitor byDefault(Current());
  EXPECT_NO_FAULTS(byDefault.Open(Dir->path() + "/other.sqlite"));
  EXPECT_EQ(byDefault.KeepDays(), kDefaultJournalDays);
}

// The child of the next test: appends events one by one and tells each commit on standard output,
// until it is killed.
TEST(AlarmJournalChild, AppendsUntilKilled) {
  const QByteArray path = qgetenv("VEXA_ALARM_JOURNAL_CHILD");
  if (path.isEmpty()) GTEST_SKIP() << "run by KilledWhileAppendingKeepsEveryCommittedEvent";
  TAlarmJournal journal;
  ASSERT_TRUE(journal.Open(QString::fromLocal8Bit(path)));
  for (int i = 1; i <= 1000000; ++i) {
    ASSERT_TRUE(journal.Append(Event(kDay + i * kSecond, QStringLiteral("R%1").arg(i),
                                     TAlarmEventKind::Raised, TAlarmState::ActiveUnacked, i)));
    std::printf("committed %d\n", i);
    std::fflush(stdout);
  }
}

TEST_F(AlarmJournalTest, KilledWhileAppendingKeepsEveryCommittedEvent) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VEXA_ALARM_JOURNAL_CHILD"), Path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=AlarmJournalChild.AppendsUntilKilled")});
    ASSERT_TRUE(child.waitForStarted(10000));
    // Killed after some hundreds of commits, at a moment no one chooses.
    int committed = 0;
    QByteArray pending;
    while (committed < 300 + 200 * round) {
      ASSERT_TRUE(child.waitForReadyRead(20000)) << "the child stopped appending";
      pending += child.readAllStandardOutput();
      const int end = pending.lastIndexOf("committed ");
      if (end >= 0) committed = pending.mid(end + 10).split('\n').first().toInt();
    }
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    // What it said after the last read counts too: each line follows its commit.
    pending += child.readAllStandardOutput();
    const int last = pending.lastIndexOf("committed ");
    const int told = pending.mid(last + 10).split('\n').first().toInt();
    ASSERT_GE(told, committed);

    TAlarmJournal journal;
    ASSERT_TRUE(journal.Open(Path())) << journal.ErrorText().toStdString();
    const std::vector<TAlarmEvent> events = journal.Query();
    // This round's events follow the earlier rounds' (each closed by an event AFTER).
    size_t start = 0;
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i].Name == QLatin1String("AFTER")) start = i + 1;
    ASSERT_GE(static_cast<int>(events.size() - start), told) << "an event told committed is missing";
    // Every event there is whole and in order, those told and any committed after the last word.
    for (size_t i = start; i < events.size(); ++i) {
      const int expected = static_cast<int>(i - start) + 1;
      if (events[i].Name != QStringLiteral("R%1").arg(expected) || events[i].Value != expected) {
        ADD_FAILURE() << "event " << i << " is " << events[i].Name.toStdString();
        break;
      }
    }
    // The journal takes new events after the kill.
    EXPECT_TRUE(journal.Append(Event(kDay, "AFTER", TAlarmEventKind::Raised, TAlarmState::ActiveUnacked)));
  }
}

}  // namespace
}  // namespace vexa::test
