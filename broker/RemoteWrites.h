#pragma once
// Writes asked through the broker, between the session's thread that hears them and the main
// thread that makes them: a bounded queue with its overflow rule, the request's reading, and the
// writer that makes them one at a time between the poller's reads.
//
// The queue holds kRemoteWriteBound requests; one more is answered at once on …/result with
// kBusyOutcome, and a burst of such refusals (from the first until the queue next runs dry) is one
// event of the journal and one line of news with its count, not one per message. After a write
// that held the line T ms, the next one starts no sooner than T ms later, so the other registers
// keep at least half their read rate.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "broker/Messages.h"
#include "core/LineWriter.h"

class QTimer;

namespace vexa {

class TNetwork;
class TCustomRegister;
class TBrokerSession;
class TInstants;
struct TBrokerOptions;

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

// A write asked through the broker and what came of it: the journal's row and the alarms topic's
// message are made from it.
struct TRemoteWrite {
  double Time = 0;
  QString Register;
  QString Caption;  // the register's, when there is one
  QString Value;    // as written; as asked when refused
  QString Asked;    // the text the message sent, bounded
  TValueType Type;  // the register's; None when there is no such register
  QString User;     // as the message named the writer; empty when it did not
  bool Written = false;
  QString Outcome;  // OutcomeWord: "written", or why not
};

// The writer the journal records for a message that named none. The broker does not tell a
// subscriber who published, so the name in the message, unchecked, is all there is.
inline const QString kWhoBroker = QStringLiteral("mqtt");
// The writer as journaled and published: the message's, bounded, or kWhoBroker.
QString WriterOf(const TRemoteWrite& write);

class TRemoteWriteQueue {
 public:
  // BusyFirst: the first refusal of a burst. Closed: the link is stopping; nothing is answered.
  enum class TOffer { Queued, Busy, BusyFirst, Closed };
  // The publisher's thread.
  TOffer Offer(TWriteRequest request);
  // The main thread: the oldest request, or null when the queue is dry; then `burstRefused` gets
  // the count of the burst that ends there (0 when there was none).
  std::optional<TWriteRequest> Take(int64_t* burstRefused = nullptr);
  // Main thread. Close drops what waits and takes nothing more until Open: what the session hears
  // while it stops would otherwise refill the queue and start a burst nobody serves.
  void Open();
  void Close();
  int Size() const;
  int64_t RefusedTotal() const;

 private:
  mutable std::mutex mutex_;
  std::deque<TWriteRequest> queue_;
  int64_t burst_ = 0;  // refused since the burst began; 0: no burst
  bool closed_ = false;
  int64_t refusedTotal_ = 0;
};

// Main thread: the writes heard by a session, checked and made one at a time, paced, each outcome
// published on …/result and told to Written.
class TRemoteWriter {
 public:
  TRemoteWriter(TNetwork& network, const TBrokerOptions& options, TBrokerSession& session,
                const TInstants& instants);
  ~TRemoteWriter();
  TRemoteWriter(const TRemoteWriter&) = delete;
  TRemoteWriter& operator=(const TRemoteWriter&) = delete;

  // The session's thread: a message on a write's topic.
  void Hear(const QByteArray& topic, const QByteArray& payload);
  // Main thread: what was heard since, served.
  void Serve();
  // From Open to Close, writes are served; Close refuses what waits, unanswered.
  void Open();
  void Close();
  // No write is started from here on (a run's end, before its save).
  void Hold();
  bool Allowed() const;
  int64_t RefusedBusy() const { return queue_.RefusedTotal(); }
  int Waiting() const { return queue_.Size(); }

  // Main thread, after each write asked (the alarm journal's hook), and once for each burst of
  // writes refused as busy.
  std::function<void(const TRemoteWrite& write)> Written;
  // Main thread: news in words.
  std::function<void(const QString& text)> News;

 private:
  void ServeNext();
  // The first refusal of each burst heard since, into the journal (Written).
  void JournalBusyFirsts();
  // The checks before a write; the register to write when they pass.
  TCustomRegister* Check(const TWriteRequest& request, TRemoteWrite& w);
  // The write itself, one call: `done` on the main thread once the line has answered.
  void Execute(TCustomRegister& reg, const QString& text, TWriteDone done);
  void Finish(const TRemoteWrite& w);

  TNetwork& network_;
  const TBrokerOptions& options_;
  TBrokerSession& session_;
  const TInstants& instants_;
  const QByteArray root_;
  TRemoteWriteQueue queue_;
  std::unique_ptr<QTimer> timer_;  // the next write's turn
  std::chrono::steady_clock::time_point nextAt_{};
  bool open_ = false;
  bool writing_ = false;
  bool held_ = false;
  // Dies with the writer: a write's completion that comes later finds it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::mutex mutex_;
  std::vector<TWriteRequest> busyFirsts_;  // first refusals of bursts, for the journal (under mutex_)
};

}  // namespace vexa
