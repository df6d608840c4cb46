#pragma once
// The broker and the alarms: the alarms' transitions go out on the alarms topic, and each write
// asked through the broker becomes a row of the alarm journal.

#include "alarms/model/AlarmModel.h"

namespace vexa {

class TAlarmMonitor;
class TBrokerLink;
struct TRemoteWrite;

// A write as the alarm journal keeps it: the writer or kWhoBroker, the texts the message chose
// bounded.
TAlarmEvent RemoteWriteEvent(const TRemoteWrite& write);

// Joins the link to the alarms; the ticket of its observer, for the alarms' Forget before the link
// goes. The journal's rows of writes are not published again: the link tells them itself.
int JoinAlarms(TBrokerLink& link, TAlarmMonitor& alarms);

}  // namespace vexa
