// vexa-cli run as systemd runs a line's service: the notifications on a socket of the test's own
// (readiness, status, the watchdog's pings, which stop while the poller thread is held still), and
// the priorities of its lines when standard error is the journal's stream.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "core/FileDescriptor.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "tools/vexa-cli/Systemd.h"

namespace vexa::test {
namespace {

using cli::PollStatusText;
using cli::TServiceNotifier;

TEST(PollStatusTextTest, TellsTheRegistersInRussianAndTheRoundInSeconds) {
  const struct {
    int Registers;
    std::optional<double> Cycle;
    const char* Text;
  } cases[] = {
      {0, std::nullopt, "опрос: 0 регистров"},     {1, std::nullopt, "опрос: 1 регистр"},
      {3, std::nullopt, "опрос: 3 регистра"},      {11, std::nullopt, "опрос: 11 регистров"},
      {14, std::nullopt, "опрос: 14 регистров"},   {21, std::nullopt, "опрос: 21 регистр"},
      {112, std::nullopt, "опрос: 112 регистров"}, {75, 3.0, "опрос: 75 регистров, 3 с"},
      {4, 1.46, "опрос: 4 регистра, 1,5 с"},       {4, 9.97, "опрос: 4 регистра, 10 с"},
      {4, 12.4, "опрос: 4 регистра, 12 с"},        {4, 0.04, "опрос: 4 регистра, 0 с"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PollStatusText(c.Registers, c.Cycle), QString::fromUtf8(c.Text)) << c.Registers;
}

class ServiceNotifierTest : public TVexaTest {};

// A ping for each look that finds the poller moved on, none while it stands still (the status then
// says since when); the round is the mean time between two reads of one register.
TEST_F(ServiceNotifierTest, PingsOnlyWhenThePollerMovesOnAndMeasuresTheRound) {
  auto* regulator = new TRootNode(Net().get());
  regulator->SetName(QStringLiteral("D000"));
  std::vector<TRegisterNode*> regs;
  for (int r = 1; r <= 3; ++r) {
    regs.push_back(new TRegisterNode(regulator));
    regs.back()->SetName(TCustomRegister::RegisterName(0, 0, r));
    regs.back()->SetEnabled(r != 3);
  }
  std::vector<QByteArray> sent;
  uint64_t progress = 0;
  TServiceNotifier notifier(
      *Network, [&sent](const QByteArray& m) { sent.push_back(m); }, 2000000);
  notifier.Progress = [&progress] { return progress; };
  EXPECT_EQ(notifier.LookIntervalMs(), 1000);
  notifier.Ready();
  ASSERT_EQ(sent.size(), 1U);
  EXPECT_EQ(QString::fromUtf8(sent[0]), QStringLiteral("READY=1\nSTATUS=опрос: 2 регистра"));

  // Read at 0, 3 and 5 s: periods of 3 and 2 s.
  for (int round = 0; round < 3; ++round) {
    for (TRegisterNode* reg : regs) Network->RegisterRead.Notify(*reg);
    Clock->Advance(round == 0 ? 3000 : 2000);
    ++progress;
  }
  auto look = [&] {
    const size_t before = sent.size();
    notifier.Look();
    return sent.size() > before ? QString::fromUtf8(sent.back()) : QString();
  };
  EXPECT_EQ(look(), QStringLiteral("WATCHDOG=1\nSTATUS=опрос: 2 регистра, 2,5 с"));
  Clock->Advance(1000);
  EXPECT_EQ(look(), QStringLiteral("STATUS=опрос стоит уже 1 с"));
  Clock->Advance(1000);
  EXPECT_EQ(look(), QStringLiteral("STATUS=опрос стоит уже 2 с"));
  ++progress;
  EXPECT_EQ(look(), QStringLiteral("WATCHDOG=1\nSTATUS=опрос: 2 регистра, 2,5 с"))
      << "the round as last measured";
  ++progress;
  EXPECT_EQ(look(), QStringLiteral("WATCHDOG=1")) << "the status as it was";
  notifier.Stopping();
  EXPECT_EQ(sent.back(), QByteArray("STOPPING=1"));

  // Without a watchdog only the status, every 10 s.
  TServiceNotifier plain(
      *Network, [&sent](const QByteArray& m) { sent.push_back(m); }, 0);
  plain.Progress = [&progress] { return progress; };
  EXPECT_EQ(plain.LookIntervalMs(), 10000);
  plain.Ready();
  ++progress;
  Network->RegisterRead.Notify(*regs[0]);
  Clock->Advance(4000);
  Network->RegisterRead.Notify(*regs[0]);
  const size_t before = sent.size();
  plain.Look();
  ASSERT_EQ(sent.size(), before + 1);
  EXPECT_EQ(QString::fromUtf8(sent.back()), QStringLiteral("STATUS=опрос: 2 регистра, 4 с"));
}

// A datagram socket of the test's own as NOTIFY_SOCKET, read as systemd reads it.
class TNotifySocket {
 public:
  explicit TNotifySocket(const QString& path) : path_(QFile::encodeName(path)) {
    fd_.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    EXPECT_LT(path_.size(), static_cast<qsizetype>(sizeof address.sun_path));
    std::memcpy(address.sun_path, path_.constData(), static_cast<size_t>(path_.size()));
    EXPECT_EQ(::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
  }
  const QByteArray& Path() const { return path_; }
  // The messages that came within ms.
  std::vector<QByteArray> Receive(int ms) {
    std::vector<QByteArray> messages;
    QElapsedTimer waited;
    waited.start();
    for (qint64 left = ms; left > 0; left = ms - waited.elapsed()) {
      pollfd p{fd_.Get(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
      if (n > 0) messages.emplace_back(buffer, static_cast<int>(n));
    }
    return messages;
  }
  // Reads until a message holds `wanted`, for at most ms; every message read goes to `log`.
  bool WaitFor(const QByteArray& wanted, int ms, std::vector<QByteArray>& log) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
      for (const QByteArray& m : Receive(50)) {
        log.push_back(m);
        if (m.contains(wanted)) return true;
      }
    }
    return false;
  }

 private:
  QByteArray path_;
  TFileDescriptor fd_;
};

// An environment variable for the scope: the children started meanwhile inherit it.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const QByteArray& value) : name_(name) {
    if (qEnvironmentVariableIsSet(name)) kept_ = qgetenv(name);
    if (value.isNull())
      qunsetenv(name);
    else
      qputenv(name, value);
  }
  ~TScopedEnv() {
    if (kept_)
      qputenv(name_, *kept_);
    else
      qunsetenv(name_);
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<QByteArray> kept_;
};

int CountOf(const std::vector<QByteArray>& messages, const QByteArray& line) {
  int n = 0;
  for (const QByteArray& m : messages) n += m.split('\n').count(line);
  return static_cast<int>(n);
}

// The thread of `pid` named so, by /proc; -1 when there is none.
int ThreadNamed(int pid, const QByteArray& name) {
  const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
  for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile comm(tasks + '/' + tid + QStringLiteral("/comm"));
    if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) return tid.toInt();
  }
  return -1;
}

// One thread of a child held still, as a thread stuck in the kernel is, while the others run on:
// stopped under ptrace, and let go with it.
class TThreadHold {
 public:
  explicit TThreadHold(int tid) : tid_(tid) {
    if (::ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0) {
      error_ = std::strerror(errno);
      return;
    }
    int status = 0;
    held_ = ::ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) == 0 &&
            ::waitpid(tid, &status, __WALL) == tid && WIFSTOPPED(status);
  }
  ~TThreadHold() { Release(); }
  TThreadHold(const TThreadHold&) = delete;
  TThreadHold& operator=(const TThreadHold&) = delete;
  bool Held() const { return held_; }
  const QString& Error() const { return error_; }
  void Release() {
    if (error_.isEmpty()) ::ptrace(PTRACE_DETACH, tid_, nullptr, nullptr);
    error_ = QStringLiteral("released");
    held_ = false;
  }

