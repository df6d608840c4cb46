#include "broker/Session.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>

#include "broker/Topics.h"
#include "core/Services.h"

namespace vexa {

namespace {

// Messages handed to libmosquitto and not yet acknowledged: enough to keep the line to the broker
// busy, few enough that what waits stays in our own bounded queue.
constexpr int kWindow = 256;
constexpr int kQos = 1;
const QEvent::Type kNewsEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

using TSteady = std::chrono::steady_clock;

double ThreadCpu(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

void InitMosquitto() {
  static const bool done = [] {
    mosquitto_lib_init();
    std::signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)done;
}

QString BrokerEndpoint(const TBrokerSettings& settings) {
  const auto address = ParseBrokerUrl(settings.Url);
  return address ? QStringLiteral("%1:%2").arg(address->Host).arg(address->Port) : settings.Url;
}

QString RefusalText(int rc) {
  switch (rc) {
    case 1:
      return QStringLiteral("версия протокола не поддерживается");
    case 2:
      return QStringLiteral("имя клиента отвергнуто");
    case 3:
      return QStringLiteral("брокер недоступен");
    case 4:
      return QStringLiteral("неверное имя пользователя или пароль");
    case 5:
      return QStringLiteral("доступ не разрешен (имя пользователя или пароль)");
    default:
      return QString::fromUtf8(mosquitto_connack_string(rc));
  }
}

QString ConfigureClient(mosquitto* mosq, const TBrokerSettings& s) {
  mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  if (!s.User.isEmpty())
    mosquitto_username_pw_set(mosq, s.User.toUtf8().constData(),
                              s.Password.isEmpty() ? nullptr : s.Password.toUtf8().constData());
  const auto address = ParseBrokerUrl(s.Url);
  if (!address || !address->Tls) return {};
  const QByteArray ca = QFile::encodeName(s.CaFile);
  const int rc = s.CaFile.isEmpty()
                     ? mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                     : mosquitto_tls_set(mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
  if (rc == MOSQ_ERR_SUCCESS) return {};
  return QStringLiteral("MQTT: сертификат центра не принят: %1")
      .arg(QString::fromUtf8(mosquitto_strerror(rc)));
}

TBrokerOptions BrokerOptionsFor(const TBrokerSettings& settings, const QString& programFolder) {
  TBrokerOptions o;
  o.Settings = settings;
  o.TopicRoot = settings.TopicRootFor(programFolder);
  o.ClientId = settings.ClientIdFor(programFolder);
  return o;
}

TBrokerSession::TBrokerSession(const TBrokerOptions& options, std::vector<QByteArray> subscriptions,
                               std::vector<QByteArray> glances)
    : options_(options),
      root_(options.TopicRoot.toUtf8()),
      statusTopic_(StatusTopic(root_)),
      subscriptions_(std::move(subscriptions)),
      glances_(std::move(glances)) {}

TBrokerSession::~TBrokerSession() {
  Stop(0);
}

void TBrokerSession::Start() {
  if (Running()) return;
  InitMosquitto();
  {
    const std::lock_guard lock(mutex_);
    stopping_ = false;
    accepting_ = true;
    droppedInOutage_ = 0;
    state_ = TBrokerState::Connecting;
    stateText_ = QStringLiteral("MQTT: подключение к %1...").arg(BrokerEndpoint(options_.Settings));
  }
  finished_ = false;
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  thread_ = std::thread([this] { Run(); });
}

void TBrokerSession::Stop(int waitMs) {
  if (!Running()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    accepting_ = false;
    stopWaitMs_ = waitMs;
  }
  Wake();
  thread_.join();
  ::close(wakeFd_);
  wakeFd_ = -1;
  // What the thread told last is told now: the caller may end right after.
  QCoreApplication::removePostedEvents(this, kNewsEvent);
  QEvent flush(kNewsEvent);
  event(&flush);
}

TBrokerState TBrokerSession::State() const {
  const std::lock_guard lock(mutex_);
  return state_;
}

QString TBrokerSession::StateText() const {
  const std::lock_guard lock(mutex_);
  return Detached(stateText_);
}

int TBrokerSession::QueueLength() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size());
}

double TBrokerSession::ThreadCpuSeconds() const {
  if (finished_) return cpuAtExit_;
  clockid_t clock{};
  if (!thread_.joinable() ||
      pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0)
    return cpuAtExit_;
  return ThreadCpu(clock);
}

void TBrokerSession::Push(TOutgoing message) {
  // A payload the caller keeps a copy of (the retained roster's configs) gets a buffer of its own:
  // the last release of a shared one on this thread and the other looks like a race (Detached).
  message.Topic.detach();
  message.Payload.detach();
  {
    const std::lock_guard lock(mutex_);
    if (!accepting_) return;
    const auto bound = static_cast<size_t>(std::max(1, options_.Settings.QueueBound));
    while (queue_.size() >= bound) {
      queue_.pop_front();
      ++droppedInOutage_;
      ++droppedTotal_;
    }
    queue_.push_back(std::move(message));
  }
  Wake();
}

void TBrokerSession::Wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool TBrokerSession::event(QEvent* e) {
  std::vector<QString> news;
  {
    // The event was made under this lock on the session's thread; read under it, as the poller's.
    std::unique_lock lock(mutex_);
    if (e->type() != kNewsEvent) {
      lock.unlock();
      return QObject::event(e);
    }
    news.swap(news_);
    newsPosted_ = false;
  }
  for (const QString& text : news)
    if (News && !text.isEmpty()) News(text);
  if (Woken) Woken();
  return true;
}

void TBrokerSession::Tell(const QString& text) {
  const std::lock_guard lock(mutex_);
  news_.push_back(Detached(text));
  if (!newsPosted_) {
    newsPosted_ = true;
    // Posted under the lock, as the poller's calls are: the thread sanitizer sees the order.
    PostEvent(this, new QEvent(kNewsEvent));
  }
}

void TBrokerSession::SetState(TBrokerState state, const QString& text) {
  {
    const std::lock_guard lock(mutex_);
    state_ = state;
    if (stateText_ == text) return;
    stateText_ = text;
  }
  Tell(text);
}

// One text however the connection failed, so that an outage is told once.
QString TBrokerSession::LostText() const {
  return QStringLiteral("MQTT: нет связи с %1, повтор").arg(BrokerEndpoint(options_.Settings));
}

// --- the session's thread ------------------------------------------------------------------------

void TBrokerSession::Run() {
  const QByteArray clientId = options_.ClientId.toUtf8();
  mosq_ = mosquitto_new(clientId.constData(), true, this);
  if (mosq_ == nullptr) {
    SetState(TBrokerState::Lost, QStringLiteral("MQTT: клиент не создан (нет памяти)"));
    cpuAtExit_ = ThreadCpu(CLOCK_THREAD_CPUTIME_ID);
    finished_ = true;
    return;
  }
  mosquitto_max_inflight_messages_set(mosq_, 0);  // our window bounds it
  const TBrokerSettings& s = options_.Settings;
  const auto address = ParseBrokerUrl(s.Url);
  bool usable = address.has_value();
  if (const QString problem = ConfigureClient(mosq_, s); !problem.isEmpty()) {
    SetState(TBrokerState::Refused, problem);
    usable = false;
  }
  mosquitto_will_set(mosq_, statusTopic_.constData(), 7, "offline", kQos, true);
  mosquitto_connect_callback_set(mosq_, &OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &OnDisconnect);
  mosquitto_publish_callback_set(mosq_, &OnPublish);
  mosquitto_message_callback_set(mosq_, &OnMessage);
  mosquitto_subscribe_callback_set(mosq_, &OnSubscribe);
  if (!address)
    SetState(TBrokerState::Refused, QStringLiteral("MQTT: адрес брокера '%1' не подходит").arg(s.Url));

  retryMs_ = options_.RetryFirstMs;
  auto nextAttempt = TSteady::now();
  bool tried = false;
  std::optional<TSteady::time_point> stopBy;
  for (;;) {
    {
      // Asked to stop while still connecting with news queued: the stop's wait is spent on it.
      const std::lock_guard lock(mutex_);
      if (stopping_) {
        if (!stopBy) stopBy = TSteady::now() + std::chrono::milliseconds(stopWaitMs_);
        if (connected_ || queue_.empty() || !usable || TSteady::now() >= *stopBy) break;
      }
    }
    int sock = mosquitto_socket(mosq_);
    if (usable && sock < 0 && TSteady::now() >= nextAttempt) {
      const QByteArray host = address->Host.toUtf8();
      const int rc =
          tried ? mosquitto_reconnect_async(mosq_)
                : mosquitto_connect_async(mosq_, host.constData(), address->Port, options_.KeepAliveSeconds);
      tried = true;
      nextAttempt = TSteady::now() + std::chrono::milliseconds(retryMs_);
      retryMs_ = std::min(retryMs_ * 2, options_.RetryLongestMs);
      if (rc != MOSQ_ERR_SUCCESS) SetState(TBrokerState::Lost, LostText());
      sock = mosquitto_socket(mosq_);
    }
    if (connected_) Pump();

    int timeoutMs = 1000;
    if (sock < 0 && usable) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(nextAttempt - TSteady::now()).count();
      timeoutMs = static_cast<int>(std::clamp<int64_t>(left, 0, 1000));
    }
    if (stopBy) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*stopBy - TSteady::now()).count();
      timeoutMs = static_cast<int>(std::clamp<int64_t>(left, 0, timeoutMs));
    }
    if (glanceEnd_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*glanceEnd_ - TSteady::now()).count();
      timeoutMs = static_cast<int>(std::clamp<int64_t>(left, 0, timeoutMs));
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0},
                     {sock, static_cast<short>(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0)), 0}};
    ::poll(fds, sock >= 0 ? 2 : 1, timeoutMs);
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
    }
    if (sock >= 0) {
      // Reads, writes, keep-alive and the steps of a connection under way, without waiting.
      mosquitto_loop(mosq_, 0, 100);
      if (mosquitto_socket(mosq_) < 0) connected_ = false;
      if (connected_ && greet_) Greet();
      if (connected_ && glanceEnd_ && TSteady::now() >= *glanceEnd_) {
        // What the broker retained came at once: from here on the glances would only echo ours.
        glanceEnd_.reset();
        for (const QByteArray& topic : glances_) mosquitto_unsubscribe(mosq_, nullptr, topic.constData());
      }
    }
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*stopBy - TSteady::now()).count();
  Farewell(static_cast<int>(std::max<int64_t>(left, 0)));
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  cpuAtExit_ = ThreadCpu(CLOCK_THREAD_CPUTIME_ID);
  finished_ = true;
}

