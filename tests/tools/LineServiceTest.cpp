// vexa-cli run as systemd runs a line's service: the notifications on a socket of the test's own
// (readiness, status, the watchdog's pings, which stop while the poller thread is held still), and
// the priorities of its lines when standard error is the journal's stream.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

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

TEST(PollStatusTextTest, TellsTheRegistersInRussianAndTheRoundInSeconds) {
  const struct {
    int Registers;
    std::optional<double> Cycle;
    const char* Text;
  } cases[] = {{0, {}, "опрос: 0 регистров"},         {1, {}, "опрос: 1 регистр"},
               {3, {}, "опрос: 3 регистра"},          {11, {}, "опрос: 11 регистров"},
               {14, {}, "опрос: 14 регистров"},       {21, {}, "опрос: 21 регистр"},
               {75, 3.0, "опрос: 75 регистров, 3 с"}, {4, 1.46, "опрос: 4 регистра, 1,5 с"},
               {4, 9.97, "опрос: 4 регистра, 10 с"},  {112, 12.4, "опрос: 112 регистров, 12 с"}};
  for (const auto& c : cases) EXPECT_EQ(cli::PollStatusText(c.Registers, c.Cycle), QString::fromUtf8(c.Text));
}

class ServiceNotifierTest : public TVexaTest {};

// A ping for each look that finds the poller moved on, none while it stands still (the status then
// says since when); the round is the mean time between two reads of one register.
TEST_F(ServiceNotifierTest, PingsOnlyWhenThePollerMovesOnAndMeasuresTheRound) {
  std::vector<TRegisterNode*> regs;
  for (int r = 1; r <= 3; ++r) {
    regs.push_back(new TRegisterNode(Net().get()));
    regs.back()->SetName(TCustomRegister::RegisterName(0, 0, r));
    regs.back()->SetEnabled(r != 3);
  }
  std::vector<QString> sent;
  uint64_t progress = 0;
  cli::TServiceNotifier notifier(
      *Network, [&](const QByteArray& m) { sent.push_back(QString::fromUtf8(m)); }, 2000000);
  notifier.Progress = [&progress] { return progress; };
  EXPECT_EQ(notifier.LookIntervalMs(), 1000);
  notifier.Ready();
  EXPECT_EQ(sent.back(), QStringLiteral("READY=1\nSTATUS=опрос: 2 регистра"));
  for (const int ms : {3000, 2000, 2000}) {  // reads at 0, 3 and 5 s
    for (TRegisterNode* reg : regs) Network->RegisterRead.Notify(*reg);
    Clock->Advance(ms);
    ++progress;
  }
  const std::pair<int, const char*> looks[] = {
      {0, "WATCHDOG=1\nSTATUS=опрос: 2 регистра, 2,5 с"},
      {1000, "STATUS=опрос стоит уже 1 с"},
      {1000, "STATUS=опрос стоит уже 2 с"},
      {-1, "WATCHDOG=1\nSTATUS=опрос: 2 регистра, 2,5 с"},
      {-1, "WATCHDOG=1"},  // the status as it was
  };
  for (const auto& [advance, message] : looks) {
    if (advance < 0) ++progress;
    if (advance > 0) Clock->Advance(advance);
    sent.clear();
    notifier.Look();
    EXPECT_EQ(sent, std::vector<QString>{QString::fromUtf8(message)});
  }
  notifier.Stopping();
  EXPECT_EQ(sent.back(), QStringLiteral("STOPPING=1"));
}

