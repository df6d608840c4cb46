#include "core/Comm.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <chrono>
#include <utility>

#include "core/FileDescriptor.h"
#include "core/Services.h"

#if defined(__linux__) && defined(TCGETS2) && \
    (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__))
// The kernel's termios2 (asm-generic layout), which carries any speed as a number; glibc's own
// termios cannot express speeds without a B constant. Kept at global scope because the TCGETS2 and
// TCSETS2 request codes name `struct termios2`.
struct termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
#define VEXA_HAVE_TERMIOS2 1
#endif

namespace vexa {

namespace {

constexpr tcflag_t kBother = 0010000;  // speed given in c_ispeed/c_ospeed

[[noreturn]] void Fail(const char* text, int code) {
  throw ECommError(QString::fromLatin1(text), code);
}

speed_t StandardSpeed(int bits) {
  switch (bits) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

// Speeds without a B constant (14400, 56000, 128000, 256000), where the driver takes them.
void SetOtherSpeed([[maybe_unused]] int fd, [[maybe_unused]] int bits) {
#ifdef VEXA_HAVE_TERMIOS2
  struct termios2 t2 {};
  if (ioctl(fd, TCGETS2, &t2) == 0) {
    t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    t2.c_cflag |= kBother;
    t2.c_ispeed = static_cast<speed_t>(bits);
    t2.c_ospeed = static_cast<speed_t>(bits);
    if (ioctl(fd, TCSETS2, &t2) == 0) return;
  }
  Fail("Error updating DataControlBlock", errno);
#else
  Fail("Error updating DataControlBlock", EINVAL);
#endif
}

}  // namespace

QString PortDevicePath(const QString& deviceName, const QString& folder) {
  static const QRegularExpression kCom(QStringLiteral("^COM([1-9][0-9]{0,8})$"),
                                       QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = kCom.match(deviceName);
  if (!m.hasMatch()) return deviceName;
  const int n = m.captured(1).toInt();
  QString entry = QDir(folder).filePath(QStringLiteral("Ports/COM%1").arg(n));
  const QFileInfo info(entry);
  if (info.exists() || info.isSymLink()) return entry;
  return QStringLiteral("/dev/ttyUSB%1").arg(n - 1);
}

namespace {

QString UserName(uid_t uid) {
  if (const passwd* pw = getpwuid(uid)) return QString::fromLocal8Bit(pw->pw_name);
  return QString::number(uid);
}

QString GroupName(gid_t gid) {
  if (const group* gr = getgrgid(gid)) return QString::fromLocal8Bit(gr->gr_name);
  return QString::number(gid);
}

// The mode column of `ls -l`: "crw-rw----".
QString ModeText(mode_t mode) {
  QString text = S_ISCHR(mode)   ? QStringLiteral("c")
                 : S_ISDIR(mode) ? QStringLiteral("d")
                                 : QStringLiteral("-");
  static const char kLetters[] = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) text += (mode & (0400 >> i)) ? QLatin1Char(kLetters[i]) : QLatin1Char('-');
  return text;
}

}  // namespace

QString PortAccessDeniedText(const QString& devicePath) {
  const QString head = QStringLiteral("Нет прав на порт %1").arg(devicePath);
  const QString relogin = QStringLiteral(" и войдите в систему заново.");
  struct stat st {};
  if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0)
    return head +
           QStringLiteral(
               ". Добавьте пользователя в группу, которой принадлежит устройство "
               "(её показывает ls -l %1),")
               .arg(devicePath) +
           relogin;
  const QString group = GroupName(st.st_gid);
  const QString listing =
      QStringLiteral(" (%1 %2 %3).").arg(ModeText(st.st_mode), UserName(st.st_uid), group);
  // Joining a group the mode does not let in would not help.
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
    return head + listing +
           QStringLiteral(
               " Группа «%1» не может открыть его: попросите администратора дать группе "
               "права на чтение и запись (chmod g+rw %2), добавьте пользователя в эту группу")
               .arg(group, devicePath) +
           relogin;
  return head + listing +
         QStringLiteral(
             " Порт открывают члены группы «%1»: добавьте пользователя в неё командой "
             "«sudo usermod -aG %1 %2»")
             .arg(group, UserName(geteuid())) +
         relogin;
}

TComm::~TComm() {
  TComm::Close();  // this class's own: no subclass is left at destruction
}

void TComm::Open() {
  std::lock_guard guard(lock_);
  if (fd_ >= 0) Fail("Port already assigned (open)", -1);
  OpenDevice();
  lost_ = false;
}

void TComm::OpenDevice() {
  const QByteArray path = QFile::encodeName(PortDevicePath(DeviceName(), folder_));
  // Non-blocking: opening must not wait for a carrier, and reads must return at once. Held until
  // the port is fully set up, so a failure half-way leaves it closed.
  TFileDescriptor fd(::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    const int code = errno;
    if (code == EACCES || code == EPERM)
      throw ECommError(PortAccessDeniedText(QFile::decodeName(path)), code);
    Fail("Error accessing specified device", code);
  }

  struct stat st {};
  if (fstat(fd.Get(), &st) != 0 || !S_ISCHR(st.st_mode)) Fail("Invalid device handle, access denied", -1);

  // TIOCEXCL stops other programs from opening the device afterwards (but not the superuser);
  // flock also catches a program that holds it already. Either way the answer comes at once.
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) Fail("Error accessing specified device", errno);
  if (ioctl(fd.Get(), TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)
    Fail("Error accessing specified device", errno);

  // No read time-out: VMIN = VTIME = 0 with a non-blocking descriptor returns what has arrived.
  termios t{};
  if (tcgetattr(fd.Get(), &t) != 0) Fail("Error updating CommTimeouts", errno);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd.Get(), TCSANOW, &t) != 0) Fail("Error updating CommTimeouts", errno);

  try {
    ApplySettingsTo(fd.Get());
  } catch (...) {
    ioctl(fd.Get(), TIOCNXCL);
    throw;
  }
  fd_ = fd.Release();
}

