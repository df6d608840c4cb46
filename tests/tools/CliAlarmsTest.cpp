// vexa-cli run evaluates the alarms as the program does and writes their journal; vexa-cli alarms
// prints it, the writes asked through the broker among it, and acknowledges. The state is written with
// vexa-cli load, the alarm settings from a text, and runs on the virtual clock: a process ramps a register up
// and down through its limits while a regulator whose register never answers falls silent.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimeZone>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmJournalWriter.h"
#include "alarms/model/AlarmTexts.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "processes/model/CommandNode.h"
#include "storage/TreeFiles.h"
#include "support/Cli.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

const QString kSetpoint = QStringLiteral("D000C000R004");

// The settings as an operator would write them: limits on the setpoint (the very high one never
// reached) and the communication alarm of regulator D002.
const char kAlarmsText[] =
    "TRootNode ALARMS Caption='Тревоги'\n"
    "  TAlarmNode D000C000R004 Enabled=True HiHiEnabled=True HiHiLimit=395.0 HiEnabled=True HiLimit=365.0 "
    "LoEnabled=True LoLimit=335.0 Deadband=10.0 Priority=1\n"
    "  TAlarmNode D002 Enabled=True DelaySeconds=120 Priority=2\n"
    "  TAlarmJournalNode JOURNAL KeepDays=36500\n";

class CliAlarmsTest : public TVexaTest {
 protected:
  // Makes the trees with the program's code in a folder of their own, and writes each into the
  // folder under test through its text, as vexa-cli dump prints it and vexa-cli load reads it.
  void WriteState() {
    Clock->SetNow(*StrToDateTime("07.12.2026 9:00:00"));  // the process starts with the run
    // The simulation wanders by one a read from the last value, which the process sets each tick.
    TRootNode& furnace = AddChannelNode(AddRegulatorNode(*Net(), 0, QStringLiteral("Печь")), 0);
    AddRegisterNode(furnace, 4,
                    {.Caption = QStringLiteral("Уставка"), .Writable = true, .Last = QStringLiteral("320")});
    // No regulator at address 2 answers.
    AddRegisterNode(AddChannelNode(AddRegulatorNode(*Net(), 2, QStringLiteral("Насос")), 0), 0);
    Net()->SetEnabled(true);

    auto* process = new TRootNode(Tasks().get());
    process->SetName(QStringLiteral("P0"));
    process->SetCaption(QStringLiteral("Отжиг"));
    auto* node = new TCommandNode(process);
    node->SetName(kSetpoint);
    node->SetRegisterType(rtINT);
    node->SetUserCanWRITE(true);
    node->SetDataList(QStringList{"320", "380", "380", "320"});
    node->SetPoints(QStringList{"0", "60", "600", "120"});
    node->Reset();
    process->SetImageIndex(iiPLAY);
    process->SetEnabled(true);
    node->Start();
    // What the network register shows at the first tick, before the process has written.
    node->SetLastStringData(QStringLiteral("320"));

    for (TRootNode* root : {Net().get(), Tasks().get()}) {
      ASSERT_TRUE(SaveTreeFile(Current(), *root));
      const QString file = Dir->path() + "/Config/" + root->Name() + ".cfg";
      const TRun dump = Cli({"dump", file});
      ASSERT_EQ(dump.Code, 0) << dump.Err.toStdString();
      const TRun load =
          Cli({"load", "-", folder.path() + "/Config/" + root->Name() + ".cfg"}, dump.Out.toUtf8());
      ASSERT_EQ(load.Code, 0) << load.Err.toStdString();
    }
    const TRun load = Cli({"load", "-", folder.path() + "/Config/ALARMS.cfg"}, QByteArray(kAlarmsText));
    ASSERT_EQ(load.Code, 0) << load.Err.toStdString();
  }

  // vexa-cli alarms on the folder: its lines, each split at the tabs.
  std::vector<QStringList> Alarms(const QStringList& args = {}) {
    const TRun run = Cli(QStringList{"--dir", folder.path(), "alarms"} + args);
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    std::vector<QStringList> lines;
    for (const QString& line : run.Out.split('\n', Qt::SkipEmptyParts)) lines.push_back(line.split('\t'));
    return lines;
  }

  QTemporaryDir folder;
};

