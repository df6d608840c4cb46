// The alarm life cycle as a network's reads drive it: limits crossed up and down through their
// deadband, delays that run out and that do not, acknowledgements before and after the return,
// shelving that runs out, failed reads and a silent regulator; writes asked from outside journaled
// beside them without touching them.

#include <gtest/gtest.h>

#include <QStringList>

#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

const QString kReg = QStringLiteral("D000C000R001");

struct TLimits {
  bool Enabled = true;
  std::optional<double> HiHi, Hi, Lo, LoLo;
  double Deadband = 0;
  int Delay = 0;
};

class AlarmModelTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Clock->SetNow(46363.5);  // 07.12.2026 12:00:00
    TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), 0, QStringLiteral("Печь")), 0);
    for (int r = 1; r <= 2; ++r)
      AddRegisterNode(channel, r, {.Caption = QStringLiteral("Температура %1").arg(r)});
    Net()->SetEnabled(true);
  }

  TRegisterNode& Reg(const QString& name = kReg) {
    return *dynamic_cast<TRegisterNode*>(FindNode(Net().get(), name));
  }

  TAlarmNode& Watch(const TLimits& l, const QString& name = kReg) {
    auto* node = new TAlarmNode(Current().Alarms().get());
    node->SetName(name);
    node->SetEnabled(l.Enabled);
    node->SetHiHiEnabled(l.HiHi.has_value());
    node->SetHiHiLimit(l.HiHi.value_or(0));
    node->SetHiEnabled(l.Hi.has_value());
    node->SetHiLimit(l.Hi.value_or(0));
    node->SetLoEnabled(l.Lo.has_value());
    node->SetLoLimit(l.Lo.value_or(0));
    node->SetLoLoEnabled(l.LoLo.has_value());
    node->SetLoLoLimit(l.LoLo.value_or(0));
    node->SetDeadband(l.Deadband);
    node->SetDelaySeconds(l.Delay);
    node->SetPriority(1);
    return *node;
  }

  // A read of the register as the poller stores it: a value, or "***" for a failed one.
  void ReadAs(TAlarmMonitor& monitor, const QString& text, const QString& name = kReg) {
    TRegisterNode& reg = Reg(name);
    reg.SetLastIOResult(text == kFailedText ? iorFAIL : iorOK);
    reg.SetLastStringData(text);
    monitor.Read(reg);
  }
};

// Each step: "+S WHAT", S seconds on the clock, then WHAT: a value read, "***" a failed read,
// "ack", "shelve:N" (the H alarm, N seconds), "unshelve" (the H alarm taken back early; "unshelve
// refused" among the events when it was not shelved) or "tick". The events: "COND event state [value]".
struct TCase {
  const char* Name;
  TLimits Limits;
  std::vector<const char*> Steps;
  std::vector<const char*> Events;
};

