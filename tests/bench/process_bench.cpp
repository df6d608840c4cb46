// The process tick on the simulated network: 10 processes of 5 command nodes each, ramping their
// registers. Per tick: the time the line exchanges wait, the pause after each write that the
// protocol prescribes, and the rest (the main thread's own work, measured), per command node. The
// clock only counts the waits, so the run takes the rest alone. A timed tool run, not a test.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/Comm.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "processes/model/CommandNode.h"
#include "processes/model/ProcessTick.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

constexpr int kWritePauseMs = 100;  // after every write

// The virtual clock, counting its waits by kind.
class TCountingClock : public TVirtualClock {
 public:
  using TVirtualClock::TVirtualClock;
  void Sleep(int ms) override {
    if (ms <= 0) return;
    TVirtualClock::Sleep(ms);
    (ms == kWritePauseMs ? pauses : exchanges) += ms;
  }
  // The tick's timer: time passes without a wait of the line.
  void Advance(int ms) { TVirtualClock::Sleep(ms); }

  int64_t pauses = 0;
  int64_t exchanges = 0;
};

}  // namespace

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  QTemporaryDir dir;
  auto clock = std::make_unique<TCountingClock>(46363.375);  // 07.12.2026 9:00
  TCountingClock* counting = clock.get();
  Services().Clock = std::move(clock);
  TNetwork network(dir.path(), std::make_unique<TComm>(dir.path()));
  network.Setup()->SetDemo(true);
  constexpr int processes = 10;
  constexpr int nodes = 5;
  for (int p = 0; p < processes; ++p) {
    auto* process = new TRootNode(network.Tasks().get());  // owned by TASKS
    process->SetName(QStringLiteral("P%1").arg(p));
    process->SetCaption(QStringLiteral("Процесс %1").arg(p));
    for (int n = 0; n < nodes; ++n) {
      auto* node = new TCommandNode(process);
      node->SetName(TCustomRegister::RegisterName(p % 2, n, 4 + p / 2));
      node->SetRegisterType(rtINT);
      node->SetUserCanWRITE(true);
      node->SetDataList(QStringList{"20", "80", "80", "20"});
      node->SetPoints(QStringList{"0", "600", "3600", "600"});
      node->Reset();
    }
    process->SetImageIndex(iiPLAY);
    process->SetEnabled(true);
    for (int n = 0; n < nodes; ++n) static_cast<TCommandNode*>(process->Node(n))->Start();
  }

  std::vector<double> rest;
  int64_t exchanges = 0, pauses = 0;
  for (int t = 0; t < ticks; ++t) {
    counting->Advance(kProcessTickMs);
    const int64_t e0 = counting->exchanges, p0 = counting->pauses;
    QElapsedTimer wall;
    wall.start();
    ProcessTick(network);
    rest.push_back(static_cast<double>(wall.nsecsElapsed()) / 1e6);
    exchanges += counting->exchanges - e0;
    pauses += counting->pauses - p0;
  }
  std::sort(rest.begin(), rest.end());
  const double median = rest[rest.size() / 2];
  const int count = processes * nodes;
  std::printf("%d processes of %d command nodes, %d ticks on the simulated network\n", processes, nodes,
              ticks);
  std::printf(
      "per tick: line exchanges wait %.0f ms, the pauses after writes %.0f ms, the rest %.2f ms (median; "
      "worst %.2f ms)\n",
      static_cast<double>(exchanges) / ticks, static_cast<double>(pauses) / ticks, median, rest.back());
  std::printf("the rest per command node: %.3f ms (goal < 1 ms): %s\n", median / count,
              median / count < 1 ? "met" : "MISSED");
  return 0;
}
