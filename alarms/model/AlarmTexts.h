#pragma once
// What the alarm window and the labels show of the alarms, in the operator's words: conditions,
// states, events and priorities, a row of the active list or the journal, the journal exported as
// tab-separated text, and the colours of the priorities.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "alarms/model/AlarmModel.h"

namespace vexa {

struct TActiveAlarm;
struct TShelvedAlarm;

QString ConditionText(TAlarmCondition condition);
QString StateText(TAlarmState state);
QString EventText(TAlarmEventKind kind);
// A write asked from outside and what came of it (an OutcomeWord; another is shown as it is).
QString RemoteWriteText(const QString& outcome);
// A value as the lists show it: "" for none (a communication alarm, a failed read).
QString AlarmValueText(double value);
// The colour of a priority (1 the most urgent) as 0xAARRGGBB: red, orange, blue.
uint32_t PriorityColour(int priority);

// The full name of a register or regulator as the lists show it: the captions from its regulator
// down, then its name in brackets; the name alone when the tree does not hold it.
QString AlarmFullName(const QString& caption, const QString& name);
// A register as the active list names it: its regulator's and channel's captions, then its own (its
// name when it has none), " / " between.
QString AlarmPlacedName(const QString& place, const QString& caption, const QString& name);
// Who acted, in the operator's words: the program's own word shown in Russian, others as stored.
QString WhoText(const QString& who);

// The active list's columns and one row.
QStringList ActiveAlarmHeaders();
QStringList ActiveAlarmRow(const TActiveAlarm& alarm);
// The list of shelved alarms: its columns and one row, with the time left.
QStringList ShelvedAlarmHeaders();
QStringList ShelvedAlarmRow(const TShelvedAlarm& alarm);
// A time left as "м:сс", or "ч:мм:сс" from an hour on.
QString TimeLeftText(int seconds);

// The journal's columns and one row; a write's row has no condition or priority, its event says
// what came of it, its value is the one asked for and its "who" the writer.
QStringList JournalHeaders();
QStringList JournalRow(const TAlarmEvent& event);

// The journal's events as the archive exports are written: a header line, one line per event,
// tab-separated, CR LF, in CP1251.
QByteArray JournalExportText(const std::vector<TAlarmEvent>& events);

}  // namespace vexa
