#pragma once
// The broker's settings: Config/MQTT.ini beside the state files (QSettings, so the state files stay
// as they are), written readable by the owner alone since it holds the broker password.

#include <QString>
#include <QStringList>
#include <optional>

namespace vexa {

inline constexpr int kDefaultQueueBound = 100000;
inline constexpr int kMaxQueueBound = 10000000;
inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttsPort = 8883;
// MQTT strings (client id, user, password, topics) are at most 65535 bytes of UTF-8: the protocol's
// length field, and libmosquitto's bound. A broker must take client ids of 23 bytes; a longer one it
// may refuse, and that refusal is told when it connects.
inline constexpr int kMaxMqttStringBytes = 65535;

// A broker's address as the URL names it: mqtt://host[:port] or mqtts://host[:port].
struct TBrokerAddress {
  QString Host;
  int Port = kMqttPort;
  bool Tls = false;
};
// Null when the text is no such URL (another scheme, no host, a path, a port outside 1..65535).
std::optional<TBrokerAddress> ParseBrokerUrl(const QString& url);

struct TBrokerSettings {
  QString Url;  // empty: no broker
  QString User;
  QString Password;
  QString CaFile;     // PEM; empty: the system's certificates (mqtts only)
  QString TopicRoot;  // empty: vexa/<program folder's name>
  QString ClientId;   // empty: vexa-<host name>-<program folder's name>
  int QueueBound = kDefaultQueueBound;
  bool Writes = false;  // values written from the broker
  // Home Assistant's discovery configs published (MQTT.ini: Discovery=homeassistant).
  bool Discovery = false;
  // What the file held that could not be taken, one text per key ("Ключ ... не подходит"): the field
  // keeps its default, and the settings are not usable until the file is put right.
  QStringList FileProblems;

  bool Enabled() const { return !Url.trimmed().isEmpty(); }
  // Writes from the broker need the broker to know who is writing.
  bool Authenticated() const { return !User.isEmpty(); }
  // What is wrong, the file's problems first, then one text per field in the order of the file;
  // empty when usable.
  QStringList Problems() const;
  // The topic root and client id for a program folder, filled in where left empty.
  QString TopicRootFor(const QString& programFolder) const;
  QString ClientIdFor(const QString& programFolder) const;

  // The fields alone: what the file held wrong is no setting.
  bool operator==(const TBrokerSettings& other) const;
};

// The settings file of a program folder.
QString BrokerSettingsPath(const QString& programFolder);
// Reads the file; a missing file gives the defaults. Every key is checked: an unknown key, a value
// that is no text (a list, @ByteArray, @Variant) or that does not parse is named in FileProblems
// with its key and value, never taken quietly as a default.
TBrokerSettings LoadBrokerSettings(const QString& programFolder);
// Writes the file with mode 0600 (created so before anything is in it). False with the reason when
// it cannot be written.
bool SaveBrokerSettings(const QString& programFolder, const TBrokerSettings& settings,
                        QString* why = nullptr);

}  // namespace vexa
