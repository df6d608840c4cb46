#include "broker/Publisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <ctime>
#include <optional>

#include "broker/Topics.h"
#include "core/CustomRegister.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "alarms/model/AlarmMonitor.h"
#include "ui/model/ChannelTable.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {

namespace {

// Messages handed to libmosquitto and not yet acknowledged: enough to keep the line to the broker
// busy, few enough that what waits stays in our own bounded queue.
constexpr int kWindow = 256;
constexpr int kQos = 1;
// The least time between two requests served: at most 50 journal rows a second from the broker.
constexpr std::chrono::milliseconds kLeastWriteGap{20};
const QEvent::Type kNewsEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

using TSteady = std::chrono::steady_clock;

void InitLibrary() {
  static const bool done = [] {
    mosquitto_lib_init();
    // A broker that goes away mid-write must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)done;
}

// A string of its own for the other thread (see TRead).
QString Detached(const QString& text) {
  return text.isEmpty() ? QString() : QString(text.constData(), text.size());
}

QString UtcNowIso() {
  return IsoUtc(QDateTime::currentMSecsSinceEpoch());
}

QString Endpoint(const TBrokerOptions& o) {
  const auto address = ParseBrokerUrl(o.Settings.Url);
  return address ? QStringLiteral("%1:%2").arg(address->Host).arg(address->Port) : o.Settings.Url;
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

double ThreadCpu(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The register whose topic level that is, or null.
TCustomRegister* FindRegister(TNetwork& network, const QByteArray& level) {
  const TComponent* root = network.Net().get();
  const TComponent* current = root;
  int index = 0;
  TCustomRegister* found = nullptr;
  while (!NextRegister(root, current, index, found))
    if (found != nullptr && TopicLevel(found->Name()) == level) return found;
  return nullptr;
}

}  // namespace

TAlarmEvent RemoteWriteEvent(const TRemoteWrite& write) {
  // What a client sent is kept, within reason: a journal row, not a message's worth.
  constexpr int kLongest = kLongestRemoteText;
  const auto bounded = [](const QString& text) { return text.left(kLongest); };
  TAlarmEvent e;
  e.Time = write.Time;
  e.Kind = TAlarmEventKind::RemoteWrite;
  e.Name = bounded(write.Register);
  e.Caption = write.Caption;
  e.Asked = bounded(write.Value);
  e.Who = write.User.trimmed().isEmpty() ? kWhoBroker : bounded(write.User.trimmed());
  e.Outcome = write.Outcome;
  e.Priority = 0;
  return e;
}

TBrokerOptions BrokerOptionsFor(const TBrokerSettings& settings, const QString& programFolder) {
  TBrokerOptions o;
  o.Settings = settings;
  o.TopicRoot = settings.TopicRootFor(programFolder);
  o.ClientId = settings.ClientIdFor(programFolder);
  return o;
}

TConnectionCheck CheckBrokerConnection(const TBrokerSettings& settings, int timeoutMs) {
  TConnectionCheck check;
  const auto address = ParseBrokerUrl(settings.Url);
  if (!address) {
    check.Text = QStringLiteral("MQTT: адрес брокера '%1' не подходит").arg(settings.Url);
    return check;
  }
  const QString endpoint = QStringLiteral("%1:%2").arg(address->Host).arg(address->Port);
  InitLibrary();
  struct TState {
    int Rc = -1;  // the broker's answer; -1 none yet
  } state;
  mosquitto* mosq = mosquitto_new(nullptr, true, &state);
  if (mosq == nullptr) {
    check.Text = QStringLiteral("MQTT: клиент не создан (нет памяти)");
    return check;
  }
  const auto destroy = qScopeGuard([mosq] { mosquitto_destroy(mosq); });
  mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  if (!settings.User.isEmpty())
    mosquitto_username_pw_set(mosq, settings.User.toUtf8().constData(),
                              settings.Password.isEmpty() ? nullptr : settings.Password.toUtf8().constData());
  if (address->Tls) {
    const QByteArray ca = QFile::encodeName(settings.CaFile);
    const int rc = settings.CaFile.isEmpty()
                       ? mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                       : mosquitto_tls_set(mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      check.Text = QStringLiteral("MQTT: сертификат центра не принят: %1")
                       .arg(QString::fromUtf8(mosquitto_strerror(rc)));
      return check;
    }
  }
  mosquitto_connect_callback_set(mosq,
                                 [](mosquitto*, void* self, int rc) { static_cast<TState*>(self)->Rc = rc; });
  const QByteArray host = address->Host.toUtf8();
  const auto deadline = TSteady::now() + std::chrono::milliseconds(timeoutMs);
  int rc = mosquitto_connect_async(mosq, host.constData(), address->Port, 10);
  while (rc == MOSQ_ERR_SUCCESS && state.Rc < 0 && TSteady::now() < deadline)
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

TBrokerPublisher::TBrokerPublisher(TNetwork& network, TBrokerOptions options)
    : network_(network),
      options_(std::move(options)),
      root_(options_.TopicRoot.toUtf8()),
      instants_(options_.UtcNowMs),
      writeTimer_(std::make_unique<QTimer>()) {
  writeTimer_->setSingleShot(true);
  QObject::connect(writeTimer_.get(), &QTimer::timeout, this, [this] { ServeNextWrite(); });
}

TBrokerPublisher::~TBrokerPublisher() {
  Stop(0);
}

void TBrokerPublisher::Start() {
  if (Running()) return;
  InitLibrary();
  {
    const std::lock_guard lock(mutex_);
    stopping_ = false;
    accepting_ = true;
    droppedInOutage_ = 0;
    state_ = TBrokerState::Connecting;
    stateText_ = QStringLiteral("MQTT: подключение к %1...").arg(Endpoint(options_));
  }
  finished_ = false;
  holdWrites_ = false;
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  readTicket_ = network_.RegisterRead.Add([this](const TCustomRegister& reg) { PublishRead(reg); });
  archiveTicket_ = network_.ReportArchived.Add(
      [this](const TRootNode& report, const QString& name) { PublishArchive(report, name); });
  thread_ = std::thread([this] { Run(); });
}

void TBrokerPublisher::Stop(int waitMs) {
  if (!Running()) return;
  network_.RegisterRead.Remove(readTicket_);
  network_.ReportArchived.Remove(archiveTicket_);
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
  // A write asked as the publisher stopped is not made: its outcome could not be told.
  writeTimer_->stop();
  writes_.Clear();
  // What the thread told last is told now: the caller may end right after.
  QCoreApplication::removePostedEvents(this, kNewsEvent);
  QEvent flush(kNewsEvent);
  event(&flush);
}

TBrokerState TBrokerPublisher::State() const {
  const std::lock_guard lock(mutex_);
  return state_;
}

QString TBrokerPublisher::StateText() const {
  const std::lock_guard lock(mutex_);
  return Detached(stateText_);
}

int TBrokerPublisher::QueueLength() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size());
}

double TBrokerPublisher::ThreadCpuSeconds() const {
  if (finished_) return cpuAtExit_;
  clockid_t clock{};
  if (!thread_.joinable() ||
      pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0)
    return cpuAtExit_;
  return ThreadCpu(clock);
}

// --- the main thread's side ----------------------------------------------------------------------

void TBrokerPublisher::PublishRead(const TCustomRegister& reg) {
  TOutgoing m;
  m.Retain = true;
  TRead& r = m.Read;
  r.Name = reg.Name().toUtf8();
  r.Text = reg.LastStringData().toUtf8();
  r.Caption = reg.Caption().toUtf8();
  // Here, not on the publisher's thread: local time is asked of the C library, whose own lock the
  // thread sanitizer cannot see.
  r.Time = Iso(reg.RDTime() > 0 ? reg.RDTime() : Now()).toUtf8();
  r.Ok = reg.LastIOResult() == iorOK;
  if (reg.ComponentCount() > 0)
    if (const auto* label = dynamic_cast<const TLabelDisplay*>(reg.Component(0)))
      r.Units = label->Units().toUtf8();
  if (r.Ok && reg.RegisterType() != rtASCIIZ && reg.RegisterType() != rtUnknown) {
    if (const std::optional<double> v = StrToFloat(reg.LastStringData())) {
      r.Numeric = true;
      r.Value = *v;
    }
  }
  Push(std::move(m));
}

void TBrokerPublisher::PublishArchive(const TRootNode& node, const QString& archiveName) {
  QJsonObject o;
  o[QStringLiteral("archive")] = archiveName;
  o[QStringLiteral("report")] = node.Caption();
  if (const auto* report = dynamic_cast<const TReportNode*>(&node)) {
    const double start = report->StartPoint();
    const double end = start + LoggingDurationSeconds(report->LoggingDurationIndex()) / kSecondsPerDay;
    o[QStringLiteral("window")] =
        QJsonObject{{QStringLiteral("start"), Iso(start)}, {QStringLiteral("end"), Iso(end)}};
    int samples = 0;
    for (int i = 0; i < report->ComponentCount(); ++i)
      if (const auto* reg = dynamic_cast<const TCustomRegister*>(report->Component(i)))
        samples = std::max(samples, reg->Count());
    o[QStringLiteral("samples")] = samples;
  }
  o[QStringLiteral("time")] = Iso(Now());
  TOutgoing m;
  m.Topic = QStringLiteral("archives/") + QString::fromUtf8(TopicLevel(archiveName));
  m.Payload = QJsonDocument(o).toJson(QJsonDocument::Compact);
  Push(std::move(m));
}

int TBrokerPublisher::JoinAlarms(TAlarmMonitor& alarms) {
  RemoteWritten = [&alarms](const TRemoteWrite& write) { alarms.Note(RemoteWriteEvent(write)); };
  return alarms.Observe([this](const TAlarmEvent& event) { PublishAlarmEvent(event); });
}

void TBrokerPublisher::PublishAlarmEvent(const TAlarmEvent& event) {
  TOutgoing m;
  m.Topic = QStringLiteral("alarms");
  if (!event.IsAlarm()) {
    const QJsonObject o{
        {QStringLiteral("time"), Iso(event.Time)}, {QStringLiteral("kind"), EventWord(event.Kind)},
        {QStringLiteral("register"), event.Name},  {QStringLiteral("caption"), event.Caption},
        {QStringLiteral("value"), event.Asked},    {QStringLiteral("user"), event.Who},
        {QStringLiteral("ok"), event.Written()},   {QStringLiteral("outcome"), event.Outcome}};
    m.Payload = QJsonDocument(o).toJson(QJsonDocument::Compact);
    Push(std::move(m));
    return;
  }
  QJsonObject o{{QStringLiteral("time"), Iso(event.Time)},
                {QStringLiteral("kind"), EventWord(event.Kind)},
                {QStringLiteral("register"), event.Name},
                {QStringLiteral("caption"), event.Caption},
                {QStringLiteral("condition"), ConditionCode(event.Condition)},
                {QStringLiteral("state"), StateWord(event.State)},
                {QStringLiteral("priority"), event.Priority},
                {QStringLiteral("user"), event.Who}};
  if (!std::isnan(event.Value)) o.insert(QStringLiteral("value"), event.Value);
  m.Payload = QJsonDocument(o).toJson(QJsonDocument::Compact);
  Push(std::move(m));
}

void TBrokerPublisher::Push(TOutgoing message) {
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

void TBrokerPublisher::Wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool TBrokerPublisher::event(QEvent* e) {
  if (e->type() != kNewsEvent) return QObject::event(e);
  std::vector<QString> news;
  {
    const std::lock_guard lock(mutex_);
    news.swap(news_);
    newsPosted_ = false;
  }
  for (const QString& text : news)
    if (News && !text.isEmpty()) News(text);
  ServeWrites();
  return true;
}

void TBrokerPublisher::HoldWrites() {
  holdWrites_ = true;
  writeTimer_->stop();
}

void TBrokerPublisher::ServeWrites() {
  std::vector<TWriteRequest> busy;
  {
    const std::lock_guard lock(mutex_);
    busy.swap(busyFirsts_);
  }
  // A burst of refusals is one row of the journal: its first.
  for (const TWriteRequest& r : busy) {
    TRemoteWrite w;
    w.Time = Now();
    w.Register = QString::fromUtf8(r.Level);
    if (const TCustomRegister* reg = FindRegister(network_, r.Level)) {
      w.Register = reg->Name();
      w.Caption = reg->Caption();
    }
    w.Value = r.Value;
    w.User = r.User;
    w.Outcome = kBusyOutcome;
    if (RemoteWritten) RemoteWritten(w);
  }
  if (!writeTimer_->isActive()) ServeNextWrite();
}

void TBrokerPublisher::ServeNextWrite() {
  if (writing_ || holdWrites_ || !Running()) return;
  const auto now = TSteady::now();
  if (now < nextWriteAt_) {
    writeTimer_->start(std::chrono::ceil<std::chrono::milliseconds>(nextWriteAt_ - now));
    return;
  }
  int64_t burst = 0;
  std::optional<TWriteRequest> request = writes_.Take(&burst);
  if (!request) {
    if (burst > 0 && News)
      News(QStringLiteral("MQTT: очередь записей была полна (%1), отказано в записи: %2")
               .arg(kRemoteWriteBound)
               .arg(burst));
    return;
  }
  auto w = std::make_shared<TRemoteWrite>();
  TCustomRegister* reg = CheckWrite(*request, *w);
  if (reg == nullptr) {
    FinishWrite(*w);
    // A refusal holds no line, but is a row of the journal: a flood of them is paced too, and what
    // comes meanwhile beyond the queue is refused as busy, once for the burst.
    nextWriteAt_ = TSteady::now() + kLeastWriteGap;
    writeTimer_->start(kLeastWriteGap);
    return;
  }
  writing_ = true;
  const auto started = TSteady::now();
  ExecuteWrite(
      *reg, w->Value, [this, w, started, alive = std::weak_ptr<bool>(alive_)](const TWriteResult& o) {
        if (alive.expired()) return;  // the publisher went while the line wrote
        const auto ended = TSteady::now();
        // As long again for the poller before the next write.
        nextWriteAt_ = ended + (ended - started);
        writing_ = false;
        w->Written = o.Ok();
        w->Outcome =
            o.Refused ? kBusyOutcome : OutcomeWord(o.Ok() ? TWriteOutcome::Written : TWriteOutcome::NoAnswer);
        FinishWrite(*w);
        if (!holdWrites_)
          writeTimer_->start(std::chrono::ceil<std::chrono::milliseconds>(nextWriteAt_ - ended));
      });
}

void TBrokerPublisher::ExecuteWrite(TCustomRegister& reg, const QString& text, TWriteDone done) {
  // The line's writer makes it on its own thread; the main thread goes on meanwhile.
  reg.SubmitStringData(network_.LineContext(), text, std::move(done));
}

void TBrokerPublisher::FinishWrite(const TRemoteWrite& w) {
  TOutgoing m;
  m.Topic = QString::fromUtf8(TopicLevel(w.Register)) + QStringLiteral("/result");
  m.Payload = WriteResultPayload(w.Value, w.Written, w.Outcome, w.User, Iso(w.Time));
  Push(std::move(m));
  if (RemoteWritten) RemoteWritten(w);
}

TCustomRegister* TBrokerPublisher::CheckWrite(const TWriteRequest& request, TRemoteWrite& w) {
  w.Time = Now();
  w.Register = QString::fromUtf8(request.Level);
  w.Value = request.Value;
  w.User = request.User;
  TCustomRegister* reg = FindRegister(network_, request.Level);
  if (reg != nullptr) {
    w.Register = reg->Name();
    w.Caption = reg->Caption();
  }
  // Programs write numbers with a point whatever the operator's decimal separator.
  if (reg != nullptr && reg->RegisterType() != rtASCIIZ)
    w.Value.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
  const auto refuse = [&w](TWriteOutcome outcome) -> TCustomRegister* {
    w.Outcome = OutcomeWord(outcome);
    return nullptr;
  };
  if (!options_.Settings.Writes) return refuse(TWriteOutcome::Off);
  if (!options_.Settings.Authenticated()) return refuse(TWriteOutcome::Unauthenticated);
  if (reg == nullptr) return refuse(TWriteOutcome::NoRegister);
  const TWriteCheck check = CheckRegisterWrite(*reg, w.Value);
  if (check.Refusal == TWriteCheck::ReadOnly) return refuse(TWriteOutcome::ReadOnly);
  // A value cut to fit is not the value asked: refused, never written as another.
  if (request.TooLong || check.Cut || check.Refusal == TWriteCheck::Invalid)
    return refuse(TWriteOutcome::Invalid);
  w.Value = check.Text;
  return reg;
}

// --- the publisher's thread ----------------------------------------------------------------------

void TBrokerPublisher::Tell(const QString& text) {
  const std::lock_guard lock(mutex_);
  news_.push_back(Detached(text));
  if (!newsPosted_) {
    newsPosted_ = true;
    // Posted under the lock, as the poller's calls are: the thread sanitizer sees the order.
    QCoreApplication::postEvent(this, new QEvent(kNewsEvent));
  }
}

void TBrokerPublisher::SetState(TBrokerState state, const QString& text) {
  {
    const std::lock_guard lock(mutex_);
    state_ = state;
    if (stateText_ == text) return;
    stateText_ = text;
  }
  Tell(text);
}

// One text however the connection failed, so that an outage is told once.
QString TBrokerPublisher::LostText() const {
  return QStringLiteral("MQTT: нет связи с %1, повтор").arg(Endpoint(options_));
}

void TBrokerPublisher::Run() {
  const QByteArray clientId = options_.ClientId.toUtf8();
  mosq_ = mosquitto_new(clientId.constData(), true, this);
  if (mosq_ == nullptr) {
    SetState(TBrokerState::Lost, QStringLiteral("MQTT: клиент не создан (нет памяти)"));
    cpuAtExit_ = ThreadCpu(CLOCK_THREAD_CPUTIME_ID);
    finished_ = true;
    return;
  }
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_max_inflight_messages_set(mosq_, 0);  // our window bounds it
  const TBrokerSettings& s = options_.Settings;
  if (!s.User.isEmpty())
    mosquitto_username_pw_set(mosq_, s.User.toUtf8().constData(),
                              s.Password.isEmpty() ? nullptr : s.Password.toUtf8().constData());
  const auto address = ParseBrokerUrl(s.Url);
  bool usable = address.has_value();
  if (usable && address->Tls) {
    const QByteArray ca = QFile::encodeName(s.CaFile);
    const int rc = s.CaFile.isEmpty()
                       ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                       : mosquitto_tls_set(mosq_, ca.constData(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      SetState(TBrokerState::Refused, QStringLiteral("MQTT: сертификат центра не принят: %1")
                                          .arg(QString::fromUtf8(mosquitto_strerror(rc))));
      usable = false;
    }
  }
  const QByteArray statusTopic = root_ + "/status";
  mosquitto_will_set(mosq_, statusTopic.constData(), 7, "offline", kQos, true);
  mosquitto_connect_callback_set(mosq_, &OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &OnDisconnect);
  mosquitto_publish_callback_set(mosq_, &OnPublish);
  mosquitto_message_callback_set(mosq_, &OnMessage);
  mosquitto_subscribe_callback_set(mosq_, &OnSubscribe);
  if (!usable && !address)
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
      if (rc != MOSQ_ERR_SUCCESS) {
        SetState(TBrokerState::Lost, LostText());
      }
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
    }
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*stopBy - TSteady::now()).count();
  Farewell(static_cast<int>(std::max<int64_t>(left, 0)));
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  cpuAtExit_ = ThreadCpu(CLOCK_THREAD_CPUTIME_ID);
  finished_ = true;
}

void TBrokerPublisher::Pump() {
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

void TBrokerPublisher::Send(const TOutgoing& m) {
  QByteArray topic = root_ + '/';
  QByteArray payload = m.Payload;
  if (m.Topic.isEmpty()) {
    const TRead& r = m.Read;
    topic += TopicLevel(QString::fromUtf8(r.Name));
    const QString text = QString::fromUtf8(r.Text);
    QJsonObject o;
    o[QStringLiteral("value")] = !r.Ok ? QJsonValue() : r.Numeric ? QJsonValue(r.Value) : QJsonValue(text);
    o[QStringLiteral("text")] = text;
    o[QStringLiteral("time")] = QString::fromUtf8(r.Time);
    o[QStringLiteral("ok")] = r.Ok;
    o[QStringLiteral("caption")] = QString::fromUtf8(r.Caption);
    o[QStringLiteral("units")] = QString::fromUtf8(r.Units);
    payload = QJsonDocument(o).toJson(QJsonDocument::Compact);
  } else {
    topic += m.Topic.toUtf8();
  }
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

void TBrokerPublisher::ReportDrops() {
  int64_t dropped = 0;
  {
    const std::lock_guard lock(mutex_);
    dropped = std::exchange(droppedInOutage_, 0);
  }
  const QJsonObject o{{QStringLiteral("dropped"), static_cast<double>(dropped)},
                      {QStringLiteral("bound"), options_.Settings.QueueBound},
                      {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}};
  const QByteArray topic = root_ + "/status/dropped";
  const QByteArray payload = QJsonDocument(o).toJson(QJsonDocument::Compact);
  if (mosquitto_publish(mosq_, nullptr, topic.constData(), static_cast<int>(payload.size()),
                        payload.constData(), kQos, false) == MOSQ_ERR_SUCCESS)
    ++inFlight_;
  Tell(QStringLiteral("MQTT: очередь была полна, потеряно сообщений: %1 (предел очереди %2)")
           .arg(dropped)
           .arg(options_.Settings.QueueBound));
}

void TBrokerPublisher::Farewell(int waitMs) {
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
    const QByteArray topic = root_ + "/status";
    if (mosquitto_publish(mosq_, &mid, topic.constData(), 7, "offline", kQos, true) == MOSQ_ERR_SUCCESS)
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

void TBrokerPublisher::OnConnect(mosquitto* /*mosq*/, void* self, int rc) {
  auto& p = *static_cast<TBrokerPublisher*>(self);
  if (rc != 0) {
    p.lastRefusal_ = rc;
    p.SetState(TBrokerState::Refused,
               QStringLiteral("MQTT: брокер %1 отказал: %2").arg(Endpoint(p.options_), RefusalText(rc)));
    return;
  }
  p.connected_ = true;
  p.greet_ = true;  // outside the callback, where libmosquitto holds its own locks
  p.lastRefusal_ = -1;
  p.retryMs_ = p.options_.RetryFirstMs;
}

void TBrokerPublisher::Greet() {
  greet_ = false;
  const QByteArray status = root_ + "/status";
  if (mosquitto_publish(mosq_, nullptr, status.constData(), 6, "online", kQos, true) == MOSQ_ERR_SUCCESS)
    ++inFlight_;
  // Nothing is heard that could not be written: no subscription while writes are off.
  if (!WritesAllowed()) {
    OnSubscribe(mosq_, this, 0, 0, nullptr);
    return;
  }
  const QByteArray writes = root_ + "/+/set";
  // Connected once the broker has taken the subscription too, so a write asked then is heard.
  if (mosquitto_subscribe(mosq_, nullptr, writes.constData(), kQos) != MOSQ_ERR_SUCCESS)
    OnSubscribe(mosq_, this, 0, 0, nullptr);
}

void TBrokerPublisher::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
  auto& p = *static_cast<TBrokerPublisher*>(self);
  p.SetState(TBrokerState::Connected, QStringLiteral("MQTT: подключен к %1").arg(Endpoint(p.options_)));
}

void TBrokerPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
  auto& p = *static_cast<TBrokerPublisher*>(self);
  p.connected_ = false;
  if (rc == 0 || p.lastRefusal_ >= 0) return;  // asked for, or the refusal already said
  p.SetState(TBrokerState::Lost, p.LostText());
}

void TBrokerPublisher::OnPublish(mosquitto*, void* self, int) {
  auto& p = *static_cast<TBrokerPublisher*>(self);
  p.inFlight_ = std::max(0, p.inFlight_ - 1);
  ++p.delivered_;
}

void TBrokerPublisher::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto& p = *static_cast<TBrokerPublisher*>(self);
  if (!p.WritesAllowed()) return;
  const QByteArray topic(message->topic);
  const QByteArray prefix = p.root_ + '/';
  if (!topic.startsWith(prefix) || !topic.endsWith("/set")) return;
  const QByteArray level = topic.mid(prefix.size(), topic.size() - prefix.size() - 4);
  if (level.isEmpty() || level.contains('/')) return;
  TWriteRequest request = ReadWriteRequest(
      level, QByteArray::fromRawData(static_cast<const char*>(message->payload), message->payloadlen));
  const TWriteRequest echo = request;
  const TRemoteWriteQueue::TOffer offer = p.writes_.Offer(std::move(request));
  if (offer == TRemoteWriteQueue::TOffer::Queued) {
    p.Tell(QString());  // wakes the main thread; an empty text is no news
    return;
  }
  // Full: answered here at once, and the burst's first told to the journal.
  TOutgoing m;
  m.Topic = QString::fromUtf8(level) + QStringLiteral("/result");
  m.Payload = WriteResultPayload(echo.Value, false, kBusyOutcome, echo.User, UtcNowIso());
  p.Push(std::move(m));
  if (offer == TRemoteWriteQueue::TOffer::BusyFirst) {
    {
      const std::lock_guard lock(p.mutex_);
      p.busyFirsts_.push_back(echo);
    }
    p.Tell(QString());
  }
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
    QMetaObject::invokeMethod(
        receiver->Context,
        [receiver, running, check] {
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
