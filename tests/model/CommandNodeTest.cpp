// The command node's stepping and the process tick on the test clock, against the simulator and a
// scripted port: the ramps written, slot ends, progress, stopping, restarts and broken cyclograms.

#include <QDir>
#include <QFile>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "processes/model/CommandNode.h"
#include "processes/model/ProcessTick.h"
#include "storage/StreamReader.h"
#include "storage/StreamWriter.h"
#include "storage/TreeFiles.h"
#include "support/RampingProcesses.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

QByteArray S(const QByteArray& text) {
  return char(text.size()) + text;
}
QByteArray H(const char* hex) {
  return QByteArray::fromHex(hex);
}

class CommandNodeTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkdir(QStringLiteral("Config"));
    Settings()->SetDemo(true);
    t0 = Clock->Now();
    // Every exchange, simulated or not, traces its request once.
    Current().Line().Trace = [this](const QString& line) {
      if (line.startsWith(QLatin1String("> "))) ++frames;
    };
  }

  // The clock `ms` after t0, as the system clock gives it: the day plus whole milliseconds.
  void At(int64_t ms) {
    Clock->SetNow(t0);
    Clock->Advance(ms);
  }

  TRootNode* Process(const QString& caption) {
    auto* process = new TRootNode(Tasks().get());
    process->SetName(QStringLiteral("P%1").arg(Tasks()->ComponentCount()));
    process->SetCaption(caption);
    process->SetImageIndex(iiSTOP);
    return process;
  }

  // A command node as a process holds it after its creation from a template: Ready.
  TCommandNode* Node(TRootNode* process, const QStringList& values, const QStringList& durations,
                     TRegisterType type = rtINT) {
    auto* node = new TCommandNode(process);
    node->SetName(TCustomRegister::RegisterName(0, process->ComponentCount() - 1, 4));
    node->SetCaption(QStringLiteral("Печь %1").arg(process->ComponentCount()));
    node->SetRegisterType(type);
    node->SetUserCanWRITE(true);
    node->SetDataList(values);
    node->SetPoints(durations);
    node->Reset();
    return node;
  }

  // "Старт" on a process, as the processes window does it.
  static void Run(TRootNode& process) {
    process.SetImageIndex(iiPLAY);
    process.SetEnabled(true);
    for (int i = 0; i < process.NodeCount(); ++i)
      if (auto* node = dynamic_cast<TCommandNode*>(process.Node(i))) node->Start();
  }

  // One step of the node; the text the simulated register then holds, or "-" when nothing was sent.
  QString Step(TCommandNode& node) {
    const int before = frames;
    node.Step(Line(), Net().get());
    return frames != before ? node.LastStringData() : QStringLiteral("-");
  }

  // Steps the node at t0 + 10 s x i for i = first..first+count-1.
  QStringList StepEvery10s(TCommandNode& node, int first, int count) {
    QStringList written;
    for (int i = first; i < first + count; ++i) {
      At(i * 10'000LL);
      written << Step(node);
    }
    return written;
  }

  double t0 = 0;
  int frames = 0;
};

// Every stored property of the table in stream order after the inherited ones; Done is published
// but computed, so it is never written.
TEST_F(CommandNodeTest, StoredFormGolden) {
  TCommandNode node(nullptr);
  node.SetName("D000C000R004");
  node.SetPoints({"0", "60"});
  node.SetDataList({"20", "80"});
  node.SetSlotNumber(2);
  node.SetSlotStart(46363.5);
  node.SetSlotSize(0.0078125);
  node.SetStartValue(20);
  node.SetStopValue(-2.5);
  const QByteArray expected = "TPF0" + S("TCommandNode") + S("D000C000R004") + S("Changed") + H("09") +  //
                              S("Points.Strings") + H("01 06") + S("0") + H("06") + S("60") + H("00") +  //
                              S("DataList.Strings") + H("01 06") + S("20") + H("06") + S("80") + H("00") +
                              S("XScale") + H("05 0000000000000080 FF3F") +      // 1.0
                              S("YScale") + H("05 0000000000000080 FF3F") +      //
                              S("SlotNumber") + H("02 02") +                     //
                              S("SlotStart") + H("05 0000000000801BB5 0E40") +   // 46363.5
                              S("SlotSize") + H("05 0000000000000080 F83F") +    // 2^-7
                              S("StartValue") + H("05 00000000000000A0 0340") +  // 20
                              S("StopValue") + H("05 00000000000000A0 00C0") +   // -2.5
                              H("0000");
  EXPECT_EQ(WriteComponent(node).toHex(' '), expected.toHex(' '));

  const std::unique_ptr<TComponent> back = ReadComponent(expected);
  auto* read = dynamic_cast<TCommandNode*>(back.get());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->SlotNumber(), 2);
  EXPECT_EQ(read->SlotStart(), 46363.5);
  EXPECT_EQ(read->SlotSize(), 0.0078125);
  EXPECT_EQ(read->StartValue(), 20.0);
  EXPECT_EQ(read->StopValue(), -2.5);
  EXPECT_FALSE(read->Finished());

  QStringList own;
  for (const TPropInfo& p : TCommandNode::StaticClassInfo().Own) own << p.Name + (p.ReadOnly() ? "*" : "");
  EXPECT_EQ(own, QStringList({"SlotNumber", "SlotStart", "SlotSize", "StartValue", "StopValue", "Done*"}));
  // The published progress of a cyclogram that does not convert is no number rather than a throw.
  node.SetPoints({"0", "x"});
  EXPECT_FALSE(TCommandNode::StaticClassInfo().FindProperty("Done")->Get(node).isValid());
  node.SetPoints({"0", "60"});
  node.SetSlotNumber(1);
  node.SetSlotStart(Clock->Now() - 30 / kSecondsPerDay);
  EXPECT_EQ(TCommandNode::StaticClassInfo().FindProperty("Done")->Get(node).toInt(), 50);
}

