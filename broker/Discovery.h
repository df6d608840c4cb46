#pragma once
// What the link leaves retained on the broker for each register, and Home Assistant's discovery.
//
// With discovery on (MQTT.ini's Discovery=homeassistant), each enabled register has one retained
// config under homeassistant/<component>/<node>/<object>/config: a sensor, or a number or switch
// where writes are allowed and the register may be written, its device the register's regulator.
// A register that leaves the network (a search, an edit, switched off) gets an empty retained
// message on its value topic and on its config, so no stale value or entity lives on the broker.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <vector>

#include "broker/Messages.h"

namespace vexa {

class TNetwork;

inline constexpr char kDiscoveryPrefix[] = "homeassistant";

// The symbol Home Assistant knows for a unit written in Russian (бар: bar, м³/ч or м3/ч: m³/h);
// the text itself where there is none.
QString UnitSymbol(const QString& units);
// An id Home Assistant takes (letters, digits, '_', '-'); a text that had others keeps a short
// hash of itself, so that two roots do not meet in one id.
QByteArray DiscoveryId(const QString& text);

struct TDiscoveryConfig {
  QByteArray Topic;
  QByteArray Payload;
};
// The subscriptions that hear what the broker retains of a root's values and discovery configs.
std::vector<QByteArray> RetainedGlances(const QByteArray& root);

// The config of one register under the root; `writes`: writes from the broker are allowed.
TDiscoveryConfig DiscoveryConfigOf(const TCustomRegister& reg, const QByteArray& root, bool writes);

class TRetainedRoster {
 public:
  TRetainedRoster(QByteArray root, bool discovery, bool writes);
  // Main thread: a value published retained.
  void NoteValue(const QString& registerName);
  // The messages that bring the broker in line with the network as it is now: configs new or
  // changed, and the empty retained messages of registers gone.
  std::vector<TOutgoing> Update(TNetwork& network);
  // Of topics the broker retains (values and configs under this root), the empty retained messages
  // of those no register stands for now (as of the last Update).
  std::vector<TOutgoing> Stale(const std::vector<QByteArray>& topics) const;

 private:
  struct TEntry {
    bool Value = false;  // a value was published
    QByteArray ConfigTopic, Config;
    bool Present = false;
  };
  QByteArray root_;
  bool discovery_;
  bool writes_;
  QHash<QString, TEntry> entries_;
};

}  // namespace vexa