const std::vector<TCase> kCases = {
    {"high limit up and down through the deadband",
     {true, {}, 50.0, {}, {}, 5, 0},
     {"+0 45", "+1 50", "+1 51", "+1 48", "+1 46", "+1 45"},
     {"H raised unacked 51", "H cleared returned 45"}},
    {"low limit down and up through the deadband",
     {true, {}, {}, 10.0, {}, 2, 0},
     {"+0 11", "+1 10", "+1 9", "+1 11", "+1 12"},
     {"L raised unacked 9", "L cleared returned 12"}},
    {"both high limits, each its own alarm",
     {true, 80.0, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 85", "+1 70", "+1 40"},
     {"H raised unacked 60", "HH raised unacked 85", "HH cleared returned 70", "H cleared returned 40"}},
    {"both low limits",
     {true, {}, {}, 20.0, 10.0, 1, 0},
     {"+0 15", "+1 5", "+1 10.5", "+1 11", "+1 21"},
     {"L raised unacked 15", "LL raised unacked 5", "LL cleared returned 11", "L cleared returned 21"}},
    {"a delay that runs out on a read",
     {true, {}, 50.0, {}, {}, 0, 10},
     {"+0 60", "+3 61", "+3 62", "+3 63", "+3 64"},
     {"H raised unacked 64"}},
    {"a delay that does not run out",
     {true, {}, 50.0, {}, {}, 0, 10},
     {"+0 60", "+3 61", "+3 40", "+3 60", "+3 61", "+3 40"},
     {}},
    {"a delay that runs out between reads",
     {true, {}, 50.0, {}, {}, 0, 10},
     {"+0 60", "+9 tick", "+1 tick"},
     {"H raised unacked 60"}},
    {"acknowledged before the return",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 ack", "+1 40"},
     {"H raised unacked 60", "H acknowledged acked 60", "H cleared normal 40"}},
    {"acknowledged after the return",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 40", "+1 ack", "+1 ack"},
     {"H raised unacked 60", "H cleared returned 40", "H acknowledged normal 40"}},
    {"raised again before the return was acknowledged",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 40", "+1 70"},
     {"H raised unacked 60", "H cleared returned 40", "H raised unacked 70"}},
    {"shelving runs out with the condition still there",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 shelve:30", "+10 65", "+10 40", "+5 66", "+10 tick"},
     {"H raised unacked 60", "H shelved normal 60", "H unshelved normal 66", "H raised unacked 66"}},
    {"shelving runs out after the condition went",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 shelve:30", "+10 40", "+25 41"},
     {"H raised unacked 60", "H shelved normal 60", "H unshelved normal 40"}},
    {"taken back early with the condition still there",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 shelve:30", "+5 65", "+1 unshelve", "+30 tick"},
     {"H raised unacked 60", "H shelved normal 60", "H unshelved normal 65", "H raised unacked 65"}},
    {"taken back early after the condition went",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 shelve:30", "+5 40", "+1 unshelve", "+1 60"},
     {"H raised unacked 60", "H shelved normal 60", "H unshelved normal 40", "H raised unacked 60"}},
    {"nothing shelved to take back",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 unshelve", "+1 shelve:10", "+11 tick", "+1 unshelve"},
     {"H raised unacked 60", "unshelve refused", "H shelved normal 60", "H unshelved normal 60",
      "H raised unacked 60", "unshelve refused"}},
    {"a failed read keeps the state",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 ***", "+1 ***", "+1 40"},
     {"H raised unacked 60", "H cleared returned 40"}},
    {"a failed read raises nothing and starts a delay again",
     {true, {}, 50.0, {}, {}, 0, 10},
     {"+0 ***", "+0 60", "+6 ***", "+2 60", "+6 61", "+4 62"},
     {"H raised unacked 62"}},
    {"a disabled alarm node watches nothing", {false, {}, 50.0, {}, {}, 0, 0}, {"+0 60", "+1 70"}, {}},
    // "wall:H" steps the wall clock by H hours and leaves the monotonic one.
    {"a delay runs on while the wall clock steps back",
     {true, {}, 50.0, {}, {}, 0, 10},
     {"+0 60", "+5 wall:-1", "+5 61"},
     {"H raised unacked 61"}},
    {"a shelving keeps its time when the wall clock steps forward",
     {true, {}, 50.0, {}, {}, 0, 0},
     {"+0 60", "+1 shelve:30", "+1 wall:24", "+1 61", "+1 62", "+30 tick"},
     {"H raised unacked 60", "H shelved normal 60", "H unshelved normal 62", "H raised unacked 62"}},
};

// The fixture's clock with a wall clock that can be stepped on its own, as a time service or a
// change of zone steps it.
class TSteppedWallClock : public TClock {
 public:
  explicit TSteppedWallClock(TFakeClock& base) : base_(base) {}
  double Now() const override { return base_.Now() + offset_; }
  int64_t TickMs() const override { return base_.TickMs(); }
  void Sleep(int ms) override { base_.Sleep(ms); }
  void Step(double hours) { offset_ += hours / 24; }

 private:
  TFakeClock& base_;
  double offset_ = 0;
};

QString EventText(const TAlarmEvent& e) {
  QString text =
      QStringLiteral("%1 %2 %3").arg(ConditionCode(e.Condition), EventWord(e.Kind), StateWord(e.State));
  if (!std::isnan(e.Value)) text += QLatin1Char(' ') + QString::number(e.Value);
  return text;
}

TEST_F(AlarmModelTest, LifeCycleOfALimitAlarm) {
  std::unique_ptr<TClock> fixtureClock = std::move(Services().Clock);
  auto stepped = std::make_unique<TSteppedWallClock>(*Clock);
  TSteppedWallClock* wall = stepped.get();
  Services().Clock = std::move(stepped);
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    Current().RecreateRoot(QStringLiteral("ALARMS"));
    Watch(c.Limits);
    // Each case on a journal of its own: the last one's alarms are not restored.
    TAlarmMonitor monitor(Current());
    EXPECT_NO_FAULTS(monitor.Open(Dir->path() + QStringLiteral("/%1.sqlite").arg(&c - kCases.data())));
    QStringList events;
    monitor.Observe([&events](const TAlarmEvent& e) { events << EventText(e); });
    int takenBack = 0;
    for (const char* step : c.Steps) {
      const QStringList parts = QString::fromLatin1(step).split(QLatin1Char(' '));
      Clock->AdvanceSeconds(parts[0].mid(1).toDouble());
      const QString what = parts[1];
      if (what == QLatin1String("ack"))
        monitor.Acknowledge(kReg, QStringLiteral("оператор"));
      else if (what.startsWith(QLatin1String("shelve:")))
        EXPECT_TRUE(monitor.Shelve(kReg, TAlarmCondition::Hi, what.mid(7).toInt()));
      else if (what == QLatin1String("unshelve")) {
        if (monitor.Unshelve(kReg, TAlarmCondition::Hi, QStringLiteral("оператор")))
          ++takenBack;
        else
          events << QStringLiteral("unshelve refused");
      } else if (what == QLatin1String("tick"))
        monitor.Tick();
      else if (what.startsWith(QLatin1String("wall:")))
        wall->Step(what.mid(5).toDouble());
      else
        ReadAs(monitor, what);
    }
    QStringList expected;
    for (const char* e : c.Events) expected << QString::fromUtf8(e);
    EXPECT_EQ(events, expected);
    // The journal holds the same events in the same order, an early unshelving signed by its taker.
    expected.removeAll(QStringLiteral("unshelve refused"));
    QStringList journal;
    int signedUnshelved = 0;
    for (const TAlarmEvent& e : monitor.Journal().Query()) {
      journal << EventText(e);
      if (e.Kind == TAlarmEventKind::Unshelved && e.Who == QStringLiteral("оператор")) ++signedUnshelved;
    }
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(signedUnshelved, takenBack);
  }
  Services().Clock = std::move(fixtureClock);
}

