#include "storage/DatabaseFiles.h"

#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>

namespace vexa {

namespace {

// SQLite's primary result codes that tell what to do.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteIoErr = 10;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADb = 26;

}  // namespace

TJournalTrouble SqliteTrouble(int nativeCode) {
  switch (nativeCode & 0xff) {
    case kSqliteBusy:
    case kSqliteLocked:
      return TJournalTrouble::Locked;
    case kSqliteFull:
    case kSqliteIoErr:
      return TJournalTrouble::Full;
    case kSqliteCorrupt:
    case kSqliteNotADb:
      return TJournalTrouble::Damaged;
    default:
      return TJournalTrouble::Failed;
  }
}

QString TroubleWords(TJournalTrouble trouble, const QString& otherwise) {
  switch (trouble) {
    case TJournalTrouble::Locked:
      return QStringLiteral("занят другой программой");
    case TJournalTrouble::Full:
      return QStringLiteral("не записывается (диск полон или ошибка записи)");
    case TJournalTrouble::Damaged:
      return QStringLiteral("повреждён");
    default:
      return otherwise;
  }
}

QString NextConnectionName(const char* prefix) {
  static std::atomic<int> next{0};
  return QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(next++);
}

QString SetDatabaseAside(const QString& path, QString* why) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString aside = path + QStringLiteral(".damaged-") + stamp;
  for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
    aside = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
  if (!QDir().rename(path, aside)) {
    if (why != nullptr) *why = QStringLiteral("не переименовать %1 в %2").arg(path, aside);
    return {};
  }
  // The log and the index belong to the damaged file: a fresh database must not read them.
  for (const char* tail : {"-wal", "-shm", "-journal"})
    if (QFileInfo::exists(path + QLatin1String(tail))) {
      if (!QFile::rename(path + QLatin1String(tail), aside + QLatin1String(tail)))
        QFile::remove(path + QLatin1String(tail));
    }
  return aside;
}

bool AppendSynced(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
  const qint64 before = file.size();
  if (file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0) {
    file.resize(before);
    return false;
  }
  return true;
}

}  // namespace vexa
