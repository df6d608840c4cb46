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
#include <cstring>
#include <mutex>
#include <optional>

#include "core/FileDescriptor.h"

namespace vexa {

namespace {

Q_LOGGING_CATEGORY(lcAtomicFile, "vexa.storage.compound", QtWarningMsg)

// Of a temporary file beside a target before a later save may take it for a killed save's.
constexpr int kStaleTempSeconds = 60;

void SetError(QString* error, const QString& text) {
  if (error) *error = text;
}

QString ErrnoText(int error, const QString& what, const QString& path) {
  return QStringLiteral("%1 '%2': %3").arg(what, path, SystemErrorText(error));
}

std::mutex gFaultMutex;
TFileFault gFault;

// The injected failure of a step, set as errno; false when the step may run.
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

// Hidden and unique: ".NAME.<random>.tmp"; the target's name is kept short enough for the
// folder's name limit.
std::optional<TTempFile> CreateTemp(const QString& folder, const QString& targetName) {
  if (Faulted(TFileStep::CreateTemporary, folder + QLatin1Char('/') + targetName)) return std::nullopt;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString name =
        QStringLiteral("%1/.%2.%3.tmp")
            .arg(folder, targetName.left(64), QString::number(QRandomGenerator::global()->generate64(), 36));
    QByteArray encoded = QFile::encodeName(name);
    TFileDescriptor fd(::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.Valid()) return TTempFile{std::move(fd), std::move(encoded)};
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
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

// Leftovers of saves of the same target that were killed part-way, as CreateTemp names them.
void RemoveStaleTemps(const QString& folder, const QString& targetName) {
  const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-kStaleTempSeconds);
  const QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (!IsReplaceTemporary(name, targetName)) continue;
    const QString path = dir.filePath(name);
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.lastModified().toUTC() > limit) continue;
    ::unlink(QFile::encodeName(path).constData());
  }
}

}  // namespace

QString SystemErrorText(int error) {
  switch (error) {
    case ENOSPC:
      return QStringLiteral("на диске нет места");
    case EDQUOT:
      return QStringLiteral("превышена дисковая квота");
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
  const QString suffix = QStringLiteral(".tmp");
  if (!fileName.startsWith(QLatin1Char('.')) || !fileName.endsWith(suffix)) return false;
  const QStringView stem = QStringView(fileName).chopped(suffix.size());
  const qsizetype dot = stem.lastIndexOf(QLatin1Char('.'));
  if (dot <= 1) return false;  // a target name of at least one character
  const QStringView target = stem.mid(1, dot - 1);
  const QStringView random = stem.mid(dot + 1);
  if (!targetName.isEmpty() && target != QStringView(targetName).left(64)) return false;
  return !random.isEmpty() && random.size() <= 13 && std::all_of(random.begin(), random.end(), [](QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z');
  });
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
  RemoveStaleTemps(folder, targetInfo.fileName());
  return true;
}

TFdWriter::TFdWriter(int fd) : fd_(fd) {
  buffer_.reserve(kCapacity);
}

bool TFdWriter::Put(const char* data, qsizetype size) {
  if (buffer_.size() + size > kCapacity && !Flush()) return false;
  if (size >= kCapacity) return WriteAll(fd_, data, size);
  buffer_.append(data, size);
  return true;
}

bool TFdWriter::Flush() {
  const bool ok = WriteAll(fd_, buffer_.constData(), buffer_.size());
  buffer_.resize(0);
  return ok;
}

}  // namespace vexa
