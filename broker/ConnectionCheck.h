#pragma once
// The settings window's connection check: one connection to the broker, nothing published.

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "broker/BrokerSettings.h"

namespace vexa {

// "Проверить соединение": one connection to the broker with these settings, waited for at most
// `timeoutMs` and closed again; nothing is published. Ok, or why not in the status line's words.
struct TConnectionCheck {
  bool Ok = false;
  QString Text;
};
TConnectionCheck CheckBrokerConnection(const TBrokerSettings& settings, int timeoutMs = 5000);

// The same check on a thread of its own, for a window: the name lookup and the wait happen there,
// the result comes back by a queued call on the thread that asked. One check at a time; the
// checker (a member of the context's object) may go while one runs: its result is then dropped
// and the thread ends by itself.
class TConnectionChecker {
 public:
  TConnectionChecker() = default;
  ~TConnectionChecker();
  TConnectionChecker(const TConnectionChecker&) = delete;
  TConnectionChecker& operator=(const TConnectionChecker&) = delete;

  // False when one is running already. `done` is called on `context`'s thread, unless this checker
  // is gone by then.
  bool Start(const TBrokerSettings& settings, QObject* context,
             std::function<void(const TConnectionCheck&)> done, int timeoutMs = 5000);
  bool Running() const { return *running_; }

 private:
  struct TReceiver;
  std::shared_ptr<TReceiver> receiver_;
  std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace vexa
