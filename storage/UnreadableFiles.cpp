#include "storage/UnreadableFiles.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <mutex>

#include "core/Services.h"
#include "storage/AtomicFile.h"

namespace vexa {

namespace {

std::mutex gNotedMutex;
QSet<QString> gNoted;  // absolute paths

QString Key(const QString& path) {
  return QFileInfo(path).absoluteFilePath();
}

}  // namespace

EUnreadableFiles::EUnreadableFiles(std::vector<TUnreadableFile> files)
    : EStreamError(UnreadableFilesText(files)), files_(std::move(files)) {}

void RaiseUnreadable(const QString& path, const QString& reason) {
  {
    const std::lock_guard lock(gNotedMutex);
    gNoted.insert(Key(path));
  }
  throw EUnreadableFiles({{path, reason}});
}

bool NotedUnreadable(const QString& path) {
  const std::lock_guard lock(gNotedMutex);
  return gNoted.contains(Key(path));
}

void ForgetUnreadable(const QString& path) {
  const std::lock_guard lock(gNotedMutex);
  gNoted.remove(Key(path));
}

QString UnreadableAsidePath(const QString& path, double when) {
  const QString base =
      path + QStringLiteral(".unreadable-") + DateTimeToQt(when).toString(QStringLiteral("yyyyMMdd-HHmm"));
  QString aside = base;
  // An earlier aside file of the same minute is kept too.
  for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
    aside = base + QStringLiteral("-%1").arg(n);
  return aside;
}

bool KeepUnreadableAside(const QString& path, QString* aside, QString* why) {
  const QString target = UnreadableAsidePath(path, Now());
  if (!RenameFile(path, target, why)) return false;
  ForgetUnreadable(path);
  if (aside) *aside = target;
  return true;
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