 private:
  int tid_;
  bool held_ = false;
  QString error_;
};

class ServiceTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    // Four registers of the simulated regulator 0, each read every second.
    auto* regulator = new TRootNode(Net().get());
    regulator->SetName(QStringLiteral("D000"));
    auto* channel = new TRootNode(regulator);
    channel->SetName(QStringLiteral("D000C000"));
    for (int r = 1; r <= 4; ++r) {
      auto* reg = new TRegisterNode(channel);
      reg->SetName(TCustomRegister::RegisterName(0, 0, r));
      reg->SetLoggingInterval(1);
      reg->SetEnabled(true);
    }
    ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  }
  QStringList RunArgs(const QString& link) const { return {"--dir", Dir->path(), "--port", link, "run"}; }
};

// Ready with the state loaded, a status with the registers and the round, pings every half
// interval; the poller thread held still, the pings stop while the status (the main thread) goes
// on; let go, they come again; SIGTERM tells the stop and the run ends well.
TEST_F(ServiceTest, TheWatchdogIsPingedOnlyWhileThePollerGetsOn) {
  TSimLine sim({"--seed", "5"});
  TNotifySocket socket(Dir->filePath(QStringLiteral("notify")));
  const TScopedEnv notify("NOTIFY_SOCKET", socket.Path());
  const TScopedEnv watchdog("WATCHDOG_USEC", "1000000");
  const TScopedEnv watchdogPid("WATCHDOG_PID", QByteArray());
  TChildProcess cli(QStringLiteral(VEXA_CLI_PATH), RunArgs(sim.Link()));

  std::vector<QByteArray> log;
  ASSERT_TRUE(socket.WaitFor("READY=1", 20000, log)) << cli.Err().toStdString();
  EXPECT_TRUE(log.back().split('\n').contains("STATUS=опрос: 4 регистра")) << log.back().toStdString();
  ASSERT_TRUE(socket.WaitFor("STATUS=опрос: 4 регистра, 1", 10000, log)) << cli.Err().toStdString();
  const std::vector<QByteArray> running = socket.Receive(2500);
  EXPECT_GE(CountOf(running, "WATCHDOG=1"), 4) << "every 500 ms";

  const int poller = ThreadNamed(cli.Pid(), "vexa-poller");
  ASSERT_GT(poller, 0);
  TThreadHold hold(poller);
  if (!hold.Error().isEmpty()) GTEST_SKIP() << "ptrace refused here: " << hold.Error().toStdString();
  ASSERT_TRUE(hold.Held());
  socket.Receive(700);  // a look may still have seen the last exchange
  const std::vector<QByteArray> held = socket.Receive(3000);
  EXPECT_EQ(CountOf(held, "WATCHDOG=1"), 0);
  int stuckStatuses = 0;
  for (const QByteArray& m : held) stuckStatuses += m.contains("STATUS=опрос стоит уже ") ? 1 : 0;
  EXPECT_GE(stuckStatuses, 2) << "the main thread goes on telling";
  EXPECT_TRUE(cli.Running());

  hold.Release();
  ASSERT_TRUE(socket.WaitFor("WATCHDOG=1", 3000, log));
  ASSERT_TRUE(socket.WaitFor("STATUS=опрос: 4 регистра, 1", 5000, log));
  cli.Signal(SIGTERM);
  EXPECT_TRUE(socket.WaitFor("STOPPING=1", 10000, log));
  ASSERT_TRUE(cli.Wait(30000));
  EXPECT_EQ(cli.Code(), 0) << cli.Err().toStdString();
  EXPECT_TRUE(cli.Out().contains("state saved")) << cli.Out().toStdString();
}

