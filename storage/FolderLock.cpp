#include "storage/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <optional>

#include "storage/AtomicFile.h"

namespace vexa {

namespace {

// Hidden in the program folder, beside Config/ and Archives/.
constexpr char kLockFileName[] = ".vexa.lock";
// How long a refused writer waits for a holder that has just taken the lock to say who it is.
constexpr int kDescriptionWaitMs = 500;

// Three lines: the process number, the program, the computer.
QByteArray Description(const QString& program) {
  return QStringLiteral("%1\n%2\n%3\n").arg(::getpid()).arg(program, QSysInfo::machineHostName()).toUtf8();
}

// The holder the lock file names; nothing while it names nobody yet, or a process of this computer
// that has ended (it left its lines to the one now rewriting them).
std::optional<TFolderHolder> ReadHolder(int fd) {
  char buffer[1024];
  const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
  if (n <= 0) return std::nullopt;
  const QList<QByteArray> lines = QByteArray(buffer, n).split('\n');
  if (lines.size() < 4) return std::nullopt;  // the last line not yet ended
  bool ok = false;
  const qint64 pid = lines[0].toLongLong(&ok);
  if (!ok || pid <= 0) return std::nullopt;
  TFolderHolder holder{QString::fromUtf8(lines[1]), pid, QString::fromUtf8(lines[2])};
  if (holder.Host == QSysInfo::machineHostName() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
    return std::nullopt;
  return holder;
}

QString ErrorText(int error) {
  if (error == ENOLCK || error == EOPNOTSUPP) return QStringLiteral("система не запирает файлы в этой папке");
  return SystemErrorText(error);
}

}  // namespace

QString TFolderLock::LockFilePath(const QString& folder) {
  return folder + QLatin1Char('/') + QLatin1String(kLockFileName);
}

TFolderLock::TOutcome TFolderLock::Take(const QString& folder, const QString& program) {
  Release();
  holder_ = {};
  why_.clear();
  const QString path = LockFilePath(folder);
  const QByteArray encoded = QFile::encodeName(path);
  // A link in its place is nobody's lock file: never followed.
  const auto open = [&](int flags) {
    return FileFaulted(TFileStep::OpenLock, path) ? -1 : ::open(encoded.constData(), flags, 0666);
  };
  TFileDescriptor file(open(O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW));
  const bool writable = file.Valid();
  // Another user's lock file, or a folder that cannot be written: the lock works all the same.
  if (!file.Valid() && (errno == EACCES || errno == EPERM || errno == EROFS))
    file.Reset(open(O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file.Valid()) {
    why_ = QStringLiteral("не могу открыть '%1': %2").arg(path, ErrorText(errno));
    return TOutcome::Unavailable;
  }
  // Only a regular file is a lock: a folder in its place (opened read-only above) or a device
  // would let every writer through.
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    why_ =
        QStringLiteral("не могу открыть '%1': %2")
            .arg(path, S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : QStringLiteral("это не обычный файл"));
    return TOutcome::Unavailable;
  }
  const QDeadlineTimer deadline(kDescriptionWaitMs);
  while (FileFaulted(TFileStep::Lock, path) || ::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      why_ = QStringLiteral("не могу запереть '%1': %2").arg(path, ErrorText(errno));
      return TOutcome::Unavailable;
    }
    if (const std::optional<TFolderHolder> holder = ReadHolder(file.Get())) {
      holder_ = *holder;
      return TOutcome::Busy;
    }
    if (deadline.hasExpired()) return TOutcome::Busy;  // a holder that does not say who it is
    QThread::msleep(10);
  }
  if (writable) {
    const QByteArray lines = Description(program);
    written_ = ::ftruncate(file.Get(), 0) == 0 &&
               ::pwrite(file.Get(), lines.constData(), static_cast<size_t>(lines.size()), 0) == lines.size();
  }
  holder_ = {program, ::getpid(), QSysInfo::machineHostName()};
  fd_ = std::move(file);
  return TOutcome::Taken;
}

void TFolderLock::Release() {
  if (!fd_.Valid()) return;
  // Cleared while still held, so nobody reads this holder after it has gone; should that fail, a
  // later reader finds this process ended and disregards the lines.
  if (written_) {
    [[maybe_unused]] const int cleared = ::ftruncate(fd_.Get(), 0);
  }
  written_ = false;
  fd_.Reset();
}

std::optional<QString> ProgramFolderOf(const QString& file) {
  const QFileInfo info(file);
  const QFileInfo folder(info.absolutePath());
  if (folder.fileName() != QLatin1String("Config") && folder.fileName() != QLatin1String("Archives"))
    return std::nullopt;
  const QString canonical = folder.canonicalFilePath();
  return QFileInfo(canonical.isEmpty() ? folder.absoluteFilePath() : canonical).absolutePath();
}

QString FolderLockFailedText(const QString& folder, const QString& why) {
  return QStringLiteral("Папку программы %1 не удалось запереть от других программ: %2.").arg(folder, why);
}

QString FolderBusyText(const QString& folder, const TFolderHolder& holder) {
  if (holder.Pid <= 0)
    return QStringLiteral("Папка программы %1 занята: её использует другая программа.").arg(folder);
  QString process = QStringLiteral("процесс %1").arg(holder.Pid);
  if (!holder.Host.isEmpty() && holder.Host != QSysInfo::machineHostName())
    process += QStringLiteral(" на компьютере %1").arg(holder.Host);
  const QString program = holder.Program.isEmpty() ? QStringLiteral("другая программа") : holder.Program;
  return QStringLiteral("Папка программы %1 занята: её использует %2 (%3).").arg(folder, program, process);
}

}  // namespace vexa
