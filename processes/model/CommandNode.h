#pragma once
// TCommandNode: one driven register of a process. A copy of a network register whose two string
// lists hold the cyclogram instead of a history: DataList the value of each point, Points the
// duration of each slot in whole seconds (point 0 is the initial value, its duration is never used).
// Slot k >= 1 is a straight ramp from value k-1 to value k; each tick's Refresh writes the value
// for the current time, and the point's own text when its slot is over.

#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "core/CustomRegister.h"

namespace vexa {

// A cyclogram entry that cannot drive the register (a value that is not a number, a duration that
// is not an integer, a slot outside the lists, slot times that are no date-times): a file edited by
// hand or written by another program. The text says which entry, for the operator.
class ECyclogramError : public std::runtime_error {
 public:
  explicit ECyclogramError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

class TCommandNode : public TCustomRegister {
 public:
  explicit TCommandNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // The inherited copy; the cyclogram lists are refilled from another command node. The slot
  // fields and Finished are not copied.
  void Assign(const TPersistent& source) override;

  // Sets up slot SlotNumber beginning now: its start and end values and its length. Nothing for an
  // empty cyclogram. Raises ECyclogramError, changing nothing, when an entry does not convert.
  void StartSlot();
  // Back to point 0 with slot 0 set up, disabled, not finished. Never raises: a point 0 that does
  // not convert is reported by the first Refresh that reaches it.
  void Reset();
  // Enabled; a finished node is rewound first. A stopped node keeps its slot start, so the time
  // spent stopped counts as elapsed slot time.
  void Start();
  void Stop();

  // One step on the program's line, or on the given one: when enabled, writes the value for now,
  // or at the end of a slot the point's text and sets up the next slot (the node finishes after
  // its last point). Raises ECyclogramError when the current slot's entries do not convert.
  // One tick's step on the line.
  void Refresh(const TLineContext& line) override;
  // The same; in simulation mode the register of the same name in `net` shows the value written
  // last, as a regulator would read it back.
  void Step(const TLineContext& line, TRootNode* net);

  // Elapsed share of the whole cyclogram in percent, 100 when empty or finished (or of no
  // length). Raises ECyclogramError when a duration
  // does not convert or the slot is outside the lists.
  int Done() const;

  int SlotNumber() const { return slotNumber_; }
  void SetSlotNumber(int value);
  double SlotStart() const { return slotStart_; }
  void SetSlotStart(double value);
  double SlotSize() const { return slotSize_; }
  void SetSlotSize(double value);
  double StartValue() const { return startValue_; }
  void SetStartValue(double value);
  double StopValue() const { return stopValue_; }
  void SetStopValue(double value);
  bool Finished() const { return finished_; }

 protected:
  void SetFinished(bool value) { finished_ = value; }

 private:
  struct TSlot {
    double StartValue = 0;
    double StopValue = 0;
    int64_t Seconds = 0;
  };
  // What slot n would be, from the lists; raises ECyclogramError.
  TSlot PlanSlot(int n) const;
  // The slot begins at the date-time `t` (stored, shown) and the tick `tick` (which decides).
  void StartSlotAt(double t, int64_t tick);
  // Whole milliseconds from the slot's start to the tick `tick`, and SlotSize in whole milliseconds.
  // The elapsed time is the tick's: a step of the wall clock neither holds a ramp nor jumps it.
  qint64 SlotElapsedMs(int64_t tick) const;
  qint64 SlotSizeMs() const;

  int slotNumber_ = 0;
  double slotStart_ = 0;
  // The tick SlotStart stands for: set with the slot, or taken once from a stored SlotStart.
  mutable std::optional<int64_t> slotStartTick_;
  double slotSize_ = 0;
  double startValue_ = 0;
  double stopValue_ = 0;
  bool finished_ = false;
};

}  // namespace vexa
