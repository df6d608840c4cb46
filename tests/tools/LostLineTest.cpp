// A line whose device goes away and comes back, end to end: vexa-cli polling or running on a
// vexa-sim line while the simulator is ended and started again on the same link. And the line the
// command line names winning over a folder's simulation mode.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <functional>
#include <optional>
#include <vector>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

// A line of vexa-cli's standard error and when it came, in ms since the program started.
struct TStamped {
  QString Text;
  qint64 AtMs;
};

// vexa-cli running, its standard error read line by line as it comes.
class TLiveCli {
 public:
  explicit TLiveCli(const QStringList& args) {
    process_.setReadChannel(QProcess::StandardError);  // the waits wake on its lines
    process_.start(QStringLiteral(VEXA_CLI_PATH), args);
    EXPECT_TRUE(process_.waitForStarted(5000));
    clock_.start();
  }
  ~TLiveCli() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  // Reads on until a line from `from` on matches, or the time is up; the line found.
  std::optional<TStamped> WaitFor(const std::function<bool(const QString&)>& match, size_t from,
                                  int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
      for (size_t i = from; i < lines_.size(); ++i)
        if (match(lines_[i].Text)) return lines_[i];
      if (waited.elapsed() > timeoutMs || process_.state() == QProcess::NotRunning) return std::nullopt;
      Collect(20);
    }
  }
  // SIGTERM, as a service is stopped.
  void Terminate() { process_.terminate(); }
  // Waits for the end; the exit code.
  int Finish(int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (process_.state() != QProcess::NotRunning && waited.elapsed() < timeoutMs) Collect(50);
    Collect(0);
    return process_.state() == QProcess::NotRunning && process_.exitStatus() == QProcess::NormalExit
               ? process_.exitCode()
               : -1;
  }
  qint64 Now() const { return clock_.elapsed(); }
  size_t Count() const { return lines_.size(); }
  const std::vector<TStamped>& Lines() const { return lines_; }
  int Matching(const std::function<bool(const QString&)>& match) const {
    int n = 0;
    for (const TStamped& line : lines_) n += match(line.Text) ? 1 : 0;
    return n;
  }
  QString Out() { return out_ += QString::fromUtf8(process_.readAllStandardOutput()); }
  QString Err() const {
    QStringList texts;
    for (const TStamped& line : lines_) texts << line.Text;
    return texts.join('\n');
  }

 private:
  void Collect(int waitMs) {
    if (waitMs > 0) process_.waitForReadyRead(waitMs);
    partial_ += process_.readAllStandardError();
    out_ += QString::fromUtf8(process_.readAllStandardOutput());
    for (qsizetype eol; (eol = partial_.indexOf('\n')) >= 0;) {
      lines_.push_back({QString::fromUtf8(partial_.left(eol)), clock_.elapsed()});
      partial_.remove(0, eol + 1);
    }
  }

  QProcess process_;
  QElapsedTimer clock_;
  QByteArray partial_;
  QString out_;
  std::vector<TStamped> lines_;
};

bool IsAnswer(const QString& line) {
  return line.startsWith(QLatin1String("< "));
}

class LostLineTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    link = Dir->filePath(QStringLiteral("line"));
    // Four registers of the simulated regulator 0, each read every second.
    TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), 0), 0);
    for (int r = 1; r <= 4; ++r)
      AddRegisterNode(channel, r, {.Type = rtUnknown, .Enabled = true, .LoggingInterval = 1});
    ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  }

  // The simulator is ended once reads are flowing and started again on the same link after a
  // while: the loss is told once, the return once, and answers come again within 2 s of the
  // simulator being back.
  void EndAndRestartTheSimulator(TLiveCli& cli, TSimProcess& sim) {
    ASSERT_TRUE(cli.WaitFor(IsAnswer, 0, 15000)) << cli.Err().toStdString();
    ASSERT_TRUE(cli.WaitFor(IsAnswer, cli.Count(), 5000)) << cli.Err().toStdString();
    sim.Stop();
    const size_t afterStop = cli.Count();
    const auto lost =
        cli.WaitFor([](const QString& l) { return l.contains(QStringLiteral("потерян")); }, afterStop, 5000);
    ASSERT_TRUE(lost) << cli.Err().toStdString();
    EXPECT_EQ(lost->Text, QStringLiteral("vexa-cli: Порт %1 потерян: устройство отключено").arg(link));
    // Down for a while, over several exchanges that end at once.
    cli.WaitFor([](const QString&) { return false; }, cli.Count(), 1500);
    const size_t beforeRestart = cli.Count();
    ASSERT_TRUE(sim.Start());
    const qint64 restartedAt = cli.Now();
    const auto answer = cli.WaitFor(IsAnswer, beforeRestart, 5000);
    ASSERT_TRUE(answer) << cli.Err().toStdString();
    EXPECT_LT(answer->AtMs - restartedAt, 2000) << cli.Err().toStdString();
    EXPECT_TRUE(cli.WaitFor([](const QString& l) { return l.contains(QStringLiteral("снова открыт")); },
                            beforeRestart, 1000))
        << cli.Err().toStdString();
    // Nothing was answered between the end and the start.
    for (size_t i = afterStop; i < beforeRestart; ++i)
      EXPECT_FALSE(IsAnswer(cli.Lines()[i].Text)) << cli.Lines()[i].Text.toStdString();
  }

  void ExpectToldOnceEach(const TLiveCli& cli) {
    EXPECT_EQ(cli.Matching([](const QString& l) { return l.contains(QStringLiteral("потерян")); }), 1)
        << cli.Err().toStdString();
    EXPECT_EQ(cli.Matching([this](const QString& l) {
      return l == QStringLiteral("vexa-cli: Порт %1 снова открыт").arg(link);
    }),
              1)
        << cli.Err().toStdString();
    EXPECT_EQ(cli.Matching([this](const QString& l) {
      return l == QStringLiteral("Линия: %1, 19200 бит/с").arg(link);
    }),
              1)
        << cli.Err().toStdString();
  }

  QString link;
};

