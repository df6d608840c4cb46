#include "reports/model/ReportRules.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "reports/model/ReportNode.h"

namespace vexa {

namespace {

QString TwoDigits(int v) {
  return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

QString ClockText(int seconds) {
  return TwoDigits(seconds / 3600) + QLatin1Char(':') + TwoDigits(seconds / 60 % 60) + QLatin1Char(':') +
         TwoDigits(seconds % 60);
}

int Clamped(int index, size_t size) {
  return std::clamp(index, 0, static_cast<int>(size) - 1);
}

}  // namespace

QString IntervalFieldText(int intervalIndex) {
  return QStringLiteral(" 00 ") + ClockText(LoggingIntervalSeconds(intervalIndex) % 86400);
}

QString DurationFieldText(int durationIndex) {
  const int seconds = LoggingDurationSeconds(durationIndex);
  return QLatin1Char(' ') + TwoDigits(seconds / 86400) + QLatin1Char(' ') + ClockText(seconds % 86400);
}

QString HourWord(int hour) {
  if (hour == 1 || hour == 21) return QStringLiteral("час");
  if ((hour >= 2 && hour <= 4) || hour == 22 || hour == 23) return QStringLiteral("часа");
  return QStringLiteral("часов");
}

bool PointCountInRange(int count) {
  return count >= kMinPointCount && count <= kMaxPointCount;
}

QString PointCountQuestion(int count) {
  if (count > kMaxPointCount)
    return QStringLiteral("В отчете слишком много точек!\r\nЗакрыть окно без сохранения?");
  if (count < kMinPointCount)
    return QStringLiteral("В отчете слишком мало точек!\r\nЗакрыть окно без сохранения?");
  return {};
}

QStringList LinesFromText(const QString& text) {
  if (text.isEmpty()) return {};
  static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
  QStringList lines = text.split(lineBreak);
  if (lines.last().isEmpty()) lines.removeLast();
  return lines;
}

TReportSettings TReportSettings::From(const TReportNode& node) {
  TReportSettings s;
  s.IntervalIndex = Clamped(node.LoggingIntervalIndex(), kLoggingIntervals.size());
  s.DurationIndex = Clamped(node.LoggingDurationIndex(), kLoggingDurations.size());
  s.TriggerIndex = std::clamp(node.Trigger(), 0, 1);
  s.Align = node.AlignEnabled();
  s.ShiftHour = std::clamp(node.TimeOffset(), 0, 23);
  s.Shift = node.OffsetEnabled();
  s.SaveIndex = std::clamp(node.Save(), 0, 1);
  s.CheckShift();
  return s;
}

void TReportSettings::WriteTo(TReportNode& node) const {
  node.SetLoggingIntervalIndex(IntervalIndex);
  node.SetLoggingDurationIndex(DurationIndex);
  node.SetTrigger(TriggerIndex);
  node.SetAlignEnabled(Align);
  node.SetTimeOffset(ShiftHour);
  node.SetOffsetEnabled(Shift);
  node.SetSave(SaveIndex);
  node.SetMaxCount(PointCount());
}

int TReportSettings::PointCount() const {
  const int interval = LoggingIntervalSeconds(IntervalIndex);
  if (interval == 0) return 0;
  // Halves go to the even neighbour, as the toolkit's rounding does (3 min / 6 min is 0).
  return static_cast<int>(
      std::nearbyint(static_cast<double>(LoggingDurationSeconds(DurationIndex)) / interval));
}

bool TReportSettings::ShiftAllowed() const {
  const int duration = LoggingDurationSeconds(DurationIndex);
  return Align && duration > 3600 && duration < 2 * 86400;
}

void TReportSettings::StepInterval(int delta) {
  IntervalIndex = Clamped(IntervalIndex + delta, kLoggingIntervals.size());
}

void TReportSettings::StepDuration(int delta) {
  DurationIndex = Clamped(DurationIndex + delta, kLoggingDurations.size());
  CheckShift();
}

void TReportSettings::SetAlign(bool align) {
  Align = align;
  CheckShift();
}

void TReportSettings::SetShift(bool shift) {
  Shift = shift;
  CheckShift();
}

void TReportSettings::CheckShift() {
  if (!ShiftAllowed()) Shift = false;
}

}  // namespace vexa
