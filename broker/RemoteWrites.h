#pragma once
// Writes asked through the broker, between the publisher's thread that hears them and the main
// thread that makes them: a bounded queue with its overflow rule, and the request's reading.
//
// The queue holds kRemoteWriteBound requests; one more is answered at once on …/result with
// kBusyOutcome, and a burst of such refusals (from the first until the queue next runs dry) is one
// event of the journal and one line of news with its count, not one per message.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace vexa {

inline constexpr int kRemoteWriteBound = 256;
// The journal's bound on what a client's message chose (value, user), kept on …/result too.
inline constexpr int kLongestRemoteText = 100;
inline const QString kBusyOutcome = QStringLiteral("refused: busy");

struct TWriteRequest {
  QByteArray Level;      // the register's topic level, as the topic named it
  QString Value;         // at most kLongestRemoteText characters
  QString User;          // likewise
  bool TooLong = false;  // the value asked was longer: no register takes it
};
// A bare value, or {"value": ..., "user": "..."}; read on the publisher's thread, bounded before
// anything else sees it.
TWriteRequest ReadWriteRequest(const QByteArray& level, const QByteArray& payload);

// The result published on …/result for a write asked: what was asked, bounded, and what came of it.
QByteArray WriteResultPayload(const QString& value, bool ok, const QString& outcome, const QString& user,
                              const QString& isoTime);

class TRemoteWriteQueue {
 public:
  enum class TOffer { Queued, Busy, BusyFirst };  // BusyFirst: the first refusal of a burst
  // The publisher's thread.
  TOffer Offer(TWriteRequest request);
  // The main thread: the oldest request, or null when the queue is dry; then `burstRefused` gets
  // the count of the burst that ends there (0 when there was none).
  std::optional<TWriteRequest> Take(int64_t* burstRefused = nullptr);
  void Clear();
  int Size() const;
  int64_t RefusedTotal() const;

 private:
  mutable std::mutex mutex_;
  std::deque<TWriteRequest> queue_;
  int64_t burst_ = 0;  // refused since the burst began; 0: no burst
  int64_t refusedTotal_ = 0;
};

}  // namespace vexa
