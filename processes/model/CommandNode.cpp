#include "processes/model/CommandNode.h"

#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>

#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "processes/model/Cyclogram.h"

namespace vexa {

namespace {

// A date-time difference in days as whole milliseconds; nothing for a difference that is no time
// at all (a damaged file: not finite, or beyond ten thousand years).
std::optional<qint64> DaysToMs(double days) {
  constexpr double kLimitDays = 3.7e6;
  if (!std::isfinite(days) || std::fabs(days) > kLimitDays) return std::nullopt;
  return std::llround(days * static_cast<double>(kMsPerDay));
}

ECyclogramError NotANumber(const QString& text) {
  return ECyclogramError(QStringLiteral("'%1' - не число!").arg(text));
}
ECyclogramError NotAnInteger(const QString& text) {
  return ECyclogramError(QStringLiteral("'%1' - не целое число!").arg(text));
}
ECyclogramError OutsideTheLists(int slot) {
  return ECyclogramError(QStringLiteral("Точка %1 вне циклограммы!").arg(slot));
}
ECyclogramError DamagedSlotTime() {
  return ECyclogramError(QStringLiteral("Время участка циклограммы повреждено!"));
}

}  // namespace

TCommandNode::TCommandNode(TComponent* owner) : TCustomRegister(owner) {}

const TClassInfo& TCommandNode::StaticClassInfo() {
  using P = Props<TCommandNode>;
  static const TClassInfo info{
      "TCommandNode",
      &TCustomRegister::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TCommandNode(owner); },
      {
          // The point the node moves towards: one of the at most 255 the cyclogram editor makes.
          P::Int("SlotNumber", 0, &TCommandNode::SlotNumber, &TCommandNode::SetSlotNumber)
              .Within(0, kCyclogramMaxRows - 2),
          P::DateTime("SlotStart", &TCommandNode::SlotStart, &TCommandNode::SetSlotStart),
          P::DateTime("SlotSize", &TCommandNode::SlotSize, &TCommandNode::SetSlotSize),
          P::Float("StartValue", &TCommandNode::StartValue, &TCommandNode::SetStartValue),
          P::Float("StopValue", &TCommandNode::StopValue, &TCommandNode::SetStopValue),
          // Computed, never stored; a cyclogram that does not convert has no progress to show.
          [] {
            TPropInfo p;
            p.Name = QStringLiteral("Done");
            p.Kind = TPropKind::Integer;
            p.Get = [](const TPersistent& o) {
              try {
                return QVariant(static_cast<qint64>(static_cast<const TCommandNode&>(o).Done()));
              } catch (const ECyclogramError&) {
                return QVariant();
              }
            };
            return p;
          }(),
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

TCommandNode::TSlot TCommandNode::PlanSlot(int n) const {
  if (n < 0 || n >= Count() || n >= DataList().size()) throw OutsideTheLists(n);
  auto value = [this](int k) {
    const QString text = DataList().at(k);
    const std::optional<double> v = StrToFloat(text);
    if (!v) throw NotANumber(text);
    return *v;
  };
  TSlot slot;
  if (n > 0) {
    slot.StartValue = value(n - 1);
    const QString text = Points().at(n);
    const std::optional<int64_t> seconds = StrToInt(text);
    if (!seconds) throw NotAnInteger(text);
    slot.Seconds = *seconds;
  }
  slot.StopValue = value(n);
  return slot;
}

void TCommandNode::StartSlot() {
  StartSlotAt(Now());
}

void TCommandNode::StartSlotAt(double t) {
  if (Count() == 0) return;
  const TSlot slot = PlanSlot(slotNumber_);
  SetSlotStart(t);
  SetStartValue(slot.StartValue);
  SetSlotSize(static_cast<double>(slot.Seconds) / kSecondsPerDay);
  SetStopValue(slot.StopValue);
}

void TCommandNode::Reset() {
  finished_ = false;
  SetSlotNumber(0);
  try {
    StartSlot();
  } catch (const ECyclogramError&) {
    // Refresh plans its slot before it writes anything, so the fault is reported there.
  }
  SetEnabled(false);
}

void TCommandNode::Start() {
  if (finished_) Reset();
  SetEnabled(true);
}

void TCommandNode::Stop() {
  SetEnabled(false);
}

qint64 TCommandNode::SlotElapsedMs(double t) const {
  const std::optional<qint64> ms = DaysToMs(t - slotStart_);
  if (!ms) throw DamagedSlotTime();
  return *ms;
}

qint64 TCommandNode::SlotSizeMs() const {
  const std::optional<qint64> ms = DaysToMs(slotSize_);
  if (!ms) throw DamagedSlotTime();
  return *ms;
}

void TCommandNode::Refresh(const TLineContext& line) {
  Step(line, nullptr);
}

void TCommandNode::Step(const TLineContext& line, TRootNode* net) {
  // One write at a time per node: a tick that finds the last one still on its way leaves the node
  // to the next, which plans afresh from the time then (no slot's last point is lost by it).
  if (!Enabled() || Count() == 0 || WRElapsed() < 0 || WritePending()) return;
  // Nothing is cached between ticks: the slot is planned afresh from the lists, so an entry that
  // does not convert stops the step before anything is written.
  PlanSlot(slotNumber_);

  if (line.Simulation && net != nullptr) {
    // The simulator keeps a written value in the writer's own text; the network register shows it.
    if (auto* reg = dynamic_cast<TRegisterNode*>(FindNode(net, Name())))
      reg->SetLastStringData(LastStringData());
  }

  const double t = Now();
  const qint64 elapsed = SlotElapsedMs(t);
  const qint64 size = SlotSizeMs();
  if (elapsed >= size || size <= 0) {
    // The point's value exactly as entered, not an interpolated float.
    SubmitStringData(line, DataList().at(slotNumber_));
    SetSlotNumber(slotNumber_ + 1);
    if (slotNumber_ < Count()) {
      // The next slot begins at this tick, not after the write and its pause: otherwise a slot
      // ending on a tick would be found short by that much and end a tick late, every slot.
      StartSlotAt(t);
    } else {
      Reset();
      finished_ = true;
    }
    return;
  }
  const long double value =
      static_cast<long double>(startValue_) +
      static_cast<long double>(elapsed) *
          (static_cast<long double>(stopValue_) - static_cast<long double>(startValue_)) /
          static_cast<long double>(size);
  SubmitFloatData(line, static_cast<double>(value));
}

int TCommandNode::Done() const {
  if (Count() == 0 || finished_) return 100;
  if (slotNumber_ < 0 || slotNumber_ >= Count()) throw OutsideTheLists(slotNumber_);
  // 64 bits: 255 slots of up to 2^31 s each.
  int64_t total = 0;
  int64_t elapsed = 0;
  for (int k = 1; k < Count(); ++k) {
    const QString text = Points().at(k);
    const std::optional<int64_t> seconds = StrToInt(text);
    if (!seconds) throw NotAnInteger(text);
    total += *seconds;
    if (k < slotNumber_) elapsed += *seconds;
  }
  elapsed += SlotElapsedMs(Now()) / 1000;
  if (total == 0) return 100;
  constexpr int64_t kSafe = std::numeric_limits<int64_t>::max() / 100;
  const int64_t result =
      (elapsed <= kSafe && elapsed >= -kSafe) ? elapsed * 100 / total : elapsed / total * 100;
  if (result > 100) return 100;
  return static_cast<int>(std::max<int64_t>(result, std::numeric_limits<int>::min()));
}

}  // namespace vexa
