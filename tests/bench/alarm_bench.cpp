// The alarms' cost. First the evaluation: 5,000 watched registers (50 regulators of 100, each
// register with four limits, each regulator with its communication alarm), every register read
// once a second, values wandering through their limits now and then; the main thread's CPU time
// in TAlarmMonitor::Read per second of reads. Then the same registers polled by the poller in
// simulation mode, the main thread's CPU share with the alarms attached and without. Last the
// journal: 100,000 events appended, then queried by a one-day range. Then ALARMS.cfg with 5,000 and
// 50,000 limits saved and loaded through the real file. Not part of the test run:
//   tests/bench/alarm_bench.sh
//
// usage: alarm_bench [seconds of polling]

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "core/ExecuterUnit.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"
#include "tests/bench/Must.h"
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

// ALARMS' level of a regulator or channel in the nested layout, made when missing.
TRootNode& Level(TRootNode& parent, const QString& of) {
  const QString name = of + QLatin1String(kAlarmLevelSuffix);
  if (auto* level = dynamic_cast<TRootNode*>(parent.FindComponent(name))) return *level;
  auto* level = new TRootNode(&parent);
  level->SetName(name);
  return *level;
}

std::vector<TRegisterNode*> BuildNetwork(TNetwork& network) {
  std::vector<TRegisterNode*> registers;
  for (int a = 0; a < kRegulators; ++a) {
    auto* regulator = new TRootNode(network.Net().get());
    regulator->SetName(QString::asprintf("D%03d", a));
    regulator->SetCaption(QStringLiteral("Регулятор %1").arg(a));
    TRootNode& regulatorLevel = Level(*network.Alarms(), regulator->Name());
    auto* comm = new TAlarmNode(&regulatorLevel);
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
        auto* node = new TAlarmNode(&Level(regulatorLevel, channel->Name()));
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
    MustSucceed(monitor.Open(journal));
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
    MustSucceed(monitor.Open(dir + QStringLiteral("/polling-%1.sqlite").arg(attached)));
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

// ALARMS.cfg with `limits` register limits (regulators of 1,000 in channels of 100, each with its
// own alarm) saved and loaded through the real file, as the program saves and loads it.
void SettingsFile(const QString& dir, int limits, double goalSeconds) {
  const QString folder = dir + QStringLiteral("/settings-%1").arg(limits);
  QDir().mkpath(folder + "/Config");
  TNetwork network(folder, nullptr);
  for (int d = 0; d * 1000 < limits; ++d) {
    const QString regulator = QString::asprintf("D%03d", d);
    TRootNode& level = Level(*network.Alarms(), regulator);
    auto* comm = new TAlarmNode(&level);
    comm->SetName(regulator);
    comm->SetEnabled(true);
    for (int i = 0; i < 1000 && d * 1000 + i < limits; ++i) {
      auto* node = new TAlarmNode(&Level(level, regulator + QString::asprintf("C%03d", i / 100)));
      node->SetName(TCustomRegister::RegisterName(d, i / 100, i % 100));
      node->SetEnabled(true);
      node->SetHiEnabled(true);
      node->SetHiLimit(370 + i % 7);
      node->SetLoEnabled(true);
      node->SetLoLimit(330);
      node->SetDeadband(2);
    }
  }
  double t0 = WallSeconds();
  QString why;
  const bool saved = SaveTreeFile(network, *network.Alarms(), &why);
  const double save = WallSeconds() - t0;
  TNetwork reread(folder, nullptr);
  t0 = WallSeconds();
  size_t loaded = 0;
  try {
    LoadTreeFile(reread, reread.Alarms());
    loaded = AlarmNodes(reread.Alarms().get()).size();
  } catch (const std::exception& e) {
    why = QString::fromUtf8(e.what());
  }
  const double load = WallSeconds() - t0;
  const size_t made = AlarmNodes(network.Alarms().get()).size();
  const bool whole = saved && loaded == made;
  std::printf(
      "settings: ALARMS.cfg with %d limits (%zu alarm nodes, %lld bytes): saved in %.2f s, loaded in %.2f s, "
      "%zu read back (goal: all, each way under %.0f s): %s%s\n",
      limits, made, QFileInfo(ConfigFilePath(folder, QStringLiteral("ALARMS"))).size(), save, load, loaded,
      goalSeconds, whole && save < goalSeconds && load < goalSeconds ? "met" : "not met",
      why.isEmpty() ? "" : qPrintable(QStringLiteral(" (") + why + QLatin1Char(')')));
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
  SettingsFile(dir.path(), 5000, 2);
  SettingsFile(dir.path(), 50000, 20);
  return 0;
}
