// The alarms' cost. First the evaluation: 5,000 watched registers (50 regulators of 100, each
// register with four limits, each regulator with its communication alarm), every register read
// once a second, values wandering through their limits now and then; the main thread's CPU time
// in TAlarmMonitor::Read per second of reads. Then the same registers polled by the poller in
// simulation mode, the main thread's CPU share with the alarms attached and without. Last the
// journal: 100,000 events appended, then queried by a one-day range. Not part of the test run:
//   tests/bench/alarm_bench.sh
//
// usage: alarm_bench [seconds of polling]

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "core/ExecuterUnit.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "ui/model/AlarmJournal.h"
#include "ui/model/AlarmMonitor.h"
#include "ui/model/AlarmNode.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

constexpr int kRegulators = 50;
constexpr int kPerRegulator = 100;

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<TRegisterNode*> BuildNetwork(TNetwork& network) {
  std::vector<TRegisterNode*> registers;
  for (int a = 0; a < kRegulators; ++a) {
    auto* regulator = new TRootNode(network.Net().get());
    regulator->SetName(QString::asprintf("D%03d", a));
    regulator->SetCaption(QStringLiteral("Регулятор %1").arg(a));
    auto* comm = new TAlarmNode(network.Alarms().get());
    comm->SetName(regulator->Name());
    comm->SetEnabled(true);
    comm->SetDelaySeconds(10);
    for (int c = 0; c < kPerRegulator / 10; ++c) {
      auto* channel = new TRootNode(regulator);
      channel->SetName(QString::asprintf("D%03dC%03d", a, c));
      for (int r = 1; r <= 10; ++r) {
        auto* reg = new TRegisterNode(channel);
        reg->SetName(TCustomRegister::RegisterName(a, c, r));
        reg->SetCaption(QStringLiteral("Регистр %1").arg(r));
        reg->SetRegisterType(rtINT);
        reg->SetLoggingInterval(1);
        reg->SetEnabled(true);
        auto* node = new TAlarmNode(network.Alarms().get());
        node->SetName(reg->Name());
        node->SetEnabled(true);
        node->SetHiHiEnabled(true);
        node->SetHiHiLimit(390);
        node->SetHiEnabled(true);
        node->SetHiLimit(370);
        node->SetLoEnabled(true);
        node->SetLoLimit(330);
        node->SetLoLoEnabled(true);
        node->SetLoLoLimit(310);
        node->SetDeadband(2);
        node->SetDelaySeconds(3);
        registers.push_back(reg);
      }
    }
  }
  return registers;
}

// journal: where the monitor writes; a path that cannot be made leaves it without a journal.
void Evaluation(const QString& dir, const QString& journal) {
  auto clock = std::make_unique<TVirtualClock>(46363.5);
  TVirtualClock* virtualClock = clock.get();
  auto realClock = std::exchange(Services().Clock, std::move(clock));
  {
    TNetwork network(dir, nullptr);
    const std::vector<TRegisterNode*> registers = BuildNetwork(network);
    TAlarmMonitor monitor(network);
    monitor.Open(journal);
    long long events = 0;
    monitor.Observe([&events](const TAlarmEvent&) { ++events; });
    std::mt19937 random(7);
    std::vector<int> values(registers.size(), 350);
    constexpr int kSeconds = 60;
    double cpu = 0;
    long long reads = 0;
    for (int s = 0; s < kSeconds; ++s) {
      // The second's reads as the poller stores them, then handed to the alarms, timed together.
      for (size_t i = 0; i < registers.size(); ++i) {
        // A random walk around the middle of the band; one register in 50 fails its read.
        values[i] = std::clamp(values[i] + static_cast<int>(random() % 7) - 3, 280, 420);
        TRegisterNode& reg = *registers[i];
        const bool failed = random() % 50 == 0;
        reg.SetLastIOResult(failed ? iorFAIL : iorOK);
        reg.SetLastStringData(failed ? kFailedText : QString::number(values[i]));
      }
      const double before = ThreadCpuSeconds();
      for (TRegisterNode* reg : registers) monitor.Read(*reg);
      reads += static_cast<long long>(registers.size());
      cpu += ThreadCpuSeconds() - before;
      virtualClock->Sleep(1000);
    }
    std::printf("evaluation: %d watched registers, %lld reads, %lld events (%.0f a second), %s\n",
                monitor.WatchedCount(), reads, events, static_cast<double>(events) / kSeconds,
                monitor.Journal().IsOpen() ? "journalled" : "no journal");
    std::printf("  main thread CPU per read: %.2f us; at every register read each second: %.2f%% of a core\n",
                cpu / static_cast<double>(reads) * 1e6, 100.0 * cpu / kSeconds);
  }
  Services().Clock = std::move(realClock);
}

