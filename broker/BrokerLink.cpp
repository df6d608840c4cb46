#include "broker/BrokerLink.h"

#include <QTimer>

#include "broker/AlarmHook.h"
#include "broker/Messages.h"
#include "broker/Topics.h"
#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RootNode.h"

namespace vexa {

TBrokerLink::TBrokerLink(TNetwork& network, TBrokerOptions options)
    : network_(network),
      options_(std::move(options)),
      root_(options_.TopicRoot.toUtf8()),
      instants_(options_.UtcNowMs),
      roster_(root_, options_.Settings.Discovery,
              options_.Settings.Writes && options_.Settings.Authenticated()),
      sweep_(std::make_unique<QTimer>()) {
  sweep_->setInterval(options_.SweepMs);
  QObject::connect(sweep_.get(), &QTimer::timeout, sweep_.get(), [this] { SweepRetained(); });
  const bool writes = options_.Settings.Writes && options_.Settings.Authenticated();
  // Nothing is heard that could not be written: no subscription while writes are off.
  std::vector<QByteArray> subscriptions;
  if (writes) subscriptions.push_back(WritesSubscription(root_));
  // What the broker retains of values and configs, glanced at after each connection: a register
  // removed while the link was away left them there.
  session_ = std::make_unique<TBrokerSession>(options_, std::move(subscriptions), RetainedGlances(root_));
  writer_ = std::make_unique<TRemoteWriter>(network_, options_, *session_, instants_);
  session_->News = [this](const QString& text) {
    if (News) News(text);
  };
  session_->Woken = [this] {
    writer_->Serve();
    ClearRetained();
  };
  session_->Heard = [this](const QByteArray& topic, const QByteArray& payload, bool retained) {
    // A write is asked now, never replayed from what the broker kept at each connection.
    if (!retained) {
      writer_->Hear(topic, payload);
      return;
    }
    if (payload.isEmpty()) return;
    {
      const std::lock_guard lock(retainedMutex_);
      retained_.push_back(topic);
    }
    session_->Tell(QString());
  };
  writer_->News = [this](const QString& text) {
    if (News) News(text);
  };
  writer_->Written = [this](const TRemoteWrite& write) {
    if (RemoteWritten) RemoteWritten(write);
  };
}

TBrokerLink::~TBrokerLink() {
  Stop(0);
}

void TBrokerLink::Start() {
  if (Running()) return;
  readTicket_ = network_.RegisterRead.Add([this](const TCustomRegister& reg) { PublishRead(reg); });
  archiveTicket_ = network_.ReportArchived.Add(
      [this](const TRootNode& report, const QString& name) { PublishArchive(report, name); });
  writer_->Open();
  session_->Start();
  SweepRetained();
  sweep_->start();
}

void TBrokerLink::Stop(int waitMs) {
  if (!Running()) return;
  network_.RegisterRead.Remove(readTicket_);
  network_.ReportArchived.Remove(archiveTicket_);
  sweep_->stop();
  // Closed before the session's last news, which would serve them, and after what it heard meanwhile.
  writer_->Close();
  session_->Stop(waitMs);
  writer_->Close();
}

void TBrokerLink::PublishRead(const TCustomRegister& reg) {
  TOutgoing m;
  m.Retain = true;
  m.IsRead = true;
  m.Read = ReadOf(reg, instants_);
  Push(std::move(m));
  roster_.NoteValue(reg.Name());
}

void TBrokerLink::PublishArchive(const TRootNode& report, const QString& archiveName) {
  TOutgoing m;
  m.Topic = ArchiveTopic(root_, archiveName);
  m.Payload = ArchivePayload(report, archiveName, instants_);
  Push(std::move(m));
}

void TBrokerLink::PublishAlarmEvent(const TAlarmEvent& event) {
  TOutgoing m;
  m.Topic = AlarmsTopic(root_);
  m.Payload = AlarmPayload(event, instants_);
  Push(std::move(m));
}

void TBrokerLink::SweepRetained() {
  for (TOutgoing& m : roster_.Update(network_)) Push(std::move(m));
}

void TBrokerLink::ClearRetained() {
  std::vector<QByteArray> topics;
  {
    const std::lock_guard lock(retainedMutex_);
    topics.swap(retained_);
  }
  if (topics.empty()) return;
  SweepRetained();  // the roster as the network is now
  for (TOutgoing& m : roster_.Stale(topics)) Push(std::move(m));
}

int TBrokerLink::JoinAlarms(TAlarmMonitor& alarms) {
  return vexa::JoinAlarms(*this, alarms);
}

}  // namespace vexa
