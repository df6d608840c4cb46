#include "storage/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>

#include "core/FileDescriptor.h"

namespace vexa {

namespace {

Q_LOGGING_CATEGORY(lcAtomicFile, "vexa.storage.compound", QtWarningMsg)

// Of a temporary named without its maker's process (as earlier versions made them) before a sweep
// takes it for a killed save's.
constexpr int kStaleTempSeconds = 60;
// The slack between a temporary's time stamp and its maker's start: a process that started later
// than this after the temporary was last written cannot have made it (its number was reused).
constexpr qint64 kStartSlackSeconds = 60;

void SetError(QString* error, const QString& text) {
  if (error) *error = text;
}

QString ErrnoText(int error, const QString& what, const QString& path) {
  return QStringLiteral("%1 '%2': %3").arg(what, path, SystemErrorText(error));
}

std::mutex gFaultMutex;
TFileFault gFault;

bool Faulted(TFileStep step, const QString& path) {
  const std::lock_guard lock(gFaultMutex);
  if (!gFault) return false;
  const int error = gFault(step, path);
  if (error == 0) return false;
  errno = error;
  return true;
}

struct TTempFile {
  TFileDescriptor Fd;
  QByteArray Path;
};

// Hidden and unique: ".NAME.<pid>-<random>.tmp"; the target's name is kept short enough for the
// folder's name limit, the process number tells a sweep whether its maker still runs.
std::optional<TTempFile> CreateTemp(const QString& folder, const QString& targetName) {
  if (Faulted(TFileStep::CreateTemporary, folder + QLatin1Char('/') + targetName)) return std::nullopt;
  const QString pid = QString::number(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString name = QStringLiteral("%1/.%2.%3-%4.tmp")
                             .arg(folder, targetName.left(64), pid,
                                  QString::number(QRandomGenerator::global()->generate64(), 36));
    QByteArray encoded = QFile::encodeName(name);
    TFileDescriptor fd(::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.Valid()) return TTempFile{std::move(fd), std::move(encoded)};
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

// What a temporary's name says: its target, its maker's process number (0 in the names of
// earlier versions, which had none) and the random part.
struct TTempName {
  QStringView Target;
  qint64 Pid = 0;
  QStringView Random;
};

std::optional<TTempName> ParseTempName(QStringView fileName) {
  const QStringView suffix = u".tmp";
  if (!fileName.startsWith(u'.') || !fileName.endsWith(suffix)) return std::nullopt;
  const QStringView stem = fileName.chopped(suffix.size());
  const qsizetype dot = stem.lastIndexOf(u'.');
  if (dot <= 1) return std::nullopt;  // a target name of at least one character
  TTempName parsed{stem.mid(1, dot - 1), 0, stem.mid(dot + 1)};
  const qsizetype dash = parsed.Random.indexOf(u'-');
  if (dash >= 0) {
    const QStringView pid = parsed.Random.left(dash);
    bool ok = false;
    parsed.Pid = pid.toLongLong(&ok);
    if (!ok || parsed.Pid <= 0 || parsed.Pid > std::numeric_limits<pid_t>::max() ||
        !std::all_of(pid.begin(), pid.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
      return std::nullopt;
    parsed.Random = parsed.Random.mid(dash + 1);
  }
  const QStringView random = parsed.Random;
  if (random.isEmpty() || random.size() > 13 || !std::all_of(random.begin(), random.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z');
      }))
    return std::nullopt;
  return parsed;
}

// When process pid started, in seconds since the epoch, as the system tells (Linux: field 22 of
// /proc/PID/stat, in clock ticks after the boot time of /proc/stat); nothing when it cannot tell.
std::optional<qint64> ProcessStartTime(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray line = stat.readAll();
  const qsizetype nameEnd = line.lastIndexOf(')');  // the program's name may hold spaces
  if (nameEnd < 0) return std::nullopt;
  const QList<QByteArray> fields = line.mid(nameEnd + 1).simplified().split(' ');
  constexpr qsizetype kStartField = 22 - 3;  // fields after the name start at the third
  if (fields.size() <= kStartField) return std::nullopt;
  bool ok = false;
  const qint64 ticks = fields[kStartField].toLongLong(&ok);
  const long perSecond = ::sysconf(_SC_CLK_TCK);
  if (!ok || perSecond <= 0) return std::nullopt;
  QFile system(QStringLiteral("/proc/stat"));
  if (!system.open(QIODevice::ReadOnly)) return std::nullopt;
  for (const QByteArray& entry : system.readAll().split('\n')) {
    if (!entry.startsWith("btime ")) continue;
    const qint64 boot = entry.mid(6).trimmed().toLongLong(&ok);
    if (ok) return boot + ticks / perSecond;
  }
  return std::nullopt;
}

// Whether the process that made a temporary last written at `written` may still be writing it.
bool MakerMayRun(qint64 pid, const QDateTime& written) {
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
  const std::optional<qint64> started = ProcessStartTime(pid);
  // A process that began after the temporary was written has only inherited its number.
  return !started || *started <= written.toSecsSinceEpoch() + kStartSlackSeconds;
}

bool WriteAll(int fd, const char* p, qsizetype left) {
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= n;
  }
  return true;
}

}  // namespace

QString SystemErrorText(int error) {
  switch (error) {
    case ENOSPC:
      return QStringLiteral("на диске нет места");
    case EDQUOT:
      return QStringLiteral("превышена дисковая квота");
    case EFBIG:
      return QStringLiteral("файл больше допустимого");
    case EACCES:
    case EPERM:
      return QStringLiteral("нет прав на запись");
    case EROFS:
      return QStringLiteral("диск доступен только для чтения");
    case ENOENT:
      return QStringLiteral("папка не существует");
    case ENOTDIR:
      return QStringLiteral("на месте папки файл");
    case EISDIR:
      return QStringLiteral("на месте файла папка");
    case EEXIST:
      return QStringLiteral("файл уже существует");
    case EIO:
      return QStringLiteral("ошибка ввода-вывода");
    case ENAMETOOLONG:
      return QStringLiteral("слишком длинное имя");
    default:
      return QStringLiteral("системная ошибка %1 (%2)")
          .arg(error)
          .arg(QString::fromLocal8Bit(std::strerror(error)));
  }
}

bool FileFaulted(TFileStep step, const QString& path) {
  return Faulted(step, path);
}

void SetFileFault(TFileFault fault) {
  const std::lock_guard lock(gFaultMutex);
  gFault = std::move(fault);
}

bool RenameFile(const QString& from, const QString& to, QString* why) {
  const QByteArray source = QFile::encodeName(from);
  const QByteArray target = QFile::encodeName(to);
  struct stat taken {};
  if (::lstat(target.constData(), &taken) == 0) {
    SetError(why, ErrnoText(EEXIST, QStringLiteral("не могу переименовать в"), to));
    return false;
  }
  if (Faulted(TFileStep::Rename, from) || ::rename(source.constData(), target.constData()) != 0) {
    SetError(why, ErrnoText(errno, QStringLiteral("не могу переименовать"), from));
    return false;
  }
  return true;
}

bool IsReplaceTemporary(const QString& fileName, const QString& targetName) {
  const std::optional<TTempName> parsed = ParseTempName(fileName);
  return parsed && (targetName.isEmpty() || parsed->Target == QStringView(targetName).left(64));
}

int RemoveStaleTemporaries(const QString& folder) {
  const QDir dir(folder);
  const QDateTime oldLimit = QDateTime::currentDateTimeUtc().addSecs(-kStaleTempSeconds);
  int removed = 0;
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort)) {
    const std::optional<TTempName> parsed = ParseTempName(name);
    if (!parsed) continue;
    // A name of an earlier version: a random part of fewer characters than it made is someone
    // else's file.
    if (parsed->Pid == 0 && parsed->Random.size() < 10) continue;
    const QString path = dir.filePath(name);
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile()) continue;
    const QDateTime written = info.lastModified().toUTC();
    const bool stale = parsed->Pid != 0 ? !MakerMayRun(parsed->Pid, written) : written < oldLimit;
    if (stale && ::unlink(QFile::encodeName(path).constData()) == 0) ++removed;
  }
  return removed;
}