// Standard error as the journal's stream: each line has its priority, a lost port a warning;
// standard error anywhere else (JOURNAL_STREAM naming another file): the lines as they are.
TEST_F(ServiceTest, UnderTheJournalALostPortIsAWarning) {
  for (const bool journal : {true, false}) {
    SCOPED_TRACE(journal ? "journal" : "another file");
    TSimLine sim({"--seed", "5"});
    const QString errors = Dir->filePath(QStringLiteral("stderr"));
    const QString other = Dir->filePath(QStringLiteral("other"));
    for (const QString& path : {errors, other}) {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(journal ? errors : other).constData(), &st), 0);
    const TScopedEnv stream("JOURNAL_STREAM", QByteArray::number(static_cast<qulonglong>(st.st_dev)) + ':' +
                                                  QByteArray::number(static_cast<qulonglong>(st.st_ino)));
    // The shell hands the file itself on as standard error, so its device and inode are the ones named.
    TChildProcess cli(QStringLiteral("/bin/sh"),
                      QStringList{"-c", "exec \"$@\" 2>>\"$0\"", errors, QStringLiteral(VEXA_CLI_PATH)} +
                          RunArgs(sim.Link()) + QStringList{"--seconds", "30"});
    auto text = [&errors] {
      QFile file(errors);
      return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    auto waitFor = [&text](const QString& wanted) {
      QElapsedTimer waited;
      waited.start();
      while (!text().contains(wanted) && waited.elapsed() < 15000) QThread::msleep(20);
      return text().contains(wanted);
    };
    const QString prefix = journal ? QStringLiteral("<6>") : QString();
    ASSERT_TRUE(waitFor(prefix + QStringLiteral("Линия: %1, 19200 бит/с\n").arg(sim.Link())))
        << text().toStdString();
    QThread::msleep(500);
    sim.Kill();
    const QString lost = QStringLiteral("%1vexa-cli: Порт %2 потерян: устройство отключено\n")
                             .arg(journal ? "<4>" : "", sim.Link());
    ASSERT_TRUE(waitFor(lost)) << text().toStdString();
    cli.Stop(30000);
    EXPECT_EQ(cli.Code(), 0) << text().toStdString();
    const QStringList lines = text().split('\n', Qt::SkipEmptyParts);
    const QRegularExpression priority(QStringLiteral("^<[0-7]>"));
    for (const QString& line : lines)
      EXPECT_EQ(priority.match(line).hasMatch(), journal) << line.toStdString();
  }
}

}  // namespace
}  // namespace vexa::test