void TBrokerSession::Pump() {
  while (inFlight_ < kWindow) {
    TOutgoing m;
    {
      const std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      m = std::move(queue_.front());
      queue_.pop_front();
    }
    Send(m);
  }
  bool drops = false;
  {
    const std::lock_guard lock(mutex_);
    drops = queue_.empty() && droppedInOutage_ > 0;
  }
  if (drops) ReportDrops();
}

void TBrokerSession::Send(const TOutgoing& m) {
  const QByteArray topic = m.IsRead ? ValueTopic(root_, QString::fromUtf8(m.Read.Name)) : m.Topic;
  const QByteArray payload = m.IsRead ? ValuePayload(m.Read) : m.Payload;
  const int rc = IsPublishableTopic(topic)
                     ? mosquitto_publish(mosq_, nullptr, topic.constData(), static_cast<int>(payload.size()),
                                         payload.constData(), kQos, m.Retain)
                     : MOSQ_ERR_INVAL;
  // Taken unless refused for itself; a message lost with the connection libmosquitto sends again.
  if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
    ++inFlight_;
    return;
  }
  const int64_t refused = ++refusedTotal_;
  Tell(QStringLiteral("MQTT: сообщение на тему '%1' не принято библиотекой: %2 (всего не принято: %3)")
           .arg(QString::fromUtf8(topic.left(200)), QString::fromUtf8(mosquitto_strerror(rc)))
           .arg(refused));
}

