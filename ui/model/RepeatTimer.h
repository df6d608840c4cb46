#pragma once
// A repeating timer behind an interface: the program's run on QTimers, tests advance their own.

#include <functional>
#include <memory>

class QTimer;

namespace vexa {

// Fires OnTimer every interval while active.
class TRepeatTimer {
 public:
  virtual ~TRepeatTimer() = default;
  // Sets the interval; a running timer starts counting it again from now.
  virtual void SetInterval(int ms) = 0;
  virtual int Interval() const = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual bool Active() const = 0;

  std::function<void()> OnTimer;
};

// The repeat on a QTimer of the main thread.
class TQtRepeatTimer : public TRepeatTimer {
 public:
  TQtRepeatTimer();
  ~TQtRepeatTimer() override;
  void SetInterval(int ms) override;
  int Interval() const override;
  void Start() override;
  void Stop() override;
  bool Active() const override;

 private:
  std::unique_ptr<QTimer> timer_;
};

}  // namespace vexa