TEST_F(CliAlarmsTest, ARunOnTheVirtualClockJournalsTheAlarmsInOrder) {
  ASSERT_TRUE(QDir(Dir->path()).mkpath("Config"));
  ASSERT_TRUE(QDir(folder.path()).mkpath("Config"));
  WriteState();
  EXPECT_TRUE(Alarms().empty()) << "no journal before the first run";

  const TRun run = Cli(
      {"--demo", "--dir", folder.path(), "run", "--seconds", "900", "--virtual-clock", "07.12.2026 9:00:00"});
  ASSERT_EQ(run.Code, 0) << run.Err.right(2000).toStdString();
  EXPECT_TRUE(QFile::exists(folder.path() + "/Archives/alarms.sqlite"));

  // The ramp starts below the low limit, climbs through both to 80 and back to 20 after 11 min.
  const std::vector<QStringList> events = Alarms();
  QStringList order;
  for (const QStringList& e : events) {
    ASSERT_EQ(e.size(), 8) << e.join('|').toStdString();
    EXPECT_EQ(e[7], QString()) << "an alarm's event has no outcome";
    order << e[1] + ' ' + e[3] + ' ' + e[4];
  }
  EXPECT_EQ(order, (QStringList{"D000C000R004 L raised", "D000C000R004 L cleared", "D000C000R004 H raised",
                                "D002 COMM raised", "D000C000R004 H cleared", "D000C000R004 L raised"}));
  ASSERT_EQ(events.size(), 6u);
  // Each event at its time, with the value that made it, through the deadband: up by one a second
  // from 320 at 9:00 to 380, held from 9:01 to 9:11, down by one every 2 s to 320. The process
  // writes each tenth second, the network register shows it from the next tick on, and the reads
  // between wander by one.
  const auto at = [](const QStringList& e) { return *StrToDateTime(e[0]); };
  const auto value = [](const QStringList& e) { return e[5].toDouble(); };
  const double start = *StrToDateTime("07.12.2026 9:00:00");
  const double second = 1.0 / kSecondsPerDay;
  EXPECT_LT(value(events[0]), 335);
  EXPECT_GE(value(events[1]), 345);
  EXPECT_GT(value(events[2]), 365);
  EXPECT_LE(value(events[4]), 355);
  EXPECT_LT(value(events[5]), 335);
  EXPECT_LT(at(events[0]), start + 5 * second);
  EXPECT_NEAR(at(events[1]), start + 49 * second, 6 * second);
  EXPECT_NEAR(at(events[2]), start + 69 * second, 6 * second);
  EXPECT_GE(at(events[3]), start + 120 * second) << "the silence is raised after its delay";
  EXPECT_LT(at(events[3]), start + 135 * second);
  EXPECT_NEAR(at(events[4]), start + 734 * second, 10 * second);
  EXPECT_NEAR(at(events[5]), start + 769 * second, 10 * second);
  EXPECT_EQ(events[3][2], "Насос");
  EXPECT_EQ(events[0][2], "Уставка");
  for (size_t i = 1; i < events.size(); ++i) EXPECT_LE(at(events[i - 1]), at(events[i]));

  // The active list now: the silent regulator and the low limit, active, and the high one returned
  // but not acknowledged; each by its last event.
  std::vector<QStringList> active = Alarms({"--active"});
  QStringList listed;
  for (const QStringList& e : active) listed << e[3] + ' ' + e[4];
  EXPECT_EQ(listed, (QStringList{"COMM raised", "H cleared", "L raised"}));
  // --since: from the clearing of H on.
  EXPECT_EQ(Alarms({"--since", events[4][0]}).size(), 2u);

  // Acknowledged from the command line, signed by it.
  const TRun ack = Cli({"--dir", folder.path(), "alarms", "--ack", "D002"});
  ASSERT_EQ(ack.Code, 0) << ack.Err.toStdString();
  EXPECT_EQ(ack.Out.trimmed(), QStringLiteral("квитировано тревог: 1"));
  const std::vector<QStringList> acked = Alarms();
  ASSERT_EQ(acked.size(), 7u);
  EXPECT_EQ(acked[6][1], "D002");
  EXPECT_EQ(acked[6][4], "acknowledged");
  EXPECT_EQ(acked[6][6], "vexa-cli");
  const TRun all = Cli({"--dir", folder.path(), "alarms", "--ack", "all"});
  EXPECT_EQ(all.Out.trimmed(), QStringLiteral("квитировано тревог: 2"));
  listed.clear();
  for (const QStringList& e : Alarms({"--active"})) listed << e[3] + ' ' + e[4];
  EXPECT_EQ(listed, (QStringList{"COMM acknowledged", "L acknowledged"})) << "the returned one is over";

  // The next run restores them as they were: nothing is raised again.
  const TRun again = Cli(
      {"--demo", "--dir", folder.path(), "run", "--seconds", "30", "--virtual-clock", "07.12.2026 9:20:00"});
  ASSERT_EQ(again.Code, 0) << again.Err.right(2000).toStdString();
  EXPECT_EQ(Alarms().size(), 9u);
}

