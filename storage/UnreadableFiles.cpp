#include "storage/UnreadableFiles.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <mutex>

#include "core/Services.h"
#include "storage/AtomicFile.h"

namespace vexa {

namespace {

enum class TNote { Unreadable, Ours };

std::mutex gNotedMutex;
QHash<QString, TNote> gNoted;  // by absolute path

QString Key(const QString& path) {
  return QFileInfo(path).absoluteFilePath();
}

void Note(const QString& path, TNote note) {
  const std::lock_guard lock(gNotedMutex);
  gNoted.insert(Key(path), note);
}

bool Noted(const QString& path, TNote note) {
  const std::lock_guard lock(gNotedMutex);
  const auto it = gNoted.constFind(Key(path));
  return it != gNoted.constEnd() && *it == note;
}

}  // namespace

EUnreadableFiles::EUnreadableFiles(std::vector<TUnreadableFile> files)
    : EStreamError(UnreadableFilesText(files)), files_(std::move(files)) {}

void RaiseUnreadable(const QString& path, const QString& reason) {
  NoteUnreadable(path);
  throw EUnreadableFiles({{path, reason}});
}

void NoteUnreadable(const QString& path) {
  Note(path, TNote::Unreadable);
}

bool NotedUnreadable(const QString& path) {
  return Noted(path, TNote::Unreadable);
}

void ForgetUnreadable(const QString& path) {
  const std::lock_guard lock(gNotedMutex);
  const auto it = gNoted.find(Key(path));
  if (it != gNoted.end() && *it == TNote::Unreadable) gNoted.erase(it);
}

void NoteOurs(const QString& path) {
  Note(path, TNote::Ours);
}

bool NotedOurs(const QString& path) {
  return Noted(path, TNote::Ours);
}

void ForgetOurs(const QString& path) {
  const std::lock_guard lock(gNotedMutex);
  const auto it = gNoted.find(Key(path));
  if (it != gNoted.end() && *it == TNote::Ours) gNoted.erase(it);
}

QString AsidePath(const QString& path, TAside why, double when) {
  const QString base =
      path + (why == TAside::Unreadable ? QStringLiteral(".unreadable-") : QStringLiteral(".replaced-")) +
      DateTimeToQt(when).toString(QStringLiteral("yyyyMMdd-HHmm"));
  QString aside = base;
  // An earlier aside file of the same minute is kept too.
  for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
    aside = base + QStringLiteral("-%1").arg(n);
  return aside;
}

QString UnreadableAsidePath(const QString& path, double when) {
  return AsidePath(path, TAside::Unreadable, when);
}

bool KeepAside(const QString& path, TAside reason, QString* aside, QString* why) {
  const QString target = AsidePath(path, reason, Now());
  if (!RenameFile(path, target, why)) return false;
  const std::lock_guard lock(gNotedMutex);
  gNoted.remove(Key(path));
  if (aside) *aside = target;
  return true;
}

bool KeepUnreadableAside(const QString& path, QString* aside, QString* why) {
  return KeepAside(path, TAside::Unreadable, aside, why);
}

QString UnreadableFilesText(const std::vector<TUnreadableFile>& files) {
  QStringList lines;
  for (const TUnreadableFile& f : files) lines << f.Path + QStringLiteral(": ") + f.Reason;
  return lines.join(QLatin1Char('\n'));
}

void MergeUnreadable(std::vector<TUnreadableFile>& files, const std::vector<TUnreadableFile>& more) {
  for (const TUnreadableFile& f : more)
    if (std::none_of(files.begin(), files.end(), [&f](const TUnreadableFile& g) { return g.Path == f.Path; }))
      files.push_back(f);
}

}  // namespace vexa
