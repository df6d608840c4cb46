#include "ui/model/RepeatTimer.h"

#include <QTimer>

namespace vexa {

TQtRepeatTimer::TQtRepeatTimer() : timer_(std::make_unique<QTimer>()) {
  QObject::connect(timer_.get(), &QTimer::timeout, [this] {
    if (OnTimer) OnTimer();
  });
}

TQtRepeatTimer::~TQtRepeatTimer() = default;

void TQtRepeatTimer::SetInterval(int ms) {
  // QTimer::setInterval on a running timer restarts it with the new interval, as wanted.
  timer_->setInterval(ms);
}
int TQtRepeatTimer::Interval() const {
  return timer_->interval();
}
void TQtRepeatTimer::Start() {
  timer_->start();
}
void TQtRepeatTimer::Stop() {
  timer_->stop();
}
bool TQtRepeatTimer::Active() const {
  return timer_->isActive();
}

}  // namespace vexa
