#pragma once
// The broker's topics: one rule for every topic level made from a name (a register, an archive)
// and one check for every topic published, the root's check among them.
//
// The rule: '#', '+', '/', NUL and the other control characters and the non-characters (which
// libmosquitto refuses in a topic) in a name become '_', an empty name is "_", and a name longer
// than kMaxLevelBytes of UTF-8 is cut there (on a character's boundary). A topic is published only when
// the check passes: valid UTF-8 without NUL, no wildcards, at most 65535 bytes.

#include <QByteArray>
#include <QString>

namespace vexa {

inline constexpr int kMaxLevelBytes = 1024;

// One topic level for a name, by the rule.
QByteArray TopicLevel(const QString& name);
// Whether libmosquitto takes this topic to publish on.
bool IsPublishableTopic(const QByteArray& topic);
// The topics under a root. A register's value is R/<level>, a write asked R/<level>/set, its outcome
// R/<level>/result; everything else is under R/service/, so that R/+ is the values alone:
// R/service/status ("online", "offline" as the last will), R/service/dropped, R/service/alarms,
// R/service/archives/<level>.
QByteArray ValueTopic(const QByteArray& root, const QString& registerName);
QByteArray ResultTopic(const QByteArray& root, const QByteArray& level);
QByteArray WritesSubscription(const QByteArray& root);
// The level a write's topic names, or empty when the topic is no write under this root.
QByteArray LevelOfWriteTopic(const QByteArray& root, const QByteArray& topic);
QByteArray StatusTopic(const QByteArray& root);
QByteArray DroppedTopic(const QByteArray& root);
QByteArray AlarmsTopic(const QByteArray& root);
QByteArray ArchiveTopic(const QByteArray& root, const QString& archiveName);
// What is wrong with a topic root, in the settings' words; empty when it is usable. Besides the
// topic check: no empty level, and room left under it for the levels made from names.
QString TopicRootProblem(const QString& root);

}  // namespace vexa
