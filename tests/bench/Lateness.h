#pragma once
// How late the main thread's event loop is, told apart from how late the machine itself wakes a
// thread: a 1 ms timer on the main thread and, at the same time, a control thread that sleeps 1 ms
// at a time. A timer firing late by more than the control thread is the main thread's own doing.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace vexa::bench {

inline constexpr int kLatenessTickMs = 1;

class TLateness {
 public:
  TLateness() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      if (previous_ >= 0) loopNs_ = std::max(loopNs_, now - previous_ - kLatenessTickMs * 1000000LL);
      previous_ = now;
    });
  }
  ~TLateness() { Stop(); }
  TLateness(const TLateness&) = delete;
  TLateness& operator=(const TLateness&) = delete;

  void Start() {
    Reset();
    previous_ = -1;
    clock_.start();
    timer_.start(kLatenessTickMs);
    running_ = true;
    control_ = std::thread([this] {
      while (running_) {
        const auto before = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(kLatenessTickMs));
        const auto late =
            std::chrono::steady_clock::now() - before - std::chrono::milliseconds(kLatenessTickMs);
        const qint64 ns = std::chrono::duration_cast<std::chrono::nanoseconds>(late).count();
        qint64 seen = controlNs_.load();
        while (ns > seen && !controlNs_.compare_exchange_weak(seen, ns)) {
        }
      }
    });
  }
  void Stop() {
    timer_.stop();
    running_ = false;
    if (control_.joinable()) control_.join();
  }
  // Counts the worst afresh; a stretch going on now counts in full to the next.
  void Reset() {
    loopNs_ = 0;
    controlNs_ = 0;
  }

  // The longest the main thread kept the timer waiting past its due time, in ms.
  double LoopMs() const { return static_cast<double>(loopNs_) / 1e6; }
  // The longest the machine kept the control thread waiting past its wake-up, in ms.
  double ControlMs() const { return static_cast<double>(controlNs_.load()) / 1e6; }

  // "met" when the loop's worst is under the goal; else whether the machine was as late itself.
  static const char* Verdict(double loopMs, double controlMs, double goalMs) {
    if (loopMs < goalMs) return "met";
    return controlMs >= loopMs / 2 ? "not met (the machine was late too: see the control thread)" : "not met";
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 previous_ = -1;
  qint64 loopNs_ = 0;
  std::atomic<bool> running_ = false;
  std::atomic<qint64> controlNs_ = 0;
  std::thread control_;
};

}  // namespace vexa::bench