// A datagram socket of the test's own as NOTIFY_SOCKET, read as systemd reads it.
class TNotifySocket {
 public:
  explicit TNotifySocket(const QString& path) : path_(QFile::encodeName(path)) {
    fd_.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.constData(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
  }
  const QByteArray& Path() const { return path_; }
  // The messages that come within ms, or until one holds `wanted`.
  std::vector<QByteArray> Receive(int ms, const QByteArray& wanted = {}) {
    std::vector<QByteArray> messages;
    QElapsedTimer waited;
    waited.start();
    for (qint64 left = ms; left > 0; left = ms - waited.elapsed()) {
      pollfd p{fd_.Get(), POLLIN, 0};
      char buffer[4096];
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
      if (n > 0) messages.emplace_back(buffer, static_cast<int>(n));
      if (!wanted.isEmpty() && n > 0 && messages.back().contains(wanted)) break;
    }
    return messages;
  }
  bool WaitFor(const QByteArray& wanted, int ms) {
    const std::vector<QByteArray> got = Receive(ms, wanted);
    return !got.empty() && got.back().contains(wanted);
  }

 private:
  QByteArray path_;
  TFileDescriptor fd_;
};

int Holding(const std::vector<QByteArray>& messages, const QByteArray& part) {
  return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                        [&part](const QByteArray& m) { return m.contains(part); }));
}

// The thread of `pid` named so, by /proc; -1 when there is none.
int ThreadNamed(int pid, const QByteArray& name) {
  const QString tasks = QStringLiteral("/proc/%1/task/").arg(pid);
  for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile comm(tasks + tid + QStringLiteral("/comm"));
    if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) return tid.toInt();
  }
  return -1;
}

class LineServiceTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    for (int r = 1; r <= 4; ++r) {  // four registers of the simulated regulator 0, read every second
      auto* reg = new TRegisterNode(Net().get());
      reg->SetName(TCustomRegister::RegisterName(0, 0, r));
      reg->SetLoggingInterval(1);
      reg->SetEnabled(true);
    }
    ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  }
  // vexa-cli run on the line, its standard error appended to `errors`, and JOURNAL_STREAM naming
  // the device and inode of `stream`, as systemd names its own.
  QStringList UnderJournal(const QString& errors, const QString& stream, const QStringList& line) const {
    const QString script = QStringLiteral(
        "s=$1; shift; : >>\"$0\"; : >>\"$s\"; export JOURNAL_STREAM=$(stat -L -c %d:%i \"$s\"); "
        "exec \"$@\" 2>>\"$0\"");
    return QStringList{"-c", script, errors, stream, VEXA_CLI_PATH, "--dir", Dir->path()} + line;
  }
};

// Ready with the state loaded, a status with the registers and the round, pings every half
// interval; the poller thread held still, the pings stop while the status (the main thread) goes
// on; let go, they come again; SIGTERM tells the stop and the run ends well.
TEST_F(LineServiceTest, TheWatchdogIsPingedOnlyWhileThePollerGetsOn) {
  TSimLine sim({"--seed", "5"});
  TNotifySocket socket(Dir->filePath(QStringLiteral("notify")));
  TChildProcess cli(
      QStringLiteral("/usr/bin/env"),
      {"-u", "WATCHDOG_PID", "NOTIFY_SOCKET=" + QString::fromUtf8(socket.Path()), "WATCHDOG_USEC=1000000",
       VEXA_CLI_PATH, "--dir", Dir->path(), "--port", sim.Link(), "run"});
  const std::vector<QByteArray> start = socket.Receive(20000, "READY=1");
  ASSERT_EQ(Holding(start, "READY=1\nSTATUS=опрос: 4 регистра"), 1) << cli.Err().toStdString();
  ASSERT_TRUE(socket.WaitFor("STATUS=опрос: 4 регистра, 1", 10000)) << cli.Err().toStdString();
  EXPECT_GE(Holding(socket.Receive(2500), "WATCHDOG=1"), 3) << "every 500 ms";

  // The poller thread held still, as a thread stuck in the kernel is, while the others run on.
  const int poller = ThreadNamed(cli.Pid(), "vexa-poller");
  ASSERT_GT(poller, 0);
  if (::ptrace(PTRACE_SEIZE, poller, nullptr, nullptr) != 0)
    GTEST_SKIP() << "ptrace refused here: " << std::strerror(errno);
  int status = 0;
  ASSERT_EQ(::ptrace(PTRACE_INTERRUPT, poller, nullptr, nullptr), 0);
  ASSERT_EQ(::waitpid(poller, &status, __WALL), poller);
  socket.Receive(1200);  // the next look may still have seen the last exchange
  const std::vector<QByteArray> held = socket.Receive(3000);
  EXPECT_EQ(Holding(held, "WATCHDOG=1"), 0);
  EXPECT_GE(Holding(held, "STATUS=опрос стоит уже "), 2) << "the main thread goes on telling";
  ASSERT_EQ(::ptrace(PTRACE_DETACH, poller, nullptr, nullptr), 0);
  EXPECT_TRUE(socket.WaitFor("WATCHDOG=1", 3000));
  EXPECT_TRUE(socket.WaitFor("STATUS=опрос: 4 регистра, 1", 5000));
  cli.Signal(SIGTERM);
  EXPECT_TRUE(socket.WaitFor("STOPPING=1", 10000));
  ASSERT_TRUE(cli.Wait(30000));
  EXPECT_EQ(cli.Code(), 0) << cli.Err().toStdString();
}

