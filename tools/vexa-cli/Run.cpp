// vexa-cli run: the program without windows. DIR's state is loaded as at start-up, the poller, the
// process tick and the report tick run for a given time, and the state is saved as at exit. With a
// virtual clock (simulation only) time advances without waiting, every tick in its order.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <memory>
#include <utility>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "storage/NetworkState.h"
#include "storage/UnreadableFiles.h"
#include "tools/vexa-cli/CliContext.h"
#include "ui/model/AlarmMonitor.h"
#include "ui/model/TickRunner.h"

namespace vexa::cli {

namespace {

// One pass of the poller's walk, on this thread: every register of NET whose interval has run out,
// each read handed to the alarms as the poller hands it.
void PollPass(TNetwork& network, TAlarmMonitor& alarms) {
  const TComponent* current = network.Net().get();
  int index = 0;
  TCustomRegister* found = nullptr;
  while (!NextRegister(network.Net().get(), current, index, found)) {
    if (auto* reg = dynamic_cast<TRegisterNode*>(found)) {
      const bool due = reg->RefreshDue();
      reg->Refresh(network.LineContext());
      if (due) alarms.Read(*reg);
    }
  }
  alarms.Tick();
}

// What a tick found wrong, on the error stream, one line each.
void PrintFaults(const TFaults& faults) {
  for (const QString& text : faults.Texts())
    Err(QStringLiteral("vexa-cli: ") + QString(text).replace(QLatin1String("\r\n"), QLatin1String(" ")));
}

void RunReal(TNetwork& network, TAlarmMonitor& alarms, int64_t ms) {
  alarms.Attach();
  network.StartPoller();
  TTickRunner ticks(network, PrintFaults);
  ticks.Start();
  // Shelvings and delays run out between reads too.
  QTimer alarmTick;
  QObject::connect(&alarmTick, &QTimer::timeout, [&alarms] { alarms.Tick(); });
  alarmTick.start(1000);
  QEventLoop loop;
  QTimer::singleShot(std::chrono::milliseconds(ms), &loop, &QEventLoop::quit);
  loop.exec();
  ticks.Stop();
  network.StopPoller();
  alarms.Detach();
}

int Run(TCliContext& ctx, const QStringList& args) {
  double seconds = -1;
  QString virtualStart;
  for (int i = 0; i < args.size(); ++i) {
    bool ok = false;
    if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
      seconds = args[++i].toDouble(&ok);
      if (!ok || !(seconds > 0) || seconds > 400.0 * 86400) return Usage();
    } else if (args[i] == QLatin1String("--virtual-clock") && i + 1 < args.size()) {
      virtualStart = args[++i];
    } else {
      return Usage();
    }
  }
  if (seconds <= 0) return Usage();
  const auto ms = static_cast<int64_t>(std::llround(seconds * 1000));

  std::unique_ptr<TClock> realClock;
  if (!virtualStart.isEmpty()) {
    const std::optional<double> start = StrToDateTime(virtualStart);
    if (!start) {
      Err(QStringLiteral("vexa-cli: --virtual-clock wants a local time like \"07.12.2026 9:05:00\""));
      return 2;
    }
    if (!ctx.Demo) {
      Err(QStringLiteral("vexa-cli: --virtual-clock runs the simulation only: give --demo"));
      return 2;
    }
    realClock = std::exchange(Services().Clock, std::make_unique<TVirtualClock>(*start));
  }
  const auto restoreClock = qScopeGuard([&] {
    if (realClock) Services().Clock = std::move(realClock);
  });

  TNetwork& network = *ctx.Network;
  try {
    LoadNetworkState(network);  // as at start-up; it starts the poller again
  } catch (const EUnreadableFiles& e) {
    network.StopPoller();
    return UnreadableFilesExit(e.Message());
  } catch (const std::exception& e) {
    network.StopPoller();
    Err(QStringLiteral("vexa-cli: the state in %1 cannot be read: %2")
            .arg(ctx.Dir, QString::fromUtf8(e.what())));
    return 1;
  }
  network.StopPoller();
  // As at start-up: the archive folder, one level, a failure told by the first archive write.
  QDir(network.Dir()).mkdir(QStringLiteral("Archives"));
  const TFolderLine folderLine = UseCommandLineLine(ctx);
  // The alarms as the program keeps them: a journal that cannot be opened is told, and the run
  // goes on without it.
  TAlarmMonitor alarms(network, kWhoCli);
  PrintFaults(alarms.Open());

  if (realClock) {
    TTickRunner(network, PrintFaults).RunVirtual(ms, [&network, &alarms] { PollPass(network, alarms); });
  } else {
    RunReal(network, alarms, ms);
  }
  RestoreFolderLine(ctx, folderLine);
  try {
    SaveNetworkState(network);  // as at exit
  } catch (const std::exception& e) {
    Err(QStringLiteral("vexa-cli: the state could not be saved: %1").arg(QString::fromUtf8(e.what())));
    return 1;
  }
  Out(QStringLiteral("ran %1 s%2; state saved in %3")
          .arg(seconds)
          .arg(realClock ? QStringLiteral(" on the virtual clock, to %1").arg(DateTimeToStr(Now()))
                         : QString())
          .arg(ctx.Dir));
  return 0;
}

const TCommandRegistrar kRun{
    QStringLiteral("run"),
    {&Run,
     QStringLiteral("run --seconds S [--virtual-clock \"DD.MM.YYYY H:MM:SS\"]  loads DIR's state as the "
                    "program does, polls and runs the processes and reports for S seconds without "
                    "windows, then saves the state; the virtual clock (with --demo) runs from that "
                    "local time without waiting"),
     true, false, TFolderWrites::Folder}};

}  // namespace

}  // namespace vexa::cli