int RemoveStaleTemporariesOfProgramFolder(const QString& exeDir) {
  return RemoveStaleTemporaries(exeDir + QStringLiteral("/Config")) +
         RemoveStaleTemporaries(exeDir + QStringLiteral("/Archives"));
}

bool ReplaceFileAtomically(const QString& path, const TFileContent& content, QString* why) {
  const QFileInfo info(path);
  QString target = info.absoluteFilePath();
  // Saving through a link updates the file it points at and keeps the link.
  if (info.isSymLink() && !info.canonicalFilePath().isEmpty()) target = info.canonicalFilePath();
  const QFileInfo targetInfo(target);
  if (targetInfo.isDir()) {
    SetError(why, QStringLiteral("на месте файла '%1' папка").arg(target));
    return false;
  }
  const QString folder = targetInfo.absolutePath();
  const QByteArray targetPath = QFile::encodeName(target);

  RemoveStaleTemporaries(folder);
  std::optional<TTempFile> temp = CreateTemp(folder, targetInfo.fileName());
  if (!temp) {
    SetError(why, ErrnoText(errno, QStringLiteral("не могу создать файл рядом с"), target));
    return false;
  }
  auto removeTemp = qScopeGuard([&] { ::unlink(temp->Path.constData()); });
  struct stat old {};
  if (::stat(targetPath.constData(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(temp->Fd.Get(), old.st_mode & 07777);
  if (Faulted(TFileStep::Write, target) || !content(temp->Fd.Get()) || ::fsync(temp->Fd.Get()) != 0 ||
      !temp->Fd.Close()) {
    SetError(why, ErrnoText(errno, QStringLiteral("не могу записать"), target));
    return false;
  }
  if (Faulted(TFileStep::Rename, target) || ::rename(temp->Path.constData(), targetPath.constData()) != 0) {
    SetError(why, ErrnoText(errno, QStringLiteral("не могу заменить"), target));
    return false;
  }
  removeTemp.dismiss();
  // Makes the rename itself durable; some file systems refuse this, and the file is in place.
  const TFileDescriptor dir(
      ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid() && ::fsync(dir.Get()) != 0)
    qCWarning(lcAtomicFile) << "fsync of" << folder << "failed:" << std::strerror(errno);
  return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* why) {
  return ReplaceFileAtomically(
      path,
      [&bytes](int fd) {
        TFdWriter out(fd);
        return out.Put(bytes.constData(), bytes.size()) && out.Flush();
      },
      why);
}

thread_local QByteArray TFdWriter::spare_;

TFdWriter::TFdWriter(int fd) : fd_(fd) {
  buffer_.swap(spare_);
  buffer_.resize(0);
  buffer_.reserve(kCapacity);
}

TFdWriter::~TFdWriter() {
  buffer_.resize(0);
  if (buffer_.capacity() > spare_.capacity()) spare_.swap(buffer_);
}

bool TFdWriter::Put(const char* data, qsizetype size) {
  if (buffer_.size() + size > kCapacity && !Flush()) return false;
  if (size >= kCapacity) return WriteAll(fd_, data, size);
  const qsizetype at = buffer_.size();
  buffer_.resize(at + size);
  if (size > 0) std::memcpy(buffer_.data() + at, data, static_cast<size_t>(size));
  return true;
}

char* TFdWriter::Room(qsizetype size) {
  if (buffer_.size() + size > kCapacity && !Flush()) return nullptr;
  lent_ = buffer_.size();
  buffer_.resize(lent_ + size);
  return buffer_.data() + lent_;
}

bool TFdWriter::Commit(qsizetype size) {
  // The room lent becomes part of what is written; what was not filled of it is given back.
  if (lent_ < 0 || lent_ + size > buffer_.size()) return false;
  buffer_.resize(lent_ + size);
  lent_ = -1;
  return true;
}

bool TFdWriter::Flush() {
  const bool ok = WriteAll(fd_, buffer_.constData(), buffer_.size());
  buffer_.resize(0);
  return ok;
}

}  // namespace vexa
