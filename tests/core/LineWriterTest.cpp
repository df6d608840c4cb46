// The line's writer on the system clock, with its own thread: writes asked without waiting run in
// the order asked, their outcomes are stored on the main thread, a register deleted meanwhile is
// left alone, and a stop drops what is queued. On a test clock the writes run at once.

#include <QCoreApplication>
#include <QThread>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "core/LineWriter.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

bool InMainThread() {
  return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Regulator 5 on a scripted line, with the system clock so that the writer runs its own thread.
// A register answers writes unless it is listed as silent.
class LineWriterTest : public TVexaTest {
 protected:
  LineWriterTest() {
    Port->Open();
    Port->Respond = [this](const QByteArray& req) -> std::vector<TChunk> {
      const int r = req[kFrameRegister];
      if (req[kFrameCommand] == cmdWrite) written.push_back(r);  // the writer's thread: read after
      if (silent.contains(r)) return {};
      return {{SealFrame(req.left(4)), 0}};
    };
  }
  ~LineWriterTest() override { Network->Writer().Stop(); }

  TRegisterNode* Add(int r) {
    auto* reg = new TRegisterNode(Net().get());
    reg->SetName(TCustomRegister::RegisterName(5, 1, r));
    reg->SetRegisterType(rtINT);
    reg->SetUserCanWRITE(true);
    return reg;
  }

  // Outcomes as the completions were told them, in the order they were called.
  struct TTold {
    int Register;
    TWriteResult Result;
    bool OnMain;
  };
  TWriteDone Record(int r) {
    return [this, r](const TWriteResult& o) { told.push_back({r, o, InMainThread()}); };
  }
  bool WaitForTold(size_t n) {
    return RunEventsUntil([&] { return told.size() >= n; }, 10000);
  }

  std::vector<int> written;
  std::set<int> silent;
  std::vector<TTold> told;
  TSystemClockScope systemClock;
};

TEST_F(LineWriterTest, WritesRunInTheOrderAskedAndTheirOutcomesAreStoredOnTheMainThread) {
  ASSERT_TRUE(TLineWriter::Threaded());
  const struct {
    int Register;
    const char* Value;
    bool Answers;
  } cases[] = {{3, "10", true}, {1, "11", false}, {2, "12", true}, {3, "13", true}};
  std::map<int, TRegisterNode*> regs;
  for (const auto& c : cases) {
    if (!regs.contains(c.Register)) regs[c.Register] = Add(c.Register);
    if (!c.Answers) silent.insert(c.Register);
    regs[c.Register]->SetLastIOResult(c.Answers ? iorFAIL : iorOK);  // each outcome must change it
  }
  for (const auto& c : cases)
    regs[c.Register]->SubmitStringData(Line(), QString::fromLatin1(c.Value), Record(c.Register));

  // Nothing has been waited for: no outcome can be handed over outside the main thread's loop.
  EXPECT_TRUE(told.empty());
  EXPECT_EQ(Network->Writer().Pending(), std::size(cases));
  EXPECT_TRUE(regs[3]->WritePending());

  ASSERT_TRUE(WaitForTold(std::size(cases)));
  std::vector<int> asked;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    asked.push_back(cases[i].Register);
    EXPECT_EQ(told[i].Register, cases[i].Register);
    EXPECT_TRUE(told[i].OnMain);
    EXPECT_TRUE(told[i].Result.Stored);
    EXPECT_EQ(told[i].Result.Ok(), cases[i].Answers);
  }
  // The silent register's write went out all its attempts, and nothing overtook it.
  std::vector<int> once;
  for (int r : written)
    if (once.empty() || once.back() != r) once.push_back(r);
  EXPECT_EQ(once, asked);
  EXPECT_EQ(regs[1]->LastIOResult(), iorFAIL);
  EXPECT_EQ(regs[2]->LastIOResult(), iorOK);
  EXPECT_FALSE(regs[3]->WritePending());
  EXPECT_EQ(Network->Writer().Pending(), 0u);
}

TEST_F(LineWriterTest, ARegisterDeletedBeforeItsOutcomeArrivesIsLeftAlone) {
  // One deleted while its write is on the line, one while still queued behind it, one kept.
  TRegisterNode* inFlight = Add(1);
  TRegisterNode* queued = Add(2);
  TRegisterNode* kept = Add(3);
  inFlight->SubmitStringData(Line(), "1", Record(1));
  queued->SubmitStringData(Line(), "2", Record(2));
  kept->SubmitStringData(Line(), "3", Record(3));
  delete inFlight;
  delete queued;

  ASSERT_TRUE(WaitForTold(3));
  for (const TTold& t : told) {
    SCOPED_TRACE(t.Register);
    EXPECT_EQ(t.Result.Stored, t.Register == 3);
    EXPECT_TRUE(t.Result.Ok());  // the device was still written: the operator asked for it
  }
  EXPECT_EQ(kept->LastIOResult(), iorOK);
  EXPECT_EQ(written, (std::vector<int>{1, 2, 3}));
}

