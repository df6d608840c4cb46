// The history window's repaint on a register with a full history of 1200 samples: the chart is
// repainted (the automatic scale, the frame, the cursor, the read-outs and the curve) as it is on
// every cursor step. A timed tool run, not a test; tests/bench/history_bench.sh runs it.

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/Comm.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "ui/HistoryChart.h"
#include "ui/HistoryUnit.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int repaints = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;
  QTemporaryDir dir;
  TNetwork network(dir.path(), std::make_unique<TComm>(dir.path()));
  {
    auto* reg = new TRegisterNode(network.Net().get());
    reg->SetName("D001C000R001");
    reg->SetCaption(QStringLiteral("Температура"));
    reg->SetLoggingInterval(0);
    QStringList times, values;
    const double start = Now();
    for (int i = 0; i < reg->MaxCount(); ++i) {
      times << DateTimeToStr(start + i * 3 / kSecondsPerDay);
      values << FormatFixed(500 + 300 * std::sin(i / 40.0), 1);
    }
    reg->SetPoints(times);
    reg->SetDataList(values);
    THistoryForm form(reg, nullptr, nullptr);
    form.show();
    // Painting reaches the screen only once the window system has exposed the window.
    QElapsedTimer exposing;
    exposing.start();
    while ((form.windowHandle() == nullptr || !form.windowHandle()->isExposed()) && exposing.elapsed() < 5000)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    QWidget* chart = form.findChild<THistoryChart*>(QStringLiteral("chart"));
    if (chart == nullptr) {
      std::printf("the window has no chart\n");
      return 1;
    }
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(repaints));
    for (int i = 0; i < repaints; ++i) {
      QElapsedTimer t;
      t.start();
      chart->repaint();  // as a cursor step does
      ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    if (!form.Axis().HasValues()) {
      std::printf("the chart was never painted\n");
      return 1;
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double worst = ms.back();
    std::printf("history of %d samples, %d repaints of a %d x %d chart\n", reg->Count(), repaints,
                chart->width(), chart->height());
    std::printf("repaint: median %.2f ms, 95th percentile %.2f ms, worst %.2f ms (goal < 20 ms): %s\n",
                median, ms[ms.size() * 95 / 100], worst, median < 20 ? "met" : "MISSED");
  }
  return 0;
}
