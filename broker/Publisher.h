#pragma once
// The broker's publisher: every completed register read, every archived report window and every
// alarm event of one network, published to an MQTT broker by a thread of its own (libmosquitto).
//
// Nothing waits for the broker. The network's news is copied into a bounded queue under a short lock
// on the main thread; the publisher's thread formats and sends it, reconnects with backoff while the
// broker is away, drops the oldest when the queue is full and tells the count once per outage. A
// network may have its own publisher beside another network's: nothing is shared but libmosquitto.
//
// Topics under the root R: R/<register name> (retained JSON, QoS 1), R/status ("online" retained,
// "offline" as the last will and at a clean end), R/status/dropped (what an outage cost),
// R/archives/<archive name>, R/alarms, and for writes from the broker R/<register name>/set with
// the outcome on R/<register name>/result (subscribed only while writes are allowed). Names become
// topic levels by the rule of broker/Topics.h; a publish libmosquitto still refuses is counted and
// told. Times are instants in UTC (broker/Instants.h).
//
// Writes asked through the broker wait in a bounded queue (broker/RemoteWrites.h) and are made one
// at a time between the poller's reads: after a write that held the line T ms, the next one starts
// no sooner than T ms later, so the other registers keep at least half their read rate.

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "broker/BrokerSettings.h"
#include "broker/Instants.h"
#include "broker/RemoteWrites.h"
#include "core/LineWriter.h"
#include "alarms/model/AlarmModel.h"

class QTimer;
struct mosquitto;
struct mosquitto_message;

namespace vexa {

class TNetwork;
class TCustomRegister;
class TRootNode;
class TAlarmMonitor;

enum class TBrokerState { Stopped, Connecting, Connected, Refused, Lost };

// What the publisher needs besides the settings file's fields.
struct TBrokerOptions {
  TBrokerSettings Settings;
  QString TopicRoot;  // as used (TBrokerSettings::TopicRootFor)
  QString ClientId;
  // Reconnection: the first wait, doubled after each failure up to the longest.
  int RetryFirstMs = 500;
  int RetryLongestMs = 30000;
  int KeepAliveSeconds = 30;
  // The instant the program's clock stands for now; empty: the system's (a test sets it with its
  // clock).
  std::function<int64_t()> UtcNowMs;
};
// The options for a program folder's network from its settings.
TBrokerOptions BrokerOptionsFor(const TBrokerSettings& settings, const QString& programFolder);

// A write asked through the broker and what came of it, for the alarm journal.
struct TRemoteWrite {
  double Time = 0;
  QString Register;
  QString Caption;  // the register's, when there is one
  QString Value;
  QString User;  // as the message named the writer; empty when it did not
  bool Written = false;
  QString Outcome;  // OutcomeWord: "written", or why not
};

// The writer the journal records for a message that named none. The broker does not tell a
// subscriber who published, so the name in the message, unchecked, is all there is.
inline const QString kWhoBroker = QStringLiteral("mqtt");
// A write as the alarm journal keeps it: the writer or kWhoBroker, the texts the message chose
// bounded.
TAlarmEvent RemoteWriteEvent(const TRemoteWrite& write);

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

class TBrokerPublisher : public QObject {
 public:
  // Follows the network's reads and archives from Start to Stop; create on the main thread.
  TBrokerPublisher(TNetwork& network, TBrokerOptions options);
  ~TBrokerPublisher() override;  // Stop
  TBrokerPublisher(const TBrokerPublisher&) = delete;
  TBrokerPublisher& operator=(const TBrokerPublisher&) = delete;

  // Starts the thread; it connects at once.
  void Start();
  // Tells the broker "offline", waits at most `waitMs` for what is queued and the farewell to be
  // taken, and ends the thread. What the queue still holds then is lost (and said so in News).
  void Stop(int waitMs = 2000);
  bool Running() const { return thread_.joinable(); }

  // Main thread: a read the network completed, an archived report window, an alarm event (the
  // alarm journal feeds it).
  void PublishRead(const TCustomRegister& reg);
  void PublishArchive(const TRootNode& report, const QString& archiveName);
  void PublishAlarmEvent(const TAlarmEvent& event);

