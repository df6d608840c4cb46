// The main thread's responsiveness while the poller reads a line on which one regulator is silent:
// vexa-sim on a pseudo-terminal answers address 0 only; 40 enabled registers of address 0 and 40 of
// the silent address 1 are polled at their 3 s interval. A 10 ms timer on the main thread measures
// the longest gap between its firings; the reads of the present regulator are counted. Not part of
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

using namespace vexa;

namespace {

constexpr int kTimerMs = 10;
constexpr int kBaud = 19200;

// Channels 0..4 with registers 1..8 of one regulator: 40 registers.
void AddRegulator(TNetwork& network, int address) {
  auto device = std::make_unique<TRootNode>(nullptr);
  device->SetName(QString::asprintf("D%03d", address));
  device->SetImageIndex(iiREGULATOR);
  for (int c = 0; c < 5; ++c) {
    auto channel = std::make_unique<TRootNode>(nullptr);
    channel->SetName(QString::asprintf("D%03dC%03d", address, c));
    channel->SetImageIndex(iiCHANNEL);
    for (int r = 1; r <= 8; ++r) {
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
            {"--link", link, "--baud", QString::number(kBaud), "--addresses", "0"});
  for (int i = 0; i < 300 && !QFileInfo::exists(link); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  TNetwork network(QDir::currentPath(), std::make_unique<TComm>(QDir::currentPath()));
  network.Line().Port()->SetDeviceName(link);
  network.Line().Port()->Open();
  network.SetBaudRateIndex(BaudRateIndexOf(kBaud).value_or(-1));
  AddRegulator(network, 0);
  AddRegulator(network, 1);

  // By address: a read is a register whose RDTime moved.
  std::unordered_map<int, TCount> counts;
  std::unordered_map<const TCustomRegister*, double> seen;
  network.StartPoller();
  network.Executer()->OnRefreshed = [&](TCustomRegister& reg) {
    double& last = seen[&reg];
    if (reg.RDTime() == last) return;
    last = reg.RDTime();
    TCount& c = counts[reg.Name().mid(1, 3).toInt()];
    ++c.Reads;
    if (reg.LastIOResult() != iorOK) ++c.Failed;
  };

  QElapsedTimer clock;
  clock.start();
  qint64 previous = 0;
  qint64 longest = 0;
  qint64 blockedOver50 = 0;  // time lost in gaps longer than 50 ms
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    const qint64 gap = now - previous;
    previous = now;
    longest = std::max(longest, gap);
    if (gap > 50) blockedOver50 += gap - kTimerMs;
  });
  timer.start(kTimerMs);
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
  QElapsedTimer stop;
  stop.start();
  network.StopPoller();
  const qint64 stopMs = stop.elapsed();
  const double wall = static_cast<double>(clock.elapsed()) / 1000.0;

  std::printf("seconds: %.1f\n", wall);
  std::printf("longest main-thread gap, ms: %lld (timer %d ms; goal under 50 ms)\n",
              static_cast<long long>(longest), kTimerMs);
  std::printf("main thread blocked in gaps over 50 ms: %.1f%% of the time\n",
              100.0 * static_cast<double>(blockedOver50) / 1000.0 / wall);
  std::printf("present regulator reads/s: %.2f (%d failed)\n", counts[0].Reads / wall, counts[0].Failed);
  std::printf("silent regulator reads/s: %.2f (%d failed)\n", counts[1].Reads / wall, counts[1].Failed);
  std::printf("stopping the poller took, ms: %lld\n", static_cast<long long>(stopMs));
  network.Line().Port()->Close();
  sim.terminate();
  sim.waitForFinished(3000);
  return 0;
}
