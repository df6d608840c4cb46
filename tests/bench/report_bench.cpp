// The report tick on the simulated network: 20 reports of 50 registers sampling every second in
// windows of an hour, archived automatically, for a number of simulated hours on a clock that
// moves only when slept on. Prints the main thread's time per report tick and the archives'
// sizes. A timed tool run, not a test; tests/bench/report_bench.sh runs it.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/Comm.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "reports/model/ReportNode.h"
#include "reports/model/ReportTick.h"
#include "tests/bench/Must.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  const int hours = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
  QTemporaryDir dir;
  QDir(dir.path()).mkpath(QStringLiteral("Archives"));
  QDir(dir.path()).mkpath(QStringLiteral("Config"));
  Services().Clock = std::make_unique<TVirtualClock>(46363.0);  // 07.12.2026 0:00
  TNetwork network(dir.path(), std::make_unique<TComm>(dir.path()));
  network.Setup()->SetDemo(true);
  constexpr int reports = 20;
  constexpr int registers = 50;
  for (int r = 0; r < reports; ++r) {
    auto* report = new TReportNode(network.Reports().get());  // owned by REPORTS
    report->SetName(QStringLiteral("R%1").arg(r));
    report->SetCaption(QStringLiteral("Отчет %1").arg(r));
    report->SetLoggingIntervalIndex(0);  // 1 s
    report->SetLoggingDurationIndex(5);  // 1 h
    report->SetMaxCount(3600);
    for (int k = 0; k < registers; ++k) {
      auto* reg = new TRegisterNode(report);
      reg->SetName(TCustomRegister::RegisterName(0, k / 10, 1 + k % 10));
      reg->SetCaption(QStringLiteral("Регистр %1").arg(k));
      reg->SetRegisterType(k % 3 == 0 ? rtFLOAT : rtINT);
      reg->SetMaxCount(3600);
    }
    MustSucceed(report->StartReport());
  }

  std::vector<double> ms;
  QElapsedTimer total;
  total.start();
  TClock& clock = *Services().Clock;
  // The window's timer is off while its handler runs and fires a second after it ended; the
  // simulated exchanges' waits move the clock on meanwhile.
  const int64_t end = int64_t{hours} * 3600 * 1000;
  while (clock.TickMs() < end) {
    clock.Sleep(1000);
    QElapsedTimer t;
    t.start();
    MustSucceed(ReportTick(network));
    ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  qint64 bytes = 0;
  const QFileInfoList archives = QDir(dir.filePath(QStringLiteral("Archives"))).entryInfoList(QDir::Files);
  for (const QFileInfo& f : archives) bytes += f.size();
  std::printf("%d reports of %d registers, 1 s samples in 1 h windows, %d simulated hours in %.1f s\n",
              reports, registers, hours, static_cast<double>(total.elapsed()) / 1000);
  std::printf("%zu report ticks (the exchanges' waits make each take %.1f s of simulated time)\n", ms.size(),
              static_cast<double>(end) / 1000 / static_cast<double>(ms.size()) - 1);
  std::printf(
      "report tick, the main thread's own work: median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n",
      ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
  std::printf(
      "archives: %lld files, %.1f MiB in all, %.1f KiB each\n", static_cast<long long>(archives.size()),
      static_cast<double>(bytes) / 1048576,
      archives.isEmpty() ? 0.0 : static_cast<double>(bytes) / 1024 / static_cast<double>(archives.size()));
  return 0;
}
