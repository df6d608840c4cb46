#include <gtest/gtest.h>

#include <QDir>

#include "core/ImageIndex.h"
#include "core/Network.h"
#include "processes/model/CommandNode.h"
#include "reports/model/ReportNode.h"
#include "support/TestSupport.h"
#include "ui/model/TickRunner.h"

namespace vexa::test {
namespace {

class TickRunnerTest : public TVexaTest {
 protected:
  TickRunnerTest() { QDir(Dir->path()).mkdir(QStringLiteral("Config")); }

  // A running process whose only node's cyclogram cannot run: the process tick stops it with a fault.
  TRootNode* BrokenProcess() {
    auto* process = new TRootNode(Tasks().get());
    process->SetName(QStringLiteral("P1"));
    process->SetCaption(QStringLiteral("Отжиг"));
    auto* node = new TCommandNode(process);
    node->SetName(TCustomRegister::RegisterName(0, 0, 4));
    node->SetCaption(QStringLiteral("Печь"));
    node->SetRegisterType(rtINT);
    node->SetUserCanWRITE(true);
    node->SetDataList({"0", "a"});
    node->SetPoints({"0", "10"});
    node->Reset();
    process->SetImageIndex(iiPLAY);
    process->SetEnabled(true);
    node->Start();
    return process;
  }
  // A running report whose stored interval is none of the list's: the report tick stops it.
  TReportNode* BrokenReport() {
    auto* report = new TReportNode(Reports().get());
    report->SetName(QStringLiteral("R1"));
    report->SetCaption(QStringLiteral("Печь"));
    report->SetLoggingIntervalIndex(99);
    report->SetImageIndex(iiPLAY);
    report->SetEnabled(true);
    return report;
  }
};

TEST_F(TickRunnerTest, VirtualSecondsTickEachPeriodInOrderAndTellEachTicksFaultsOnce) {
  TRootNode* process = BrokenProcess();
  TReportNode* report = BrokenReport();
  QList<TFaults> told;
  QList<int64_t> passes;
  TTickRunner runner(Current(), [&told](const TFaults& faults) { told << faults; });
  const int64_t start = Clock->TickMs();
  const auto pass = [&] { passes << Clock->TickMs() - start; };

  // Nine seconds: the report tick each second, the process tick not yet.
  runner.RunVirtual(9000, pass);
  EXPECT_EQ(passes, QList<int64_t>({0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000}));
  EXPECT_FALSE(report->Enabled());
  EXPECT_TRUE(process->Enabled());
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].Texts().at(0).startsWith(QStringLiteral("Отчет 'Печь' остановлен:")));

  // Ten seconds more: the process tick on the tenth stops the process; nothing shown meanwhile.
  runner.RunVirtual(9000, pass);
  EXPECT_TRUE(process->Enabled()) << "the process period counts from the run's start";
  runner.RunVirtual(10000, pass);
  ASSERT_EQ(passes.size(), 28);
  EXPECT_EQ(passes.last(), 27100) << "the process tick, its write and the pause after it come first";
  EXPECT_FALSE(process->Enabled());
  ASSERT_EQ(told.size(), 2);
  ASSERT_EQ(told[1].Items().size(), 1);
  EXPECT_TRUE(told[1].Texts().at(0).startsWith(QStringLiteral("Процесс 'Отжиг' остановлен:")));
  EXPECT_TRUE(Messages->Shown.empty());
}

// Seconds of plant time, whatever the exchanges take: a poll taking 2.5 s of the line moves the run
// on by that much, the seconds it took up are not replayed, and the run ends on its time.
TEST_F(TickRunnerTest, VirtualSecondsTheExchangesTakeUpAreNotReplayed) {
  const struct {
    const char* Name;
    int PassMs;
    QList<int64_t> Passes;
    QList<int64_t> Processes;
  } cases[] = {
      {"a poll of 2.5 s", 2500, {0, 2500, 5000, 7500, 10000, 12500, 15000, 17500, 20000}, {10000, 20000}},
      {"a poll of 11 s", 11000, {0, 11000}, {11000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    QList<int64_t> passes;
    QList<int64_t> processes;
    int reports = 0;
    TTickRunner runner(Current(), {});
    Clock->Advance((1000 - Clock->TickMs() % 1000) % 1000);  // on a whole second
    const int64_t start = Clock->TickMs();
    runner.SetStep(TTick::Processes, [&] {
      processes << Clock->TickMs() - start;
      return TFaults();
    });
    runner.SetStep(TTick::Reports, [&] {
      ++reports;
      return TFaults();
    });
    runner.RunVirtual(22000, [&](int64_t secondEnd) {
      passes << Clock->TickMs() - start;
      EXPECT_EQ(secondEnd - start, std::min<int64_t>(22000, (passes.last() / 1000 + 1) * 1000));
      Clock->Sleep(c.PassMs);
    });
    EXPECT_EQ(passes, c.Passes);
    EXPECT_EQ(processes, c.Processes);
    EXPECT_EQ(reports, passes.size());
    EXPECT_EQ(Clock->TickMs() - start, std::max<int64_t>(22000, passes.last() + c.PassMs));
  }
}

TEST_F(TickRunnerTest, TimersRunBothTicksUntilStopped) {
  BrokenReport();
  int told = 0;
  TTickRunner runner(Current(), [&told](const TFaults&) { ++told; });
  EXPECT_FALSE(runner.Running());
  runner.Start();
  EXPECT_TRUE(runner.Running());
  EXPECT_TRUE(RunEventsUntil([&] { return told > 0; }, 5000));
  runner.Stop();
  EXPECT_FALSE(runner.Running());
  EXPECT_EQ(told, 1);
}

}  // namespace
}  // namespace vexa::test
