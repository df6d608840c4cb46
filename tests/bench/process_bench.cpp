// The process tick on the simulated network as the program runs it: 10 processes of 5 command nodes
// ramping their registers, on the program's tick runner and the system clock, the writes made by
// the line's writer. Per tick: the main thread's longest stretch outside its event loop (a 1 ms
// timer's lateness, beside a control thread's wake-up lateness, which is the machine's own), the
// tick's own time, and the writes still on their way when the next tick came. A timed tool run,
// not a test.
//
// usage: process_bench [TICKS]   (default 3; each tick takes the period, 10 s)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/Comm.h"
#include "core/LineWriter.h"
#include "core/Network.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "processes/model/ProcessTick.h"
#include "tests/bench/Lateness.h"
#include "tests/support/RampingProcesses.h"
#include "ui/model/PersistentClasses.h"
#include "ui/model/TickRunner.h"

using namespace vexa;

namespace {

constexpr double kGoalMs = 50;
// After the last tick: long enough for its writes (50 of about 110 ms each) to be made.
constexpr int kLastTickMs = 6500;

struct TTickFigures {
  double LoopMs = 0;     // the main thread's longest stretch while this tick's writes were made
  double ControlMs = 0;  // the control thread's worst wake-up meanwhile
  double TickMs = 0;     // the tick's own time on the main thread
  size_t LeftOver = 0;   // writes of the tick before still on their way when it began
};

}  // namespace

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  constexpr int kProcesses = 10;
  constexpr int kNodes = 5;
  QTemporaryDir dir;
  TNetwork network(dir.path(), std::make_unique<TComm>(dir.path()));
  network.Setup()->SetDemo(true);
  test::AddRampingProcesses(*network.Tasks(), kProcesses, kNodes);

  bench::TLateness lateness;
  std::vector<TTickFigures> figures;
  TTickRunner runner(network, [](const TFaults& faults) {
    for (const QString& text : faults.Texts()) std::fprintf(stderr, "%s\n", qPrintable(text));
  });
  // Each tick closes the stretch of the one before: its figures cover its writes being made.
  auto closeStretch = [&] {
    if (figures.empty()) return;
    figures.back().LoopMs = lateness.LoopMs();
    figures.back().ControlMs = lateness.ControlMs();
  };
  runner.SetStep(TTick::Processes, [&] {
    closeStretch();
    TTickFigures f;
    f.LeftOver = network.Writer().Pending();
    QElapsedTimer own;
    own.start();
    TFaults faults = ProcessTick(network);
    f.TickMs = static_cast<double>(own.nsecsElapsed()) / 1e6;
    figures.push_back(f);
    // The tick's own time counts too: the timer that fires next sees it.
    lateness.Reset();
    return faults;
  });

  lateness.Start();
  QEventLoop loop;
  runner.Start();
  QTimer::singleShot(0, [&] { runner.Fire(TTick::Processes); });
  QTimer::singleShot((ticks - 1) * kProcessTickMs + kLastTickMs, &loop, &QEventLoop::quit);
  loop.exec();
  runner.Stop();
  closeStretch();
  lateness.Stop();
  const size_t unfinished = network.Writer().Pending();
  network.Writer().Stop();

  double worstLoop = 0, worstControl = 0, worstTick = 0;
  std::printf("%d processes of %d command nodes, %d ticks of %d s on the simulated network\n", kProcesses,
              kNodes, ticks, kProcessTickMs / 1000);
  for (size_t t = 0; t < figures.size(); ++t) {
    const TTickFigures& f = figures[t];
    std::printf(
        "tick %zu: main thread's longest stretch outside its loop %.1f ms (control thread %.1f ms), the "
        "tick itself %.2f ms, writes left from the tick before %zu\n",
        t + 1, f.LoopMs, f.ControlMs, f.TickMs, f.LeftOver);
    worstLoop = std::max(worstLoop, f.LoopMs);
    worstControl = std::max(worstControl, f.ControlMs);
    worstTick = std::max(worstTick, f.TickMs);
  }
  std::printf("writes still on their way at the end: %zu of %d\n", unfinished, kProcesses * kNodes);
  std::printf(
      "main thread's longest stretch outside its event loop per tick: %.1f ms (goal under %.0f ms; the "
      "machine's own wake-up lateness %.1f ms; the longest tick %.2f ms): %s\n",
      worstLoop, kGoalMs, worstControl, worstTick,
      bench::TLateness::Verdict(worstLoop, worstControl, kGoalMs));
  return 0;
}