void TBrokerSession::ReportDrops() {
  int64_t dropped = 0;
  {
    const std::lock_guard lock(mutex_);
    dropped = std::exchange(droppedInOutage_, 0);
  }
  const QByteArray topic = DroppedTopic(root_);
  const QByteArray payload = DroppedPayload(dropped, options_.Settings.QueueBound);
  if (mosquitto_publish(mosq_, nullptr, topic.constData(), static_cast<int>(payload.size()),
                        payload.constData(), kQos, false) == MOSQ_ERR_SUCCESS)
    ++inFlight_;
  Tell(QStringLiteral("MQTT: очередь была полна, потеряно сообщений: %1 (предел очереди %2)")
           .arg(dropped)
           .arg(options_.Settings.QueueBound));
}

void TBrokerSession::Farewell(int waitMs) {
  const auto deadline = TSteady::now() + std::chrono::milliseconds(waitMs);
  auto loopUntil = [&](const auto& done) {
    while (connected_ && !done() && TSteady::now() < deadline) {
      if (connected_) Pump();
      mosquitto_loop(mosq_, 20, 100);
      if (mosquitto_socket(mosq_) < 0) connected_ = false;
    }
  };
  loopUntil([&] {
    const std::lock_guard lock(mutex_);
    return queue_.empty() && inFlight_ == 0;
  });
  if (connected_) {
    int mid = 0;
    if (mosquitto_publish(mosq_, &mid, statusTopic_.constData(), 7, "offline", kQos, true) ==
        MOSQ_ERR_SUCCESS)
      ++inFlight_;
    loopUntil([&] { return inFlight_ == 0; });
    mosquitto_disconnect(mosq_);
    mosquitto_loop(mosq_, 0, 1);
  }
  connected_ = false;
  int64_t left = 0;
  {
    const std::lock_guard lock(mutex_);
    left = static_cast<int64_t>(queue_.size());
    queue_.clear();
    state_ = TBrokerState::Stopped;
    stateText_ = QStringLiteral("MQTT: отключен");
  }
  if (left > 0) Tell(QStringLiteral("MQTT: при остановке не отправлено сообщений: %1").arg(left));
}

