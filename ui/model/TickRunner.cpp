#include "ui/model/TickRunner.h"

#include <algorithm>
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

void TTickRunner::RunVirtual(int64_t ms, const std::function<void(int64_t secondEnd)>& pass) {
  TClock& clock = *Services().Clock;
  const int64_t base = clock.TickMs() - clock.TickMs() % kReportTickMs;
  const int64_t end = base + ms;
  int64_t processPeriods = 0;  // begun since the run's start
  for (int64_t now = clock.TickMs(); now < end; now = clock.TickMs()) {
    const int64_t second = (now - base) / kReportTickMs + 1;  // counted from 1
    const int64_t secondEnd = std::min(end, base + second * kReportTickMs);
    if (second * kReportTickMs / kProcessTickMs > processPeriods) {
      processPeriods = second * kReportTickMs / kProcessTickMs;
      Fire(TTick::Processes);
    }
    // The report tick on its second, as its timer would fire it, before the line's poll fills the rest.
    Fire(TTick::Reports);
    if (pass) pass(secondEnd);
    if (clock.TickMs() < secondEnd) clock.Sleep(static_cast<int>(secondEnd - clock.TickMs()));
  }
}

void TTickRunner::RunVirtual(int64_t ms, const std::function<void()>& pass) {
  RunVirtual(ms, [&pass](int64_t) {
    if (pass) pass();
  });
}

}  // namespace vexa
