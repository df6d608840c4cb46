#pragma once
// TCommandNode: one driven register of a process. A copy of a network register whose two string
// lists hold the cyclogram instead of a history: DataList the value of each point, Points the
// duration of each slot in whole seconds (point 0 is the initial value).

#include "core/CustomRegister.h"

namespace vexa {

class TCommandNode : public TCustomRegister {
 public:
  explicit TCommandNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // The inherited copy; the cyclogram lists are refilled from another command node. The slot
  // fields and Finished are not copied.
  void Assign(const TPersistent& source) override;

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
  int slotNumber_ = 0;
  double slotStart_ = 0;
  double slotSize_ = 0;
  double startValue_ = 0;
  double stopValue_ = 0;
  bool finished_ = false;
};

}  // namespace vexa
