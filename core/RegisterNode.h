#pragma once
// TRegisterNode: the register of the network tree, read by the poller at its own interval.

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/CustomRegister.h"
#include "core/Protocol.h"

namespace vexa {

// What the register dialog offers for the chart and polling settings.
inline constexpr int kMinLoggingInterval = 1;  // seconds
inline constexpr int kMaxLoggingInterval = 1000;
inline constexpr int kMaxChartZero = 10000;  // Zero from -kMaxChartZero
inline constexpr int kMaxNotch = 10000;      // Notch from 1
inline constexpr int kMaxPenWidth = 100;     // PenWidth from 1

class TRegisterNode : public TCustomRegister {
 public:
  explicit TRegisterNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  void Assign(const TPersistent& source) override;
  // Reads when at least LoggingInterval whole seconds have passed since the last read attempt.
  void Refresh(const TLineContext& line) override;
  // Read (when enabled), add to the history, show the value on the node's label.
  void Update(const TLineContext& line);
  // Refresh with its exchange run elsewhere, for the poller thread. BeginRefresh (this node's
  // thread) does what Refresh does up to the exchange and returns the detached copy to read, with
  // the line to read it on; null when nothing was due, or when the refresh needed no exchange and
  // is complete. FinishRefresh (this node's thread) stores the copy's read and does the rest.
  std::unique_ptr<TCustomRegister> BeginRefresh();
  void FinishRefresh(const TCustomRegister& read);
  // Whether Refresh would read now, and the tick (TClock::TickMs) from which it will, also as a
  // date-time on the clock as it is now. Safe on the poller thread, which sleeps until then instead
  // of handing the register over.
  bool RefreshDue() const;
  int64_t NextRefreshDueTick() const;
  double NextRefreshDue() const;

  int LoggingInterval() const { return loggingInterval_; }
  void SetLoggingInterval(int value);
  int Zero() const { return zero_; }
  void SetZero(int value);
  int Notch() const { return notch_; }
  void SetNotch(int value);
  int PenWidth() const { return penWidth_; }
  void SetPenWidth(int value);
  int PenColor() const { return penColor_; }
  void SetPenColor(int value);

 private:
  // After the read: the history and the label.
  void Updated();

  std::atomic<int> loggingInterval_ = 3;  // read by the poller thread
  // The tick of the last read attempt: one the read right refuses sets no RDTime, and must still
  // wait its interval, or every pass would add a history entry. Until the first attempt it is the
  // stored RDTime's tick, taken once; the wall clock's steps never move it.
  int64_t TriedAt() const;
  static constexpr int64_t kNotTried = INT64_MIN;
  mutable std::atomic<int64_t> triedAt_ = kNotTried;
  int zero_ = 0;
  int notch_ = 10;
  int penWidth_ = 20;
  int penColor_ = 0xFF0000;  // blue in the toolkit's blue-green-red order
};

// A value label shown on a diagram page mirrors its register through this interface, so the core
// can hand it each new value without knowing any window.
class TValueSink {
 public:
  virtual ~TValueSink() = default;
  virtual void SetValue(const QString& value) = 0;
};

}  // namespace vexa