TEST_F(LostLineTest, PollReadsAgainWithinTwoSecondsOfTheSimulatorComingBack) {
  TSimProcess sim(link, {"--seed", "5"});
  ASSERT_TRUE(sim.Start());
  TLiveCli cli({"--dir", Dir->path(), "--port", link, "--trace", "poll", "--seconds", "12"});
  EndAndRestartTheSimulator(cli, sim);
  ASSERT_EQ(cli.Finish(30000), 0) << cli.Err().toStdString();
  ExpectToldOnceEach(cli);
  const QString out = cli.Out();
  EXPECT_TRUE(out.contains(QStringLiteral("опрошено регистров: 4"))) << out.toStdString();
  // The reads while it was gone failed, and the poll says how many.
  EXPECT_TRUE(out.contains(QStringLiteral("неудачных чтений (\"***\"): "))) << out.toStdString();
  EXPECT_FALSE(out.contains(QStringLiteral("неудачных чтений (\"***\"): 0\n"))) << out.toStdString();
}

TEST_F(LostLineTest, RunReadsAgainWithinTwoSecondsOfTheSimulatorComingBack) {
  ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
  TSimProcess sim(link, {"--seed", "5"});
  ASSERT_TRUE(sim.Start());
  TLiveCli cli({"--dir", Dir->path(), "--port", link, "--trace", "run", "--seconds", "60"});
  EndAndRestartTheSimulator(cli, sim);
  cli.Terminate();
  ASSERT_EQ(cli.Finish(30000), 0) << cli.Err().toStdString();
  ExpectToldOnceEach(cli);
  EXPECT_TRUE(cli.Out().contains(QStringLiteral("состояние сохранено"))) << cli.Out().toStdString();
}

// The folder's settings have simulation on; the command line names a port: the run is on the
// port (its frames reach the simulator), says so once, and the folder keeps its own settings.
TEST_F(LostLineTest, APortOnTheCommandLineWinsOverTheFoldersSimulationMode) {
  Settings()->SetDemo(true);
  ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
  TSimProcess sim(link, {"--seed", "5", "--verbose"});
  ASSERT_TRUE(sim.Start());
  const TRun run = RunProgram(QStringLiteral(VEXA_CLI_PATH),
                              {"--dir", Dir->path(), "--port", link, "run", "--seconds", "3"});
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
  const QString simLog = sim.Log();
  const int requests = static_cast<int>(simLog.split('\n').filter(QRegularExpression("^> ")).size());
  EXPECT_GE(requests, 4) << simLog.toStdString();
  EXPECT_EQ(run.Err.count(QStringLiteral("включена имитация")), 1) << run.Err.toStdString();
  EXPECT_TRUE(run.Err.contains(
      QStringLiteral("vexa-cli: в настройках папки включена имитация; работа идёт на порту %1").arg(link)))
      << run.Err.toStdString();
  EXPECT_TRUE(run.Err.startsWith(QStringLiteral("Линия: %1, 19200 бит/с\n").arg(link)))
      << run.Err.toStdString();
  Settings()->SetDemo(false);
  LoadTreeFile(Current(), Settings());
  EXPECT_TRUE(Settings()->Demo()) << "the folder keeps its own settings";

  // With --demo the same folder simulates, and says so.
  sim.Log();
  const TRun demo =
      RunProgram(QStringLiteral(VEXA_CLI_PATH), {"--dir", Dir->path(), "--demo", "run", "--seconds", "2"});
  ASSERT_EQ(demo.Code, 0) << demo.Err.toStdString();
  EXPECT_TRUE(demo.Err.startsWith(QStringLiteral("Линия: имитация\n"))) << demo.Err.toStdString();
  EXPECT_FALSE(sim.Log().contains(QStringLiteral("> "))) << "nothing went to the line";
}

}  // namespace
}  // namespace vexa::test