TEST_F(LineWriterTest, StopDropsTheQueueFinishesTheWriteInFlightAndRefusesLaterOnes) {
  std::vector<TRegisterNode*> regs;
  for (int r = 1; r <= 5; ++r) regs.push_back(Add(r));
  for (int r = 1; r <= 5; ++r) regs[r - 1]->SubmitStringData(Line(), "7", Record(r));

  Network->Writer().Stop();

  ASSERT_EQ(told.size(), 5u);  // every completion told, by Stop itself
  size_t ran = 0;
  for (const TTold& t : told) {
    EXPECT_NE(t.Result.Dropped, t.Result.Stored);
    if (t.Result.Stored) ++ran;
  }
  EXPECT_LE(ran, 1u);
  EXPECT_EQ(written.size(), ran);
  EXPECT_EQ(Network->Writer().Pending(), 0u);
  for (TRegisterNode* reg : regs) EXPECT_FALSE(reg->WritePending());

  regs[0]->SubmitStringData(Line(), "8", Record(9));
  ASSERT_EQ(told.size(), 6u);
  EXPECT_TRUE(told.back().Result.Refused);
  EXPECT_FALSE(told.back().Result.Ok());
  EXPECT_EQ(written.size(), ran);
}

TEST_F(LineWriterTest, AFullQueueRefusesTheNewestWrite) {
  TRegisterNode* reg = Add(1);
  silent.insert(1);  // each write holds the line for its attempts and pause
  constexpr size_t kBeyond = 10;
  for (size_t i = 0; i < TLineWriter::kMaxQueued + kBeyond; ++i)
    reg->SubmitStringData(Line(), "1", Record(1));
  // A few may have left the queue for the line meanwhile; the rest beyond the bound were refused.
  ASSERT_FALSE(told.empty());
  EXPECT_LE(told.size(), kBeyond);
  for (const TTold& t : told) EXPECT_TRUE(t.Result.Refused);
}

TEST_F(LineWriterTest, DrainWaitsForTheQueueAndHandsTheOutcomesOverAtOnce) {
  TRegisterNode* a = Add(1);
  TRegisterNode* b = Add(2);
  a->SubmitStringData(Line(), "1", Record(1));
  // A completion may ask for another write: the drain waits for that too.
  b->SubmitStringData(Line(), "2", [&](const TWriteResult& o) {
    told.push_back({2, o, InMainThread()});
    a->SubmitStringData(Line(), "3", Record(3));
  });
  Network->Writer().Drain();
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[2].Register, 3);
  EXPECT_EQ(written, (std::vector<int>{1, 2, 1}));
}

// The simulator keeps a written value as the register's text; a real line leaves the text to reads.
TEST_F(LineWriterTest, TheTextTheSimulatorKeepsIsStoredAndAReadMeanwhileIsNotUndone) {
  const struct {
    bool Simulation;
    const char* ReadMeanwhile;  // stored on the node while its write is on its way
    const char* TextAfter;
  } cases[] = {{true, "85", "90"}, {false, "85", "85"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Simulation);
    Settings()->SetDemo(c.Simulation);
    TRegisterNode* reg = Add(1);
    reg->SetLastStringData("80");
    reg->SubmitStringData(Line(), "90", Record(1));
    reg->SetLastStringData(QString::fromLatin1(c.ReadMeanwhile));
    Network->Writer().Drain();
    EXPECT_EQ(reg->LastIOResult(), iorOK);
    EXPECT_EQ(reg->LastStringData(), QString::fromLatin1(c.TextAfter));
    delete reg;
  }
}

// On a clock of simulated time the write runs on the spot, and its pause is slept on that clock.
TEST(LineWriterInlineTest, OnATestClockTheWriteRunsAtOnceAndSleepsOnThatClock) {
  auto fake = std::make_unique<TFakeClock>();
  TFakeClock& clock = *fake;
  auto saved = std::exchange(Services().Clock, std::move(fake));
  ASSERT_FALSE(TLineWriter::Threaded());
  {
    auto port = std::make_unique<TFakeComm>(clock);
    TFakeComm& comm = *port;
    TNetwork network(QString(), std::move(port));
    comm.Open();
    comm.Respond = [](const QByteArray& req) -> std::vector<TChunk> { return {{SealFrame(req.left(4)), 0}}; };
    TRegisterNode reg(nullptr);
    reg.SetName(TCustomRegister::RegisterName(5, 1, 1));
    reg.SetRegisterType(rtINT);
    reg.SetUserCanWRITE(true);
    bool done = false;
    reg.SubmitStringData(network.LineContext(), "5",
                         [&](const TWriteResult& o) { done = o.Stored && o.Ok(); });
    EXPECT_TRUE(done);
    EXPECT_FALSE(reg.WritePending());
    EXPECT_EQ(comm.Written.size(), 1u);
    EXPECT_GE(clock.Slept(), 100);
  }
  Services().Clock = std::move(saved);
}

}  // namespace
}  // namespace vexa::test
