#include "ui/model/TickRunner.h"

#include <QTimer>

#include "core/Services.h"
#include "processes/model/ProcessTick.h"
#include "reports/model/ReportTick.h"

namespace vexa {

TTickRunner::TTickRunner(TNetwork& network, TTell tell)
    : network_(network),
      tell_(std::move(tell)),
      processes_(std::make_unique<QTimer>()),
      reports_(std::make_unique<QTimer>()) {
  processes_->setInterval(kProcessTickMs);
  reports_->setInterval(kReportTickMs);
  QObject::connect(processes_.get(), &QTimer::timeout, [this] { ProcessTick(); });
  QObject::connect(reports_.get(), &QTimer::timeout, [this] { ReportTick(); });
}

TTickRunner::~TTickRunner() = default;

void TTickRunner::Start() {
  processes_->start();
  reports_->start();
}

void TTickRunner::Stop() {
  processes_->stop();
  reports_->stop();
}

bool TTickRunner::Running() const {
  return processes_->isActive();
}

void TTickRunner::ProcessTick() {
  const TFaults faults = vexa::ProcessTick(network_);
  if (!faults.Empty() && tell_) tell_(faults);
}

void TTickRunner::ReportTick() {
  const TFaults faults = vexa::ReportTick(network_);
  if (!faults.Empty() && tell_) tell_(faults);
}

void TTickRunner::RunVirtual(int64_t ms, const std::function<void()>& pass) {
  TClock& clock = *Services().Clock;
  // Seconds are counted from the whole second the run begins in.
  const int64_t base = clock.TickMs() - clock.TickMs() % kReportTickMs;
  for (int64_t second = 1; second * kReportTickMs <= ms; ++second) {
    if (second * kReportTickMs % kProcessTickMs == 0) ProcessTick();
    if (pass) pass();
    ReportTick();
    // The exchanges took their time; the next second begins on the whole second.
    const int64_t next = base + second * kReportTickMs;
    if (clock.TickMs() < next) clock.Sleep(static_cast<int>(next - clock.TickMs()));
  }
}

}  // namespace vexa
