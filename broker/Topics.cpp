#include "broker/Topics.h"

#include <mosquitto.h>

#include <string>

#include "broker/BrokerSettings.h"

namespace vexa {

QByteArray TopicLevel(const QString& name) {
  // By code points: libmosquitto refuses the non-characters beyond the first plane too.
  std::u32string points = name.toStdU32String();
  for (char32_t& c : points) {
    const bool wildcard = c == '#' || c == '+' || c == '/';
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    const bool nonCharacter = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
    if (wildcard || control || nonCharacter) c = '_';
  }
  if (points.empty()) return QByteArrayLiteral("_");
  QByteArray bytes = QString::fromStdU32String(points).toUtf8();
  if (bytes.size() <= kMaxLevelBytes) return bytes;
  int cut = kMaxLevelBytes;
  // Back to the first byte of a character: continuation bytes are 10xxxxxx.
  while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
  bytes.truncate(cut);
  return bytes;
}

bool IsPublishableTopic(const QByteArray& topic) {
  if (topic.isEmpty() || topic.size() > kMaxMqttStringBytes) return false;
  const int size = static_cast<int>(topic.size());
  return mosquitto_validate_utf8(topic.constData(), size) == MOSQ_ERR_SUCCESS &&
         mosquitto_pub_topic_check2(topic.constData(), static_cast<size_t>(size)) == MOSQ_ERR_SUCCESS;
}

QByteArray ValueTopic(const QByteArray& root, const QString& registerName) {
  return root + '/' + TopicLevel(registerName);
}

QByteArray ResultTopic(const QByteArray& root, const QByteArray& level) {
  return root + '/' + level + "/result";
}

QByteArray WritesSubscription(const QByteArray& root) {
  return root + "/+/set";
}

QByteArray LevelOfWriteTopic(const QByteArray& root, const QByteArray& topic) {
  const QByteArray prefix = root + '/';
  if (!topic.startsWith(prefix) || !topic.endsWith("/set")) return {};
  const QByteArray level = topic.mid(prefix.size(), topic.size() - prefix.size() - 4);
  return level.contains('/') ? QByteArray() : level;
}

QByteArray StatusTopic(const QByteArray& root) {
  return root + "/service/status";
}

QByteArray DroppedTopic(const QByteArray& root) {
  return root + "/service/dropped";
}

QByteArray AlarmsTopic(const QByteArray& root) {
  return root + "/service/alarms";
}

QByteArray ArchiveTopic(const QByteArray& root, const QString& archiveName) {
  return root + "/service/archives/" + TopicLevel(archiveName);
}

QString TopicRootProblem(const QString& root) {
  const QByteArray bytes = root.toUtf8();
  // The longest levels made from names, and "/<level>/result", still fit in a topic.
  constexpr int kRoom = 2 * kMaxLevelBytes + 16;
  if (bytes.size() > kMaxMqttStringBytes - kRoom)
    return QStringLiteral("Корень тем длиннее %1 байт.").arg(kMaxMqttStringBytes - kRoom);
  if (!IsPublishableTopic(bytes) || root.startsWith(QLatin1Char('/')) || root.endsWith(QLatin1Char('/')) ||
      root.contains(QLatin1String("//")))
    return QStringLiteral("Корень тем '%1' не подходит: без '+', '#' и пустых уровней.").arg(root.left(100));
  return {};
}

}  // namespace vexa
