// 200 value labels on one diagram page of the main window, their registers polled in simulation
// every 3 s: how long the main thread is busy per wall second (the reads handed over by the poller,
// the histories, the label updates and their painting). With "plain", the same registers without
// labels; with "histories", the labels and 10 history windows open on them. A timed tool run, not a
// test (tests/bench/label_bench.sh and history_bench.sh compare them).

#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"
#include "ui/HistoryUnit.h"
#include "ui/MainUnit.h"
#include "ui/model/LabelDisplay.h"
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

}  // namespace

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  // "plain": the same registers polled without labels, to tell the labels' own share.
  const bool plain = argc > 2 && std::strcmp(argv[2], "plain") == 0;
  const bool histories = argc > 2 && std::strcmp(argv[2], "histories") == 0;
  QTemporaryDir dir;
  QDir(dir.path()).mkpath("Config");
  TNetwork network(dir.path(), std::make_unique<TComm>(dir.path()));
  network.Setup()->SetDemo(true);
  QImage picture(1000, 700, QImage::Format_RGB32);
  picture.fill(Qt::white);
  picture.save(dir.filePath("plant.png"));
  network.Setup()->SetMNames({QStringLiteral("Цех")});
  network.Setup()->SetMFiles({dir.filePath("plant.png")});
  SaveTreeFile(network, *network.Setup());

  int count = 0;
  {
    TMainForm form(network);
    form.show();
    auto* regulator = new TRootNode(network.Net().get());
    regulator->SetName("D000");
    for (int c = 0; c < 5; ++c) {
      auto* channel = new TRootNode(regulator);
      channel->SetName(QStringLiteral("D000C%1").arg(c, 3, 10, QLatin1Char('0')));
      for (int r = 1; r <= 40; ++r, ++count) {
        auto* reg = new TRegisterNode(channel);
        reg->SetName(TCustomRegister::RegisterName(0, c, r));
        reg->SetCaption(QStringLiteral("Параметр %1").arg(count));
        reg->SetRegisterType(r % 2 ? rtINT : rtFLOAT);
        reg->SetLoggingInterval(3);
        reg->SetEnabled(true);  // polled in both modes: only the labels differ
        if (plain) continue;
        TLabelDisplay* label =
            PlaceLabel(*reg, QStringLiteral("ts0"), 10 + (count % 8) * 120, 10 + (count / 8) * 26);
        label->SetUnits(QStringLiteral("°C"));
      }
    }
    if (histories) {
      int opened = 0;
      for (TRootNode* channel : {static_cast<TRootNode*>(regulator->Component(0))})
        for (int i = 0; i < channel->ComponentCount() && opened < 10; ++i, ++opened)
          if (TLabelDisplay* label = LabelOf(channel->Component(i))) {
            // Full histories: each window copies and draws 1200 samples every interval.
            auto* reg = static_cast<TRegisterNode*>(channel->Component(i));
            QStringList times, values;
            for (int k = 0; k < reg->MaxCount(); ++k) {
              times << DateTimeToStr(Now() - (reg->MaxCount() - k) * 3 / kSecondsPerDay);
              values << QString::number(k % 97);
            }
            reg->SetPoints(times);
            reg->SetDataList(values);
            ShowLabelHistory(form, *label);
          }
    }
    network.StartPoller();
    RunFor(4000);  // every register read once, the window settled
    const double cpu0 = ThreadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunFor(seconds * 1000);
    const double busy = ThreadCpuSeconds() - cpu0;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    network.StopPoller();
    const double share = busy / elapsed;
    std::printf("%s on one page: %d, logging interval 3 s, %d s measured\n",
                plain       ? "registers without labels"
                : histories ? "labels with 10 history windows"
                            : "labels",
                count, seconds);
    std::printf("main thread busy: %.1f ms per second (%.2f %% of one core; goal < 5 %%): %s\n", share * 1000,
                share * 100, share < 0.05 ? "met" : "not met");
  }
  return 0;
}
