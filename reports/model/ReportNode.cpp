#include "reports/model/ReportNode.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/RegisterNode.h"
#include "core/Services.h"

namespace vexa {

static_assert(kMaxReportCount <= kMaxHistory, "a report's registers keep their whole window");

namespace {

// Beyond any date a report can mean (some 270 000 years); keeps the millisecond arithmetic exact.
constexpr double kDateLimit = 1e8;

qint64 FloorDiv(qint64 a, qint64 b) {
  qint64 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

qint64 IntervalNumberMs(qint64 periodMs, qint64 ms) {
  if (periodMs < kMsPerDay) ms -= FloorDiv(ms, kMsPerDay) * kMsPerDay;
  return FloorDiv(ms, periodMs);
}

int ToInt(qint64 v) {
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

// From t to the next boundary of the sampling interval on the wall clock, 1 ms .. one interval.
int64_t MsToNextInterval(int intervalSeconds, double t) {
  const qint64 periodMs = std::max(intervalSeconds, 1) * qint64{1000};
  return periodMs - (DateTimeToMs(t) - FloorDiv(DateTimeToMs(t), periodMs) * periodMs);
}

bool WindowHasLength(double start, double last) {
  return std::isfinite(start) && std::isfinite(last) && DateTimeToMs(last) > DateTimeToMs(start);
}

}  // namespace

bool ValidIntervalIndex(int index) {
  return index >= 0 && index < static_cast<int>(kLoggingIntervals.size());
}
bool ValidDurationIndex(int index) {
  return index >= 0 && index < static_cast<int>(kLoggingDurations.size());
}
int LoggingIntervalSeconds(int index) {
  return ValidIntervalIndex(index) ? kLoggingIntervals[static_cast<size_t>(index)] : 0;
}
int LoggingDurationSeconds(int index) {
  return ValidDurationIndex(index) ? kLoggingDurations[static_cast<size_t>(index)] : 0;
}

qint64 DateTimeToMs(double t) {
  if (std::isnan(t)) return 0;
  if (t > kDateLimit) t = kDateLimit;
  if (t < -kDateLimit) t = -kDateLimit;
  return std::llround(t * static_cast<double>(kMsPerDay));
}

double MsToDateTime(qint64 ms) {
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

int IntervalNumber(int periodSeconds, double t) {
  if (periodSeconds <= 0) return 0;
  return ToInt(IntervalNumberMs(periodSeconds * qint64{1000}, DateTimeToMs(t)));
}

TReportNode::TReportNode(TComponent* owner)
    : TRootNode(owner), startPoint_(Now()), lastPoint_(Now()), self_(std::make_shared<TReportNode*>(this)) {}

TReportNode::~TReportNode() {
  *self_ = nullptr;
}

const TClassInfo& TReportNode::StaticClassInfo() {
  using P = Props<TReportNode>;
  static const TClassInfo info{
      "TReportNode",
      &TRootNode::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TReportNode(owner); },
      {
          P::DateTime("StartPoint", &TReportNode::StartPoint, &TReportNode::SetStartPoint).RealDates(),
          P::DateTime("LastPoint", &TReportNode::LastPoint, &TReportNode::SetLastPoint).RealDates(),
          P::Int("LoggingIntervalIndex", 1, &TReportNode::LoggingIntervalIndex,
                 &TReportNode::SetLoggingIntervalIndex)
              .Within(0, static_cast<qint64>(kLoggingIntervals.size()) - 1),
          P::Int("LoggingDurationIndex", 0, &TReportNode::LoggingDurationIndex,
                 &TReportNode::SetLoggingDurationIndex)
              .Within(0, static_cast<qint64>(kLoggingDurations.size()) - 1),
          P::Int("Trigger", 0, &TReportNode::Trigger, &TReportNode::SetTrigger).Within(0, 1),
          P::Bool("AlignEnabled", true, &TReportNode::AlignEnabled, &TReportNode::SetAlignEnabled),
          P::Int("TimeOffset", 0, &TReportNode::TimeOffset, &TReportNode::SetTimeOffset).Within(0, 23),
          P::Bool("OffsetEnabled", false, &TReportNode::OffsetEnabled, &TReportNode::SetOffsetEnabled),
          P::Int("Save", 0, &TReportNode::Save, &TReportNode::SetSave).Within(0, 1),
          // Samples per window; the report settings run with 1 to kMaxReportCount.
          P::Int("MaxCount", 20, &TReportNode::MaxCount, &TReportNode::SetMaxCount)
              .Within(1, kMaxReportCount),
          P::StringList("Header", &TReportNode::Header, &TReportNode::SetHeader)
              .AtMostLines(kMaxReportTextLines),
          P::StringList("Footer", &TReportNode::Footer, &TReportNode::SetFooter)
              .AtMostLines(kMaxReportTextLines),
      }};
  return info;
}

void TReportNode::Assign(const TPersistent& source) {
  TRootNode::Assign(source);
  if (const auto* src = dynamic_cast<const TReportNode*>(&source)) {
    SetStartPoint(src->startPoint_);
    SetLastPoint(src->lastPoint_);
    SetLoggingIntervalIndex(src->loggingIntervalIndex_);
    SetLoggingDurationIndex(src->loggingDurationIndex_);
    SetTrigger(src->trigger_);
    SetAlignEnabled(src->alignEnabled_);
    SetTimeOffset(src->timeOffset_);
    SetOffsetEnabled(src->offsetEnabled_);
    SetSave(src->save_);
    SetMaxCount(src->maxCount_);
    SetHeader(src->header_);
    SetFooter(src->footer_);
  }
}

QString TReportNode::SettingsFault() const {
  const auto outside = [](const char* what, int value, const char* range) {
    return QStringLiteral("%1 %2 вне пределов %3")
        .arg(QString::fromUtf8(what))
        .arg(value)
        .arg(QLatin1String(range));
  };
  if (!ValidIntervalIndex(loggingIntervalIndex_))
    return outside("номер интервала опроса", loggingIntervalIndex_, "0..13");
  if (!ValidDurationIndex(loggingDurationIndex_))
    return outside("номер продолжительности отчета", loggingDurationIndex_, "0..14");
  if (trigger_ != 0 && trigger_ != 1) return outside("цикличность отчета", trigger_, "0..1");
  if (save_ != 0 && save_ != 1) return outside("сохранение в архиве", save_, "0..1");
  if (maxCount_ < 1 || maxCount_ > kMaxReportCount) return outside("число точек", maxCount_, "1..8000");
  if (offsetEnabled_ && (timeOffset_ < 0 || timeOffset_ > 23))
    return outside("начало смены", timeOffset_, "0..23");
  return {};
}

QString TReportNode::RunFault() const {
  QString fault = SettingsFault();
  if (fault.isEmpty() && Enabled() && !WindowHasLength(startPoint_, lastPoint_))
    fault = QStringLiteral("окно отчета не имеет длины");
  return fault;
}

double TReportNode::AlignedStart(double t) const {
  const qint64 durationMs = LoggingDurationSeconds(loggingDurationIndex_) * qint64{1000};
  if (!alignEnabled_ || durationMs <= 0) return t;
  const qint64 offMs = offsetEnabled_ ? timeOffset_ * qint64{3600000} : 0;
  const qint64 tMs = DateTimeToMs(t);
  const qint64 n = IntervalNumberMs(durationMs, tMs - offMs);
  if (durationMs >= kMsPerDay) return MsToDateTime(n * durationMs + offMs);
  const qint64 dayMs = FloorDiv(tMs, kMsPerDay) * kMsPerDay;
  qint64 startMs = n * durationMs + dayMs + offMs;
  if (offsetEnabled_ && tMs - dayMs < offMs) startMs -= kMsPerDay;
  return MsToDateTime(startMs);
}

TFaults TReportNode::StartReport() {
  if (const QString fault = SettingsFault(); !fault.isEmpty()) {
    Stop();
    return TFaults(QStringLiteral("Отчет '%1' не запущен:\r\n%2.").arg(Caption(), fault));
  }
  SetEnabled(true);
  archiveFailed_ = false;
  const double now = Now();
  const double start = AlignedStart(now);
  SetStartPoint(start);
  const int intervalSeconds = LoggingIntervalSeconds(loggingIntervalIndex_);
  lastIntervalNumber_ = IntervalNumber(intervalSeconds, start);
  SetLastPoint(
      MsToDateTime(DateTimeToMs(start) + LoggingDurationSeconds(loggingDurationIndex_) * qint64{1000}));
  TakeWindowTicks();
  // A window aligned back to its start samples at once when an interval has begun since.
  nextSampleTick_ = IntervalNumber(intervalSeconds, now) != lastIntervalNumber_
                        ? TickMs()
                        : TickMs() + MsToNextInterval(intervalSeconds, now);
  return {};
}

int64_t TReportNode::WindowLengthMs() const {
  return WindowHasLength(startPoint_, lastPoint_) ? DateTimeToMs(lastPoint_) - DateTimeToMs(startPoint_) : 0;
}

void TReportNode::TakeWindowTicks() const {
  const int64_t length = WindowLengthMs();
  const int64_t left = std::clamp<int64_t>(DateTimeToMs(lastPoint_) - DateTimeToMs(Now()), 0, length);
  windowEndTick_ = TickMs() + left;
}

void TReportNode::Refresh(const TLineContext& line) {
  if (!Enabled() || !SettingsFault().isEmpty()) return;
  const double now = Now();
  const int64_t tick = TickMs();
  if (!windowEndTick_) TakeWindowTicks();
  // A tick exactly at the end falls in the next window's first interval, which takes no sample.
  if (tick >= *windowEndTick_ || DateTimeToMs(now) >= DateTimeToMs(lastPoint_)) return;
  const int intervalSeconds = LoggingIntervalSeconds(loggingIntervalIndex_);
  const int n = IntervalNumber(intervalSeconds, now);
  // A restored window samples at its first tick, as before in a new interval by the wall clock.
  const bool due = nextSampleTick_ ? tick >= *nextSampleTick_ : n != lastIntervalNumber_;
  if (!due) return;
  lastIntervalNumber_ = n;
  nextSampleTick_ = tick + MsToNextInterval(intervalSeconds, now);
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* reg = dynamic_cast<TRegisterNode*>(Component(i))) reg->Update(line);
}

void TReportNode::Reset() {
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* reg = dynamic_cast<TRegisterNode*>(Component(i))) reg->ClearHistory();
  archiveFailed_ = false;
  SetEnabled(false);
}

void TReportNode::Stop() {
  SetEnabled(false);
}

int TReportNode::Progress() const {
  const int64_t length = WindowLengthMs();
  if (length <= 0) return 0;
  if (!windowEndTick_) TakeWindowTicks();
  const qint64 byTick = FloorDiv((TickMs() - (*windowEndTick_ - length)) * 100, length);
  const qint64 byWall = FloorDiv((DateTimeToMs(Now()) - DateTimeToMs(startPoint_)) * 100, length);
  return static_cast<int>(std::clamp<qint64>(std::max(byTick, byWall), 0, 100));
}

void TReportNode::SetStartPoint(double value) {
  StoreChanged(startPoint_, value);
  windowEndTick_.reset();
  nextSampleTick_.reset();
}
void TReportNode::SetLastPoint(double value) {
  StoreChanged(lastPoint_, value);
  windowEndTick_.reset();
  nextSampleTick_.reset();
}
void TReportNode::SetLoggingIntervalIndex(int value) {
  StoreChanged(loggingIntervalIndex_, value);
}
void TReportNode::SetLoggingDurationIndex(int value) {
  StoreChanged(loggingDurationIndex_, value);
}
void TReportNode::SetTrigger(int value) {
  StoreChanged(trigger_, value);
}
void TReportNode::SetSave(int value) {
  StoreChanged(save_, value);
}
void TReportNode::SetMaxCount(int value) {
  StoreChanged(maxCount_, value);
}

}  // namespace vexa
