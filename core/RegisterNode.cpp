#include "core/RegisterNode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/Protocol.h"
#include "core/Services.h"

namespace vexa {

TRegisterNode::TRegisterNode(TComponent* owner) : TCustomRegister(owner) {}

const TClassInfo& TRegisterNode::StaticClassInfo() {
  using P = Props<TRegisterNode>;
  static const TClassInfo info{
      "TRegisterNode",
      &TCustomRegister::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TRegisterNode(owner); },
      {
          P::Int("LoggingInterval", 3, &TRegisterNode::LoggingInterval, &TRegisterNode::SetLoggingInterval)
              .Within(kMinLoggingInterval, kMaxLoggingInterval),
          P::Int("Zero", std::nullopt, &TRegisterNode::Zero, &TRegisterNode::SetZero)
              .Within(-kMaxChartZero, kMaxChartZero),
          P::Int("Notch", std::nullopt, &TRegisterNode::Notch, &TRegisterNode::SetNotch).Within(1, kMaxNotch),
          P::Int("PenWidth", 20, &TRegisterNode::PenWidth, &TRegisterNode::SetPenWidth)
              .Within(1, kMaxPenWidth),
          P::Colour("PenColor", 0xFF0000, &TRegisterNode::PenColor, &TRegisterNode::SetPenColor),
      }};
  return info;
}

void TRegisterNode::Assign(const TPersistent& source) {
  TCustomRegister::Assign(source);
  if (const auto* src = dynamic_cast<const TRegisterNode*>(&source)) {
    SetLoggingInterval(src->loggingInterval_);
    SetZero(src->zero_);
    SetNotch(src->notch_);
    SetPenWidth(src->penWidth_);
    SetPenColor(src->penColor_);
  }
}

int64_t TRegisterNode::TriedAt() const {
  int64_t tried = triedAt_;
  if (tried != kNotTried) return tried;
  const int64_t stored = TickAtDateTime(RDTime());
  // The poller thread and this node's may both get here first: the first one's tick holds.
  return triedAt_.compare_exchange_strong(tried, stored) ? stored : tried;
}

bool TRegisterNode::RefreshDue() const {
  return TickMs() >= NextRefreshDueTick();
}

int64_t TRegisterNode::NextRefreshDueTick() const {
  return TriedAt() + int64_t{loggingInterval_} * 1000;
}

double TRegisterNode::NextRefreshDue() const {
  return Now() + static_cast<double>(NextRefreshDueTick() - TickMs()) / static_cast<double>(kMsPerDay);
}

void TRegisterNode::Refresh(const TLineContext& line) {
  if (!RefreshDue()) return;
  triedAt_ = TickMs();
  Update(line);
}

void TRegisterNode::Update(const TLineContext& line) {
  TCustomRegister::Refresh(line);
  Updated();
}

void TRegisterNode::Updated() {
  AddToHistory();
  if (ComponentCount() == 1)
    if (auto* label = dynamic_cast<TValueSink*>(Component(0))) label->SetValue(LastStringData());
}

std::unique_ptr<TCustomRegister> TRegisterNode::BeginRefresh() {
  if (!RefreshDue()) return nullptr;
  triedAt_ = TickMs();
  if (!Enabled() || !ReadsTheLine()) {
    Update(TLineContext{});  // no exchange: the line is not asked
    return nullptr;
  }
  return DetachedCopy();
}

void TRegisterNode::FinishRefresh(const TCustomRegister& read) {
  TakeRead(read);
  Updated();
}

void TRegisterNode::SetLoggingInterval(int value) {
  StoreChanged(loggingInterval_, value);
}
void TRegisterNode::SetZero(int value) {
  StoreChanged(zero_, value);
}
void TRegisterNode::SetNotch(int value) {
  StoreChanged(notch_, value);
}
void TRegisterNode::SetPenWidth(int value) {
  StoreChanged(penWidth_, value);
}
void TRegisterNode::SetPenColor(int value) {
  StoreChanged(penColor_, value);
}

}  // namespace vexa
