#include "broker/AlarmHook.h"

#include "broker/BrokerLink.h"
#include "broker/RemoteWrites.h"
#include "alarms/model/AlarmMonitor.h"

namespace vexa {

TAlarmEvent RemoteWriteEvent(const TRemoteWrite& write) {
  // What a client sent is kept, within reason: a journal row, not a message's worth.
  const auto bounded = [](const QString& text) { return text.left(kLongestRemoteText); };
  TAlarmEvent e;
  e.Time = write.Time;
  e.Kind = TAlarmEventKind::RemoteWrite;
  e.Name = bounded(write.Register);
  e.Caption = write.Caption;
  e.Asked = bounded(write.Value);
  e.Who = WriterOf(write);
  e.Outcome = write.Outcome;
  e.Priority = 0;
  return e;
}

int JoinAlarms(TBrokerLink& link, TAlarmMonitor& alarms) {
  link.RemoteWritten = [&alarms](const TRemoteWrite& write) { alarms.Note(RemoteWriteEvent(write)); };
  return alarms.Observe([&link](const TAlarmEvent& event) {
    if (event.IsAlarm()) link.PublishAlarmEvent(event);
  });
}

}  // namespace vexa
