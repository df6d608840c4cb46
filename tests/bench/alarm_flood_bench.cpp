// An alarm flood: 2,000 watched registers pass their high limit in the same poll, each read handed
// over as the poller hands it, with the main window and the alarm window built as the program
// builds them; the alarm window hidden, then shown. The figure: the main thread's CPU time from the
// first read until the windows have settled (the monitor, the journal's hand-over, the labels'
// states, the status line and the alarm window's refreshes), against the goals (under 0.2 s
// hidden, under 1 s shown). A timed tool run, not a test (tests/bench/alarm_flood_bench.sh).

#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "alarms/gui/AlarmsUnit.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "core/Comm.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "tests/bench/Must.h"
#include "ui/MainUnit.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

struct TFloodFigures {
  double Busy = 0;       // the main thread's CPU seconds
  double LongestMs = 0;  // the longest the main thread left a 10 ms timer waiting past its time
};

// One flood on a network of its own.
TFloodFigures Flood(int count, bool shown) {
  QTemporaryDir dir;
  QDir(dir.path()).mkpath("Config");
  QDir(dir.path()).mkpath("Archives");
  TNetwork network(dir.path(), std::make_unique<TComm>(dir.path()));
  std::vector<TRegisterNode*> registers;
  auto* regulator = new TRootNode(network.Net().get());
  regulator->SetName("D000");
  for (int c = 0; c * 100 < count; ++c) {
    auto* channel = new TRootNode(regulator);
    channel->SetName(QStringLiteral("D000C%1").arg(c, 3, 10, QLatin1Char('0')));
    for (int r = 0; r < 100 && c * 100 + r < count; ++r) {
      auto* reg = new TRegisterNode(channel);
      reg->SetName(TCustomRegister::RegisterName(0, c, r));
      reg->SetCaption(QStringLiteral("Температура %1").arg(c * 100 + r));
      reg->SetRegisterType(rtINT);
      reg->SetEnabled(true);
      registers.push_back(reg);
      auto* node = new TAlarmNode(network.Alarms().get());
      node->SetName(reg->Name());
      node->SetEnabled(true);
      node->SetHiEnabled(true);
      node->SetHiLimit(50);
      node->SetPriority(1 + (c * 100 + r) % 3);
    }
  }
  // Made before the windows that follow it, and gone after them.
  TAlarmMonitor monitor(network);
  TMainForm main(network);
  MustSucceed(monitor.Open());
  monitor.Attach();
  main.SetAlarms(&monitor);
  TAlarmsForm form(network, monitor, &main.Session());
  main.show();
  if (shown) form.show();
  RunFor(300);
  // What an operator's key would wait for: the main thread's longest absence from its queue.
  TFloodFigures figures;
  QElapsedTimer sinceBeat;
  QTimer beat;
  beat.setInterval(10);
  QObject::connect(&beat, &QTimer::timeout, [&] {
    figures.LongestMs = std::max(figures.LongestMs, static_cast<double>(sinceBeat.nsecsElapsed()) / 1e6 - 10);
    sinceBeat.start();
  });
  const double cpu0 = ThreadCpuSeconds();
  sinceBeat.start();
  beat.start();
  // The poller hands its reads over a few at a time, one call of the main thread each.
  size_t next = 0;
  QTimer reads;
  reads.setInterval(0);
  QObject::connect(&reads, &QTimer::timeout, [&] {
    for (int i = 0; i < 50 && next < registers.size(); ++i, ++next) {
      TRegisterNode* reg = registers[next];
      reg->SetLastIOResult(iorOK);
      reg->SetLastStringData(QStringLiteral("75"));
      network.RegisterRead.Notify(*reg);
    }
    if (next == registers.size()) reads.stop();
  });
  reads.start();
  // The alarm window's last refresh of the flood comes within a quarter second.
  RunFor(800);
  figures.Busy = ThreadCpuSeconds() - cpu0;
  beat.stop();
  if (monitor.ActiveCount() != count || (shown && form.findChild<QTreeWidget*>("activeList") == nullptr))
    std::fprintf(stderr, "the flood raised %d of %d\n", monitor.ActiveCount(), count);
  monitor.FlushJournal(30000);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterPersistentClasses();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  for (const bool shown : {false, true}) {
    const double goal = shown ? 1.0 : 0.2;
    const TFloodFigures f = Flood(count, shown);
    std::printf(
        "alarm flood: %d alarms raised together, alarm window %s: main thread %.3f s (goal < %.1f s): %s\n",
        count, shown ? "shown" : "hidden", f.Busy, goal, f.Busy < goal ? "met" : "not met");
    std::printf("  the longest wait a key would have had: %.0f ms (goal < 100 ms): %s\n", f.LongestMs,
                f.LongestMs < 100 ? "met" : "not met");
  }
  return 0;
}
