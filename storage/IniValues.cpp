#include "storage/IniValues.h"

#include <QFile>
#include <QSettings>
#include <QVariant>

namespace vexa {

QHash<QString, QString> RawIniValues(const QString& path) {
  QHash<QString, QString> raw;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return raw;
  QString group;
  while (!f.atEnd()) {
    const QString line = QString::fromUtf8(f.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      group = line.mid(1, line.size() - 2);
      continue;
    }
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0 || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))) continue;
    const QString key = line.left(eq).trimmed();
    raw.insert(group.isEmpty() || group == QLatin1String("General") ? key : group + QLatin1Char('/') + key,
               line.mid(eq + 1).trimmed());
  }
  return raw;
}

QString ShownIniValue(const QString& text) {
  constexpr int kShown = 100;
  return text.size() > kShown ? text.left(kShown) + QStringLiteral("…") : text;
}

std::optional<QString> IniText(const QSettings& ini, const QHash<QString, QString>& raw, const QString& key,
                               QString* why) {
  if (!ini.contains(key)) return QString();
  const QString rawText = raw.value(key);
  if (rawText.startsWith(QLatin1Char('@')) && !rawText.startsWith(QLatin1String("@@"))) {
    *why = QStringLiteral("нужен текст, а не значение @-типа");
    return std::nullopt;
  }
  const QVariant v = ini.value(key);
  // From the file a value is text; a file this process wrote may still be held typed.
  const int type = v.typeId();
  const bool plain = type == QMetaType::QString || type == QMetaType::Int || type == QMetaType::LongLong ||
                     type == QMetaType::Bool || type == QMetaType::Double;
  if (!plain) {
    *why = QStringLiteral("нужен текст (запятые в кавычках)");
    return std::nullopt;
  }
  return v.toString();
}

QString IniKeyProblem(const QString& file, const QString& key, const QString& value, const QString& why) {
  return QStringLiteral("%1: ключ %2 = '%3' не подходит: %4.").arg(file, key, ShownIniValue(value), why);
}

QStringList UnknownIniKeys(const QSettings& ini, const QString& file, const QString& group,
                           const QStringList& known, const QStringList& otherGroups) {
  QStringList problems;
  for (const QString& key : ini.allKeys()) {
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    const QString keyGroup = slash < 0 ? QString() : key.left(slash);
    if (otherGroups.contains(keyGroup)) continue;
    if (keyGroup != group || !known.contains(key.mid(slash + 1)))
      problems << QStringLiteral("%1: неизвестный ключ %2.").arg(file, ShownIniValue(key));
  }
  return problems;
}

}  // namespace vexa
