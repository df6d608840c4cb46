// What one silent regulator costs the others, and the main thread's responsiveness meanwhile:
// vexa-sim on a pseudo-terminal plays the line, and two phases of one run poll at a 3 s interval 40
// registers of address 0 with another regulator: first address 1 (the 30 registers vexa-sim has
// there), answering; then 40 registers of address 2, which nothing answers. The answering
// regulator's reads per second with the silent one are told as a share of its reads with both
// answering. The main thread's longest stretch outside its event loop is a 1 ms timer's lateness,
// told beside a control thread's wake-up lateness at the same time, so that the machine's own
// scheduling delay (which once made the same code print 13 to 266 ms) is told apart. Not part of
// the test run:
//   tests/bench/silent_bench.sh
//
// usage: silent_bench VEXA_SIM_PATH [seconds]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <unordered_map>

#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/ImageIndex.h"
#include "core/LineSpeeds.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "tests/bench/Lateness.h"
#include "tests/bench/Must.h"

using namespace vexa;

namespace {

constexpr int kBaud = 19200;
constexpr double kGapGoalMs = 50;

// A regulator of `channels` channels with registers `first`..`last` each.
void AddRegulator(TNetwork& network, int address, int channels, int first, int last) {
  auto device = std::make_unique<TRootNode>(nullptr);
  device->SetName(QString::asprintf("D%03d", address));
  device->SetImageIndex(iiREGULATOR);
  for (int c = 0; c < channels; ++c) {
    auto channel = std::make_unique<TRootNode>(nullptr);
    channel->SetName(QString::asprintf("D%03dC%03d", address, c));
    channel->SetImageIndex(iiCHANNEL);
    for (int r = first; r <= last; ++r) {
      auto reg = std::make_unique<TRegisterNode>(nullptr);
      reg->SetName(TCustomRegister::RegisterName(address, c, r));
      reg->SetImageIndex(iiREGISTER);
      reg->SetEnabled(true);
      channel->InsertComponent(std::move(reg));
    }
    device->InsertComponent(std::move(channel));
  }
  network.Net()->InsertComponent(std::move(device));
}

struct TCount {
  int Reads = 0;
  int Failed = 0;
};

// One phase: the poller runs for a warm-up (the new registers fall due after their 3 s, and a silent
// regulator is found), then the reads by address and the main thread's longest gap are measured.
struct TPhase {
  double Seconds = 0;
  std::unordered_map<int, TCount> Counts;
  double LoopMs = 0;      // the main thread's longest stretch outside its event loop
  double ControlMs = 0;   // the control thread's worst wake-up lateness meanwhile
  uint64_t Requests = 0;  // written on the line, every attempt counted
  qint64 StopMs = 0;      // how long stopping the poller took
  double Rate(int address) { return Counts[address].Reads / Seconds; }
};

constexpr int kWarmUpMs = 4000;

TPhase RunPhase(TNetwork& network, double seconds) {
  TPhase phase;
  bool measuring = false;
  std::unordered_map<const TCustomRegister*, double> seen;
  network.StartPoller();
  network.Executer()->OnRefreshed = [&](TCustomRegister& reg) {
    double& last = seen[&reg];
    if (reg.RDTime() == last) return;
    last = reg.RDTime();
    if (!measuring) return;
    TCount& c = phase.Counts[reg.Name().mid(1, 3).toInt()];
    ++c.Reads;
    if (reg.LastIOResult() != iorOK) ++c.Failed;
  };
  QEventLoop warmUp;
  QTimer::singleShot(kWarmUpMs, &warmUp, &QEventLoop::quit);
  warmUp.exec();

  measuring = true;
  const uint64_t writes = network.Line().Writes();
  QElapsedTimer clock;
  clock.start();
  bench::TLateness lateness;
  lateness.Start();
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
  lateness.Stop();
  phase.LoopMs = lateness.LoopMs();
  phase.ControlMs = lateness.ControlMs();
  phase.Seconds = static_cast<double>(clock.elapsed()) / 1000.0;
  phase.Requests = network.Line().Writes() - writes;
  measuring = false;
  QElapsedTimer stop;
  stop.start();
  network.StopPoller();  // before the counts it reports to go
  phase.StopMs = stop.elapsed();
  return phase;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: silent_bench VEXA_SIM_PATH [seconds]\n");
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 60;
  QTemporaryDir dir;
  const QString link = dir.filePath("line");
  QProcess sim;
  sim.start(QString::fromLocal8Bit(argv[1]),
            {"--link", link, "--baud", QString::number(kBaud), "--addresses", "0,1"});
  for (int i = 0; i < 300 && !QFileInfo::exists(link); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  TNetwork network(QDir::currentPath(), std::make_unique<TComm>(QDir::currentPath()));
  network.Line().Port()->SetDeviceName(link);
  network.Line().Port()->Open();
  MustSucceed(network.SetBaudRateIndex(BaudRateIndexOf(kBaud).value_or(-1)));
  // Whole intervals: the registers fall due together, so a part of one would count a burst or not.
  const double phaseSeconds = std::max(3.0, 3.0 * std::floor((seconds / 2 - kWarmUpMs / 1000.0) / 3.0));

  // Both answering: 40 registers of address 0 and the 30 that vexa-sim has at address 1.
  AddRegulator(network, 0, 5, 1, 8);
  AddRegulator(network, 1, 3, 0, 9);
  TPhase both = RunPhase(network, phaseSeconds);

  // One silent: address 1 gives way to 40 registers of address 2, which nothing answers.
  network.Net()->RemoveComponent(network.Net()->Component(1));
  AddRegulator(network, 2, 5, 1, 8);
  TPhase silent = RunPhase(network, phaseSeconds);

  std::printf("seconds measured per phase: %.1f (after a warm-up of %d s each)\n", silent.Seconds,
              kWarmUpMs / 1000);
  std::printf(
      "both answering: answering regulator reads/s %.2f (%d failed), the other's %.2f (%d failed), "
      "line requests/s %.1f\n",
      both.Rate(0), both.Counts[0].Failed, both.Rate(1), both.Counts[1].Failed,
      static_cast<double>(both.Requests) / both.Seconds);
  std::printf(
      "one silent: answering regulator reads/s %.2f (%d failed), the silent one's %.2f (%d failed), "
      "line requests/s %.1f\n",
      silent.Rate(0), silent.Counts[0].Failed, silent.Rate(2), silent.Counts[2].Failed,
      static_cast<double>(silent.Requests) / silent.Seconds);
  std::printf(
      "answering regulator's reads with one silent: %.1f%% of its reads with both answering (goal 90%% "
      "or more)\n",
      both.Rate(0) > 0 ? 100.0 * silent.Rate(0) / both.Rate(0) : 0.0);
  // 40 registers at 3 s: what it asks of the line whoever else is on it.
  std::printf("answering regulator's reads with one silent: %.1f%% of its full rate, 40 registers at 3 s\n",
              100.0 * silent.Rate(0) / (40.0 / 3.0));
  const double loopMs = std::max(silent.LoopMs, both.LoopMs);
  const double controlMs = std::max(silent.ControlMs, both.ControlMs);
  std::printf(
      "main thread's longest stretch outside its event loop, ms: %.1f with one silent, %.1f with both "
      "answering; the control thread's wake-up lateness, ms: %.1f and %.1f (the machine's own)\n",
      silent.LoopMs, both.LoopMs, silent.ControlMs, both.ControlMs);
  std::printf("main thread's longest stretch: %.1f ms (goal under %.0f ms): %s\n", loopMs, kGapGoalMs,
              bench::TLateness::Verdict(loopMs, controlMs, kGapGoalMs));
  std::printf("stopping the poller took, ms: %lld\n", static_cast<long long>(silent.StopMs));
  network.Line().Port()->Close();
  sim.terminate();
  sim.waitForFinished(3000);
  return 0;
}