TEST_F(AlarmModelTest, ActiveListCountsAndWhoAcknowledged) {
  Watch({true, 80.0, 50.0, {}, {}, 0, 0});
  TLimits second{true, {}, {}, 10.0, {}, 0, 0};
  Watch(second, QStringLiteral("D000C000R002")).SetPriority(3);
  TAlarmMonitor monitor(Current());
  EXPECT_NO_FAULTS(monitor.Open());
  ReadAs(monitor, QStringLiteral("5"), QStringLiteral("D000C000R002"));
  Clock->AdvanceSeconds(1);
  ReadAs(monitor, QStringLiteral("90"));
  // Most urgent first: both of priority 1 (the register's), oldest first; then priority 3.
  std::vector<TActiveAlarm> active = monitor.Active();
  ASSERT_EQ(active.size(), 3u);
  EXPECT_EQ(active[0].Condition, TAlarmCondition::HiHi);
  EXPECT_EQ(active[0].Caption, QStringLiteral("Температура 1"));
  EXPECT_EQ(active[0].Place, QStringLiteral("Печь")) << "the channel has no caption";
  EXPECT_EQ(active[2].Name, QStringLiteral("D000C000R002"));
  EXPECT_EQ(active[2].Priority, 3);
  EXPECT_EQ(monitor.ActiveCount(), 3);
  EXPECT_EQ(monitor.UnackedCount(), 3);
  EXPECT_EQ(monitor.WorstState(kReg), std::make_pair(TAlarmState::ActiveUnacked, 1));

  EXPECT_EQ(monitor.Acknowledge(kReg, QStringLiteral("Иванов")), 2);
  EXPECT_EQ(monitor.UnackedCount(), 1);
  EXPECT_EQ(monitor.WorstState(kReg).first, TAlarmState::ActiveAcked);
  ReadAs(monitor, QStringLiteral("20"), QStringLiteral("D000C000R002"));
  EXPECT_EQ(monitor.WorstState(QStringLiteral("D000C000R002")).first, TAlarmState::ReturnedUnacked);
  EXPECT_EQ(monitor.ActiveCount(), 2);
  EXPECT_EQ(monitor.Active().size(), 3u) << "a returned alarm stays listed until acknowledged";
  EXPECT_EQ(monitor.AcknowledgeAll(), 1);
  EXPECT_EQ(monitor.AcknowledgeAll(), 0);
  EXPECT_EQ(monitor.UnackedCount(), 0);
  EXPECT_EQ(monitor.Active().size(), 2u);

  TJournalQuery acks;
  acks.Name = kReg;
  QStringList who;
  for (const TAlarmEvent& e : monitor.Journal().Query(acks))
    if (e.Kind == TAlarmEventKind::Acknowledged) who << e.Who;
  EXPECT_EQ(who, (QStringList{"Иванов", "Иванов"}));
  TJournalQuery last;
  last.Limit = 1;
  const auto lastEvent = monitor.Journal().Query(last);
  ASSERT_EQ(lastEvent.size(), 1u);
  EXPECT_EQ(lastEvent[0].Who, kWhoProgram) << "without a name given, the monitor's own";
}

