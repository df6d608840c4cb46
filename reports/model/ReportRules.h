#pragma once
// Rules of the report properties dialog that need no window: the working copies it edits, the texts
// of its duration and interval fields, the expected number of samples and its range, the shift
// controls, and the hour word after the shift hour.

#include <QString>
#include <QStringList>

namespace vexa {

class TReportNode;

// The sample counts the dialog accepts.
inline constexpr int kMinPointCount = 10;
inline constexpr int kMaxPointCount = 8000;

// " 00 00:03:00": an interval in hours, minutes and seconds (all intervals are under a day).
QString IntervalFieldText(int intervalIndex);
// " 03 00:00:00": a duration in whole days, then hours, minutes and seconds.
QString DurationFieldText(int durationIndex);
// The word after the shift hour: "час" (1, 21), "часа" (2..4, 22, 23), "часов" (0, 5..20).
QString HourWord(int hour);
bool PointCountInRange(int count);
// The question "OK" asks when the count is out of range (close without saving?); empty in range.
QString PointCountQuestion(int count);
// A memo's text as a string list takes it: CR LF, LF or CR end a line; a final line break adds no
// empty line.
QStringList LinesFromText(const QString& text);

// The dialog's working copies; the node is written only from a confirmed dialog.
struct TReportSettings {
  int IntervalIndex = 1;
  int DurationIndex = 0;
  int TriggerIndex = 0;
  bool Align = true;
  int ShiftHour = 0;
  bool Shift = false;
  int SaveIndex = 0;

  // The node's values, each brought into its control's range (a file may hold anything).
  static TReportSettings From(const TReportNode& node);
  // Indices, trigger, alignment, shift, archiving and MaxCount := PointCount.
  void WriteTo(TReportNode& node) const;

  // Expected samples per window: duration / interval to the nearest whole number.
  int PointCount() const;
  // The shift start applies to aligned windows longer than an hour and shorter than two days.
  bool ShiftAllowed() const;
  // One step of a spin button (+1 up, -1 down), stopping at the table's ends.
  void StepInterval(int delta);
  void StepDuration(int delta);
  void SetAlign(bool align);
  void SetShift(bool shift);

 private:
  // A shift that no longer applies is switched off.
  void CheckShift();
};

}  // namespace vexa
