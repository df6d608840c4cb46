#pragma once
// The broker's messages: what a read, an archived window, an alarm event, a write's outcome and an
// outage's drops look like as JSON. A read is copied on the main thread and formatted on the
// session's thread; the others are formatted where they happen.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace vexa {

class TCustomRegister;
class TRootNode;
class TInstants;
struct TAlarmEvent;
struct TRemoteWrite;

// A register's value in JSON is of one type whatever it reads: a number written with the register's
// decimals (so 35 of a register of one decimal is 35.0, never an integer beside 34.9), true/false
// for a Boolean register, a string for a text register; null when there is none (None: no register).
enum class TValueKind { None, Number, Boolean, Text };
struct TValueType {
  TValueKind Kind = TValueKind::Text;
  int Digits = 0;
};
TValueType ValueTypeOf(const TCustomRegister& reg);
// The value as JSON from the register's text (the operator's decimal separator or a point); null
// when the text is no value of the type.
QByteArray JsonValue(const QString& text, const TValueType& type);
// A Boolean asked from outside: true/false, 1/0, "on"/"off" (any case); null when it is none.
std::optional<bool> BooleanOf(const QString& text);

// The captions that place a register: its channel's and its regulator's (empty where none).
struct TPlace {
  QString Channel, Regulator;
};
TPlace PlaceOf(const TCustomRegister& reg);

// Copies of their own, as UTF-8, for the session's thread (see Detached, broker/Session.h).
struct TRead {
  QByteArray Name, Text, Caption, Channel, Regulator, Units;
  QByteArray Time;   // ISO 8601 in UTC
  QByteArray Value;  // as JSON
  TValueType Type;
  bool Ok = false;
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
// A write's "value" is typed as the register's (as written when written, else as asked, null when
// it is no value of the type); "asked" is the text the message sent.
QByteArray RemoteWritePayload(const TRemoteWrite& write, const TInstants& instants);
// The result published on …/result for a write asked.
QByteArray WriteResultPayload(const TRemoteWrite& write, const QString& isoTime);
QByteArray DroppedPayload(int64_t dropped, int bound);

}  // namespace vexa
