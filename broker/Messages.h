#pragma once
// The broker's messages: what a read, an archived window, an alarm event, a write's outcome and an
// outage's drops look like as JSON. A read is copied on the main thread and formatted on the
// session's thread; the others are formatted where they happen.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace vexa {

class TCustomRegister;
class TRootNode;
class TInstants;
struct TAlarmEvent;
struct TRemoteWrite;

// Copies of their own, as UTF-8, for the session's thread (see Detached, broker/Session.h).
struct TRead {
  QByteArray Name, Text, Caption, Units;
  QByteArray Time;   // ISO 8601 in UTC
  double Value = 0;  // when Numeric
  bool Ok = false;
  bool Numeric = false;
};

struct TOutgoing {
  QByteArray Topic;  // the whole topic; for a read, made from its register's name on the thread
  QByteArray Payload;
  bool Retain = false;
  bool IsRead = false;
  TRead Read;
};

// Main thread: what the message of a read needs, its time told by `instants`.
TRead ReadOf(const TCustomRegister& reg, const TInstants& instants);
// The session's thread: a read's message.
QByteArray ValuePayload(const TRead& read);
QByteArray ArchivePayload(const TRootNode& report, const QString& archiveName, const TInstants& instants);
// An alarm's transition on the alarms topic, and a write asked through the broker beside them.
QByteArray AlarmPayload(const TAlarmEvent& event, const TInstants& instants);
QByteArray RemoteWritePayload(const TRemoteWrite& write, const TInstants& instants);
QByteArray DroppedPayload(int64_t dropped, int bound);

}  // namespace vexa