// The poller in simulation mode over the same network: main-thread CPU per wall second.
void Polling(const QString& dir, double seconds) {
  const auto run = [&](bool attached) {
    TNetwork network(dir, nullptr);
    network.Setup()->SetDemo(true);
    BuildNetwork(network);
    TAlarmMonitor monitor(network);
    monitor.Open(dir + QStringLiteral("/polling-%1.sqlite").arg(attached));
    if (attached) monitor.Attach();
    long long reads = 0;
    network.StartPoller();
    network.Executer()->OnRefreshed = [&reads](TCustomRegister&) { ++reads; };
    const double cpu0 = ThreadCpuSeconds();
    const double wall0 = WallSeconds();
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double wall = WallSeconds() - wall0;
    network.StopPoller();
    std::printf("  poller, alarms %s: %.0f reads/s, main thread %.2f%% of a core\n",
                attached ? "attached" : "detached", static_cast<double>(reads) / wall, 100.0 * cpu / wall);
    return std::make_pair(cpu / wall, static_cast<double>(reads) / wall);
  };
  std::printf("polling (simulation mode, %.0f s each):\n", seconds);
  const auto without = run(false);
  const auto with = run(true);
  std::printf("  the alarms' share of the main thread: %.2f%% of a core at %.0f reads/s\n",
              100.0 * (with.first - without.first), with.second);
}

void Journal(const QString& dir) {
  TAlarmJournal journal;
  if (!journal.Open(dir + "/journal.sqlite")) {
    std::printf("journal: %s\n", qPrintable(journal.ErrorText()));
    return;
  }
  constexpr int kEvents = 100000;
  constexpr int kDays = 100;
  const double start = 46363.0;
  std::vector<TAlarmEvent> batch;
  double wall0 = WallSeconds();
  for (int i = 0; i < kEvents; ++i) {
    TAlarmEvent e;
    e.Time = start + static_cast<double>(i) * kDays / kEvents;
    e.Name = TCustomRegister::RegisterName(i % 50, (i / 50) % 10, i % 10 + 1);
    e.Caption = QStringLiteral("Регистр");
    e.Condition = static_cast<TAlarmCondition>(i % 4);
    e.Kind = i % 2 ? TAlarmEventKind::Cleared : TAlarmEventKind::Raised;
    e.State = i % 2 ? TAlarmState::ReturnedUnacked : TAlarmState::ActiveUnacked;
    e.Value = 300 + i % 100;
    batch.push_back(e);
    // The first 10,000 one by one, each its own commit, as a running program appends them.
    if (i < 10000) {
      journal.Append(batch.back());
      batch.clear();
      if (i == 9999) {
        std::printf("journal: 10,000 events appended one by one: %.2f s (%.0f us each)\n",
                    WallSeconds() - wall0, (WallSeconds() - wall0) / 10000 * 1e6);
        wall0 = WallSeconds();
      }
    } else if (batch.size() == 1000) {
      journal.Append(batch);
      batch.clear();
    }
  }
  std::printf("journal: 90,000 events appended in batches of 1,000: %.2f s; %lld in all\n",
              WallSeconds() - wall0, journal.Count());
  std::vector<double> times;
  size_t found = 0;
  for (int d = 0; d < 20; ++d) {
    TJournalQuery query;
    query.From = start + 40 + d;
    query.To = start + 41 + d;
    const double t0 = WallSeconds();
    found = journal.Query(query).size();
    times.push_back(WallSeconds() - t0);
  }
  std::sort(times.begin(), times.end());
  std::printf("journal: one-day range (%zu events): median %.2f ms, worst %.2f ms (goal under 50 ms)\n",
              found, times[times.size() / 2] * 1000, times.back() * 1000);
  TJournalQuery one;
  one.Name = TCustomRegister::RegisterName(7, 3, 8);
  const double t0 = WallSeconds();
  const size_t ofOne = journal.Query(one).size();
  std::printf("journal: one register's whole history (%zu events): %.2f ms\n", ofOne,
              (WallSeconds() - t0) * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  RegisterPersistentClasses();
  const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
  QTemporaryDir dir;
  // First without a journal (its folder would be a file), then with one.
  QFile blocker(dir.filePath("blocker"));
  blocker.open(QIODevice::WriteOnly);
  blocker.close();
  Evaluation(dir.path(), dir.filePath("blocker/evaluation.sqlite"));
  Evaluation(dir.path(), dir.path() + "/evaluation.sqlite");
  Polling(dir.path(), seconds);
  Journal(dir.path());
  return 0;
}
