#include "ui/model/TickRunner.h"

#include <exception>

#include "core/Services.h"
#include "processes/model/ProcessTick.h"
#include "reports/model/ReportTick.h"

namespace vexa {

TTickRunner::TTickRunner(TNetwork& network, TTell tell) : tell_(std::move(tell)) {
  SetStep(TTick::Processes, [&network] { return ProcessTick(network); });
  SetStep(TTick::Reports, [&network] { return ReportTick(network); });
  for (const TTick tick : {TTick::Processes, TTick::Reports})
    SetTimer(tick, std::make_unique<TQtRepeatTimer>());
}

TTickRunner::~TTickRunner() {
  Stop();
}

int TTickRunner::PeriodMs(TTick tick) {
  return tick == TTick::Processes ? kProcessTickMs : kReportTickMs;
}

void TTickRunner::SetStep(TTick tick, TStep step) {
  Slot(tick).Step = std::move(step);
}

void TTickRunner::SetTimer(TTick tick, std::unique_ptr<TRepeatTimer> timer) {
  TSlot& slot = Slot(tick);
  const bool running = slot.Timer && slot.Timer->Active();
  if (slot.Timer) slot.Timer->Stop();
  slot.Timer = std::move(timer);
  slot.Timer->OnTimer = [this, tick] { Fire(tick); };
  slot.Timer->SetInterval(PeriodMs(tick));
  if (running) slot.Timer->Start();
}

void TTickRunner::Start() {
  for (TSlot& slot : slots_) slot.Timer->Start();
}

void TTickRunner::Stop() {
  for (TSlot& slot : slots_) slot.Timer->Stop();
}

bool TTickRunner::Running() const {
  return Slot(TTick::Processes).Timer->Active();
}

void TTickRunner::Fire(TTick tick) {
  TFaults faults;
  try {
    if (Slot(tick).Step) faults = Slot(tick).Step();
  } catch (const std::exception& e) {
    faults.Add(QString::fromUtf8(e.what()));
  }
  if (faults.Empty() || !tell_) return;
  std::array<bool, 2> active{};
  for (size_t i = 0; i < slots_.size(); ++i) {
    active[i] = slots_[i].Timer->Active();
    slots_[i].Timer->Stop();
  }
  const std::weak_ptr<int> alive = alive_;
  tell_(faults);
  if (alive.expired()) return;
  for (size_t i = 0; i < slots_.size(); ++i)
    if (active[i]) slots_[i].Timer->Start();
}

void TTickRunner::RunVirtual(int64_t ms, const std::function<void()>& pass) {
  TClock& clock = *Services().Clock;
  // Seconds are counted from the whole second the run begins in.
  const int64_t base = clock.TickMs() - clock.TickMs() % kReportTickMs;
  for (int64_t second = 1; second * kReportTickMs <= ms; ++second) {
    if (second * kReportTickMs % kProcessTickMs == 0) Fire(TTick::Processes);
    if (pass) pass();
    Fire(TTick::Reports);
    // The exchanges took their time; the next second begins on the whole second.
    const int64_t next = base + second * kReportTickMs;
    if (clock.TickMs() < next) clock.Sleep(static_cast<int>(next - clock.TickMs()));
  }
}

}  // namespace vexa
