#include "broker/ConnectionCheck.h"

#include <mosquitto.h>

#include <QScopeGuard>
#include <chrono>
#include <mutex>
#include <thread>

#include "broker/Session.h"
#include "core/Services.h"

namespace vexa {

TConnectionCheck CheckBrokerConnection(const TBrokerSettings& settings, int timeoutMs) {
  TConnectionCheck check;
  const auto address = ParseBrokerUrl(settings.Url);
  if (!address) {
    check.Text = QStringLiteral("MQTT: адрес брокера '%1' не подходит").arg(settings.Url);
    return check;
  }
  const QString endpoint = BrokerEndpoint(settings);
  InitMosquitto();
  struct TState {
    int Rc = -1;  // the broker's answer; -1 none yet
  } state;
  mosquitto* mosq = mosquitto_new(nullptr, true, &state);
  if (mosq == nullptr) {
    check.Text = QStringLiteral("MQTT: клиент не создан (нет памяти)");
    return check;
  }
  const auto destroy = qScopeGuard([mosq] { mosquitto_destroy(mosq); });
  if (const QString problem = ConfigureClient(mosq, settings); !problem.isEmpty()) {
    check.Text = problem;
    return check;
  }
  mosquitto_connect_callback_set(mosq,
                                 [](mosquitto*, void* self, int rc) { static_cast<TState*>(self)->Rc = rc; });
  const QByteArray host = address->Host.toUtf8();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int rc = mosquitto_connect_async(mosq, host.constData(), address->Port, 10);
  while (rc == MOSQ_ERR_SUCCESS && state.Rc < 0 && std::chrono::steady_clock::now() < deadline)
    rc = mosquitto_loop(mosq, 50, 1);
  if (state.Rc == 0) {
    check.Ok = true;
    check.Text = QStringLiteral("MQTT: брокер %1 принимает соединение").arg(endpoint);
    mosquitto_disconnect(mosq);
    mosquitto_loop(mosq, 0, 1);
  } else if (state.Rc > 0) {
    check.Text = QStringLiteral("MQTT: брокер %1 отказал: %2").arg(endpoint, RefusalText(state.Rc));
  } else {
    check.Text = QStringLiteral("MQTT: нет связи с %1").arg(endpoint);
  }
  return check;
}

// --- the connection check on a thread of its own -------------------------------------------------

struct TConnectionChecker::TReceiver {
  std::mutex Mutex;
  QObject* Context = nullptr;  // null once the checker is gone; under Mutex
  std::function<void(const TConnectionCheck&)> Done;
};

TConnectionChecker::~TConnectionChecker() {
  if (!receiver_) return;
  const std::lock_guard lock(receiver_->Mutex);
  receiver_->Context = nullptr;
}

bool TConnectionChecker::Start(const TBrokerSettings& settings, QObject* context,
                               std::function<void(const TConnectionCheck&)> done, int timeoutMs) {
  if (Running()) return false;
  if (receiver_) {
    const std::lock_guard lock(receiver_->Mutex);
    receiver_->Context = nullptr;
  }
  receiver_ = std::make_shared<TReceiver>();
  receiver_->Context = context;
  receiver_->Done = std::move(done);
  *running_ = true;
  // Copies of its own for the thread.
  TBrokerSettings own = settings;
  for (QString* text : {&own.Url, &own.User, &own.Password, &own.CaFile, &own.TopicRoot, &own.ClientId})
    *text = Detached(*text);
  std::thread([receiver = receiver_, running = running_, own = std::move(own), timeoutMs] {
    const TConnectionCheck check = CheckBrokerConnection(own, timeoutMs);
    const std::lock_guard lock(receiver->Mutex);
    if (receiver->Context == nullptr) {
      *running = false;
      return;
    }
    // Queued to the context: if it goes before the call runs, Qt drops the call with it.
    const auto posting = PostingLock();
    QMetaObject::invokeMethod(
        receiver->Context,
        [receiver, running, check] {
          // Made on the check's thread under the posters' lock: taken here, it shows the thread
          // sanitizer this call's captures were made first.
          { const auto seen = PostingLock(); }
          *running = false;
          std::function<void(const TConnectionCheck&)> done;
          {
            const std::lock_guard lock(receiver->Mutex);
            if (receiver->Context == nullptr) return;
            done = receiver->Done;
          }
          if (done) done(check);
        },
        Qt::QueuedConnection);
  }).detach();
  return true;
}

}  // namespace vexa