// Values (20, 0 s), (80, 60 s), (80, 600 s), (20, 120 s) with a tick exactly every 10 s.
TEST_F(CommandNodeTest, RampHoldAndCoolFinishOnTheTickThatEndsTheLastSlot) {
  TRootNode* process = Process(QStringLiteral("Отжиг"));
  TCommandNode* node = Node(process, {"20", "80", "80", "20"}, {"0", "60", "600", "120"});
  Run(*process);
  QStringList written;
  std::vector<int> done;
  int stoppedOnTick = 0;
  TProcessTickHooks hooks;
  hooks.ShowProgress = [&](TRootNode& p, int d) {
    EXPECT_EQ(&p, process);
    done.push_back(d);
  };
  hooks.ShowStopped = [&](TRootNode&) { stoppedOnTick = static_cast<int>(written.size()) + 1; };
  for (int tick = 1; tick <= 80; ++tick) {
    At((tick - 1) * 10'000LL);
    const int before = frames;
    ShowFaults(ProcessTick(Current(), hooks));
    written << (frames != before ? node->LastStringData() : QStringLiteral("-"));
  }

  EXPECT_EQ(written.mid(0, 7), QStringList({"20", "30", "40", "50", "60", "70", "80"}));
  EXPECT_EQ(written.mid(7, 60), QStringList(60, "80"));  // the flat slot, its end on tick 67
  EXPECT_EQ(written.mid(67, 11),
            QStringList({"75", "70", "65", "60", "55", "50", "45", "40", "35", "30", "25"}));
  EXPECT_EQ(written.at(78), "20");
  EXPECT_EQ(written.at(79), "-");  // stopped
  EXPECT_EQ(stoppedOnTick, 79);
  EXPECT_FALSE(process->Enabled());
  EXPECT_FALSE(node->Enabled());
  EXPECT_EQ(process->ImageIndex(), iiSTOP);
  EXPECT_TRUE(node->Finished());
  EXPECT_EQ(node->SlotNumber(), 0);

  // Progress is the elapsed share of 780 s, whichever slot the node is in.
  ASSERT_EQ(done.size(), 79u);
  for (int tick = 1; tick < 79; ++tick)
    EXPECT_EQ(done[tick - 1], (tick - 1) * 10 * 100 / 780) << "tick " << tick;
  EXPECT_EQ(done.back(), 100);

  // The tree was saved with the process stopped, so a restart does not take it up again.
  std::unique_ptr<TRootNode> saved = std::make_unique<TRootNode>(nullptr);
  saved->SetName("TASKS");
  LoadTreeFile(Current(), saved);
  ASSERT_EQ(saved->NodeCount(), 1);
  EXPECT_FALSE(saved->Node(0)->Enabled());
  EXPECT_EQ(saved->Node(0)->ImageIndex(), iiSTOP);
}

// Whatever the time of day a slot starts, it ends on the tick exactly its length later: as fractions
// of a day a third of these starts would find 60 s a hair short and end a tick late.
TEST_F(CommandNodeTest, ASlotEndsExactlyItsLengthAfterItsStartAtAnyTimeOfDay) {
  TRootNode* process = Process("P");
  const double day = std::floor(t0);
  auto at = [&](int64_t ms) {
    Clock->SetNow(day);
    Clock->Advance(ms);
  };
  int late = 0;
  for (int64_t k = 0; k < 3000; ++k) {
    const int64_t startMs = (k * 57'601'003) % 86'400'000;
    at(startMs);
    std::unique_ptr<TCommandNode> node(Node(process, {"0", "6"}, {"0", "60"}));
    node->Start();
    ASSERT_EQ(Step(*node), "0");
    ASSERT_EQ(node->SlotNumber(), 1);
    at(startMs + 59'999);
    ASSERT_EQ(Step(*node), "5") << "a ramp value just before the end";
    at(startMs + 60'000);
    const QString last = Step(*node);
    if (!node->Finished() || last != "6") ++late;
  }
  EXPECT_EQ(late, 0);
}

TEST_F(CommandNodeTest, WrittenSequences) {
  const struct {
    const char* What;
    QStringList Values;
    QStringList Durations;
    QStringList Written;  // per tick at 0, 10, 20 ... s
    bool Finished;
  } cases[] = {
      {"one point: written at once and finished", {"42"}, {"0"}, {"42", "-"}, true},
      {"no points: nothing", {}, {}, {"-", "-"}, false},
      {"a zero-length slot: its value on the next tick, no ramp",
       {"10", "20", "30"},
       {"0", "0", "20"},
       {"10", "20", "25", "30", "-"},
       true},
      {"the first row's duration is ignored",
       {"0", "100"},
       {"600", "40"},
       {"0", "25", "50", "75", "100", "-"},
       true},
      {"the same without it", {"0", "100"}, {"0", "40"}, {"0", "25", "50", "75", "100", "-"}, true},
      {"a falling ramp truncates toward zero", {"30", "10"}, {"0", "30"}, {"30", "23", "16", "10"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    At(0);
    TCommandNode* node = Node(Process("P"), c.Values, c.Durations);
    node->Start();
    EXPECT_EQ(StepEvery10s(*node, 0, static_cast<int>(c.Written.size())), c.Written);
    EXPECT_EQ(node->Finished(), c.Finished);
    if (c.Finished) {
      EXPECT_EQ(node->Done(), 100);
    }
  }
}

TEST_F(CommandNodeTest, ProcessesWithoutWorkStopOnTheirFirstTick) {
  TRootNode* empty = Process("empty");
  TRootNode* blank = Process("blank nodes");
  Node(blank, {}, {});
  Node(blank, {}, {});
  TRootNode* one = Process("one point");
  TCommandNode* single = Node(one, {"7"}, {"0"});
  TRootNode* idle = Process("not started");
  Node(idle, {"1", "2"}, {"0", "60"});
  for (TRootNode* p : {empty, blank, one}) Run(*p);
  QStringList stopped;
  QMap<QString, int> progress;
  TProcessTickHooks hooks;
  hooks.ShowStopped = [&](TRootNode& p) { stopped << p.Caption(); };
  hooks.ShowProgress = [&](TRootNode& p, int done) { progress[p.Caption()] = done; };
  ShowFaults(ProcessTick(Current(), hooks));
  EXPECT_EQ(stopped, QStringList({"empty", "blank nodes", "one point"}));
  EXPECT_EQ(progress.value("empty"), 100);
  EXPECT_EQ(progress.value("one point"), 100);
  EXPECT_FALSE(progress.contains("not started"));
  EXPECT_EQ(single->LastStringData(), "7");
  for (TRootNode* p : {empty, blank, one}) {
    EXPECT_FALSE(p->Enabled());
    EXPECT_EQ(p->ImageIndex(), iiSTOP);
  }
  EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), "TASKS")));
}

// The "%" of a process's row when the list is made.
TEST_F(CommandNodeTest, ProcessProgressIsHundredOnlyOnceItsNodesHaveFinished) {
  TRootNode* process = Process("P");
  Node(process, {"20", "80"}, {"0", "60"});
  Node(process, {"5", "5"}, {"0", "30"});
  EXPECT_EQ(ProcessProgress(*process), 0) << "not started";
  Run(*process);
  At(0);
  ShowFaults(ProcessTick(Current()));
  At(30000);
  ShowFaults(ProcessTick(Current()));
  EXPECT_EQ(ProcessProgress(*process), 50) << "running: the slower node";
  process->SetEnabled(false);  // stopped half way: standing still is not progress
  At(45000);
  EXPECT_EQ(ProcessProgress(*process), 0);
  process->SetEnabled(true);
  for (int64_t ms : {60000, 70000}) {
    At(ms);
    ShowFaults(ProcessTick(Current()));
  }
  ASSERT_FALSE(process->Enabled());
  EXPECT_EQ(ProcessProgress(*process), 100);

  TRootNode* empty = Process("empty");
  EXPECT_EQ(ProcessProgress(*empty), 100) << "nothing to do";
  TRootNode* broken = Process("broken");
  Node(broken, {"1", "2"}, {"0", "x"});
  broken->SetEnabled(true);
  EXPECT_EQ(ProcessProgress(*broken), 0);
}

TEST_F(CommandNodeTest, StopKeepsTheSlotAndStartResumesOrRewinds) {
  TCommandNode* node = Node(Process("P"), {"0", "60", "0"}, {"0", "60", "60"});
  node->Start();
  EXPECT_EQ(StepEvery10s(*node, 0, 3), QStringList({"0", "10", "20"}));
  node->Stop();  // Paused: nothing moves
  EXPECT_FALSE(node->Enabled());
  EXPECT_EQ(StepEvery10s(*node, 3, 2), QStringList({"-", "-"}));
  EXPECT_EQ(node->SlotNumber(), 1);
  // Started again within the slot: the time stopped counted, the ramp goes on from now.
  node->Start();
  EXPECT_EQ(StepEvery10s(*node, 5, 1), QStringList({"50"}));
  // Stopped for longer than the rest of the slot: the slot's end value at once.
  node->Stop();
  At(200'000);
  node->Start();
  EXPECT_EQ(Step(*node), "60");
  EXPECT_EQ(node->SlotNumber(), 2);
  // To the end, then Start runs it again from point 0.
  At(300'000);
  EXPECT_EQ(Step(*node), "0");
  EXPECT_TRUE(node->Finished());
  EXPECT_FALSE(node->Enabled());
  EXPECT_EQ(node->Done(), 100);
  At(400'000);
  EXPECT_EQ(Step(*node), "-");
  node->Start();
  EXPECT_FALSE(node->Finished());
  EXPECT_EQ(node->SlotNumber(), 0);
  EXPECT_EQ(node->Done(), 0);
  node->SetLastStringData("x");
  EXPECT_EQ(Step(*node), "0");
  EXPECT_EQ(node->SlotNumber(), 1);
  At(430'000);
  EXPECT_EQ(Step(*node), "30");
}

TEST_F(CommandNodeTest, TheNetworkRegisterShowsWhatTheLastTickWrote) {
  auto* reg = new TRegisterNode(new TRootNode(Net().get()));
  reg->SetName("D000C000R004");
  reg->SetLastStringData("old");
  TCommandNode* node = Node(Process("P"), {"20", "80"}, {"0", "60"});
  ASSERT_EQ(node->Name(), reg->Name());
  node->SetLastStringData("before");
  node->Start();
  At(0);
  Step(*node);
  EXPECT_EQ(reg->LastStringData(), "before");
  At(10'000);
  Step(*node);
  EXPECT_EQ(reg->LastStringData(), "20");
  At(20'000);
  Step(*node);
  EXPECT_EQ(reg->LastStringData(), "30");

  // Not in simulation: the line answers, nothing is mirrored.
  Settings()->SetDemo(false);
  At(30'000);
  Step(*node);
  EXPECT_EQ(reg->LastStringData(), "30");
}

TEST_F(CommandNodeTest, AClockSetBackStallsTheNodeUntilItCatchesUp) {
  TCommandNode* node = Node(Process("P"), {"0", "100"}, {"0", "100"});
  node->Start();
  At(20'000);
  EXPECT_EQ(Step(*node), "0");
  At(50'000);
  EXPECT_EQ(Step(*node), "30");
  At(49'000);  // a second before the last write
  EXPECT_EQ(Step(*node), "-");
  At(49'500);  // under a second before it: steps, backwards on the ramp
  EXPECT_EQ(Step(*node), "29");
  At(90'000);
  EXPECT_EQ(Step(*node), "70");
}

TEST_F(CommandNodeTest, FailedWritesNeitherRetryNorStopTheProcess) {
  Settings()->SetDemo(false);  // and the port is closed: every write fails
  TRootNode* process = Process("P");
  TCommandNode* node = Node(process, {"0", "10"}, {"0", "20"});
  Run(*process);
  for (int tick = 0; tick < 3; ++tick) {
    At(tick * 10'000LL);
    ShowFaults(ProcessTick(Current()));
    EXPECT_EQ(node->LastIOResult(), iorFAIL);
    EXPECT_EQ(std::llround((Clock->Now() - node->WRTime()) * 86400000.0), 100) << "one write per tick";
  }
  EXPECT_TRUE(node->Finished());
  EXPECT_FALSE(process->Enabled());
}

// 255 points of 2e9 s: the total, 5.08e11 s, and its percentages need 64 bits.
TEST_F(CommandNodeTest, DoneAndRampsOnAProgrammeOfManyLongSlots) {
  QStringList values;
  QStringList durations;
  for (int k = 0; k < 255; ++k) {
    values << QString::number(k * 1000);
    durations << (k == 0 ? "0" : "2000000000");
  }
  TCommandNode* node = Node(Process("P"), values, durations, rtDOUBLE);
  node->Start();
  At(0);
  EXPECT_EQ(Step(*node), "0");
  EXPECT_EQ(node->Done(), 0);
  At(1'000'000'000'000LL);  // half of slot 1
  EXPECT_EQ(Step(*node), "500");
  EXPECT_EQ(node->Done(), 0);  // 1e9 of 5.08e11 s

  const struct {
    int Slot;
    int64_t IntoSlotS;
    int Done;
  } cases[] = {{128, 0, 50},
               {128, 1'000'000'000, 50},
               {254, 0, 99},
               {254, 1'999'999'999, 99},
               {254, 5'000'000'000, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Slot);
    node->SetSlotNumber(c.Slot);
    node->SetSlotStart(Clock->Now() - static_cast<double>(c.IntoSlotS) / kSecondsPerDay);
    EXPECT_EQ(node->Done(), c.Done);
  }
}

// A saved and restored processes tree resumes each node in its slot from its stored start.
TEST_F(CommandNodeTest, ARestoredProcessResumesWhereItWas) {
  TRootNode* process = Process(QStringLiteral("Отжиг"));
  Node(process, {"0", "60", "0"}, {"0", "60", "60"});
  Node(process, {"5"}, {"0"});
  Run(*process);
  for (int tick = 0; tick < 3; ++tick) {
    At(tick * 10'000LL);
    ShowFaults(ProcessTick(Current()));
  }
  auto* before = dynamic_cast<TCommandNode*>(process->Node(0));
  const double slotStart = before->SlotStart();
  ASSERT_EQ(before->LastStringData(), "20");
  ASSERT_TRUE(dynamic_cast<TCommandNode*>(process->Node(1))->Finished());
  ASSERT_TRUE(SaveTreeFile(Current(), *Tasks()));

  Current().RecreateRoot("TASKS");   // the program ends
  LoadTreeFile(Current(), Tasks());  // and starts again
  ASSERT_EQ(Tasks()->NodeCount(), 1);
  TRootNode* restored = Tasks()->Node(0);
  EXPECT_TRUE(restored->Enabled());
  auto* node = dynamic_cast<TCommandNode*>(restored->Node(0));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->SlotNumber(), 1);
  EXPECT_EQ(node->SlotStart(), slotStart);
  EXPECT_EQ(node->StopValue(), 60.0);
  EXPECT_TRUE(node->Enabled());
  EXPECT_FALSE(node->Finished());
  // The finished node comes back Ready (Finished is not stored) and stays put.
  auto* other = dynamic_cast<TCommandNode*>(restored->Node(1));
  EXPECT_FALSE(other->Finished());
  EXPECT_FALSE(other->Enabled());

  QStringList written;
  for (int tick = 4; tick < 16; ++tick) {
    At(tick * 10'000LL);
    const int before = frames;
    ShowFaults(ProcessTick(Current()));
    written << (frames != before ? node->LastStringData() : "-");
  }
  EXPECT_EQ(written, QStringList({"40", "50", "60", "50", "40", "30", "20", "10", "0", "-", "-", "-"}));
  EXPECT_FALSE(restored->Enabled());
}

// A cyclogram from a hand-edited or foreign file: its process is reported once and stopped, the
// others go on.
TEST_F(CommandNodeTest, ABrokenProcessIsReportedOnceAndStoppedWhileOthersStep) {
  const struct {
    const char* What;
    QStringList Values;
    QStringList Durations;
    std::function<void(TCommandNode&)> Damage;
    QString Fault;
  } cases[] = {
      {"a value that is not a number", {"0", "abc", "5"}, {"0", "10", "10"}, nullptr, "'abc' - не число!"},
      {"point 0 that is not a number", {"x"}, {"0"}, nullptr, "'x' - не число!"},
      {"a duration that is not an integer",
       {"0", "1", "2"},
       {"0", "10", "1,5"},
       nullptr,
       "'1,5' - не целое число!"},
      {"a slot beyond the lists",
       {"0", "1", "2"},
       {"0", "10", "10"},
       [](TCommandNode& n) { n.SetSlotNumber(7); },
       "Точка 7 вне циклограммы!"},
      {"a negative slot",
       {"0", "1"},
       {"0", "10"},
       [](TCommandNode& n) { n.SetSlotNumber(-1); },
       "Точка -1 вне циклограммы!"},
      {"fewer values than durations", {"0"}, {"0", "10"}, nullptr, "Точка 1 вне циклограммы!"},
      {"a slot start that is no date-time",
       {"0", "1"},
       {"0", "10"},
       [](TCommandNode& n) { n.SetSlotStart(std::nan("")); },
       "Время участка циклограммы повреждено!"},
      {"a slot length beyond any date-time",
       {"0", "1"},
       {"0", "10"},
       [](TCommandNode& n) { n.SetSlotSize(1e300); },
       "Время участка циклограммы повреждено!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    At(0);
    Tasks()->DestroyComponents();
    Messages->Shown.clear();
    TRootNode* good1 = Process("first");
    TCommandNode* goodNode1 = Node(good1, {"0", "30"}, {"0", "30"});
    TRootNode* bad = Process(QStringLiteral("Отжиг"));
    TCommandNode* badNode = Node(bad, c.Values, c.Durations);
    TRootNode* good2 = Process("last");
    TCommandNode* goodNode2 = Node(good2, {"0", "30"}, {"0", "30"});
    for (TRootNode* p : {good1, bad, good2}) Run(*p);
    if (c.Damage) c.Damage(*badNode);
    QStringList stopped;
    TProcessTickHooks hooks;
    hooks.ShowStopped = [&](TRootNode& p) { stopped << p.Caption(); };
    QStringList written1;
    QStringList written2;
    for (int tick = 0; tick < 3; ++tick) {
      At(tick * 10'000LL);
      goodNode1->SetLastStringData("-");
      goodNode2->SetLastStringData("-");
      ShowFaults(ProcessTick(Current(), hooks));
      written1 << goodNode1->LastStringData();
      written2 << goodNode2->LastStringData();
    }
    EXPECT_EQ(Messages->Texts(), QStringList({QStringLiteral("Процесс 'Отжиг' остановлен:\r\n'") +
                                              badNode->Caption() + "' - " + c.Fault}));
    ASSERT_EQ(Messages->Shown.size(), 1u);
    EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(stopped, QStringList({QStringLiteral("Отжиг")}));
    EXPECT_FALSE(bad->Enabled());
    EXPECT_FALSE(badNode->Enabled());
    EXPECT_EQ(bad->ImageIndex(), iiSTOP);
    EXPECT_EQ(written1, QStringList({"0", "10", "20"}));
    // Later in each tick, after the writes before it: its slot began and ends later by as much.
    EXPECT_FALSE(written2.contains("-"));
    EXPECT_EQ(goodNode2->SlotNumber(), 1);
    EXPECT_TRUE(good1->Enabled());
    EXPECT_TRUE(good2->Enabled());

    // Started again by the operator, it is reported again.
    Run(*bad);
    At(30'000);
    ShowFaults(ProcessTick(Current(), hooks));
    EXPECT_EQ(Messages->Shown.size(), 2u);
    EXPECT_FALSE(bad->Enabled());
  }
}

// The faults of broken processes come back in the order of the processes, after every process was
// stepped, and the tick opens no dialog of its own.
TEST_F(CommandNodeTest, FaultsComeBackInOrderAfterEveryProcessWasStepped) {
  Node(Process("bad 1"), {"0", "a"}, {"0", "10"});
  TRootNode* good = Process("good");
  TCommandNode* goodNode = Node(good, {"0", "30"}, {"0", "30"});
  Node(Process("bad 2"), {"0", "b"}, {"0", "10"});
  for (int i = 0; i < Tasks()->NodeCount(); ++i) Run(*Tasks()->Node(i));
  At(0);
  const TFaults faults = ProcessTick(Current());
  EXPECT_TRUE(Messages->Shown.empty());
  ASSERT_EQ(faults.Items().size(), 2);
  EXPECT_TRUE(faults.Texts().at(0).contains("'bad 1'"));
  EXPECT_TRUE(faults.Texts().at(1).contains("'bad 2'"));
  for (const TFault& f : faults.Items()) EXPECT_EQ(f.Icon, TMsgIcon::Error);
  EXPECT_EQ(goodNode->SlotNumber(), 1);
  EXPECT_TRUE(good->Enabled());
}

TEST_F(CommandNodeTest, AssignCopiesTheRegisterAndTheCyclogramButNotTheRun) {
  TRegisterNode reg(nullptr);
  reg.SetName("D001C002R003");
  reg.SetCaption("T");
  reg.SetRegisterType(rtFLOAT);
  reg.SetUserCanWRITE(true);
  reg.SetDataList({"1", "2"});
  reg.SetPoints({"a", "b"});
  TCommandNode fromRegister(nullptr);
  fromRegister.Assign(reg);
  EXPECT_EQ(fromRegister.Name(), "D001C002R003");
  EXPECT_EQ(fromRegister.RegisterType(), rtFLOAT);
  EXPECT_TRUE(fromRegister.UserCanWRITE());
  EXPECT_EQ(fromRegister.DataList(), QStringList({"1", "2"}));

  TCommandNode source(nullptr);
  source.SetDataList({"20", "80"});
  source.SetPoints({"0", "60"});
  source.SetEnabled(true);
  source.Start();
  At(0);
  source.Refresh(Line());  // no register type: nothing is sent, but the slot moves on
  ASSERT_EQ(source.SlotNumber(), 1);
  TCommandNode copy(nullptr);
  copy.SetDataList({"1", "2", "3"});
  copy.Assign(source);
  EXPECT_EQ(copy.DataList(), QStringList({"20", "80"}));
  EXPECT_EQ(copy.Points(), QStringList({"0", "60"}));
  EXPECT_EQ(copy.SlotNumber(), 0);
  EXPECT_EQ(copy.SlotSize(), 0.0);
  EXPECT_EQ(copy.StopValue(), 0.0);
  EXPECT_TRUE(copy.Enabled());
}

// The run of a cyclogram kept in whole milliseconds from an arbitrary origin, written from the rules
// alone: slot 0 writes the first value at once; a slot of d seconds ramps from the previous value to
// its own and writes its own value, exactly, on the first tick at least d s after it began; the next
// slot begins at that tick.
class TMillisecondModel {
 public:
  TMillisecondModel(std::vector<double> values, std::vector<int64_t> seconds)
      : values_(std::move(values)), seconds_(std::move(seconds)) {}

  struct TStep {
    bool Wrote = false;
    bool Exact = false;
    double Value = 0;
  };

  TStep Tick(int64_t ms) {
    TStep step;
    if (finished_ || values_.empty()) return step;
    step.Wrote = true;
    const int64_t size = slot_ == 0 ? 0 : seconds_[slot_] * 1000;
    const int64_t elapsed = ms - start_;
    if (slot_ == 0 || elapsed >= size) {
      step.Exact = true;
      step.Value = values_[slot_];
      ++slot_;
      start_ = ms;
      finished_ = slot_ == static_cast<int>(values_.size());
    } else {
      step.Value = values_[slot_ - 1] + (values_[slot_] - values_[slot_ - 1]) * static_cast<double>(elapsed) /
                                            static_cast<double>(size);
    }
    return step;
  }

  // Percent of the whole programme's seconds behind the clock, whole seconds of the running slot.
  int Done(int64_t ms) const {
    if (finished_ || values_.empty()) return 100;
    int64_t total = 0;
    int64_t behind = 0;
    for (size_t k = 1; k < seconds_.size(); ++k) {
      total += seconds_[k];
      if (static_cast<int>(k) < slot_) behind += seconds_[k];
    }
    if (total == 0) return 100;
    behind += (ms - start_) / 1000;
    return static_cast<int>(std::min<int64_t>(100, behind * 100 / total));
  }

  bool Finished() const { return finished_; }
  int Slot() const { return slot_; }
  // Milliseconds until the running slot's end, from a tick at ms; 0 when it ends on that tick.
  int64_t ToSlotEnd(int64_t ms) const {
    if (finished_ || slot_ == 0) return 0;
    return std::max<int64_t>(0, seconds_[slot_] * 1000 - (ms - start_));
  }

 private:
  std::vector<double> values_;
  std::vector<int64_t> seconds_;
  int slot_ = 0;
  int64_t start_ = 0;
  bool finished_ = false;
};

// Random cyclograms, started at random times of random days and stepped on three kinds of tick
// schedule (every 10 s, random gaps, and gaps that land exactly on slot ends), against the model.
TEST_F(CommandNodeTest, RandomCyclogramsRunAsTheMillisecondModelSays) {
  std::mt19937 random(20261209);
  auto uniform = [&](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(random);
  };
  TRootNode* process = Process("P");
  const double firstDay = std::floor(t0);
  int slotEndsHit = 0;
  for (int run = 0; run < 300; ++run) {
    const int count = static_cast<int>(uniform(1, 8));
    std::vector<double> values;
    std::vector<int64_t> seconds;
    QStringList valueTexts;
    QStringList secondTexts;
    for (int k = 0; k < count; ++k) {
      values.push_back(static_cast<double>(uniform(-2000, 2000)) / 4);
      const int64_t kind = uniform(0, 9);
      seconds.push_back(k == 0      ? uniform(0, 900)
                        : kind == 0 ? 0
                        : kind < 6  ? uniform(1, 120)
                                    : 10 * uniform(1, 60));
      valueTexts << FloatToStr(values.back());
      secondTexts << QString::number(seconds.back());
    }
    const int schedule = run % 3;
    const double day = firstDay + static_cast<double>(uniform(0, 400));
    const int64_t startMs = uniform(0, 86'399'999);
    auto at = [&](int64_t ms) {
      Clock->SetNow(day);
      Clock->Advance(startMs + ms);
    };
    SCOPED_TRACE(testing::Message() << "run " << run << " schedule " << schedule << " values "
                                    << valueTexts.join(' ').toStdString() << " seconds "
                                    << secondTexts.join(' ').toStdString() << " start " << startMs);
    at(0);
    std::unique_ptr<TCommandNode> node(Node(process, valueTexts, secondTexts, rtDOUBLE));
    node->Start();
    TMillisecondModel model(values, seconds);
    int64_t ms = 0;
    for (int tick = 0; tick < 3000; ++tick) {
      SCOPED_TRACE(testing::Message() << "tick at +" << ms << " ms");
      at(ms);
      const int before = frames;
      node->Refresh(Line());
      const TMillisecondModel::TStep expected = model.Tick(ms);
      ASSERT_EQ(frames != before, expected.Wrote);
      if (expected.Wrote) {
        const double written = StrToFloat(node->LastStringData()).value_or(NAN);
        if (expected.Exact) {
          ASSERT_EQ(written, expected.Value);
        } else {
          ASSERT_NEAR(written, expected.Value, 1e-9 * std::max(1.0, std::fabs(expected.Value)));
        }
      }
      ASSERT_EQ(node->Finished(), model.Finished());
      if (!model.Finished()) {
        ASSERT_EQ(node->SlotNumber(), model.Slot());
      }
      at(ms);  // the write's pause moved the clock on
      ASSERT_EQ(node->Done(), model.Done(ms));
      if (model.Finished() && !expected.Wrote) break;  // one tick past the end wrote nothing

      int64_t gap = schedule == 0 ? 10'000 : uniform(1, 20'000);
      if (schedule == 2 && model.ToSlotEnd(ms) > 0 && model.ToSlotEnd(ms) <= gap) {
        gap = model.ToSlotEnd(ms);
        ++slotEndsHit;
      }
      ms += gap;
    }
    ASSERT_TRUE(model.Finished());
  }
  EXPECT_GT(slotEndsHit, 100);  // the exact slot ends were really tried
}

// On the system clock the tick only asks for its writes: the line's writer runs them while the main
// thread goes on, and a node whose write is still on its way at the next tick asks for no other.
TEST_F(CommandNodeTest, ATickAsksForItsWritesAndANodeWaitsForItsOutcomeBeforeTheNext) {
  const TSystemClockScope systemClock;
  AddRampingProcesses(*Tasks(), 2, 3);
  TLineWriter& writer = Current().Writer();
  // Ticks at once one after the other, then once the outcomes have arrived: six writes each time.
  for (const bool outcomesFirst : {false, false, true}) {
    SCOPED_TRACE(outcomesFirst);
    if (outcomesFirst) {
      ASSERT_TRUE(RunEventsUntil([&] { return writer.Pending() == 0; }, 10000));
      for (int p = 0; p < 2; ++p)
        for (int n = 0; n < 3; ++n) {
          const auto* node = static_cast<const TCommandNode*>(Tasks()->Node(p)->Node(n));
          EXPECT_FALSE(node->WritePending());
          EXPECT_EQ(node->LastIOResult(), iorOK);
          // The simulator kept what was written: a value of the ramp.
          EXPECT_NEAR(StrToFloat(node->LastStringData()).value_or(0), 50, 30);
        }
    }
    EXPECT_TRUE(ProcessTick(Current()).Empty());
    EXPECT_EQ(writer.Pending(), 6u);
  }
  writer.Stop();
}

}  // namespace
}  // namespace vexa::test
