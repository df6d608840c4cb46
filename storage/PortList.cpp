#include "storage/PortList.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

#include "core/Comm.h"

namespace vexa {

namespace {

constexpr int kPortCount = 8;

bool IsBusyError(int code) {
  return code == EBUSY || code == EACCES || code == EPERM || code == EAGAIN || code == EIO;
}

// Opens the device the way the port does, and lets go of it again at once.
TPortState Probe(const QString& devicePath) {
  const QByteArray path = QFile::encodeName(devicePath);
  const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return IsBusyError(errno) ? TPortState::Busy : TPortState::Missing;
  TPortState state = TPortState::Free;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    state = TPortState::Missing;  // a file or folder is no port, whatever its name
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    state = IsBusyError(errno) ? TPortState::Busy : TPortState::Missing;
  } else {
    flock(fd, LOCK_UN);
  }
  ::close(fd);
  return state;
}

}  // namespace

std::vector<TPortEntry> FillPortList(int current) {
  std::vector<TPortEntry> list;
  for (int i = 1; i <= kPortCount; ++i) {
    TPortEntry entry;
    const QString name = QStringLiteral("COM%1").arg(i);
    entry.DevicePath = PortDevicePath(name);
    entry.State = i - 1 == current ? TPortState::Configured : Probe(entry.DevicePath);
    entry.Text = name;
    if (entry.State == TPortState::Busy) entry.Text += QStringLiteral(" (занят)");
    if (entry.State == TPortState::Missing) entry.Text += QStringLiteral(" (не существует)");
    list.push_back(entry);
  }
  return list;
}

}  // namespace vexa
