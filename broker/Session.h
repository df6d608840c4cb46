#pragma once
// The broker's session: one libmosquitto client on a thread of its own, fed from a bounded queue.
//
// Nothing waits for the broker. A message is copied into the queue under a short lock; the thread
// formats and sends it (QoS 1, a window of messages awaiting the acknowledgement), reconnects with
// backoff while the broker is away, drops the oldest when the queue is full and tells the count once
// per outage. The status topic is "online" retained while connected and "offline" as the last will
// and at a clean end. News reaches the main thread as events posted under the lock.

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "broker/BrokerSettings.h"
#include "broker/Messages.h"

struct mosquitto;
struct mosquitto_message;

namespace vexa {

enum class TBrokerState { Stopped, Connecting, Connected, Refused, Lost };

// What the link needs besides the settings file's fields.
struct TBrokerOptions {
  TBrokerSettings Settings;
  QString TopicRoot;  // as used (TBrokerSettings::TopicRootFor)
  QString ClientId;
  // Reconnection: the first wait, doubled after each failure up to the longest.
  int RetryFirstMs = 500;
  int RetryLongestMs = 30000;
  int KeepAliveSeconds = 30;
  // How often the link looks for registers gone and discovery configs changed, and how long after
  // connecting it listens for what the broker retains of registers gone meanwhile.
  int SweepMs = 1000;
  int GlanceMs = 3000;
  // The instant the program's clock stands for now; empty: the system's (a test sets it with its
  // clock).
  std::function<int64_t()> UtcNowMs;
};
// The options for a program folder's network from its settings.
TBrokerOptions BrokerOptionsFor(const TBrokerSettings& settings, const QString& programFolder);

// libmosquitto once per process, and SIGPIPE ignored: a broker gone mid-write must not end it.
void InitMosquitto();
// host:port of the settings' URL (the URL itself when it does not parse).
QString BrokerEndpoint(const TBrokerSettings& settings);
// The broker's refusal of a connection, in the status line's words.
QString RefusalText(int rc);
// A client's user, password and TLS from the settings; empty, or why the TLS setup failed.
QString ConfigureClient(mosquitto* mosq, const TBrokerSettings& settings);

class TBrokerSession : public QObject {
 public:
  // `subscriptions`: heard once connected (the state is Connected when the broker took them).
  // `glances`: subscribed for GlanceMs after each connection, to hear what the broker retains.
  TBrokerSession(const TBrokerOptions& options, std::vector<QByteArray> subscriptions,
                 std::vector<QByteArray> glances = {});
  ~TBrokerSession() override;  // Stop
  TBrokerSession(const TBrokerSession&) = delete;
  TBrokerSession& operator=(const TBrokerSession&) = delete;

  void Start();
  // "offline", at most `waitMs` for what is queued and the farewell, then the thread ends; what the
  // queue still holds is lost (and said so in News).
  void Stop(int waitMs);
  bool Running() const { return thread_.joinable(); }

  // Any thread: queued, the oldest dropped when the queue is full; nothing between Stop and Start.
  void Push(TOutgoing message);
  // Any thread: a text for News (none when empty; the main thread's hook runs all the same).
  void Tell(const QString& text);

  TBrokerState State() const;
  QString StateText() const;
  int64_t Delivered() const { return delivered_; }
  int64_t Dropped() const { return droppedTotal_; }
  int64_t Refused() const { return refusedTotal_; }
  int QueueLength() const;
  double ThreadCpuSeconds() const;

  // Main thread, each once when it happens: a change of state and a drop report, in words.
  std::function<void(const QString& text)> News;
  // Main thread, after the news of each wake.
  std::function<void()> Woken;
  // The session's thread: a message on a subscribed topic; `retained`: one the broker kept, told
  // as the subscription began.
  std::function<void(const QByteArray& topic, const QByteArray& payload, bool retained)> Heard;

 protected:
  bool event(QEvent* e) override;

 private:
  void Wake();
  void SetState(TBrokerState state, const QString& text);
  QString LostText() const;

  // The session's thread.
  void Run();
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

  const TBrokerOptions& options_;
  const QByteArray root_;
  const QByteArray statusTopic_;
  const std::vector<QByteArray> subscriptions_;
  const std::vector<QByteArray> glances_;

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

  // The session's thread only.
  mosquitto* mosq_ = nullptr;
  bool connected_ = false;
  bool greet_ = false;  // connected: "online" and the subscriptions are due
  int inFlight_ = 0;
  int retryMs_ = 0;
  int lastRefusal_ = -1;
  int subscribing_ = 0;  // subscriptions not yet taken
  std::optional<std::chrono::steady_clock::time_point> glanceEnd_;
  std::vector<int> glanceMids_;  // glances the broker has not yet answered

  std::atomic<int64_t> delivered_ = 0;
  std::atomic<int64_t> droppedTotal_ = 0;
  std::atomic<int64_t> refusedTotal_ = 0;
  std::atomic<double> cpuAtExit_ = 0;
  std::atomic<bool> finished_ = false;
  std::thread thread_;
};

}  // namespace vexa
