#include "broker/BrokerSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <cerrno>
#include <cstring>
#include <optional>

#include "broker/Topics.h"
#include "storage/IniValues.h"

namespace vexa {

namespace {

const QString kGroup = QStringLiteral("Broker");

bool IsTopicLevelText(const QString& text) {
  return !text.contains(QLatin1Char('+')) && !text.contains(QLatin1Char('#')) && !text.contains(QChar(0));
}

QString KeyProblem(const QString& key, const QString& value, const QString& why) {
  return IniKeyProblem(QStringLiteral("MQTT.ini"), key, value, why);
}

// A CA file is PEM: at least one certificate block. Read with a bound: a file that size is no CA.
bool IsCertificateFile(const QString& path) {
  constexpr qint64 kLongest = 4 * 1024 * 1024;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || f.size() > kLongest) return false;
  const QByteArray text = f.read(kLongest);
  const qsizetype begin = text.indexOf("-----BEGIN CERTIFICATE-----");
  return begin >= 0 && text.indexOf("-----END CERTIFICATE-----", begin) > begin;
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

bool TBrokerSettings::operator==(const TBrokerSettings& o) const {
  return Url == o.Url && User == o.User && Password == o.Password && CaFile == o.CaFile &&
         TopicRoot == o.TopicRoot && ClientId == o.ClientId && QueueBound == o.QueueBound &&
         Writes == o.Writes && Discovery == o.Discovery;
}

QStringList TBrokerSettings::Problems() const {
  QStringList problems = FileProblems;
  if (Enabled() && !ParseBrokerUrl(Url))
    problems << QStringLiteral(
                    "Адрес брокера '%1' не подходит: нужен mqtt://узел[:порт] или "
                    "mqtts://узел[:порт].")
                    .arg(ShownIniValue(Url));
  if (!Password.isEmpty() && User.isEmpty())
    problems << QStringLiteral("Пароль задан без имени пользователя.");
  if (User.toUtf8().size() > kMaxMqttStringBytes)
    problems << QStringLiteral("Имя пользователя длиннее %1 байт.").arg(kMaxMqttStringBytes);
  if (Password.toUtf8().size() > kMaxMqttStringBytes)
    problems << QStringLiteral("Пароль длиннее %1 байт.").arg(kMaxMqttStringBytes);
  if (!CaFile.isEmpty()) {
    const QFileInfo ca(CaFile);
    if (!ca.isFile() || !ca.isReadable())
      problems
          << QStringLiteral("Сертификат центра '%1' не найден или не читается.").arg(ShownIniValue(CaFile));
    else if (!IsCertificateFile(CaFile))
      problems << QStringLiteral("Файл %1 не является сертификатом (PEM).").arg(ShownIniValue(CaFile));
  }
  if (!TopicRoot.isEmpty())
    if (const QString problem = TopicRootProblem(TopicRoot); !problem.isEmpty()) problems << problem;
  if (!IsTopicLevelText(ClientId))
    problems << QStringLiteral("Имя клиента '%1' не подходит: без '+' и '#'.").arg(ShownIniValue(ClientId));
  else if (ClientId.toUtf8().size() > kMaxMqttStringBytes)
    problems << QStringLiteral("Имя клиента слишком длинное: %1 байт, можно не больше %2.")
                    .arg(ClientId.toUtf8().size())
                    .arg(kMaxMqttStringBytes);
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
  const QHash<QString, QString> raw = RawIniValues(path);
  QSettings ini(path, QSettings::IniFormat);
  if (ini.status() != QSettings::NoError) {
    s.FileProblems << QStringLiteral("MQTT.ini: файл %1 не читается как INI.").arg(path);
    return s;
  }
  const QStringList known{
      QStringLiteral("Url"),        QStringLiteral("User"),      QStringLiteral("Password"),
      QStringLiteral("CaFile"),     QStringLiteral("TopicRoot"), QStringLiteral("ClientId"),
      QStringLiteral("QueueBound"), QStringLiteral("Writes"),    QStringLiteral("Discovery")};
  s.FileProblems << UnknownIniKeys(ini, QStringLiteral("MQTT.ini"), kGroup, known);
  // The text of a key, or null when it has none fit to take (the problem is noted).
  const auto text = [&](const QString& name) -> std::optional<QString> {
    QString why;
    const QString key = kGroup + QLatin1Char('/') + name;
    std::optional<QString> v = IniText(ini, raw, key, &why);
    if (!v) s.FileProblems << KeyProblem(name, raw.value(key), why);
    return v;
  };
  const auto take = [&](const QString& name, QString& field) {
    if (const auto v = text(name)) field = *v;
  };
  take(QStringLiteral("Url"), s.Url);
  take(QStringLiteral("User"), s.User);
  take(QStringLiteral("Password"), s.Password);
  take(QStringLiteral("CaFile"), s.CaFile);
  take(QStringLiteral("TopicRoot"), s.TopicRoot);
  take(QStringLiteral("ClientId"), s.ClientId);
  if (const auto bound = text(QStringLiteral("QueueBound")); bound && !bound->isEmpty()) {
    bool ok = false;
    const int value = bound->trimmed().toInt(&ok);
    if (ok && value >= 1 && value <= kMaxQueueBound)
      s.QueueBound = value;
    else
      s.FileProblems << KeyProblem(QStringLiteral("QueueBound"), *bound,
                                   QStringLiteral("нужно целое число от 1 до %1").arg(kMaxQueueBound));
  }
  if (const auto writes = text(QStringLiteral("Writes")); writes && !writes->isEmpty()) {
    const QString word = writes->trimmed().toLower();
    if (word == QLatin1String("true") || word == QLatin1String("1"))
      s.Writes = true;
    else if (word == QLatin1String("false") || word == QLatin1String("0"))
      s.Writes = false;
    else
      s.FileProblems << KeyProblem(QStringLiteral("Writes"), *writes, QStringLiteral("нужно true или false"));
  }
  if (const auto discovery = text(QStringLiteral("Discovery")); discovery && !discovery->isEmpty()) {
    const QString word = discovery->trimmed().toLower();
    if (word == QLatin1String("homeassistant"))
      s.Discovery = true;
    else if (word == QLatin1String("none"))
      s.Discovery = false;
    else
      s.FileProblems << KeyProblem(QStringLiteral("Discovery"), *discovery,
                                   QStringLiteral("нужно homeassistant или none"));
  }
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
  ini.setValue(QStringLiteral("Discovery"),
               s.Discovery ? QStringLiteral("homeassistant") : QStringLiteral("none"));
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
