#include "broker/RemoteWrites.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "core/Services.h"

namespace vexa {

namespace {

QString Bounded(const QString& text) {
  return text.size() > kLongestRemoteText ? text.left(kLongestRemoteText) : text;
}

}  // namespace

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
      value = v.isDouble() ? FloatToStr(v.toDouble()) : v.toString();
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

QByteArray WriteResultPayload(const QString& value, bool ok, const QString& outcome, const QString& user,
                              const QString& isoTime) {
  const QJsonObject o{{QStringLiteral("value"), Bounded(value)},
                      {QStringLiteral("ok"), ok},
                      {QStringLiteral("outcome"), outcome},
                      {QStringLiteral("user"), Bounded(user)},
                      {QStringLiteral("time"), isoTime}};
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

TRemoteWriteQueue::TOffer TRemoteWriteQueue::Offer(TWriteRequest request) {
  const std::lock_guard lock(mutex_);
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

void TRemoteWriteQueue::Clear() {
  const std::lock_guard lock(mutex_);
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

}  // namespace vexa
