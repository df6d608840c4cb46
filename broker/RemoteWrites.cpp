#include "broker/RemoteWrites.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTimer>

#include "alarms/model/AlarmModel.h"
#include "broker/Instants.h"
#include "broker/Session.h"
#include "broker/Topics.h"
#include "core/CustomRegister.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/Services.h"
#include "ui/model/ChannelTable.h"

namespace vexa {

namespace {

// The least time between two requests served: at most 50 journal rows a second from the broker.
constexpr std::chrono::milliseconds kLeastWriteGap{20};

using TSteady = std::chrono::steady_clock;

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

QString Bounded(const QString& text) {
  return text.size() > kLongestRemoteText ? text.left(kLongestRemoteText) : text;
}

}  // namespace

QString WriterOf(const TRemoteWrite& write) {
  const QString user = write.User.trimmed();
  return user.isEmpty() ? kWhoBroker : Bounded(user);
}

TWriteRequest ReadWriteRequest(const QByteArray& level, const QByteArray& payload) {
  // Longer than any value with its user could be: not parsed, taken as a value too long.
  constexpr qsizetype kLongestJson = 16 * 1024;
  TWriteRequest r;
  r.Level = level;
  QString value;
  if (payload.size() <= kLongestJson) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
      const QJsonValue v = doc.object().value(QStringLiteral("value"));
      // A number as the message wrote it, with a point: the register's separator is put in later.
      value = v.isDouble() ? QString::number(v.toDouble(), 'g', 15)
              : v.isBool() ? (v.toBool() ? QStringLiteral("true") : QStringLiteral("false"))
                           : v.toString();
      r.User = Bounded(doc.object().value(QStringLiteral("user")).toString());
    } else {
      value = QString::fromUtf8(payload);
    }
  } else {
    value = QString::fromUtf8(payload.left(4 * kLongestRemoteText));
    r.TooLong = true;
  }
  r.TooLong = r.TooLong || value.size() > kLongestRemoteText;
  r.Value = Bounded(value);
  return r;
}

TRemoteWriteQueue::TOffer TRemoteWriteQueue::Offer(TWriteRequest request) {
  const std::lock_guard lock(mutex_);
  if (closed_) return TOffer::Closed;
  if (queue_.size() < static_cast<size_t>(kRemoteWriteBound)) {
    queue_.push_back(std::move(request));
    return TOffer::Queued;
  }
  ++refusedTotal_;
  return burst_++ == 0 ? TOffer::BusyFirst : TOffer::Busy;
}

std::optional<TWriteRequest> TRemoteWriteQueue::Take(int64_t* burstRefused) {
  const std::lock_guard lock(mutex_);
  if (burstRefused) *burstRefused = 0;
  if (queue_.empty()) {
    // Dry: a burst of refusals is over.
    if (burstRefused) *burstRefused = burst_;
    burst_ = 0;
    return std::nullopt;
  }
  TWriteRequest r = std::move(queue_.front());
  queue_.pop_front();
  return r;
}

void TRemoteWriteQueue::Open() {
  const std::lock_guard lock(mutex_);
  closed_ = false;
}

void TRemoteWriteQueue::Close() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  queue_.clear();
  burst_ = 0;
}

int TRemoteWriteQueue::Size() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size());
}

int64_t TRemoteWriteQueue::RefusedTotal() const {
  const std::lock_guard lock(mutex_);
  return refusedTotal_;
}

TRemoteWriter::TRemoteWriter(TNetwork& network, const TBrokerOptions& options, TBrokerSession& session,
                             const TInstants& instants)
    : network_(network),
      options_(options),
      session_(session),
      instants_(instants),
      root_(options.TopicRoot.toUtf8()),
      timer_(std::make_unique<QTimer>()) {
  timer_->setSingleShot(true);
  QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { ServeNext(); });
}

TRemoteWriter::~TRemoteWriter() = default;

bool TRemoteWriter::Allowed() const {
  return options_.Settings.Writes && options_.Settings.Authenticated();
}

void TRemoteWriter::Open() {
  open_ = true;
  held_ = false;
  queue_.Open();
}

void TRemoteWriter::Close() {
  // A write asked as the session stopped is not made: its outcome could not be told.
  open_ = false;
  timer_->stop();
  queue_.Close();
  // A burst refused before this was answered at once: its row goes into the journal all the same.
  JournalBusyFirsts();
}

void TRemoteWriter::Hold() {
  held_ = true;
  timer_->stop();
  // The run's end may come before the main thread served a refusal heard last: journalled now,
  // before the journal's last flush.
  JournalBusyFirsts();
}

