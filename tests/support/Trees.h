#pragma once
// Network trees as a search leaves them, named by address as the program names them (D001,
// D001C000, D001C000R002), and the alarms watching their registers: one way for every test to
// build them.

#include <QString>

#include "alarms/model/AlarmNode.h"
#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/RootNode.h"

namespace vexa::test {

inline TRootNode& AddRegulatorNode(TRootNode& net, int address, const QString& caption = {}) {
  auto* node = new TRootNode(&net);  // owned by net
  node->SetName(QString::asprintf("D%03d", address));
  if (!caption.isEmpty()) node->SetCaption(caption);
  return *node;
}

inline TRootNode& AddChannelNode(TRootNode& regulator, int channel, const QString& caption = {}) {
  auto* node = new TRootNode(&regulator);  // owned by the regulator
  node->SetName(regulator.Name() + QString::asprintf("C%03d", channel));
  if (!caption.isEmpty()) node->SetCaption(caption);
  return *node;
}

// What a register node starts with; unset fields keep the node's own defaults.
struct TRegisterSpec {
  QString Caption{};
  TRegisterType Type = rtINT;  // the node alone starts as rtUnknown
  bool Enabled = false;        // polled
  bool Writable = false;
  QString Last{};           // a value last read well
  int LoggingInterval = 0;  // seconds; 0 keeps the node's own
};

// Register `number` of a channel made by AddChannelNode (its name gives the address).
inline TRegisterNode& AddRegisterNode(TRootNode& channel, int number, const TRegisterSpec& spec = {}) {
  auto* node = new TRegisterNode(&channel);  // owned by the channel
  node->SetName(channel.Name() + QString::asprintf("R%03d", number));
  if (!spec.Caption.isEmpty()) node->SetCaption(spec.Caption);
  node->SetRegisterType(spec.Type);
  if (spec.Enabled) node->SetEnabled(true);
  if (spec.Writable) node->SetUserCanWRITE(true);
  if (spec.LoggingInterval > 0) node->SetLoggingInterval(spec.LoggingInterval);
  if (!spec.Last.isNull()) {
    node->SetLastIOResult(iorOK);
    node->SetLastStringData(spec.Last);
  }
  return *node;
}

// A high alarm on a register, enabled, as the limits dialog leaves one.
struct THighAlarm {
  double Limit = 50;
  double Deadband = 0;
  int Priority = 1;
};

inline TAlarmNode& AddHighAlarm(TNetwork& network, const QString& registerName,
                                const THighAlarm& alarm = {}) {
  auto* node = new TAlarmNode(network.Alarms().get());  // owned by the alarms' root
  node->SetName(registerName);
  node->SetEnabled(true);
  node->SetHiEnabled(true);
  node->SetHiLimit(alarm.Limit);
  node->SetDeadband(alarm.Deadband);
  node->SetPriority(alarm.Priority);
  return *node;
}

}  // namespace vexa::test
