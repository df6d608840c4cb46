#include "storage/PortList.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <QFile>
#include <cerrno>

#include "core/Comm.h"
#include "core/FileDescriptor.h"

namespace vexa {

namespace {

constexpr int kPortCount = 8;

bool IsBusyError(int code) {
  return code == EBUSY || code == EACCES || code == EPERM || code == EAGAIN || code == EIO;
}

// Opens the device the way the port does, and lets go of it again at once.
TPortState Probe(const QString& devicePath) {
  const QByteArray path = QFile::encodeName(devicePath);
  const TFileDescriptor fd(::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return IsBusyError(errno) ? TPortState::Busy : TPortState::Missing;
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0 || !S_ISCHR(st.st_mode))
    return TPortState::Missing;  // a file or folder is no port, whatever its name
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
    return IsBusyError(errno) ? TPortState::Busy : TPortState::Missing;
  flock(fd.Get(), LOCK_UN);
  return TPortState::Free;
}

}  // namespace

std::vector<TPortEntry> FillPortList(const QString& folder, int current, bool currentHeld) {
  std::vector<TPortEntry> list;
  for (int i = 1; i <= kPortCount; ++i) {
    TPortEntry entry;
    const QString name = QStringLiteral("COM%1").arg(i);
    entry.DevicePath = PortDevicePath(name, folder);
    entry.State = i - 1 == current && currentHeld ? TPortState::Configured : Probe(entry.DevicePath);
    entry.Text = name;
    if (entry.State == TPortState::Busy) entry.Text += QStringLiteral(" (занят)");
    if (entry.State == TPortState::Missing) entry.Text += QStringLiteral(" (не существует)");
    list.push_back(entry);
  }
  return list;
}

}  // namespace vexa