void TBrokerSession::OnConnect(mosquitto* /*mosq*/, void* self, int rc) {
  auto& p = *static_cast<TBrokerSession*>(self);
  if (rc != 0) {
    p.lastRefusal_ = rc;
    p.SetState(TBrokerState::Refused, QStringLiteral("MQTT: брокер %1 отказал: %2")
                                          .arg(BrokerEndpoint(p.options_.Settings), RefusalText(rc)));
    return;
  }
  p.connected_ = true;
  p.greet_ = true;  // outside the callback, where libmosquitto holds its own locks
  p.lastRefusal_ = -1;
  p.retryMs_ = p.options_.RetryFirstMs;
}

void TBrokerSession::Greet() {
  greet_ = false;
  if (mosquitto_publish(mosq_, nullptr, statusTopic_.constData(), 6, "online", kQos, true) ==
      MOSQ_ERR_SUCCESS)
    ++inFlight_;
  // Connected once the broker has taken the subscriptions too, so a write asked then is heard.
  subscribing_ = 0;
  for (const QByteArray& topic : subscriptions_)
    if (mosquitto_subscribe(mosq_, nullptr, topic.constData(), kQos) == MOSQ_ERR_SUCCESS) ++subscribing_;
  // The glances' answers change no state: Connected waits for the subscriptions alone.
  glanceMids_.clear();
  for (const QByteArray& topic : glances_) {
    int mid = 0;
    if (mosquitto_subscribe(mosq_, &mid, topic.constData(), kQos) == MOSQ_ERR_SUCCESS)
      glanceMids_.push_back(mid);
  }
  if (!glances_.empty()) glanceEnd_ = TSteady::now() + std::chrono::milliseconds(options_.GlanceMs);
  if (subscribing_ == 0) OnSubscribe(mosq_, this, 0, 0, nullptr);
}

void TBrokerSession::OnSubscribe(mosquitto*, void* self, int mid, int, const int*) {
  auto& p = *static_cast<TBrokerSession*>(self);
  if (const auto glance = std::find(p.glanceMids_.begin(), p.glanceMids_.end(), mid);
      glance != p.glanceMids_.end()) {
    p.glanceMids_.erase(glance);
    return;
  }
  if (p.subscribing_ > 0 && --p.subscribing_ > 0) return;
  p.SetState(TBrokerState::Connected,
             QStringLiteral("MQTT: подключен к %1").arg(BrokerEndpoint(p.options_.Settings)));
}

void TBrokerSession::OnDisconnect(mosquitto*, void* self, int rc) {
  auto& p = *static_cast<TBrokerSession*>(self);
  p.connected_ = false;
  if (rc == 0 || p.lastRefusal_ >= 0) return;  // asked for, or the refusal already said
  p.SetState(TBrokerState::Lost, p.LostText());
}

void TBrokerSession::OnPublish(mosquitto*, void* self, int) {
  auto& p = *static_cast<TBrokerSession*>(self);
  p.inFlight_ = std::max(0, p.inFlight_ - 1);
  ++p.delivered_;
}

void TBrokerSession::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto& p = *static_cast<TBrokerSession*>(self);
  // The broker tells what it retains as a subscription begins, before anything published later: a
  // live message on a glance (our own, echoed) means that was all.
  const bool write =
      QByteArray::fromRawData(message->topic, static_cast<qsizetype>(std::strlen(message->topic)))
          .endsWith("/set");
  if (!message->retain && !write && p.glanceEnd_) p.glanceEnd_ = TSteady::now();
  if (!p.Heard) return;
  p.Heard(QByteArray(message->topic),
          QByteArray::fromRawData(static_cast<const char*>(message->payload), message->payloadlen),
          message->retain);
}

}  // namespace vexa