// The writes asked through the broker are lines of the journal too: no condition, the value asked
// for, the writer and the outcome; never among the active alarms.
TEST_F(CliAlarmsTest, AWriteFromTheBrokerIsPrintedWithItsWriterAndOutcome) {
  const double at = *StrToDateTime("07.12.2026 9:00:00");
  {
    TAlarmJournal journal;
    ASSERT_TRUE(journal.Open(AlarmJournalPath(folder.path())));
    TAlarmEvent raised;
    raised.Time = at;
    raised.Name = kSetpoint;
    raised.Caption = QStringLiteral("Уставка");
    raised.Condition = TAlarmCondition::Hi;
    raised.State = TAlarmState::ActiveUnacked;
    raised.Value = 370;
    TAlarmEvent write;
    write.Time = at + 1 / kSecondsPerDay;
    write.Kind = TAlarmEventKind::RemoteWrite;
    write.Name = kSetpoint;
    write.Caption = QStringLiteral("Уставка");
    write.Asked = QStringLiteral("35,5");
    write.Who = QStringLiteral("dispatcher");
    write.Outcome = OutcomeWord(TWriteOutcome::Written);
    TAlarmEvent refused = write;
    refused.Time = at + 2 / kSecondsPerDay;
    refused.Asked = QStringLiteral("1e9");
    // A name a client chose, with a line break of its own.
    refused.Who = QStringLiteral("night\nshift");
    refused.Outcome = OutcomeWord(TWriteOutcome::Invalid);
    ASSERT_TRUE(journal.Append({raised, write, refused})) << journal.ErrorText().toStdString();
  }
  const std::vector<QStringList> lines = Alarms();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].mid(1),
            (QStringList{kSetpoint, "Уставка", "", "write", "35,5", "dispatcher", "written"}));
  EXPECT_EQ(lines[2].mid(1), (QStringList{kSetpoint, "Уставка", "", "write", "1e9", "night shift",
                                          "refused: the register cannot take this value"}));
  EXPECT_NEAR(*StrToDateTime(lines[2][0]), at + 2 / kSecondsPerDay, 0.5 / kSecondsPerDay);
  EXPECT_EQ(lines[0][4], "raised");
  const std::vector<QStringList> active = Alarms({"--active"});
  ASSERT_EQ(active.size(), 1u);
  EXPECT_EQ(active[0][4], "raised");
}

// An alarm's value with the decimal separator of the region, as the journal window and its export
// show it and as the rest of the output writes numbers; a write's value stays as it was asked.
TEST_F(CliAlarmsTest, AnAlarmsValueHasTheRegionalSeparatorOfTheJournalWindow) {
  TAlarmEvent raised;
  raised.Time = *StrToDateTime("07.12.2026 9:00:00");
  raised.Name = kSetpoint;
  raised.Condition = TAlarmCondition::Hi;
  raised.State = TAlarmState::ActiveUnacked;
  raised.Value = 370.25;
  TAlarmEvent write = raised;
  write.Time += 1 / kSecondsPerDay;
  write.Kind = TAlarmEventKind::RemoteWrite;
  write.Asked = QStringLiteral("35.5");
  write.Outcome = OutcomeWord(TWriteOutcome::Written);
  {
    TAlarmJournal journal;
    ASSERT_TRUE(journal.Open(AlarmJournalPath(folder.path())));
    ASSERT_TRUE(journal.Append({raised, write})) << journal.ErrorText().toStdString();
  }
  // The tests' own settings are the Russian ones, a system without a locale's.
  ASSERT_EQ(JournalRow(raised)[4], "370,25");
  const struct {
    const char* Locale;
    const char* Value;
  } regions[] = {{"C.UTF-8", "370,25"}, {"ru_RU.UTF-8", "370,25"}, {"en_US.UTF-8", "370.25"}};
  for (const auto& region : regions) {
    SCOPED_TRACE(region.Locale);
    TRunOptions options;
    options.Env = QProcessEnvironment::systemEnvironment();
    options.Env->insert(QStringLiteral("LC_ALL"), QString::fromLatin1(region.Locale));
    const TRun run = RunProgram(QStringLiteral(VEXA_CLI_PATH), {"--dir", folder.path(), "alarms"}, options);
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const QStringList lines = run.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << run.Out.toStdString();
    EXPECT_EQ(lines[0].split('\t').value(5), region.Value);
    EXPECT_EQ(lines[1].split('\t').value(5), "35.5");
  }
}

