#pragma once
// A window's repeating timer driven by the test.

#include <cstdint>
#include <memory>

#include "ui/model/RepeatTimer.h"
#include "ui/model/TickRunner.h"
#include "ui/parts/Tell.h"

namespace vexa::test {

// A repeat timer on the test's own time: Advance fires the ticks that fall due, in order.
class TManualTimer : public TRepeatTimer {
 public:
  void SetInterval(int ms) override {
    interval_ = ms;
    if (active_) due_ = now_ + ms;
  }
  int Interval() const override { return interval_; }
  void Start() override {
    active_ = true;
    due_ = now_ + interval_;
  }
  void Stop() override { active_ = false; }
  bool Active() const override { return active_; }

  void Advance(int ms) {
    const int64_t end = now_ + ms;
    while (active_ && due_ <= end) {
      now_ = due_;
      due_ = now_ + interval_;
      if (OnTimer) OnTimer();
    }
    now_ = end;
  }

 private:
  int64_t now_ = 0;
  int64_t due_ = 0;
  int interval_ = 0;
  bool active_ = false;
};

// The program's tick runner with the test's timers: `Timer` fires the tick the test gave a step to.
struct TManualTicks {
  TManualTicks(TNetwork& network, TTick tick, TTickRunner::TStep step)
      : Runner(
            std::make_unique<TTickRunner>(network, [](const TFaults& faults) { vexa::ShowFaults(faults); })) {
    for (const TTick t : {TTick::Processes, TTick::Reports}) {
      auto manual = std::make_unique<TManualTimer>();
      if (t == tick) Timer = manual.get();
      Runner->SetTimer(t, std::move(manual));
    }
    Runner->SetStep(tick, std::move(step));
    Runner->Timer(tick).Start();
  }
  std::unique_ptr<TTickRunner> Runner;
  TManualTimer* Timer = nullptr;
};

}  // namespace vexa::test
