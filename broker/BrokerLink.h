#pragma once
// A network's link to an MQTT broker: every completed register read, every archived report window
// and every alarm event published, and writes asked through the broker made on the line.
//
// The link is the main thread's side: it copies what it needs and hands it to the session
// (broker/Session.h: the thread, the queue, the reconnection), whose messages are made by
// broker/Messages.h on the topics of broker/Topics.h, times as instants (broker/Instants.h). Writes
// heard by the session are made by the remote writer (broker/RemoteWrites.h), subscribed only while
// writes are allowed; the alarms join it through broker/AlarmHook.h; what it leaves retained, and
// Home Assistant's discovery, is kept in line with the network by broker/Discovery.h. A network may have its
// own link beside another network's: nothing is shared but libmosquitto.

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "broker/ConnectionCheck.h"
#include "broker/Discovery.h"
#include "broker/Instants.h"
#include "broker/RemoteWrites.h"
#include "broker/Session.h"

class QTimer;

namespace vexa {

class TNetwork;
class TCustomRegister;
class TRootNode;
class TAlarmMonitor;
struct TAlarmEvent;

class TBrokerLink {
 public:
  // Follows the network's reads and archives from Start to Stop; create on the main thread.
  TBrokerLink(TNetwork& network, TBrokerOptions options);
  ~TBrokerLink();  // Stop
  TBrokerLink(const TBrokerLink&) = delete;
  TBrokerLink& operator=(const TBrokerLink&) = delete;

  // Starts the session's thread; it connects at once.
  void Start();
  // Tells the broker "offline", waits at most `waitMs` for what is queued and the farewell to be
  // taken, and ends the thread. What the queue still holds then is lost (and said so in News).
  void Stop(int waitMs = 2000);
  bool Running() const { return session_->Running(); }

  // Main thread: a read the network completed, an archived report window, an alarm event (the
  // alarm journal feeds it).
  void PublishRead(const TCustomRegister& reg);
  void PublishArchive(const TRootNode& report, const QString& archiveName);
  void PublishAlarmEvent(const TAlarmEvent& event);

  const TBrokerOptions& Options() const { return options_; }
  TBrokerState State() const { return session_->State(); }
  // The status line's text of the state: "MQTT: подключен", ...
  QString StateText() const { return session_->StateText(); }
  // Counts since Start: messages the broker has taken, messages dropped from a full queue.
  int64_t Delivered() const { return session_->Delivered(); }
  int64_t Dropped() const { return session_->Dropped(); }
  // Publishes libmosquitto refused (each told in News), writes refused as busy, writes waiting.
  int64_t Refused() const { return session_->Refused(); }
  int64_t WritesRefusedBusy() const { return writer_->RefusedBusy(); }
  int WritesWaiting() const { return writer_->Waiting(); }
  int QueueLength() const { return session_->QueueLength(); }
  // CPU seconds the session's thread has used.
  double ThreadCpuSeconds() const { return session_->ThreadCpuSeconds(); }

  // Main thread, each once when it happens: a change of state and a drop report, in words (the
  // status line, vexa-cli's log).
  std::function<void(const QString& text)> News;
  // Main thread: no write asked through the broker is started from here on (a run's end, before
  // its save); what waits is refused at Stop.
  void HoldWrites() { writer_->Hold(); }
  // Main thread, after each write asked through the broker (the alarm journal's hook), and once for
  // each burst of writes refused as busy.
  std::function<void(const TRemoteWrite& write)> RemoteWritten;

  // Publishes the alarms' events and journals the writes asked through the broker; the ticket of
  // its observer, for the alarms' Forget before this link goes.
  int JoinAlarms(TAlarmMonitor& alarms);

  // Main thread: the broker brought in line with the network's registers (discovery configs new
  // or changed, the retained messages of registers gone emptied); also every SweepMs while running.
  void SweepRetained();

 private:
  void Push(TOutgoing message) { session_->Push(std::move(message)); }
  // Main thread: what the broker retained that no register of the network stands for, emptied.
  void ClearRetained();

  TNetwork& network_;
  TBrokerOptions options_;
  QByteArray root_;
  TInstants instants_;
  std::unique_ptr<TBrokerSession> session_;
  std::unique_ptr<TRemoteWriter> writer_;
  TRetainedRoster roster_;
  std::unique_ptr<QTimer> sweep_;
  std::mutex retainedMutex_;
  std::vector<QByteArray> retained_;  // topics the broker told retained (under retainedMutex_)
  int readTicket_ = 0;
  int archiveTicket_ = 0;
};

}  // namespace vexa
