#include "processes/model/CommandNode.h"

namespace vexa {

TCommandNode::TCommandNode(TComponent* owner) : TCustomRegister(owner) {}

const TClassInfo& TCommandNode::StaticClassInfo() {
  using P = Props<TCommandNode>;
  static const TClassInfo info{
      "TCommandNode",
      &TCustomRegister::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TCommandNode(owner); },
      {
          P::Int("SlotNumber", 0, &TCommandNode::SlotNumber, &TCommandNode::SetSlotNumber),
          P::DateTime("SlotStart", &TCommandNode::SlotStart, &TCommandNode::SetSlotStart),
          P::DateTime("SlotSize", &TCommandNode::SlotSize, &TCommandNode::SetSlotSize),
          P::Float("StartValue", &TCommandNode::StartValue, &TCommandNode::SetStartValue),
          P::Float("StopValue", &TCommandNode::StopValue, &TCommandNode::SetStopValue),
      }};
  return info;
}

void TCommandNode::Assign(const TPersistent& source) {
  TCustomRegister::Assign(source);
  if (const auto* src = dynamic_cast<const TCommandNode*>(&source)) {
    SetPoints(src->Points());
    SetDataList(src->DataList());
  }
}

void TCommandNode::SetSlotNumber(int value) {
  StoreChanged(slotNumber_, value);
}
void TCommandNode::SetSlotStart(double value) {
  StoreChanged(slotStart_, value);
}
void TCommandNode::SetSlotSize(double value) {
  StoreChanged(slotSize_, value);
}
void TCommandNode::SetStartValue(double value) {
  StoreChanged(startValue_, value);
}
void TCommandNode::SetStopValue(double value) {
  StoreChanged(stopValue_, value);
}

}  // namespace vexa