void TRemoteWriter::Hear(const QByteArray& topic, const QByteArray& payload) {
  if (!Allowed()) return;
  const QByteArray level = LevelOfWriteTopic(root_, topic);
  if (level.isEmpty()) return;
  TWriteRequest request = ReadWriteRequest(level, payload);
  const TWriteRequest echo = request;
  const TRemoteWriteQueue::TOffer offer = queue_.Offer(std::move(request));
  if (offer == TRemoteWriteQueue::TOffer::Queued) {
    session_.Tell(QString());  // wakes the main thread; an empty text is no news
    return;
  }
  if (offer == TRemoteWriteQueue::TOffer::Closed) return;
  // Full: answered here at once, and the burst's first told to the journal.
  // The register is the main thread's: its type is not known here.
  TRemoteWrite busy;
  busy.Value = busy.Asked = echo.Value;
  busy.Type.Kind = TValueKind::None;
  busy.User = echo.User;
  busy.Outcome = kBusyOutcome;
  TOutgoing m;
  m.Topic = ResultTopic(root_, level);
  m.Payload = WriteResultPayload(busy, IsoUtc(QDateTime::currentMSecsSinceEpoch()));
  session_.Push(std::move(m));
  if (offer == TRemoteWriteQueue::TOffer::BusyFirst) {
    {
      const std::lock_guard lock(mutex_);
      busyFirsts_.push_back(echo);
    }
    session_.Tell(QString());
  }
}

void TRemoteWriter::JournalBusyFirsts() {
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
    w.Type.Kind = TValueKind::None;
    if (const TCustomRegister* reg = FindRegister(network_, r.Level)) {
      w.Register = reg->Name();
      w.Caption = reg->Caption();
      w.Type = ValueTypeOf(*reg);
    }
    w.Value = w.Asked = r.Value;
    w.User = r.User;
    w.Outcome = kBusyOutcome;
    if (Written) Written(w);
  }
}

void TRemoteWriter::Serve() {
  JournalBusyFirsts();
  if (!timer_->isActive()) ServeNext();
}

void TRemoteWriter::ServeNext() {
  if (writing_ || held_ || !open_) return;
  const auto now = TSteady::now();
  if (now < nextAt_) {
    timer_->start(std::chrono::ceil<std::chrono::milliseconds>(nextAt_ - now));
    return;
  }
  int64_t burst = 0;
  std::optional<TWriteRequest> request = queue_.Take(&burst);
  if (!request) {
    if (burst > 0 && News)
      News(QStringLiteral("MQTT: очередь записей была полна (%1), отказано в записи: %2")
               .arg(kRemoteWriteBound)
               .arg(burst));
    return;
  }
  auto w = std::make_shared<TRemoteWrite>();
  TCustomRegister* reg = Check(*request, *w);
  if (reg == nullptr) {
    Finish(*w);
    // A refusal holds no line, but is a row of the journal: a flood of them is paced too, and what
    // comes meanwhile beyond the queue is refused as busy, once for the burst.
    nextAt_ = TSteady::now() + kLeastWriteGap;
    timer_->start(kLeastWriteGap);
    return;
  }
  writing_ = true;
  const auto started = TSteady::now();
  Execute(*reg, w->Value, [this, w, started, alive = std::weak_ptr<bool>(alive_)](const TWriteResult& o) {
    if (alive.expired()) return;  // the writer went while the line wrote
    const auto ended = TSteady::now();
    // As long again for the poller before the next write.
    nextAt_ = ended + (ended - started);
    writing_ = false;
    w->Written = o.Ok();
    w->Outcome =
        o.Refused ? kBusyOutcome : OutcomeWord(o.Ok() ? TWriteOutcome::Written : TWriteOutcome::NoAnswer);
    Finish(*w);
    if (!held_) timer_->start(std::chrono::ceil<std::chrono::milliseconds>(nextAt_ - ended));
  });
}

void TRemoteWriter::Execute(TCustomRegister& reg, const QString& text, TWriteDone done) {
  // The line's writer makes it on its own thread; the main thread goes on meanwhile.
  reg.SubmitStringData(network_.LineContext(), text, std::move(done));
}

void TRemoteWriter::Finish(const TRemoteWrite& w) {
  TOutgoing m;
  m.Topic = ResultTopic(root_, TopicLevel(w.Register));
  m.Payload = WriteResultPayload(w, instants_.Iso(w.Time));
  session_.Push(std::move(m));
  TOutgoing event;
  event.Topic = AlarmsTopic(root_);
  event.Payload = RemoteWritePayload(w, instants_);
  session_.Push(std::move(event));
  if (Written) Written(w);
}

TCustomRegister* TRemoteWriter::Check(const TWriteRequest& request, TRemoteWrite& w) {
  w.Time = Now();
  w.Register = QString::fromUtf8(request.Level);
  w.Value = w.Asked = request.Value;
  w.User = request.User;
  w.Type.Kind = TValueKind::None;
  TCustomRegister* reg = FindRegister(network_, request.Level);
  if (reg != nullptr) {
    w.Register = reg->Name();
    w.Caption = reg->Caption();
    w.Type = ValueTypeOf(*reg);
  }
  // Programs write numbers with a point whatever the operator's decimal separator, and Booleans as
  // switches do.
  if (w.Type.Kind == TValueKind::Number) w.Value.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
  if (w.Type.Kind == TValueKind::Boolean)
    if (const std::optional<bool> b = BooleanOf(w.Value))
      w.Value = *b ? QStringLiteral("1") : QStringLiteral("0");
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

}  // namespace vexa