// A journal of the first layout: local milliseconds from 30.12.1899, as the program wrote them
// before its instants were UTC, in a zone with summer time. Read as it is, then converted by the
// first writer, every row kept; SQL tools then read the true instants.
TEST_F(CliAlarmsTest, AJournalOfLocalTimesIsConvertedToUtcOnceKeepingEveryRow) {
  const QString zone = QStringLiteral("Europe/Berlin");
  const QTimeZone berlin(zone.toUtf8());
  ASSERT_TRUE(berlin.isValid()) << "tzdata is needed";
  const QStringList locals{"07.12.2026 9:00:00", "01.07.2026 12:30:15", "29.03.2026 3:30:00",
                           "31.12.2026 23:59:59"};
  const QString path = AlarmJournalPath(folder.path());
  ASSERT_TRUE(QDir().mkpath(folder.path() + "/Archives"));
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("first-layout"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(
        q.exec("CREATE TABLE events (id INTEGER PRIMARY KEY, at INTEGER NOT NULL, name TEXT NOT NULL, "
               "caption TEXT, condition TEXT NOT NULL, event TEXT NOT NULL, state TEXT NOT NULL, "
               "value REAL, who TEXT, priority INTEGER, until INTEGER)"));
    for (int i = 0; i < locals.size(); ++i) {
      const qint64 ms = std::llround(*StrToDateTime(locals[i]) * kMsPerDay);
      ASSERT_TRUE(
          q.exec(QStringLiteral("INSERT INTO events (at, name, caption, condition, event, state, value, "
                                "priority, until) VALUES (%1, 'R%2', 'Котёл', 'H', 'shelved', "
                                "'normal', %2, 1, %3)")
                     .arg(ms)
                     .arg(i)
                     .arg(ms + 3600 * 1000)));
    }
  }
  QSqlDatabase::removeDatabase(QStringLiteral("first-layout"));
  TRunOptions options;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TZ"), zone);
  options.Env = env;
  const auto cli = [&](const QStringList& args) {
    const TRun run =
        RunProgram(QStringLiteral(VEXA_CLI_PATH), QStringList{"--dir", folder.path()} + args, options);
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    return run.Out.split('\n', Qt::SkipEmptyParts);
  };
  const auto times = [](const QStringList& lines) {
    QStringList t;
    for (const QString& line : lines) t << line.section('\t', 0, 0);
    return t;
  };
  EXPECT_EQ(times(cli({"alarms"})), locals) << "read as it is";
  ASSERT_EQ(cli({"alarms", "--ack", "all"}), QStringList{QStringLiteral("квитировано тревог: 0")});
  const QStringList header = cli({"alarms", "--header"});
  ASSERT_EQ(header.size(), locals.size() + 1);
  EXPECT_EQ(header[0].split('\t'),
            (QStringList{"time", "name", "caption", "condition", "event", "value", "who", "outcome"}));
  EXPECT_EQ(times(header.mid(1)), locals) << "the same local times after the conversion";
  QStringList iso;
  for (const QString& local : locals) {
    const QDateTime at(QDateTime::fromString(local, "dd.MM.yyyy H:mm:ss").date(),
                       QDateTime::fromString(local, "dd.MM.yyyy H:mm:ss").time(), berlin);
    iso << at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
  }
  EXPECT_EQ(times(cli({"alarms", "--iso"})), iso);

  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("converted"));
  db.setDatabaseName(path);
  ASSERT_TRUE(db.open());
  {
    QSqlQuery q(db);
    ASSERT_TRUE(
        q.exec("SELECT datetime(at / 1000, 'unixepoch'), datetime(until / 1000, 'unixepoch'), name "
               "FROM events ORDER BY id"));
    int row = 0;
    while (q.next()) {
      ASSERT_LT(row, locals.size());
      const QDateTime local = QDateTime::fromString(locals[row], "dd.MM.yyyy H:mm:ss");
      const QDateTime utc = QDateTime(local.date(), local.time(), berlin).toUTC();
      EXPECT_EQ(q.value(0).toString(), utc.toString("yyyy-MM-dd HH:mm:ss")) << locals[row].toStdString();
      EXPECT_EQ(q.value(1).toString(), utc.addSecs(3600).toString("yyyy-MM-dd HH:mm:ss"));
      EXPECT_EQ(q.value(2).toString(), QStringLiteral("R%1").arg(row));
      ++row;
    }
    EXPECT_EQ(row, locals.size()) << "every row kept";
  }
  db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase(QStringLiteral("converted"));
  // Converted once: a second writer leaves the instants as they are.
  ASSERT_EQ(cli({"alarms", "--ack", "all"}), QStringList{QStringLiteral("квитировано тревог: 0")});
  EXPECT_EQ(times(cli({"alarms"})), locals);
}

