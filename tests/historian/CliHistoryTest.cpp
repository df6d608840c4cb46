// vexa-cli and the historian: `history` prints each tier as CSV with its header, and a `run`
// killed with SIGKILL loses at most its last batch and leaves a database the next run goes on with.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDateTime>
#include <QDir>
#include <QThread>
#include <cmath>

#include "core/RegisterNode.h"
#include "historian/HistoryStore.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

constexpr int64_t kCliT0 = 1796083200000;  // 1 Dec 2026 00:00 UTC

class CliHistoryTest : public TVexaTest {
 protected:
  static TRun Cli(const QStringList& args) { return RunProgram(QStringLiteral(VEXA_CLI_PATH), args); }
  QString Path() const { return HistoryPath(Dir->path()); }
};

TEST_F(CliHistoryTest, EachStepPrintsItsTierAsCsv) {
  {
    THistoryStore store;
    ASSERT_TRUE(store.Open(Path()));
    std::vector<THistorySample> samples;
    for (int i = 0; i < 120; ++i)
      samples.push_back({"D000C000R001", kCliT0 + i * 30000, i != 1 ? i * 0.5 : std::nan(""), i != 1});
    samples.push_back({"D000C000R002", kCliT0, 7, true});
    ASSERT_TRUE(store.Write(samples));
    ASSERT_TRUE(store.RollUp(kCliT0 + 2 * kHourMs, {}));
  }
  const QString since = QString::number(kCliT0);
  const QString until = QString::number(kCliT0 + kHourMs);
  const struct {
    QStringList args;
    QStringList lines;
  } cases[] = {
      {{"D000C000R001", "--since", since, "--until", QString::number(kCliT0 + 90000), "--step", "raw"},
       {"time,register,value,ok", since + ",D000C000R001,0,1",
        QString::number(kCliT0 + 30000) + ",D000C000R001,,0",
        QString::number(kCliT0 + 60000) + ",D000C000R001,1,1"}},
      {{"D000C000R001", "D000C000R002", "--since", since, "--until", QString::number(kCliT0 + 60000),
        "--step", "1m"},
       {"time,register,min,mean,max,good,failed", since + ",D000C000R001,0,0,0,1,1",
        since + ",D000C000R002,7,7,7,1,0"}},
      {{"D000C000R001", "--since", "2026-12-01T00:00:00Z", "--until", until, "--step", "1h", "--iso"},
       {"time,register,min,mean,max,good,failed",
        "2026-12-01T00:00:00.000Z,D000C000R001,0,29.9957983193277,59.5,119,1"}},
      {{"NOTHERE", "--since", since, "--until", until, "--step", "1h"},
       {"time,register,min,mean,max,good,failed"}},
  };
  for (const auto& c : cases) {
    const TRun run = Cli(QStringList{"--dir", Dir->path(), "history"} + c.args);
    SCOPED_TRACE(c.args.join(' ').toStdString());
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out.split('\n', Qt::SkipEmptyParts), c.lines);
  }
  for (const QStringList& bad : {QStringList{"history"}, QStringList{"history", "A", "--step", "5m"},
                                 QStringList{"history", "A", "--since", "yesterday"}})
    EXPECT_NE(Cli(QStringList{"--dir", Dir->path()} + bad).Code, 0) << bad.join(' ').toStdString();
}

TEST_F(CliHistoryTest, AKilledRunLosesAtMostItsLastBatch) {
  TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), 0), 0);
  for (int r = 1; r <= 4; ++r) {
    TRegisterNode& reg = AddRegisterNode(channel, r, {.Enabled = true});
    reg.SetLoggingInterval(1);
  }
  ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  const auto lastRead = [this] {
    THistoryStore store;
    if (!store.Open(Path(), true, 2000)) return int64_t{0};
    int64_t last = 0;
    for (int r = 1; r <= 4; ++r)
      for (const THistoryRow& row : store.Query(
               {QStringLiteral("D000C000R%1").arg(r, 3, 10, QChar('0')), 0, INT64_MAX, THistoryStep::Raw}, {},
               0))
        last = std::max(last, row.Time);
    return last;
  };
  int64_t killedAt = 0;
  {
    TChildProcess run(QStringLiteral(VEXA_CLI_PATH), {"--demo", "--dir", Dir->path(), "run"});
    QElapsedTimer waited;
    waited.start();
    while (lastRead() == 0 && waited.elapsed() < 20000) QThread::msleep(100);
    ASSERT_GT(lastRead(), 0) << run.Err().toStdString();
    QThread::msleep(2500);
    killedAt = QDateTime::currentMSecsSinceEpoch();
    run.Kill();
    ASSERT_TRUE(run.Wait(5000));
  }
  // A batch a second, reads a second apart: what was read more than about two seconds before the
  // kill is in the database.
  const int64_t last = lastRead();
  EXPECT_GT(last, killedAt - 2500);
  const TRun again = Cli({"--demo", "--dir", Dir->path(), "run", "--seconds", "3"});
  EXPECT_EQ(again.Code, 0) << again.Err.toStdString();
  EXPECT_GT(lastRead(), killedAt);
}

}  // namespace
}  // namespace vexa::test
