#pragma once
// What the settings files in Config/ (MQTT.ini, HISTORY.ini, WEB.ini) share when read: each key's text as
// the file holds it, so that the toolkit's typed values (@ByteArray, @Variant) are refused before
// QSettings decodes them, and a value shown within reason in a message.

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

class QSettings;

namespace vexa {

// "Group/Key" (or "Key" in the general group) to the raw text after '='.
QHash<QString, QString> RawIniValues(const QString& path);
// A value as the operator sees it in a message: the file's text, cut at a hundred characters.
QString ShownIniValue(const QString& text);
// A key's value as text: empty when the file lacks it, null with *why when it is no plain text
// (a typed value, a list made by commas without quotes).
std::optional<QString> IniText(const QSettings& ini, const QHash<QString, QString>& raw, const QString& key,
                               QString* why);
// "FILE: ключ KEY = 'VALUE' не подходит: WHY." for a value the file holds that cannot be taken.
QString IniKeyProblem(const QString& file, const QString& key, const QString& value, const QString& why);
// One problem for each key of the file outside `group`'s `known` ones; keys of `otherGroups` pass.
QStringList UnknownIniKeys(const QSettings& ini, const QString& file, const QString& group,
                           const QStringList& known, const QStringList& otherGroups = {});

}  // namespace vexa