// Standard error as the journal's stream: each line with its priority, a lost port a warning, an
// error of several lines an error in each; standard error anywhere else: the lines as they are.
TEST_F(LineServiceTest, UnderTheJournalALostPortIsAWarning) {
  const QString errors = Dir->filePath(QStringLiteral("stderr"));
  auto text = [&errors] {
    QFile file(errors);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  };
  for (const bool journal : {true, false}) {
    SCOPED_TRACE(journal ? "journal" : "another file");
    QFile::remove(errors);
    TSimLine sim({"--seed", "5"});
    TChildProcess cli(QStringLiteral("/bin/sh"),
                      UnderJournal(errors, journal ? errors : Dir->filePath(QStringLiteral("other")),
                                   {"--port", sim.Link(), "run", "--seconds", "30"}));
    auto waitFor = [&text](const QString& wanted) {
      QElapsedTimer waited;
      waited.start();
      while (!text().contains(wanted) && waited.elapsed() < 15000) QThread::msleep(20);
      return text().contains(wanted);
    };
    const QString info = journal ? "<6>" : "";
    const QString warning = journal ? "<4>" : "";
    ASSERT_TRUE(waitFor(info + QStringLiteral("Линия: %1, 19200 бит/с\n").arg(sim.Link())))
        << text().toStdString();
    QThread::msleep(500);
    sim.Kill();
    EXPECT_TRUE(waitFor(warning +
                        QStringLiteral("vexa-cli: Порт %1 потерян: устройство отключено\n").arg(sim.Link())))
        << text().toStdString();
    cli.Stop(30000);
    EXPECT_EQ(cli.Code(), 0) << text().toStdString();
    for (const QString& line : text().split('\n', Qt::SkipEmptyParts))
      EXPECT_EQ(line.contains(QRegularExpression("^<[0-7]>")), journal) << line.toStdString();
  }

  QFile net(ConfigFilePath(Current().Dir(), QStringLiteral("NET")));  // a file that cannot be read
  ASSERT_TRUE(net.open(QIODevice::WriteOnly | QIODevice::Truncate));
  net.close();
  QFile::remove(errors);
  EXPECT_EQ(
      RunProgram(QStringLiteral("/bin/sh"), UnderJournal(errors, errors, {"--demo", "run", "--seconds", "1"}))
          .Code,
      1);
  const QStringList lines = text().split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 3) << text().toStdString();  // the line, and two of the error
  EXPECT_TRUE(lines[0].startsWith("<6>")) << lines[0].toStdString();
  for (qsizetype i = 1; i < lines.size(); ++i)
    EXPECT_TRUE(lines[i].startsWith("<3>")) << lines[i].toStdString();
}

}  // namespace
}  // namespace vexa::test
