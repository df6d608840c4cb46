#pragma once
// The report tick: once a second every running report samples, shows its progress and, at the end
// of its window, is archived and starts its next window (periodic) or stops (one-time).

#include <QString>
#include <functional>

#include "core/Faults.h"

namespace vexa {

class TNetwork;
class TReportNode;

// The tick's period.
inline constexpr int kReportTickMs = 1000;

// The reports window's side of a tick.
struct TReportTickHooks {
  // Before each report: the window's pending events. Operator commands run here and may add or
  // destroy reports; a report destroyed is skipped, one added waits for the next tick.
  std::function<void()> ProcessEvents;
  // A running report's progress after its sampling step (the list's "%" column).
  std::function<void(TReportNode& report, int progress)> ShowProgress;
  // A report the tick stopped: a one-time report at the end of its window, or one whose stored
  // settings cannot run (the list's image of a stopped report).
  std::function<void(TReportNode& report)> ShowStopped;
};

// One tick over the reports of the network's REPORTS when it begins. Returns, in order, why a report
// stopped or did not start its next window, an archive that could not be written (once until one is
// written again) and saves that failed.
TFaults ReportTick(TNetwork& network, const TReportTickHooks& hooks = {});

// Stores the current window as the archive file in <folder>/Archives named after the report's caption
// and window start (FreeArchiveName: never over another archive); the caption is put back and Changed
// cleared afterwards, also when writing fails. False when nothing could be written. The name used goes
// to `name` when given.
bool ArchiveReport(const QString& folder, TReportNode& report, QString* name = nullptr);

// The operator's message for a window whose archive could not be written.
QString ArchiveFailedText(const QString& archiveName);

}  // namespace vexa
