// The line's writer on the system clock, with its own thread: writes asked without waiting run in
// the order asked, their outcomes are stored on the main thread, a register deleted meanwhile is
// left alone, and a stop drops what is queued. (On the test clock they run at once: the other
// tests' writes.)

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
  std::vector<int> sent;  // the silent register's write makes all its attempts, and nothing overtakes it
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    sent.insert(sent.end(), cases[i].Answers ? 1 : kAttempts, cases[i].Register);
    EXPECT_EQ(told[i].Register, cases[i].Register);
    EXPECT_TRUE(told[i].OnMain);
    EXPECT_TRUE(told[i].Result.Stored);
    EXPECT_EQ(told[i].Result.Ok(), cases[i].Answers);
  }
  EXPECT_EQ(written, sent);
  EXPECT_EQ(regs[1]->LastIOResult(), iorFAIL);
  EXPECT_EQ(regs[2]->LastIOResult(), iorOK);
  EXPECT_FALSE(regs[3]->WritePending());
  EXPECT_EQ(Network->Writer().Pending(), 0u);
}

TEST_F(LineWriterTest, ARegisterDeletedBeforeItsOutcomeArrivesIsLeftAloneAndDrainWaitsForAll) {
  // One deleted while its write is on the line, one while still queued behind it, one kept, whose
  // completion asks for another write: the drain waits for that too.
  TRegisterNode* inFlight = Add(1);
  TRegisterNode* queued = Add(2);
  TRegisterNode* kept = Add(3);
  inFlight->SubmitStringData(Line(), "1", Record(1));
  queued->SubmitStringData(Line(), "2", Record(2));
  kept->SubmitStringData(Line(), "3", [&](const TWriteResult& o) {
    told.push_back({3, o, InMainThread()});
    kept->SubmitStringData(Line(), "4", Record(4));
  });
  delete inFlight;
  delete queued;

  Network->Writer().Drain();
  ASSERT_EQ(told.size(), 4u);
  for (const TTold& t : told) {
    SCOPED_TRACE(t.Register);
    EXPECT_EQ(t.Result.Stored, t.Register >= 3);
    EXPECT_TRUE(t.Result.Ok());  // the device was still written: the operator asked for it
  }
  EXPECT_EQ(written, (std::vector<int>{1, 2, 3, 3}));
}

TEST_F(LineWriterTest, BeyondItsBoundTheQueueRefusesAndStopDropsItFinishingOnlyTheWriteInFlight) {
  TRegisterNode* reg = Add(1);
  silent.insert(1);  // each write holds the line for its attempts and pause
  constexpr size_t kBeyond = 10;
  constexpr size_t kAsked = TLineWriter::kMaxQueued + kBeyond;
  for (size_t i = 0; i < kAsked; ++i) reg->SubmitStringData(Line(), "1", Record(1));
  // A few may have left the queue for the line meanwhile; the rest beyond the bound were refused.
  const size_t refused = told.size();
  EXPECT_GE(refused, 1u);
  EXPECT_LE(refused, kBeyond);
  for (const TTold& t : told) EXPECT_TRUE(t.Result.Refused);

  Network->Writer().Stop();
  ASSERT_EQ(told.size(), kAsked);  // every completion told, by Stop itself
  size_t ran = 0;
  for (size_t i = refused; i < kAsked; ++i) {
    EXPECT_NE(told[i].Result.Dropped, told[i].Result.Stored);
    ran += told[i].Result.Stored ? 1 : 0;
  }
  EXPECT_LE(ran, kBeyond);
  EXPECT_EQ(written.size(), ran * kAttempts);
  EXPECT_FALSE(reg->WritePending());
  EXPECT_EQ(Network->Writer().Pending(), 0u);
  reg->SubmitStringData(Line(), "8", Record(1));
  EXPECT_TRUE(told.back().Result.Refused);
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

}  // namespace
}  // namespace vexa::test
