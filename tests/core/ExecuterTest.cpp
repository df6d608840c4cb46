// The poller against the real clock and the main thread's event loop: what it hands over, in which
// order, when it saves, that it stops and suspends without deadlock, and that it rests when idle.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

bool OnMainThread() {
  return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// The real clock, which the test can move forward while the poller thread reads it.
class TShiftedClock : public TClock {
 public:
  double Now() const override { return TClock::Now() + static_cast<double>(shiftMs_) / 86400000.0; }
  int64_t TickMs() const override { return TClock::TickMs() + shiftMs_; }
  void Shift(int64_t ms) { shiftMs_ += ms; }

 private:
  std::atomic<int64_t> shiftMs_ = 0;
};

// Ends the test program when a step hangs, so a deadlock fails at once rather than at the timeout.
class TWatchdog {
 public:
  TWatchdog(int seconds, const char* what)
      : thread_([this, seconds, what] {
          std::unique_lock lock(mutex_);
          if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "hung: %s did not finish within %d s\n", what, seconds);
            std::_Exit(3);
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// Logs each refresh the poller has run on it and reads nothing, so it is due on every pass.
class TProbeRegister : public TCustomRegister {
 public:
  TProbeRegister(TComponent* owner, const QString& name, std::vector<QString>& log)
      : TCustomRegister(owner), log_(log) {
    SetName(name);
    SetEnabled(true);
  }
  void Refresh(const TLineContext&) override {
    log_.push_back(OnMainThread() ? Name() : Name() + " (not on the main thread)");
  }

 private:
  std::vector<QString>& log_;
};

// A node of its own class: neither a plain container nor a register.
class TOtherNode : public TRootNode {
 public:
  using TRootNode::TRootNode;
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info{"TOtherNode", &TRootNode::StaticClassInfo(), nullptr, {}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

TRootNode* Container(TComponent* owner, const QString& name) {
  auto* node = new TRootNode(owner);  // owned by owner
  node->SetName(name);
  return node;
}

class ExecuterTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    // The poller thread reads the clock while the test moves it: the fake clock is not made for
    // that. It stays alive for the fake port, which holds on to it.
    fakeClock_ = std::move(Services().Clock);
    auto clock = std::make_unique<TShiftedClock>();
    Shifted = clock.get();
    Services().Clock = std::move(clock);
    Settings()->SetDemo(true);
    Current().AutoSave = nullptr;
  }
  void TearDown() override {
    Current().StopPoller();
    Current().AutoSave = nullptr;
    TVexaTest::TearDown();
  }

  TProbeRegister* Probe(TComponent* owner, const QString& name) {
    return new TProbeRegister(owner, name, Log);
  }

  TShiftedClock* Shifted = nullptr;
  std::vector<QString> Log;  // refreshes and saves, in the order the main thread ran them

 private:
  std::unique_ptr<TClock> fakeClock_;
};

TEST_F(ExecuterTest, WalkStepsVisitEveryRegisterOncePerPass) {
  TRootNode* d0 = Container(Net().get(), "D000");
  TRootNode* c0 = Container(d0, "D000C000");
  Probe(c0, "D000C000R001");
  auto* other = new TOtherNode(c0);
  other->SetName("OTHER");
  Probe(other, "INSIDEOTHER");
  Container(d0, "D000C001");  // an empty channel
  TProbeRegister* top = Probe(Net().get(), "TOP");
  Probe(top, "INSIDEREGISTER");

  const TComponent* current = Net().get();
  int index = 0;
  for (int pass = 0; pass < 2; ++pass) {
    QStringList found;
    int steps = 0;
    TCustomRegister* reg = nullptr;
    while (!NextRegister(Net().get(), current, index, reg)) {
      ASSERT_LT(++steps, 50) << "the walk does not come back to the root";
      if (reg) found << reg->Name();
    }
    EXPECT_EQ(found, QStringList({"D000C000R001", "TOP"})) << "pass " << pass;
    EXPECT_EQ(current, Net().get());
    EXPECT_EQ(index, 0);
  }
}

TEST_F(ExecuterTest, HandsEnabledRegistersToTheMainThreadInTreeOrder) {
  TRootNode* d0 = Container(Net().get(), "D000");
  TRootNode* c00 = Container(d0, "D000C000");
  Probe(c00, "D000C000R001");
  Probe(c00, "D000C000R002")->SetEnabled(false);
  Probe(c00, "D000C000R003");
  Probe(Container(d0, "D000C001"), "D000C001R001");
  TRootNode* d1 = Container(Net().get(), "D001");
  TRootNode* c10 = Container(d1, "D001C000");
  c10->SetEnabled(false);  // a disabled channel: its enabled registers are still polled
  d1->SetEnabled(false);
  Probe(c10, "D001C000R001");
  auto* other = new TOtherNode(c10);
  other->SetName("OTHER");
  Probe(other, "INSIDEOTHER");
  TProbeRegister* withChild = Probe(c10, "D001C000R002");
  Probe(withChild, "INSIDEREGISTER");
  ASSERT_FALSE(c10->Enabled());

  const std::vector<QString> pass = {"D000C000R001", "D000C000R003", "D000C001R001", "D001C000R001",
                                     "D001C000R002"};
  Current().StartPoller();
  ASSERT_TRUE(RunEventsUntil([&] { return Log.size() >= 3 * pass.size(); }, 5000));
  Current().StopPoller();
  for (size_t i = 0; i < 3 * pass.size(); ++i) ASSERT_EQ(Log[i], pass[i % pass.size()]) << "visit " << i;
}

TEST_F(ExecuterTest, IntervalZeroSavesAfterEveryRefreshAndAtEveryReturnToTheRoot) {
  TRootNode* d0 = Container(Net().get(), "D000");
  TRootNode* c00 = Container(d0, "D000C000");
  Probe(c00, "A1");
  Probe(c00, "A2");
  Probe(Container(Container(Net().get(), "D001"), "D001C000"), "B1");
  Settings()->SetAutoSaveEnabled(true);
  Settings()->SetAutoSaveInterval(0);
  Current().AutoSave = [this] { Log.push_back(OnMainThread() ? "save" : "save (not on the main thread)"); };

  // Back at the root after D000, again after D001, and once more when the pass is complete.
  const std::vector<QString> pass = {"A1", "save", "A2", "save", "save", "B1", "save", "save", "save"};
  Current().StartPoller();
  ASSERT_TRUE(RunEventsUntil([&] { return Log.size() >= 3 * pass.size(); }, 5000));
  Current().StopPoller();
  for (size_t i = 0; i < 3 * pass.size(); ++i) ASSERT_EQ(Log[i], pass[i % pass.size()]) << "entry " << i;
}

TEST_F(ExecuterTest, AutoSaveFollowsItsIntervalFromEachStartAlsoWithAnEmptyTree) {
  Settings()->SetAutoSaveEnabled(true);
  Settings()->SetAutoSaveInterval(1);
  int saves = 0;
  Current().AutoSave = [&saves] { saves += OnMainThread() ? 1 : 1000; };

  Current().StartPoller();
  const double started = Current().Executer()->LastSave();
  RunEventsFor(300);
  Shifted->Shift(58'000);
  RunEventsFor(300);
  EXPECT_EQ(saves, 0) << "saved before a minute had passed";
  Shifted->Shift(2'000);
  ASSERT_TRUE(RunEventsUntil([&] { return saves == 1; }, 2000)) << "saves: " << saves;
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_GE((Current().Executer()->LastSave() - started) * 86400.0, 60.0);

  Shifted->Shift(30'000);
  RunEventsFor(300);
  EXPECT_EQ(saves, 1) << "the interval counts from the last save";
  Shifted->Shift(30'000);
  ASSERT_TRUE(RunEventsUntil([&] { return saves == 2; }, 2000)) << "saves: " << saves;

  // A new poller starts its own interval.
  Current().StopPoller();
  Shifted->Shift(50'000);
  Current().StartPoller();
  Shifted->Shift(30'000);
  RunEventsFor(300);
  EXPECT_EQ(saves, 2);
  Shifted->Shift(30'000);
  EXPECT_TRUE(RunEventsUntil([&] { return saves == 3; }, 2000)) << "saves: " << saves;
}

TEST_F(ExecuterTest, StopWhileACallWaitsForTheMainThreadDoesNotDeadlock) {
  Probe(Net().get(), "R1");
  Current().StartPoller();
  // No event loop runs: the poller posts its first refresh and waits for it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  QElapsedTimer timer;
  timer.start();
  {
    TWatchdog watchdog(10, "StopPoller");
    Current().StopPoller();
  }
  EXPECT_LT(timer.elapsed(), 2000);
  EXPECT_EQ(Current().Executer(), nullptr);
  EXPECT_FALSE(Current().PollerRunning());
  // The dropped call never runs later.
  RunEventsFor(100);
  EXPECT_TRUE(Log.empty());

  // Terminated without waiting, then stopped while the event loop runs meanwhile.
  Current().StartPoller();
  ASSERT_TRUE(RunEventsUntil([&] { return !Log.empty(); }, 2000));
  Current().TerminatePoller();
  EXPECT_FALSE(Current().PollerRunning());
  RunEventsFor(50);
  const size_t after = Log.size();
  RunEventsFor(100);
  EXPECT_EQ(Log.size(), after) << "refreshed after the terminate request";
  TWatchdog watchdog(10, "StopPoller after TerminatePoller");
  Current().StopPoller();
}

TEST_F(ExecuterTest, SuspendHoldsBackMainThreadCallsUntilEveryResume) {
  Probe(Net().get(), "R1");
  Current().StartPoller();
  ASSERT_TRUE(RunEventsUntil([&] { return Log.size() >= 3; }, 2000));
  Current().SuspendPoller();
  Current().SuspendPoller();
  const size_t atSuspend = Log.size();
  RunEventsFor(200);
  EXPECT_EQ(Log.size(), atSuspend);
  Current().ResumePoller();
  RunEventsFor(200);
  EXPECT_EQ(Log.size(), atSuspend) << "one resume ended two suspends";
  Current().ResumePoller();
  EXPECT_TRUE(RunEventsUntil([&] { return Log.size() > atSuspend + 3; }, 2000));

  Current().SuspendPoller();
  RunEventsFor(50);
  TWatchdog watchdog(10, "StopPoller while suspended");
  Current().StopPoller();
  Current().ResumePoller();  // no poller: nothing happens
  Current().SuspendPoller();
}

TEST_F(ExecuterTest, TheAutoSaveMaySuspendAndResumeThePollerWaitingForIt) {
  Probe(Net().get(), "R1");
  Settings()->SetAutoSaveEnabled(true);
  Settings()->SetAutoSaveInterval(0);
  int saves = 0;
  Current().AutoSave = [&] {
    Current().SuspendPoller();
    ++saves;
    Log.push_back("save");
    QCoreApplication::processEvents();  // a save that shows its progress
    Current().ResumePoller();
  };
  TWatchdog watchdog(20, "polling with a suspending auto save");
  Current().StartPoller();
  EXPECT_TRUE(RunEventsUntil([&] { return saves >= 10; }, 5000)) << "saves: " << saves;
  Current().StopPoller();
  // After the refresh, and at the end of each pass.
  const std::vector<QString> pass = {"R1", "save", "save"};
  ASSERT_GE(Log.size(), 3 * pass.size());
  for (size_t i = 0; i < 3 * pass.size(); ++i) ASSERT_EQ(Log[i], pass[i % pass.size()]) << "entry " << i;
}

TEST_F(ExecuterTest, StopFromInsideItsOwnAutoSaveIsSafe) {
  Probe(Net().get(), "R1");
  Settings()->SetAutoSaveEnabled(true);
  Settings()->SetAutoSaveInterval(0);
  int saves = 0;
  Current().AutoSave = [&] {
    ++saves;
    Current().StopPoller();  // e.g. a save that fails into a restore
  };
  TWatchdog watchdog(10, "StopPoller inside the auto save");
  Current().StartPoller();
  ASSERT_TRUE(RunEventsUntil([&] { return saves == 1; }, 2000));
  EXPECT_EQ(Current().Executer(), nullptr);
  RunEventsFor(100);
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(Log.size(), 1u);
  Current().StartPoller();  // joins the old thread, and the new poller works
  EXPECT_TRUE(RunEventsUntil([&] { return saves == 2; }, 2000));
}

// The status line says what the poller tells of itself: its start and stop, nothing else; a save
// only suspends it, which is still "Работа".
TEST_F(ExecuterTest, ThePollersStartAndStopTellItsState) {
  std::vector<bool> told;
  Current().PollerState = [&](bool running) { told.push_back(running); };
  Current().StopPoller();  // none runs: nothing to tell
  EXPECT_TRUE(told.empty());
  EXPECT_EQ(Current().PollerStateText(), QStringLiteral("Останов"));
  Current().StartPoller();
  EXPECT_EQ(told, std::vector<bool>({true}));
  EXPECT_EQ(Current().PollerStateText(), QStringLiteral("Работа"));
  Current().SuspendPoller();
  EXPECT_EQ(Current().PollerStateText(), QStringLiteral("Работа"));
  Current().ResumePoller();
  Current().StartPoller();  // a new poller replaces the old one
  EXPECT_EQ(told, std::vector<bool>({true, false, true}));
  Current().TerminatePoller();  // the main window's close: asked to end, not yet waited for
  EXPECT_EQ(Current().PollerStateText(), QStringLiteral("Останов"));
  Current().StopPoller();
  EXPECT_EQ(told, std::vector<bool>({true, false, true, false}));
  Current().PollerState = nullptr;
}

TEST_F(ExecuterTest, RegisterNodesAreReadOncePerIntervalNeverEarly) {
  TRootNode* channel = Container(Container(Net().get(), "D000"), "D000C000");
  for (int r = 1; r <= 5; ++r) {
    auto* reg = new TRegisterNode(channel);
    reg->SetName(TCustomRegister::RegisterName(0, 0, r));
    reg->SetLoggingInterval(1);
    reg->SetEnabled(true);
  }
  std::map<QString, std::vector<double>> reads;
  std::map<QString, double> seen;
  for (int r = 0; r < channel->ComponentCount(); ++r) {
    const auto* reg = static_cast<const TCustomRegister*>(channel->Component(r));
    seen[reg->Name()] = reg->RDTime();
  }
  Current().StartPoller();
  Current().Executer()->OnRefreshed = [&](TCustomRegister& reg) {
    if (reg.RDTime() == seen[reg.Name()]) return;
    seen[reg.Name()] = reg.RDTime();
    reads[reg.Name()].push_back(reg.RDTime());
  };
  RunEventsFor(3500);
  Current().StopPoller();

  ASSERT_EQ(reads.size(), 5u);
  for (const auto& [name, times] : reads) {
    EXPECT_GE(times.size(), 2u) << qPrintable(name);
    EXPECT_LE(times.size(), 4u) << qPrintable(name);
    for (size_t i = 1; i < times.size(); ++i) {
      const double gapMs = (times[i] - times[i - 1]) * 86400000.0;
      // Due on the tick, stamped on the wall clock: the two may differ by a millisecond at each end,
      // and a stamp kept as a fraction of a day is a few microseconds off.
      EXPECT_GE(gapMs, 997.9) << qPrintable(name) << " read early";
      EXPECT_LT(gapMs, 2000.0) << qPrintable(name) << " read late";
    }
  }
}

TEST_F(ExecuterTest, ARegisterEnabledWhileThePollerRestsIsSoonPolled) {
  TProbeRegister* reg = Probe(Container(Net().get(), "D000"), "R1");
  reg->SetEnabled(false);
  Current().StartPoller();
  RunEventsFor(300);
  ASSERT_TRUE(Log.empty());
  QElapsedTimer timer;
  timer.start();
  reg->SetEnabled(true);
  // A rest lasts 100 ms at most; the bound leaves room for a loaded machine, and still fails a
  // poller that looks at enabled registers only on a slow cycle.
  ASSERT_TRUE(RunEventsUntil([&] { return !Log.empty(); }, 5000));
  EXPECT_LT(timer.elapsed(), 2000);
}

// The poller thread's exchanges find the port lost: told once, on that thread, and once again when
// it is back, when its reads succeed again. The port changes under the line's lock, as a real port's
// state changes inside its own exchange.
TEST_F(ExecuterTest, ALostPortIsToldOnceFromThePollerAndReadsResumeWhenItIsBack) {
  Settings()->SetDemo(false);
  Port->SetDeviceName(QStringLiteral("COM2"));
  Port->Open();
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    return {{SealFrame(req.left(4) + char(0x40 | rtINT) + char(7) + char(0)), 0}};
  };
  TRootNode* channel = Container(Container(Net().get(), "D000"), "D000C000");
  for (int r = 1; r <= 3; ++r) {
    auto* reg = new TRegisterNode(channel);
    reg->SetName(TCustomRegister::RegisterName(0, 0, r));
    reg->SetLoggingInterval(1);
    reg->SetEnabled(true);
  }
  std::mutex noticesMutex;
  QStringList notices;
  Current().Line().Notice = [&](const QString& text, bool) {
    EXPECT_FALSE(OnMainThread());
    std::lock_guard lock(noticesMutex);
    notices << text;
  };
  const auto told = [&] {
    std::lock_guard lock(noticesMutex);
    return notices;
  };
  int ok = 0;
  int failed = 0;
  Current().StartPoller();
  Current().Executer()->OnRefreshed = [&](TCustomRegister& reg) {
    ++(reg.LastIOResult() == iorOK ? ok : failed);
  };
  ASSERT_TRUE(RunEventsUntil([&] { return ok > 0; }, 5000));
  {
    const auto line = Current().Line().Lock();
    Port->SetLost(true);
  }
  const int failedBefore = failed;
  ASSERT_TRUE(RunEventsUntil([&] { return failed >= failedBefore + 6; }, 8000));  // two rounds at least
  EXPECT_EQ(told(), QStringList{"Порт COM2 потерян: устройство отключено"});
  {
    const auto line = Current().Line().Lock();
    Port->SetLost(false);
  }
  const int okBefore = ok;
  ASSERT_TRUE(RunEventsUntil([&] { return ok > okBefore; }, 5000));
  Current().StopPoller();
  EXPECT_EQ(told(), (QStringList{"Порт COM2 потерян: устройство отключено", "Порт COM2 снова открыт"}));
}

// The poller keeps a silent regulator's silence on its own thread: after the first read that finds
// D001 silent, its registers fail at their due times without an exchange and one request a second
// asks whether it is back, while D000's registers go on being read every second.
TEST_F(ExecuterTest, ASilentRegulatorCostsTheLineOneRequestPerInterval) {
  Settings()->SetDemo(false);
  Port->SetDeviceName(QStringLiteral("COM2"));
  Port->Open();
  Port->Respond = [](const QByteArray& req) -> std::vector<TChunk> {
    if (req[0] != 0) return {};
    return {{SealFrame(req.left(4) + char(0x40 | rtINT) + char(7) + char(0)), 0}};
  };
  std::vector<TRegisterNode*> regs;
  for (int d = 0; d <= 1; ++d) {
    TRootNode* channel =
        Container(Container(Net().get(), QString::asprintf("D%03d", d)), QString::asprintf("D%03dC000", d));
    for (int r = 1; r <= 3; ++r) {
      auto* reg = new TRegisterNode(channel);
      reg->SetName(TCustomRegister::RegisterName(d, 0, r));
      reg->SetLoggingInterval(1);
      reg->SetEnabled(true);
      regs.push_back(reg);
    }
  }
  std::map<QString, QStringList> stored;
  Current().StartPoller();
  Current().Executer()->OnRefreshed = [&](TCustomRegister& reg) {
    stored[reg.Name()] << reg.LastStringData();
  };
  QElapsedTimer timer;
  timer.start();
  RunEventsFor(4500);
  Current().StopPoller();
  const double seconds = static_cast<double>(timer.elapsed()) / 1000.0;

  int silentRequests = 0;
  for (const QByteArray& request : Port->Written) silentRequests += request[0] == 1 ? 1 : 0;
  // Its registers fall due first about a second in: three attempts, then at most one a second.
  EXPECT_GE(silentRequests, 4);
  EXPECT_LE(silentRequests, 3 + static_cast<int>(seconds)) << "in " << seconds << " s";
  for (const TRegisterNode* reg : regs) {
    const QStringList& texts = stored[reg->Name()];
    EXPECT_GE(texts.size(), 2) << qPrintable(reg->Name());  // due at 1 s, 2 s, 3 s and 4 s
    EXPECT_EQ(texts.count(reg->Name().startsWith("D000") ? "7" : "***"), texts.size())
        << qPrintable(reg->Name());
  }
}

TEST_F(ExecuterTest, DoesNotSpinWhileNoRegisterIsDue) {
  for (int d = 0; d < 20; ++d) {
    TRootNode* channel =
        Container(Container(Net().get(), QString::asprintf("D%03d", d)), QString::asprintf("D%03dC000", d));
    for (int r = 1; r <= 10; ++r) {
      auto* reg = new TRegisterNode(channel);
      reg->SetName(TCustomRegister::RegisterName(d, 0, r));
      reg->SetEnabled(true);  // LoggingInterval 3: none is due within the second measured
    }
  }
  auto processCpu = [] {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  Current().StartPoller();
  RunEventsFor(100);
  const double thread0 = Current().Executer()->ThreadCpuSeconds();
  const double process0 = processCpu();
  RunEventsFor(1000);
  const double thread1 = Current().Executer()->ThreadCpuSeconds();
  const double process1 = processCpu();
  EXPECT_LT(thread1 - thread0, 0.05) << "poller thread CPU seconds in one second";
  EXPECT_LT(process1 - process0, 0.05) << "process CPU seconds in one second";
  EXPECT_GT(thread1, 0.0) << "the measurement itself";
}

// vexa-cli poll as a separate program, on the simulated network and on a saved one.
class PollCommandTest : public TVexaTest {
 protected:
  // Exit code and standard output lines of `vexa-cli --dir Dir --demo poll args...`.
  std::pair<int, QStringList> Poll(const QStringList& args) {
    QProcess cli;
    cli.start(VEXA_CLI_PATH, QStringList{"--dir", Dir->path(), "--demo", "poll"} + args);
    if (!cli.waitForFinished(30'000)) return {-1, {}};
    return {cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)};
  }
};

TEST_F(PollCommandTest, PollsTheFirstNRegistersOfTheSimulatedOrTheSavedNetwork) {
  auto [code, lines] = Poll({"--seconds", "3.6", "--registers", "5"});
  EXPECT_EQ(code, 0);
  ASSERT_EQ(lines.size(), 6) << lines.join(" | ").toStdString();
  EXPECT_EQ(lines[0], "опрошено регистров: 5");
  // Created when the poll starts, each is due once, after its 3 s.
  EXPECT_EQ(lines[1], "выполнено чтений: 5");
  EXPECT_TRUE(lines[2].startsWith("средний период чтения, с: нет")) << lines[2].toStdString();
  EXPECT_TRUE(lines[3].startsWith("процессорное время, с: ")) << lines[3].toStdString();
  EXPECT_TRUE(lines[4].startsWith("процессорное время на секунду работы, с: ")) << lines[4].toStdString();
  EXPECT_EQ(lines[5], "неудачных чтений (\"***\"): 0");

  TRootNode* channel = Container(Container(Net().get(), "D001"), "D001C002");
  for (int r = 1; r <= 3; ++r) (new TRegisterNode(channel))->SetName(TCustomRegister::RegisterName(1, 2, r));
  ASSERT_TRUE(QDir(Dir->path()).mkpath("Config"));
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  std::tie(code, lines) = Poll({"--seconds", "0.2"});
  EXPECT_EQ(code, 0);
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_EQ(lines[0], "опрошено регистров: 3");
}

}  // namespace
}  // namespace vexa::test
