#pragma once
// The program's work in time without windows: the process tick every kProcessTickMs and the report
// tick every kReportTickMs, on real timers or second by second on a virtual clock. What a tick found
// wrong goes to the runner's teller once the tick has ended.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/Faults.h"

class QTimer;

namespace vexa {

class TNetwork;

class TTickRunner {
 public:
  using TTell = std::function<void(const TFaults&)>;
  TTickRunner(TNetwork& network, TTell tell);
  ~TTickRunner();
  TTickRunner(const TTickRunner&) = delete;
  TTickRunner& operator=(const TTickRunner&) = delete;

  // Both ticks on timers of this thread's event loop, until Stop.
  void Start();
  void Stop();
  bool Running() const;

  // `ms` of ticks on the services' clock, which only moves when slept on: each second the process
  // tick first when its period is due (on its own timer it waits for nobody's exchanges), then
  // `pass` (a poll of the line), then the report tick; then the clock sleeps to the next whole second.
  void RunVirtual(int64_t ms, const std::function<void()>& pass);

  // One tick of each, as its timer runs it.
  void ProcessTick();
  void ReportTick();

 private:
  TNetwork& network_;
  TTell tell_;
  std::unique_ptr<QTimer> processes_;
  std::unique_ptr<QTimer> reports_;
};

}  // namespace vexa
