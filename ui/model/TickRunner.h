#pragma once
// The program's work in time: the process tick every kProcessTickMs and the report tick every
// kReportTickMs, on repeating timers or second by second on a virtual clock. The program runs the
// processes and reports windows' ticks on it (each window's step, with what it shows), vexa-cli run
// the model's own. What a tick found wrong goes to the runner's teller once the tick has ended; both
// timers wait while it tells, since a message box runs the event loop where they would fire again.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/Faults.h"
#include "ui/model/RepeatTimer.h"

namespace vexa {

class TNetwork;

enum class TTick { Processes, Reports };

class TTickRunner {
 public:
  using TTell = std::function<void(const TFaults&)>;
  using TStep = std::function<TFaults()>;
  // Both steps are the model's ticks on `network` until SetStep; both timers run on QTimers until
  // SetTimer.
  TTickRunner(TNetwork& network, TTell tell);
  ~TTickRunner();
  TTickRunner(const TTickRunner&) = delete;
  TTickRunner& operator=(const TTickRunner&) = delete;

  void SetStep(TTick tick, TStep step);
  // A timer of the caller's (a test's own time); it keeps the period and the running state.
  void SetTimer(TTick tick, std::unique_ptr<TRepeatTimer> timer);
  TRepeatTimer& Timer(TTick tick) const { return *Slot(tick).Timer; }
  static int PeriodMs(TTick tick);

  // Both ticks on their timers, until Stop.
  void Start();
  void Stop();
  bool Running() const;

  // `ms` of the services' clock, which only moves when slept on, counted from the whole second the
  // run begins in: each second the process tick first when one of its periods has begun since the
  // last (on its own timer it waits for nobody's exchanges), then the report tick, then `pass` (the
  // line's poll, given the tick at which its second ends); then the clock sleeps to the next whole
  // second. Seconds the exchanges took up are not replayed, and the run ends when its time is up.
  void RunVirtual(int64_t ms, const std::function<void(int64_t secondEnd)>& pass);
  void RunVirtual(int64_t ms, const std::function<void()>& pass);

  // One tick, as its timer runs it, its faults told after it.
  void Fire(TTick tick);

 private:
  struct TSlot {
    TStep Step;
    std::unique_ptr<TRepeatTimer> Timer;
  };
  TSlot& Slot(TTick tick) { return slots_[static_cast<size_t>(tick)]; }
  const TSlot& Slot(TTick tick) const { return slots_[static_cast<size_t>(tick)]; }

  TTell tell_;
  std::array<TSlot, 2> slots_;
  // Gone with the runner: a teller's event loop may end the program and the runner with it.
  std::shared_ptr<int> alive_ = std::make_shared<int>();
};

}  // namespace vexa
