#include "web/WebSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>
#include <cerrno>
#include <cstring>

#include "storage/IniValues.h"

namespace vexa {

namespace {

const QString kGroup = QStringLiteral("Web");
const QString kUsers = QStringLiteral("Users");

QString KeyProblem(const QString& key, const QString& value, const QString& why) {
  return IniKeyProblem(QStringLiteral("WEB.ini"), key, value, why);
}

std::optional<bool> Boolean(const QString& text) {
  const QString word = text.trimmed().toLower();
  if (word == QLatin1String("true") || word == QLatin1String("1")) return true;
  if (word == QLatin1String("false") || word == QLatin1String("0")) return false;
  return std::nullopt;
}

// The file made 0600 before anything secret is in it; QSettings' replacement keeps the mode.
bool MadePrivate(const QString& path, QString* why) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::fchmod(fd, 0600) != 0) {
    if (why) *why = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

bool Synced(QSettings& ini, const QString& path, QString* why) {
  ini.sync();
  if (ini.status() != QSettings::NoError) {
    if (why) *why = QStringLiteral("файл %1 не записывается").arg(path);
    return false;
  }
  return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

}  // namespace

std::optional<TWebAddress> ParseWebAddress(const QString& text) {
  TWebAddress a;
  QString host;
  QString port = text.trimmed();
  if (port.startsWith(QLatin1Char('['))) {
    const qsizetype close = port.indexOf(QLatin1String("]:"));
    if (close < 0) return std::nullopt;
    host = port.mid(1, close - 1);
    port = port.mid(close + 2);
  } else if (const qsizetype colon = port.lastIndexOf(QLatin1Char(':')); colon >= 0) {
    host = port.left(colon);
    port = port.mid(colon + 1);
  }
  bool ok = false;
  a.Port = port.toInt(&ok);
  if (!ok || a.Port < 1 || a.Port > 65535) return std::nullopt;
  if (!host.isEmpty()) {
    if (QHostAddress(host).isNull()) return std::nullopt;  // a numeric address: no lookup on start
    a.Host = host;
  }
  return a;
}

QStringList TWebSettings::Problems() const {
  QStringList problems = FileProblems;
  if (QHostAddress(Address).isNull())
    problems << QStringLiteral("Адрес веб-доступа '%1' не является IP-адресом.").arg(Address);
  if (Port < 1 || Port > 65535) problems << QStringLiteral("Порт веб-доступа должен быть от 1 до 65535.");
  if (CertFile.isEmpty() != KeyFile.isEmpty())
    problems << QStringLiteral("Для HTTPS нужны и сертификат, и ключ.");
  for (const QString& file : {CertFile, KeyFile})
    if (!file.isEmpty() && !QFileInfo(file).isReadable())
      problems << QStringLiteral("Файл %1 не читается.").arg(file);
  return problems;
}

QString WebSettingsPath(const QString& programFolder) {
  return QDir(programFolder).filePath(QStringLiteral("Config/WEB.ini"));
}

TWebSettings LoadWebSettings(const QString& programFolder) {
  TWebSettings s;
  const QString path = WebSettingsPath(programFolder);
  if (!QFileInfo::exists(path)) return s;
  const QHash<QString, QString> raw = RawIniValues(path);
  const QSettings ini(path, QSettings::IniFormat);
  if (ini.status() != QSettings::NoError) {
    s.FileProblems << QStringLiteral("WEB.ini: файл %1 не читается как INI.").arg(path);
    return s;
  }
  const QStringList known{QStringLiteral("Enabled"),  QStringLiteral("Address"),
                          QStringLiteral("Port"),     QStringLiteral("AnonymousView"),
                          QStringLiteral("CertFile"), QStringLiteral("KeyFile"),
                          QStringLiteral("Hosts")};
  s.FileProblems << UnknownIniKeys(ini, QStringLiteral("WEB.ini"), kGroup, known, {kUsers});
  const auto text = [&](const QString& name) -> std::optional<QString> {
    QString why;
    const QString key = kGroup + QLatin1Char('/') + name;
    std::optional<QString> v = IniText(ini, raw, key, &why);
    if (!v) s.FileProblems << KeyProblem(name, raw.value(key), why);
    return v;
  };
  const auto boolean = [&](const QString& name, bool& field) {
    const auto v = text(name);
    if (!v || v->isEmpty()) return;
    if (const auto b = Boolean(*v))
      field = *b;
    else
      s.FileProblems << KeyProblem(name, *v, QStringLiteral("нужно true или false"));
  };
  boolean(QStringLiteral("Enabled"), s.Enabled);
  boolean(QStringLiteral("AnonymousView"), s.AnonymousView);
  if (const auto v = text(QStringLiteral("Address")); v && !v->isEmpty()) {
    if (QHostAddress(v->trimmed()).isNull())
      s.FileProblems << KeyProblem(QStringLiteral("Address"), *v, QStringLiteral("нужен IP-адрес"));
    else
      s.Address = v->trimmed();
  }
  if (const auto v = text(QStringLiteral("Port")); v && !v->isEmpty()) {
    bool ok = false;
    const int port = v->trimmed().toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
      s.Port = port;
    else
      s.FileProblems << KeyProblem(QStringLiteral("Port"), *v,
                                   QStringLiteral("нужно целое число от 1 до 65535"));
  }
  if (const auto v = text(QStringLiteral("CertFile"))) s.CertFile = *v;
  if (const auto v = text(QStringLiteral("Hosts")))
    for (const QString& name : v->split(QLatin1Char(','), Qt::SkipEmptyParts))
      if (!name.trimmed().isEmpty()) s.Hosts << name.trimmed();
  if (const auto v = text(QStringLiteral("KeyFile"))) s.KeyFile = *v;
  return s;
}

bool SaveWebSettings(const QString& programFolder, const TWebSettings& s, QString* why) {
  const QString path = WebSettingsPath(programFolder);
  if (!MadePrivate(path, why)) return false;
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup(kGroup);
  ini.setValue(QStringLiteral("Enabled"), s.Enabled);
  ini.setValue(QStringLiteral("Address"), s.Address);
  ini.setValue(QStringLiteral("Port"), s.Port);
  ini.setValue(QStringLiteral("AnonymousView"), s.AnonymousView);
  ini.setValue(QStringLiteral("CertFile"), s.CertFile);
  ini.setValue(QStringLiteral("KeyFile"), s.KeyFile);
  ini.setValue(QStringLiteral("Hosts"), s.Hosts.join(QStringLiteral(", ")));
  ini.endGroup();
  return Synced(ini, path, why);
}

bool IsWebUserName(const QString& name) {
  static const QRegularExpression kName(QStringLiteral("^[\\w.-]{1,32}$"),
                                        QRegularExpression::UseUnicodePropertiesOption);
  return kName.match(name).hasMatch();
}

std::vector<TWebUser> LoadWebUsers(const QString& programFolder) {
  std::vector<TWebUser> users;
  const QString path = WebSettingsPath(programFolder);
  if (!QFileInfo::exists(path)) return users;
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup(kUsers);
  for (const QString& name : ini.childKeys()) {
    const QVariant v = ini.value(name);
    if (!IsWebUserName(name) || v.typeId() != QMetaType::QString) continue;  // never a login
    users.push_back({name, v.toString()});
  }
  return users;
}

bool SaveWebUser(const QString& programFolder, const TWebUser& user, QString* why) {
  const QString path = WebSettingsPath(programFolder);
  if (!MadePrivate(path, why)) return false;
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup(kUsers);
  ini.setValue(user.Name, user.Hash);
  ini.endGroup();
  return Synced(ini, path, why);
}

}  // namespace vexa
