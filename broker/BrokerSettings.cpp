#include "broker/BrokerSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <cerrno>
#include <cstring>

namespace vexa {

namespace {

const QString kGroup = QStringLiteral("Broker");

bool IsTopicLevelText(const QString& text) {
  return !text.contains(QLatin1Char('+')) && !text.contains(QLatin1Char('#')) && !text.contains(QChar(0));
}

}  // namespace

std::optional<TBrokerAddress> ParseBrokerUrl(const QString& text) {
  static const QRegularExpression url(
      QStringLiteral(R"(^(mqtts?)://([A-Za-z0-9._-]+|\[[0-9A-Fa-f:.]+\])(?::([0-9]{1,5}))?/?$)"));
  const QRegularExpressionMatch m = url.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  TBrokerAddress address;
  address.Tls = m.captured(1) == QLatin1String("mqtts");
  address.Host = m.captured(2);
  if (address.Host.startsWith(QLatin1Char('['))) address.Host = address.Host.mid(1, address.Host.size() - 2);
  address.Port = address.Tls ? kMqttsPort : kMqttPort;
  if (m.hasCaptured(3)) {
    address.Port = m.captured(3).toInt();
    if (address.Port < 1 || address.Port > 65535) return std::nullopt;
  }
  return address;
}

QStringList TBrokerSettings::Problems() const {
  QStringList problems;
  if (Enabled() && !ParseBrokerUrl(Url))
    problems << QStringLiteral(
                    "Адрес брокера '%1' не подходит: нужен mqtt://узел[:порт] или "
                    "mqtts://узел[:порт].")
                    .arg(Url);
  if (!Password.isEmpty() && User.isEmpty())
    problems << QStringLiteral("Пароль задан без имени пользователя.");
  if (!CaFile.isEmpty()) {
    const QFileInfo ca(CaFile);
    if (!ca.isFile() || !ca.isReadable())
      problems << QStringLiteral("Сертификат центра '%1' не найден или не читается.").arg(CaFile);
  }
  if (!TopicRoot.isEmpty() &&
      (!IsTopicLevelText(TopicRoot) || TopicRoot.startsWith(QLatin1Char('/')) ||
       TopicRoot.endsWith(QLatin1Char('/')) || TopicRoot.contains(QLatin1String("//"))))
    problems << QStringLiteral("Корень тем '%1' не подходит: без '+', '#' и пустых уровней.").arg(TopicRoot);
  if (!IsTopicLevelText(ClientId))
    problems << QStringLiteral("Имя клиента '%1' не подходит: без '+' и '#'.").arg(ClientId);
  if (QueueBound < 1 || QueueBound > kMaxQueueBound)
    problems << QStringLiteral("Длина очереди %1 вне пределов 1..%2.").arg(QueueBound).arg(kMaxQueueBound);
  if (Writes && !Authenticated())
    problems << QStringLiteral("Запись из брокера разрешается только с именем пользователя и паролем.");
  return problems;
}

QString TBrokerSettings::TopicRootFor(const QString& programFolder) const {
  if (!TopicRoot.isEmpty()) return TopicRoot;
  QString name = QDir(programFolder).dirName();
  name.replace(QLatin1Char('+'), QLatin1Char('_')).replace(QLatin1Char('#'), QLatin1Char('_'));
  return QStringLiteral("vexa/") + (name.isEmpty() ? QStringLiteral("line") : name);
}

QString TBrokerSettings::ClientIdFor(const QString& programFolder) const {
  if (!ClientId.isEmpty()) return ClientId;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = 0;
  return QStringLiteral("vexa-%1-%2").arg(QString::fromLocal8Bit(host), QDir(programFolder).dirName());
}

QString BrokerSettingsPath(const QString& programFolder) {
  return QDir(programFolder).filePath(QStringLiteral("Config/MQTT.ini"));
}

TBrokerSettings LoadBrokerSettings(const QString& programFolder) {
  TBrokerSettings s;
  const QString path = BrokerSettingsPath(programFolder);
  if (!QFileInfo::exists(path)) return s;
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup(kGroup);
  s.Url = ini.value(QStringLiteral("Url")).toString();
  s.User = ini.value(QStringLiteral("User")).toString();
  s.Password = ini.value(QStringLiteral("Password")).toString();
  s.CaFile = ini.value(QStringLiteral("CaFile")).toString();
  s.TopicRoot = ini.value(QStringLiteral("TopicRoot")).toString();
  s.ClientId = ini.value(QStringLiteral("ClientId")).toString();
  bool ok = false;
  const int bound = ini.value(QStringLiteral("QueueBound"), kDefaultQueueBound).toInt(&ok);
  s.QueueBound = ok ? bound : kDefaultQueueBound;
  const QString writes = ini.value(QStringLiteral("Writes")).toString().toLower();
  s.Writes = writes == QLatin1String("true") || writes == QLatin1String("1");
  return s;
}

bool SaveBrokerSettings(const QString& programFolder, const TBrokerSettings& s, QString* why) {
  const QString path = BrokerSettingsPath(programFolder);
  QDir().mkpath(QFileInfo(path).absolutePath());
  // Made 0600 before the password is in it; QSettings' replacement keeps the file's mode.
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (why) *why = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  const bool owned = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  if (!owned) {
    if (why) *why = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup(kGroup);
  ini.setValue(QStringLiteral("Url"), s.Url);
  ini.setValue(QStringLiteral("User"), s.User);
  ini.setValue(QStringLiteral("Password"), s.Password);
  ini.setValue(QStringLiteral("CaFile"), s.CaFile);
  ini.setValue(QStringLiteral("TopicRoot"), s.TopicRoot);
  ini.setValue(QStringLiteral("ClientId"), s.ClientId);
  ini.setValue(QStringLiteral("QueueBound"), s.QueueBound);
  ini.setValue(QStringLiteral("Writes"), s.Writes);
  ini.endGroup();
  ini.sync();
  if (ini.status() != QSettings::NoError) {
    if (why) *why = QStringLiteral("the file cannot be written");
    return false;
  }
  // Whatever the replacement did, the file ends readable by its owner alone.
  return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

}  // namespace vexa
