#include "historian/HistorySettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>
#include <optional>

#include "storage/IniValues.h"

namespace vexa {

namespace {

const QString kGroup = QStringLiteral("History");

QString KeyProblem(const QString& key, const QString& value, const QString& why) {
  return IniKeyProblem(QStringLiteral("HISTORY.ini"), key, value, why);
}

}  // namespace

std::optional<TPgTarget> PgTargetOf(const QString& text, QString* why) {
  const auto no = [why](const QString& reason) {
    *why = reason;
    return std::nullopt;
  };
  const QUrl url(text, QUrl::StrictMode);
  if (!text.startsWith(QLatin1String("postgresql://")) || !url.isValid())
    return no(QStringLiteral("нужно postgresql://пользователь@узел[:порт]/база"));
  if (!url.password().isEmpty())
    return no(QStringLiteral("пароль в адресе не хранится: задайте его в PGPASSWORD или ~/.pgpass"));
  if (url.hasQuery() || url.hasFragment()) return no(QStringLiteral("параметры после ? и # не принимаются"));
  TPgTarget t;
  t.User = url.userName();
  t.Host = url.host();
  t.Port = url.port(5432);
  t.Database = url.path().mid(1);
  if (t.User.isEmpty() || t.Host.isEmpty() || t.Database.isEmpty() || t.Database.contains(QLatin1Char('/')))
    return no(QStringLiteral("нужно postgresql://пользователь@узел[:порт]/база"));
  return t;
}

QString HistorySourceOf(const THistorySettings& settings, const QString& programFolder) {
  return settings.Source.isEmpty() ? QFileInfo(QDir(programFolder).absolutePath()).fileName()
                                   : settings.Source;
}

QStringList THistorySettings::Problems() const {
  QStringList problems = FileProblems;
  if (QString why; Backend == THistoryBackend::Postgresql && !PgTargetOf(Url, &why))
    problems << QStringLiteral("HISTORY.ini: Url = '%1' не подходит: %2.").arg(ShownIniValue(Url), why);
  if (!(Tiers.RawDays <= Tiers.MinuteDays && Tiers.MinuteDays <= Tiers.HourDays))
    problems << QStringLiteral("HISTORY.ini: сроки должны идти по порядку: RawDays ≤ MinuteDays ≤ HourDays.");
  return problems;
}

QString HistorySettingsPath(const QString& programFolder) {
  return QDir(programFolder).filePath(QStringLiteral("Config/HISTORY.ini"));
}

THistorySettings LoadHistorySettings(const QString& programFolder) {
  THistorySettings s;
  const QString path = HistorySettingsPath(programFolder);
  if (!QFileInfo::exists(path)) return s;
  const QHash<QString, QString> raw = RawIniValues(path);
  QSettings ini(path, QSettings::IniFormat);
  if (ini.status() != QSettings::NoError) {
    s.FileProblems << QStringLiteral("HISTORY.ini: файл %1 не читается как INI.").arg(path);
    return s;
  }
  const QStringList known{QStringLiteral("Enabled"), QStringLiteral("Backend"), QStringLiteral("Url"),
                          QStringLiteral("Source"),  QStringLiteral("RawDays"), QStringLiteral("MinuteDays"),
                          QStringLiteral("HourDays")};
  s.FileProblems << UnknownIniKeys(ini, QStringLiteral("HISTORY.ini"), kGroup, known);
  // A key's trimmed text, empty when absent; null when it is no plain text (the problem noted).
  const auto text = [&](const QString& name) -> std::optional<QString> {
    QString why;
    const QString key = kGroup + QLatin1Char('/') + name;
    std::optional<QString> v = IniText(ini, raw, key, &why);
    if (!v) {
      s.FileProblems << KeyProblem(name, raw.value(key), why);
      return v;
    }
    return v->trimmed();
  };
  if (const auto v = text(QStringLiteral("Enabled")); v && !v->isEmpty()) {
    const QString word = v->toLower();
    if (word == QLatin1String("true") || word == QLatin1String("1"))
      s.Enabled = true;
    else if (word == QLatin1String("false") || word == QLatin1String("0"))
      s.Enabled = false;
    else
      s.FileProblems << KeyProblem(QStringLiteral("Enabled"), *v, QStringLiteral("нужно true или false"));
  }
  if (const auto v = text(QStringLiteral("Backend")); v && !v->isEmpty()) {
    const QString word = v->toLower();
    if (word == QLatin1String("sqlite"))
      s.Backend = THistoryBackend::Sqlite;
    else if (word == QLatin1String("postgresql"))
      s.Backend = THistoryBackend::Postgresql;
    else
      s.FileProblems << KeyProblem(QStringLiteral("Backend"), *v,
                                   QStringLiteral("нужно sqlite или postgresql"));
  }
  if (const auto v = text(QStringLiteral("Url"))) s.Url = *v;
  if (const auto v = text(QStringLiteral("Source")); v && !v->isEmpty()) {
    if (v->size() <= kMaxSourceLength && !v->contains(QLatin1Char('\t')))
      s.Source = *v;
    else
      s.FileProblems << KeyProblem(
          QStringLiteral("Source"), *v,
          QStringLiteral("нужно имя линии не длиннее %1 знаков").arg(kMaxSourceLength));
  }
  const auto days = [&](const QString& name, int& field) {
    const auto v = text(name);
    if (!v || v->isEmpty()) return;
    bool ok = false;
    const int value = v->toInt(&ok);
    if (ok && value >= 1 && value <= kMaxHistoryDays)
      field = value;
    else
      s.FileProblems << KeyProblem(name, *v,
                                   QStringLiteral("нужно целое число дней от 1 до %1").arg(kMaxHistoryDays));
  };
  days(QStringLiteral("RawDays"), s.Tiers.RawDays);
  days(QStringLiteral("MinuteDays"), s.Tiers.MinuteDays);
  days(QStringLiteral("HourDays"), s.Tiers.HourDays);
  return s;
}

bool THistorySettings::SameAs(const THistorySettings& o) const {
  return Enabled == o.Enabled && Backend == o.Backend && Url == o.Url && Tiers.RawDays == o.Tiers.RawDays &&
         Tiers.MinuteDays == o.Tiers.MinuteDays && Tiers.HourDays == o.Tiers.HourDays;
}

TFaults SaveHistorySettings(const QString& programFolder, const THistorySettings& s) {
  const QString path = HistorySettingsPath(programFolder);
  if (!QDir().mkpath(QFileInfo(path).absolutePath()))
    return TFaults(QStringLiteral("Не могу записать %1: нет папки").arg(path));
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup(kGroup);
  ini.setValue(QStringLiteral("Enabled"), s.Enabled ? QStringLiteral("true") : QStringLiteral("false"));
  ini.setValue(QStringLiteral("Backend"), s.Backend == THistoryBackend::Postgresql
                                              ? QStringLiteral("postgresql")
                                              : QStringLiteral("sqlite"));
  if (s.Url.isEmpty())
    ini.remove(QStringLiteral("Url"));
  else
    ini.setValue(QStringLiteral("Url"), s.Url);
  ini.setValue(QStringLiteral("RawDays"), s.Tiers.RawDays);
  ini.setValue(QStringLiteral("MinuteDays"), s.Tiers.MinuteDays);
  ini.setValue(QStringLiteral("HourDays"), s.Tiers.HourDays);
  ini.endGroup();
  ini.sync();
  if (ini.status() != QSettings::NoError) return TFaults(QStringLiteral("Не могу записать %1").arg(path));
  return {};
}

}  // namespace vexa