bool TComm::Connected() const {
  std::lock_guard guard(lock_);
  return fd_ >= 0;
}

void TComm::Close() {
  std::lock_guard guard(lock_);
  CloseDevice();
  lost_ = false;  // closed on purpose: nothing to reopen
}

void TComm::CloseDevice() {
  if (fd_ < 0) return;
  // The exclusive flag outlives the descriptor on a terminal that stays open elsewhere (a
  // pseudo-terminal whose other side is still held), so it is cleared explicitly.
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void TComm::FailLost(const char* text, int code) {
  // Holding on to a hung-up device would only fail again, and it keeps a pseudo-terminal's number
  // from being used by the next one.
  CloseDevice();
  lost_ = true;
  lostCode_ = code;
  lastReopenMs_ = Services().Clock->TickMs();
  Fail(text, code);
}

bool TComm::Lost() const {
  std::lock_guard guard(lock_);
  return lost_;
}

QString TComm::LostReason() const {
  std::lock_guard guard(lock_);
  return lost_ ? PortErrorText(lostCode_) : QString();
}

bool TComm::Reopen() {
  std::lock_guard guard(lock_);
  if (!lost_) return fd_ >= 0;
  const int64_t now = Services().Clock->TickMs();
  if (now - lastReopenMs_ < 1000 && now >= lastReopenMs_) return false;
  lastReopenMs_ = now;
  try {
    OpenDevice();
  } catch (const ECommError&) {
    return false;  // still gone: tried again a second later
  }
  lost_ = false;
  // The lines as the settings left them; a device without them takes nothing.
  for (const auto& [bit, state] : {std::pair{TIOCM_DTR, dtr_}, std::pair{TIOCM_RTS, rts_}}) {
    int b = bit;
    if (state >= 0) ioctl(fd_, state != 0 ? TIOCMBIS : TIOCMBIC, &b);
  }
  return true;
}

int TComm::Write(const uint8_t* buffer, int count) {
  std::lock_guard guard(lock_);
  if (fd_ < 0) Fail("Write error", EBADF);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(WriteTimeout());
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, buffer + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Any other failure of a write means the device is gone (EIO once a terminal hung up).
    if (n < 0 && errno != EAGAIN) FailLost("Write error", errno);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return -1;
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) FailLost("Write error", errno);
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) FailLost("Write error", EIO);
  }
  return done;
}