TEST_F(AlarmModelTest, ASilentRegulatorRaisesItsCommunicationAlarm) {
  auto& comm = Watch({true, {}, {}, {}, {}, 0, 10}, QStringLiteral("D000"));
  comm.SetPriority(1);
  Reg(QStringLiteral("D000C000R001")).SetEnabled(true);
  Reg(QStringLiteral("D000C000R002")).SetEnabled(true);
  TAlarmMonitor monitor(Current());
  EXPECT_NO_FAULTS(monitor.Open());
  QStringList events;
  monitor.Observe([&events](const TAlarmEvent& e) { events << EventText(e) + QLatin1Char(' ') + e.Caption; });
  const auto both = [&](const QString& first, const QString& second) {
    ReadAs(monitor, first, QStringLiteral("D000C000R001"));
    ReadAs(monitor, second, QStringLiteral("D000C000R002"));
    Clock->AdvanceSeconds(3);
  };
  // One register failing is no silence; both failing for less than the delay neither.
  for (int i = 0; i < 5; ++i) both(kFailedText, QStringLiteral("1"));
  both(kFailedText, kFailedText);
  both(kFailedText, kFailedText);
  both(QStringLiteral("1"), kFailedText);
  EXPECT_TRUE(events.isEmpty()) << events.join(", ").toStdString();
  for (int i = 0; i < 5; ++i) both(kFailedText, kFailedText);
  EXPECT_EQ(events, QStringList{"COMM raised unacked Печь"});
  both(kFailedText, QStringLiteral("1"));
  EXPECT_EQ(events.last(), "COMM cleared returned Печь");

  // A register disabled before the monitor reads the settings is not one of those that must fail.
  Reg(QStringLiteral("D000C000R002")).SetEnabled(false);
  monitor.Rebuild();
  events.clear();
  for (int i = 0; i < 5; ++i) both(kFailedText, QStringLiteral("1"));
  EXPECT_EQ(events, QStringList{"COMM raised unacked Печь"});
}

