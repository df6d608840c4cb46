#pragma once
// TReportNode: a report (or report template) with its stored settings; its children are the
// register nodes it samples. A running report samples its registers once per interval over a window
// of fixed duration; the report tick (ReportTick.h) archives finished windows and starts the next.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/Faults.h"
#include "core/RootNode.h"

namespace vexa {

struct TLineContext;

// Sampling intervals (LoggingIntervalIndex 0..13) and window durations (LoggingDurationIndex 0..14),
// in whole seconds: 1 s .. 12 h and 1 min .. 30 days.
inline constexpr std::array<int, 14> kLoggingIntervals = {1,   3,   6,    12,   30,    60,    180,
                                                          360, 720, 1800, 3600, 10800, 21600, 43200};
inline constexpr std::array<int, 15> kLoggingDurations = {
    60, 180, 360, 720, 1800, 3600, 10800, 21600, 28800, 43200, 86400, 259200, 518400, 1036800, 2592000};
// A report's log per register holds at most this many samples.
inline constexpr int kMaxReportCount = 8000;
// The most lines a page header or footer may have (a page shows a few dozen).
inline constexpr int kMaxReportTextLines = 1000;

bool ValidIntervalIndex(int index);
bool ValidDurationIndex(int index);
// The table entry in seconds; 0 for an index outside its table.
int LoggingIntervalSeconds(int index);
int LoggingDurationSeconds(int index);

// Interval number of t for a period of whole seconds: periods since midnight for periods under a
// day, since the date origin (30 Dec 1899) otherwise. Decided on whole milliseconds: as fractions
// of a day, a time on a boundary often divides to a hair under its number.
int IntervalNumber(int periodSeconds, double t);

// Date-times on whole milliseconds and back.
qint64 DateTimeToMs(double t);
double MsToDateTime(qint64 ms);

class TReportNode : public TRootNode {
 public:
  explicit TReportNode(TComponent* owner);
  ~TReportNode() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // The inherited copy; from another report also every report property. Children are not copied.
  void Assign(const TPersistent& source) override;
  // The sampling step: at the first call in each new interval of the window, every register child
  // reads its register and logs the value.
  void Refresh(const TLineContext& line);

  // Begins a window now (aligned to the duration grid when AlignEnabled). Refused, the report left
  // stopped and the reason returned, when its settings are unusable.
  TFaults StartReport();
  // Empties every register child's log, then stops.
  void Reset();
  void Stop();
  // Elapsed share of the current window, 0..100; 0 for a window of no length. The window lasts its
  // length on the monotonic tick, so a clock set back does not stretch it; a clock set past its end
  // ends it at once, its samples so far kept, and the next window starts where the clock is.
  int Progress() const;
  // Start of the window that contains t, by the report's duration and alignment settings.
  double AlignedStart(double t) const;

  // Why the stored settings cannot run (an index outside its table, a sample count out of range),
  // or empty. Files are read as they are, so these are checked before use.
  QString SettingsFault() const;
  // SettingsFault, or for a running report a window of no length.
  QString RunFault() const;

  // Runtime only, not stored: the interval number of the last sample or of the window start; -1
  // before the first, so a report restored running samples at its first tick.
  int LastIntervalNumber() const { return lastIntervalNumber_; }
  // Runtime only: the last automatic archive of this window failed (told to the operator once).
  bool ArchiveFailed() const { return archiveFailed_; }
  void SetArchiveFailed(bool value) { archiveFailed_ = value; }

  double StartPoint() const { return startPoint_; }
  void SetStartPoint(double v);
  double LastPoint() const { return lastPoint_; }
  void SetLastPoint(double v);
  int LoggingIntervalIndex() const { return loggingIntervalIndex_; }
  void SetLoggingIntervalIndex(int v);
  int LoggingDurationIndex() const { return loggingDurationIndex_; }
  void SetLoggingDurationIndex(int v);
  int Trigger() const { return trigger_; }
  void SetTrigger(int v);
  bool AlignEnabled() const { return alignEnabled_; }
  void SetAlignEnabled(bool v) { alignEnabled_ = v; }
  int TimeOffset() const { return timeOffset_; }
  void SetTimeOffset(int v) { timeOffset_ = v; }
  bool OffsetEnabled() const { return offsetEnabled_; }
  void SetOffsetEnabled(bool v) { offsetEnabled_ = v; }
  int Save() const { return save_; }
  void SetSave(int v);
  int MaxCount() const { return maxCount_; }
  void SetMaxCount(int v);
  const QStringList& Header() const { return header_; }
  void SetHeader(const QStringList& v) { header_ = v; }
  const QStringList& Footer() const { return footer_; }
  void SetFooter(const QStringList& v) { footer_ = v; }

 private:
  friend class TReportRef;

  double startPoint_;
  double lastPoint_;
  int loggingIntervalIndex_ = 1;
  int loggingDurationIndex_ = 0;
  int trigger_ = 0;
  bool alignEnabled_ = true;
  int timeOffset_ = 0;
  bool offsetEnabled_ = false;
  int save_ = 0;
  int maxCount_ = 20;
  QStringList header_;
  QStringList footer_;
  // The tick at which the window ends, and the window's start on the same tick (TClock::TickMs):
  // set when a window starts, or taken once from a stored window; reset by SetStartPoint and
  // SetLastPoint.
  void TakeWindowTicks() const;
  int64_t WindowLengthMs() const;
  mutable std::optional<int64_t> windowEndTick_;
  // The tick of the next sample: the next interval boundary of the wall clock as it was at the last
  // sample, so samples stay on whole intervals and come at most one interval apart whatever the
  // clock does.
  std::optional<int64_t> nextSampleTick_;
  int lastIntervalNumber_ = -1;
  bool archiveFailed_ = false;
  // Cleared by the destructor: what a TReportRef looks through.
  std::shared_ptr<TReportNode*> self_;
};

// A reference to a report that reads null once the report is destroyed: operator commands and
// message boxes run inside the report tick and may destroy any report.
class TReportRef {
 public:
  TReportRef() = default;
  explicit TReportRef(TReportNode& report) : cell_(report.self_) {}
  TReportNode* Get() const { return cell_ ? *cell_ : nullptr; }

 private:
  std::shared_ptr<TReportNode*> cell_;
};

}  // namespace vexa