int TComm::Read(uint8_t* buffer, int count) {
  std::lock_guard guard(lock_);
  if (fd_ < 0) Fail("Read error", EBADF);
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(count));
    if (n >= 0) return static_cast<int>(n);
    if (errno == EAGAIN) return 0;
    if (errno != EINTR) FailLost("Read error", errno);
  }
}

int TComm::InQueCount() {
  std::lock_guard guard(lock_);
  if (fd_ < 0) return -1;
  int n = 0;
  // A device that went away (a hung-up terminal, an unplugged adapter) fails here; a count of 0
  // would hide that behind endless time-outs.
  if (ioctl(fd_, FIONREAD, &n) != 0) FailLost("Read error", errno);
  return n;
}

void TComm::PurgeIn() {
  std::lock_guard guard(lock_);
  if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

void TComm::PurgeOut() {
  std::lock_guard guard(lock_);
  if (fd_ >= 0) tcflush(fd_, TCOFLUSH);
}

void TComm::SetDTR(bool on) {
  SetModemLine(TIOCM_DTR, on);
}

void TComm::SetRTS(bool on) {
  SetModemLine(TIOCM_RTS, on);
}

void TComm::SetModemLine(int bit, bool on) {
  std::lock_guard guard(lock_);
  if (fd_ < 0) Fail("Port not open, unable to complete operation", -1);
  (bit == TIOCM_DTR ? dtr_ : rts_) = on ? 1 : 0;
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return;
  // No modem lines (a pseudo-terminal, some adapters): there is nothing to switch.
  if (errno == ENOTTY || errno == EINVAL) return;
  Fail("EscapeCommFunction failure", errno);
}

void TComm::ApplySettings() {
  std::lock_guard guard(lock_);
  if (fd_ >= 0) ApplySettingsTo(fd_);
}

void TComm::ApplySettingsTo(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) Fail("Error updating DataControlBlock", errno);

  // Raw bytes: no line editing, no echo, no signals, no CR/LF translation, no output processing.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                                      IMAXBEL | INPCK | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD | CLOCAL;

  static constexpr tcflag_t kSizes[] = {0, CS5, CS6, CS7, CS8};
  if (Databits() == da4) Fail("Error updating DataControlBlock", EINVAL);
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[Databits()];

  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
  switch (Parity()) {
    case paNone:
      break;
    case paOdd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case paEven:
      t.c_cflag |= PARENB;
      break;
    case paMark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case paSpace:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (Options() & coParityCheck) t.c_iflag |= INPCK;

  // A terminal knows one or two stop bits; one and a half is sent as two.
  if (Stopbits() == sb10)
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  else
    t.c_cflag |= CSTOPB;

  t.c_cc[VSTART] = static_cast<cc_t>(EventChars().XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(EventChars().XoffChar);

  // Software flow control is off unless asked for: Linux turns IXON on for a fresh terminal, and
  // it would swallow the bytes 0x11 and 0x13 of binary frames. Hardware handshaking is left as
  // the device has it unless a flow control is chosen.
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  switch (FlowControl()) {
    case fcNone:
      t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
      break;
    case fcCTS:
      t.c_cflag |= CRTSCTS;
      break;
    case fcDTR:
      Fail("Error updating DataControlBlock", EINVAL);
    case fcSoftware:
      t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
      t.c_iflag |= IXON | IXOFF;
      break;
    case fcDefault:
      break;
  }

  const int bits = BaudRateBits(BaudRate());
  const speed_t standard = StandardSpeed(bits);
  if (standard != B0) {
    cfsetispeed(&t, standard);
    cfsetospeed(&t, standard);
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) Fail("Error updating DataControlBlock", errno);
  if (standard == B0) SetOtherSpeed(fd, bits);
}

}  // namespace vexa