TEST_F(AlarmModelTest, RebuildKeepsTheStatesAndTakesNewLimits) {
  TAlarmNode& node = Watch({true, {}, 50.0, {}, {}, 0, 0});
  TAlarmMonitor monitor(Current());
  EXPECT_NO_FAULTS(monitor.Open());
  ReadAs(monitor, QStringLiteral("60"));
  EXPECT_EQ(monitor.State(kReg, TAlarmCondition::Hi), TAlarmState::ActiveUnacked);
  node.SetHiLimit(70);
  monitor.Rebuild();
  EXPECT_EQ(monitor.State(kReg, TAlarmCondition::Hi), TAlarmState::ActiveUnacked);
  ReadAs(monitor, QStringLiteral("65"));
  EXPECT_EQ(monitor.State(kReg, TAlarmCondition::Hi), TAlarmState::ReturnedUnacked);
  // Limits switched off: a read no longer raises it.
  node.SetHiEnabled(false);
  monitor.Rebuild();
  ReadAs(monitor, QStringLiteral("90"));
  EXPECT_EQ(monitor.State(kReg, TAlarmCondition::Hi), TAlarmState::ReturnedUnacked);
}

TEST_F(AlarmModelTest, AWriteFromOutsideIsJournaledAndChangesNoAlarm) {
  Watch({true, {}, 50.0, {}, {}, 0, 0});
  std::vector<TActiveAlarm> before;
  {
    TAlarmMonitor monitor(Current());
    EXPECT_NO_FAULTS(monitor.Open());
    QStringList told;
    monitor.Observe([&told](const TAlarmEvent& e) { told << EventWord(e.Kind); });
    ReadAs(monitor, QStringLiteral("60"));  // H raised
    ReadAs(monitor, QStringLiteral("40"));  // and returned, unacknowledged

    TAlarmEvent write;
    write.Time = Now();
    write.Kind = TAlarmEventKind::RemoteWrite;
    write.Name = kReg;
    write.Asked = QStringLiteral("45");
    write.Who = QStringLiteral("диспетчер");
    write.Outcome = OutcomeWord(TWriteOutcome::Written);
    EXPECT_TRUE(monitor.Note(write));
    write.Outcome = OutcomeWord(TWriteOutcome::ReadOnly);
    EXPECT_TRUE(monitor.Note(write));
    // An alarm's event is its alarm's to make.
    TAlarmEvent forged = write;
    forged.Kind = TAlarmEventKind::Acknowledged;
    EXPECT_FALSE(monitor.Note(forged));

    EXPECT_EQ(told, (QStringList{"raised", "cleared", "write", "write"}));
    EXPECT_EQ(monitor.Journal().Count(), 4);
    EXPECT_EQ(monitor.Active().size(), 1u);
    EXPECT_EQ(monitor.ActiveCount(), 0);
    EXPECT_EQ(monitor.UnackedCount(), 1);
    EXPECT_EQ(monitor.WorstState(kReg), std::make_pair(TAlarmState::ReturnedUnacked, 1));
    // Raised again and acknowledged: the last alarm event is the acknowledgement, then a write.
    ReadAs(monitor, QStringLiteral("70"));
    EXPECT_EQ(monitor.Acknowledge(kReg), 1);
    EXPECT_TRUE(monitor.Note(write));
    before = monitor.Active();
  }
  // At the next start the writes restore nothing and hide nothing.
  TAlarmMonitor restarted(Current());
  EXPECT_TRUE(restarted.Open().Texts().isEmpty());
  const std::vector<TActiveAlarm> after = restarted.Active();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].State, TAlarmState::ActiveAcked);
  EXPECT_NEAR(after[0].Time, before[0].Time, 1e-9);
  EXPECT_EQ(restarted.UnackedCount(), 0);
}

TEST_F(AlarmModelTest, ThePollersReadsReachAnAttachedMonitor) {
  Watch({true, {}, 50.0, {}, {}, 0, 0});
  TAlarmMonitor monitor(Current());
  EXPECT_NO_FAULTS(monitor.Open());
  monitor.Attach();
  monitor.Attach();  // once only
  ASSERT_FALSE(Current().RegisterRead.Empty());
  TRegisterNode& reg = Reg();
  reg.SetEnabled(true);
  reg.SetLastIOResult(iorOK);
  reg.SetLastStringData(QStringLiteral("55"));
  Current().RegisterRead.Notify(reg);
  EXPECT_EQ(monitor.ActiveCount(), 1);
  monitor.Detach();
  EXPECT_TRUE(Current().RegisterRead.Empty());
}

}  // namespace
}  // namespace vexa::test