  const TBrokerOptions& Options() const { return options_; }
  TBrokerState State() const;
  // The status line's text of the state: "MQTT: подключен", ...
  QString StateText() const;
  // Counts since Start: messages the broker has taken, messages dropped from a full queue.
  int64_t Delivered() const { return delivered_; }
  int64_t Dropped() const { return droppedTotal_; }
  // Publishes libmosquitto refused (each told in News), writes refused as busy, writes waiting.
  int64_t Refused() const { return refusedTotal_; }
  int64_t WritesRefusedBusy() const { return writes_.RefusedTotal(); }
  int WritesWaiting() const { return writes_.Size(); }
  int QueueLength() const;
  // CPU seconds the publisher's thread has used.
  double ThreadCpuSeconds() const;

  // Main thread, each once when it happens: a change of state and a drop report, in words (the
  // status line, vexa-cli's log).
  std::function<void(const QString& text)> News;
  // Main thread: no write asked through the broker is started from here on (a run's end, before
  // its save); what waits is refused at Stop.
  void HoldWrites();
  // Main thread, after each write asked through the broker (the alarm journal's hook), and once for
  // each burst of writes refused as busy.
  std::function<void(const TRemoteWrite& write)> RemoteWritten;

  // Publishes the alarms' events and journals the writes asked through the broker among them; the
  // ticket of its observer, for the alarms' Forget before this publisher goes.
  int JoinAlarms(TAlarmMonitor& alarms);

 protected:
  bool event(QEvent* e) override;

 private:
  // Copies of their own, as UTF-8: Qt shares a string's text between copies, and the thread
  // sanitizer, not seeing inside Qt, takes the last release on the other thread for a race.
  struct TRead {
    QByteArray Name, Text, Caption, Units;
    QByteArray Time;   // ISO 8601 with the offset
    double Value = 0;  // when Numeric
    bool Ok = false;
    bool Numeric = false;
  };
  struct TOutgoing {
    QString Topic;  // under the root; empty for a read, whose topic is its register's name
    QByteArray Payload;
    bool Retain = false;
    TRead Read;
  };

  void Push(TOutgoing message);
  void Wake();
  void Tell(const QString& text);  // publisher thread: for News on the main thread
  void SetState(TBrokerState state, const QString& text);
  QString LostText() const;

  // The publisher's thread.
  void Run();
  void Connect();
  void Pump();
  void Greet();
  void Send(const TOutgoing& message);
  void Farewell(int waitMs);
  void ReportDrops();
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

  bool WritesAllowed() const { return options_.Settings.Writes && options_.Settings.Authenticated(); }
  QString Iso(double local) const { return instants_.Iso(local); }

  // Main thread: writes asked through the broker, one at a time, paced.
  void ServeWrites();
  void ServeNextWrite();
  // The checks before a write; the register to write when they pass.
  TCustomRegister* CheckWrite(const TWriteRequest& request, TRemoteWrite& w);
  // The write itself, one call: `done` on the main thread once the line has answered.
  void ExecuteWrite(TCustomRegister& reg, const QString& text, TWriteDone done);
  void FinishWrite(const TRemoteWrite& w);

  TNetwork& network_;
  TBrokerOptions options_;
  QByteArray root_;
  TInstants instants_;
  TRemoteWriteQueue writes_;
  std::unique_ptr<QTimer> writeTimer_;  // the next write's turn
  std::chrono::steady_clock::time_point nextWriteAt_{};
  bool writing_ = false;
  // Dies with the publisher: a write's completion that comes later finds it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool holdWrites_ = false;
  std::vector<TWriteRequest> busyFirsts_;  // first refusals of bursts, for the journal (under mutex_)
  std::vector<int64_t> burstsEnded_;       // their counts, once over (main thread)
  int readTicket_ = 0;
  int archiveTicket_ = 0;

  mutable std::mutex mutex_;
  std::deque<TOutgoing> queue_;
  std::vector<QString> news_;
  bool newsPosted_ = false;
  bool accepting_ = false;  // between Start and Stop
  bool stopping_ = false;
  int stopWaitMs_ = 0;
  int64_t droppedInOutage_ = 0;
  TBrokerState state_ = TBrokerState::Stopped;
  QString stateText_;
  int wakeFd_ = -1;

  // Publisher thread only.
  mosquitto* mosq_ = nullptr;
  bool connected_ = false;
  bool greet_ = false;  // connected: "online" and the subscription are due
  int inFlight_ = 0;
  int retryMs_ = 0;
  int lastRefusal_ = -1;

  std::atomic<int64_t> delivered_ = 0;
  std::atomic<int64_t> droppedTotal_ = 0;
  std::atomic<int64_t> refusedTotal_ = 0;
  std::atomic<double> cpuAtExit_ = 0;
  std::atomic<bool> finished_ = false;
  std::thread thread_;
};

}  // namespace vexa