// What keeps vexa-cli alarms from the journal is said in plain words, and the events still waiting
// for it are printed after its own.
TEST_F(CliAlarmsTest, AJournalItCannotReadIsNamedInPlainWords) {
  const QString path = AlarmJournalPath(folder.path());
  const auto fresh = [&] {
    QDir(folder.path() + "/Archives").removeRecursively();
    TAlarmJournal journal;
    ASSERT_TRUE(journal.Open(path));
    TAlarmEvent e;
    e.Time = *StrToDateTime("07.12.2026 9:00:00");
    e.Name = kSetpoint;
    e.State = TAlarmState::ActiveUnacked;
    ASSERT_TRUE(journal.Append(e));
  };
  struct TCase {
    const char* Name;
    std::function<void()> Damage;
    const char* Words;
    int Code;
  };
  const std::vector<TCase> cases = {
      {"a bad header",
       [&] {
         QFile f(path);
         ASSERT_TRUE(f.open(QIODevice::ReadWrite));
         f.write(QByteArray(16, 'x'));
       },
       "повреждён", 1},
      {"a folder in its place",
       [&] {
         QFile::remove(path);
         QDir().mkpath(path);
       },
       "повреждён", 1},
      {"another program's file",
       [&] {
         QFile::remove(path);
         QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
         db.setDatabaseName(path);
         ASSERT_TRUE(db.open());
         QSqlQuery(db).exec("CREATE TABLE notes (text TEXT)");
         db.close();
       },
       "повреждён", 1},
      {"gone, with events waiting",
       [&] {
         QFile::remove(path);
         // As a writer leaves it: the events it holds, the last one cut by a crash.
         QFile spill(TAlarmJournalWriter::SpillPath(path));
         ASSERT_TRUE(spill.open(QIODevice::WriteOnly));
         spill.write("{\"time\":46363.375,\"name\":\"" + kSetpoint.toUtf8() +
                     "\",\"condition\":\"H\",\"event\":\"acknowledged\",\"state\":\"acked\",\"who\":"
                     "\"program\"}\n{\"ti");
       },
       "не найден", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fresh();
    c.Damage();
    const TRun run = Cli({"--dir", folder.path(), "alarms"});
    EXPECT_EQ(run.Code, c.Code) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Words))) << run.Err.toStdString();
    EXPECT_FALSE(run.Err.contains("No query")) << run.Err.toStdString();
  }
  // The waiting event of the last case is printed, and said to wait.
  const TRun waiting = Cli({"--dir", folder.path(), "alarms"});
  EXPECT_TRUE(waiting.Err.contains("1 событий ждут записи")) << waiting.Err.toStdString();
  EXPECT_EQ(waiting.Out.split('\t').value(4), "acknowledged") << waiting.Out.toStdString();
}

TEST_F(CliAlarmsTest, WrongArgumentsAreRefused) {
  EXPECT_EQ(Cli({"--dir", folder.path(), "alarms", "--since", "yesterday"}).Code, 2);
  EXPECT_EQ(Cli({"--dir", folder.path(), "alarms", "--ack"}).Code, 2);
  EXPECT_EQ(Cli({"--dir", folder.path(), "alarms", "--ack", "all", "--active"}).Code, 2);
  EXPECT_EQ(Cli({"--dir", folder.path(), "alarms", "--what"}).Code, 2);
}

}  // namespace
}  // namespace vexa::test
