#pragma once
// A window's repeating timer driven by the test.

#include <cstdint>

#include "ui/parts/RepeatTimer.h"

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

}  // namespace vexa::test
