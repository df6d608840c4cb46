// TComm against a real pseudo-terminal pair: the test holds the master side, the port opens the
// slave side as it would open a serial adapter.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include "core/Comm.h"
#include "core/Services.h"
#include "support/TestSupport.h"

#if defined(__linux__) && defined(TCGETS2) && \
    (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__))
struct termios2 {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};
#define VEXA_TEST_TERMIOS2 1
#endif

namespace vexa {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// The master side of a pseudo-terminal pair.
struct TPty {
  TPty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) ADD_FAILURE() << "no pty";
    slave = QString::fromLocal8Bit(ptsname(master));
  }
  ~TPty() { CloseMaster(); }
  void CloseMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  void Send(const QByteArray& bytes) const {
    ASSERT_EQ(::write(master, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
  }
  // Whatever the slave side wrote, collected until `count` bytes are there or the time is up.
  QByteArray Receive(int count, int timeoutMs = 1000) const {
    QByteArray got;
    const auto t0 = Clock::now();
    while (got.size() < count && MsSince(t0) < timeoutMs) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<qsizetype>(n));
    }
    return got;
  }
  termios Settings() const {
    termios t{};
    EXPECT_EQ(tcgetattr(master, &t), 0);  // on a master this reports the slave's settings
    return t;
  }

  int master = -1;
  QString slave;
};

bool WaitForCount(TComm& port, int count, int timeoutMs = 1000) {
  const auto t0 = Clock::now();
  while (port.InQueCount() < count && MsSince(t0) < timeoutMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port.InQueCount() == count;
}

// Runs `call`, which must raise ECommError, and returns the error.
ECommError Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const ECommError& e) {
    return e;
  }
  ADD_FAILURE() << "no ECommError raised";
  return ECommError(QString(), 0);
}

QByteArray AllByteValues() {
  QByteArray b;
  for (int i = 0; i < 256; ++i) b.append(static_cast<char>(i));
  return b;
}

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override { port.SetDeviceName(pty.slave); }

  TPty pty;
  TComm port;
};

TEST_F(CommTest, OpenCloseCyclesAndTheOpenPortRefusesChanges) {
  for (int i = 0; i < 3; ++i) {
    port.Open();
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_FALSE(port.Connected());
  }
  port.Close();  // closing a closed port does nothing

  port.Open();
  const ECommError twice = Raised([&] { port.Open(); });
  EXPECT_EQ(twice.Text(), "Port already assigned (open)");
  EXPECT_EQ(twice.ErrorCode(), -1);
  EXPECT_STREQ(twice.what(), "Port already assigned (open) (Error: -1) ");
  EXPECT_TRUE(port.Connected());

  const ECommError rename = Raised([&] { port.SetDeviceName(QStringLiteral("/dev/null")); });
  EXPECT_EQ(rename.Text(), "Port already assigned (open)");
  EXPECT_EQ(port.DeviceName(), pty.slave);
  EXPECT_THROW(port.SetReadBufSize(100), ECommError);
  port.SetDeviceName(pty.slave);  // the same name is no change

  port.Close();
  port.SetDeviceName(QStringLiteral("/dev/null"));
  EXPECT_EQ(port.DeviceName(), "/dev/null");
}

TEST_F(CommTest, ClosedPortCountsMinusOneAndRefusesLineControl) {
  EXPECT_EQ(port.InQueCount(), -1);
  port.PurgeIn();
  port.PurgeOut();
  const ECommError dtr = Raised([&] { port.SetDTR(true); });
  EXPECT_EQ(dtr.Text(), "Port not open, unable to complete operation");
  EXPECT_EQ(dtr.ErrorCode(), -1);
  EXPECT_THROW(port.SetRTS(false), ECommError);
  uint8_t b = 0;
  EXPECT_THROW(port.Write(&b, 1), ECommError);
  EXPECT_THROW(port.Read(&b, 1), ECommError);

  // A speed chosen while closed is stored and applied by the next Open.
  port.SetBaudRate(br19200);
  port.SetStopbits(sb20);
  EXPECT_EQ(port.BaudRate(), br19200);
  port.Open();
  const termios t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST_F(CommTest, ReadReturnsAtOnceWithWhatHasArrived) {
  port.Open();
  uint8_t buf[64] = {};
  port.SetReadTimeout(2000);  // a read must not wait for it
  const auto t0 = Clock::now();
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);
  EXPECT_EQ(port.InQueCount(), 0);
  EXPECT_LT(MsSince(t0), 1000);

  pty.Send("0123456789");
  ASSERT_TRUE(WaitForCount(port, 10));
  EXPECT_EQ(port.Read(buf, 4), 4);
  EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buf), 4), "0123");
  EXPECT_EQ(port.InQueCount(), 6);
  EXPECT_EQ(port.Read(buf, sizeof buf), 6);
  EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buf), 6), "456789");
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);
}

// Frames are binary: XON/XOFF, CR, LF, interrupt characters and 0xFF must all pass untouched, and
// nothing may be echoed back onto the line.
TEST_F(CommTest, EveryByteValuePassesBothWaysUntouched) {
  port.Open();
  const QByteArray all = AllByteValues();

  pty.Send(all);
  ASSERT_TRUE(WaitForCount(port, 256));
  QByteArray in(256, '\0');
  ASSERT_EQ(port.Read(reinterpret_cast<uint8_t*>(in.data()), 256), 256);
  EXPECT_EQ(in, all);
  EXPECT_TRUE(pty.Receive(1, 50).isEmpty()) << "echoed";

  EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>(all.constData()), 256), 256);
  EXPECT_EQ(pty.Receive(256), all);
  EXPECT_TRUE(pty.Receive(1, 50).isEmpty());
}

TEST_F(CommTest, PurgeInDiscardsReceivedBytesAndPurgeOutLeavesThem) {
  port.Open();
  pty.Send("abcdef");
  ASSERT_TRUE(WaitForCount(port, 6));
  port.PurgeOut();
  EXPECT_EQ(port.InQueCount(), 6);
  port.PurgeIn();
  EXPECT_EQ(port.InQueCount(), 0);
  uint8_t buf[8];
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);

  pty.Send("gh");  // the port still receives after a purge
  ASSERT_TRUE(WaitForCount(port, 2));
}

TEST_F(CommTest, WriteGivesUpAfterWriteTimeoutWhenNobodyReads) {
  port.SetWriteTimeout(100);
  port.Open();
  const QByteArray big(1 << 20, 'x');
  const auto t0 = Clock::now();
  EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>(big.constData()), static_cast<int>(big.size())), -1);
  const int64_t ms = MsSince(t0);
  EXPECT_GE(ms, 90);
  EXPECT_LT(ms, 3000);
}

// A pseudo-terminal keeps everything but the character size and the parity enable bit, so those
// two are seen here only as a refusal and through the parity kind bits.
TEST_F(CommTest, SettingsReachTheDevice) {
  port.Open();
  termios t = pty.Settings();
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));

  constexpr tcflag_t kKind = PARODD | CMSPAR;
  const std::pair<TParity, tcflag_t> kinds[] = {
      {paMark, PARODD | CMSPAR}, {paSpace, CMSPAR}, {paOdd, PARODD}, {paEven, 0}, {paNone, 0}};
  for (const auto& [parity, bits] : kinds) {
    port.SetParity(parity);
    EXPECT_EQ(pty.Settings().c_cflag & kKind, bits) << parity;
  }

  port.SetStopbits(sb15);
  port.SetBaudRate(br115200);
  t = pty.Settings();
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  port.SetStopbits(sb10);
  EXPECT_FALSE(pty.Settings().c_cflag & CSTOPB);

  port.SetFlowControl(fcSoftware);
  port.SetOptions(coParityCheck);
  t = pty.Settings();
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), static_cast<tcflag_t>(IXON | IXOFF | INPCK));
  port.SetFlowControl(fcNone);
  port.SetOptions(0);
  EXPECT_EQ(pty.Settings().c_iflag & (IXON | IXOFF | INPCK), 0u);

#ifdef VEXA_TEST_TERMIOS2
  port.SetBaudRate(br14400);  // no B constant for it
  termios2 t2{};
  ASSERT_EQ(ioctl(pty.master, TCGETS2, &t2), 0);
  EXPECT_EQ(t2.c_ospeed, 14400u);
  EXPECT_EQ(t2.c_ispeed, 14400u);
  port.SetBaudRate(br9600);
  t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
#endif

  // Refusals are reported, and the port stays open and usable.
  const ECommError bits = Raised([&] { port.SetDatabits(da7); });
  EXPECT_EQ(bits.Text(), "Error updating DataControlBlock");
  EXPECT_EQ(bits.ErrorCode(), EINVAL);
  EXPECT_THROW(port.SetDatabits(da4), ECommError);
  port.SetDatabits(da8);
  EXPECT_THROW(port.SetFlowControl(fcDTR), ECommError);
  port.SetFlowControl(fcDefault);
  EXPECT_TRUE(port.Connected());
  pty.Send("ok");
  EXPECT_TRUE(WaitForCount(port, 2));
}

TEST_F(CommTest, ModemLinesOfAPseudoTerminalAreNoOps) {
  port.Open();
  EXPECT_NO_THROW(port.SetDTR(true));
  EXPECT_NO_THROW(port.SetDTR(false));
  EXPECT_NO_THROW(port.SetRTS(true));
  EXPECT_NO_THROW(port.SetRTS(false));
}

TEST_F(CommTest, OpenFailuresLeaveThePortClosed) {
  QTemporaryDir dir;
  port.SetDeviceName(dir.filePath(QStringLiteral("missing")));
  const ECommError missing = Raised([&] { port.Open(); });
  EXPECT_EQ(missing.Text(), "Error accessing specified device");
  EXPECT_EQ(missing.ErrorCode(), ENOENT);
  EXPECT_STREQ(missing.what(), "Error accessing specified device (Error: 2) ");
  EXPECT_FALSE(port.Connected());

  QFile file(dir.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  port.SetDeviceName(file.fileName());
  const ECommError plain = Raised([&] { port.Open(); });
  EXPECT_EQ(plain.Text(), "Invalid device handle, access denied");
  EXPECT_EQ(plain.ErrorCode(), -1);
  EXPECT_FALSE(port.Connected());

  // A character device that is no terminal.
  port.SetDeviceName(QStringLiteral("/dev/null"));
  const ECommError null = Raised([&] { port.Open(); });
  EXPECT_EQ(null.ErrorCode(), ENOTTY);
  EXPECT_FALSE(port.Connected());

  port.SetDeviceName(pty.slave);
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(CommTest, APortHeldElsewhereFailsAtOnce) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const QByteArray path = QFile::encodeName(pty.slave);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
    const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    for (;;) pause();
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(ok, '1');

  const auto t0 = Clock::now();
  const ECommError held = Raised([&] { port.Open(); });
  EXPECT_LT(MsSince(t0), 3000);  // a waiting lock would never return; a loaded machine is slow
  EXPECT_EQ(held.Text(), "Error accessing specified device");
  EXPECT_TRUE(held.ErrorCode() == EWOULDBLOCK || held.ErrorCode() == EBUSY) << held.ErrorCode();
  EXPECT_FALSE(port.Connected());

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(CommTest, TwoPortsOnOneDeviceExcludeEachOtherUntilClosed) {
  port.Open();
  const QByteArray path = QFile::encodeName(pty.slave);
  // Exclusive mode is on while open (only the superuser may still open the device at all).
  const int probe = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (probe >= 0) {
    int excl = 0;
    ASSERT_EQ(ioctl(probe, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);
    ::close(probe);
  } else {
    EXPECT_EQ(errno, EBUSY);
  }

  TComm other;
  other.SetDeviceName(pty.slave);
  EXPECT_THROW(other.Open(), ECommError);
  EXPECT_FALSE(other.Connected());

  port.Close();
  // The exclusive flag must not outlive the port: the other side of the pair is still open.
  const int after = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(after, 0);
  int excl = 1;
  ASSERT_EQ(ioctl(after, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0);
  ::close(after);
  other.Open();
  EXPECT_TRUE(other.Connected());
}

// A device that goes away under an open port (the other side of the pair closes, like an adapter
// being unplugged) reports errors instead of looking like a silent line.
TEST_F(CommTest, AVanishedDeviceClosesThePortAndMarksItLost) {
  port.Open();
  pty.CloseMaster();
  const uint8_t b[5] = {0, 1, 2, 0, 0xD1};
  const ECommError write = Raised([&] { port.Write(b, 5); });
  EXPECT_EQ(write.Text(), "Write error");
  EXPECT_EQ(write.ErrorCode(), EIO);
  EXPECT_EQ(write.UserText(), "устройство отключено");
  EXPECT_TRUE(port.Lost());
  EXPECT_EQ(port.LostReason(), "устройство отключено");
  // Closed: nothing more goes to the dead descriptor.
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.InQueCount(), -1);
  const ECommError dtr = Raised([&] { port.SetDTR(false); });
  EXPECT_EQ(dtr.Text(), "Port not open, unable to complete operation");
  // Closing on purpose ends the loss: nothing is reopened.
  port.Close();
  EXPECT_FALSE(port.Lost());
  EXPECT_EQ(port.LostReason(), QString());
  EXPECT_FALSE(port.Reopen());

  // The count of waiting bytes notices a hang-up too (a read of a hung-up terminal only sees 0).
  TPty other;
  port.SetDeviceName(other.slave);
  port.Open();
  other.CloseMaster();
  EXPECT_THROW(port.InQueCount(), ECommError);
  EXPECT_TRUE(port.Lost());
}

TEST(ErrorTextTest, PortErrorsReadAsWords) {
  const struct {
    ECommError Error;
    const char* Words;
  } cases[] = {
      {ECommError(QStringLiteral("Error accessing specified device"), EAGAIN),
       "порт занят другой программой"},
      {ECommError(QStringLiteral("Error accessing specified device"), EBUSY), "порт занят другой программой"},
      {ECommError(QStringLiteral("Error accessing specified device"), ENOENT), "устройство не найдено"},
      {ECommError(QStringLiteral("Write error"), ENXIO), "устройство отключено"},
      {ECommError(QStringLiteral("Invalid device handle, access denied"), -1),
       "устройство не является последовательным портом"},
      {ECommError(QStringLiteral("Port already assigned (open)"), -1), "порт уже открыт"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Error.UserText(), QString::fromUtf8(c.Words)) << c.Error.what();
    EXPECT_FALSE(c.Error.UserText().contains("Error")) << c.Error.what();
  }
  // A code without words of its own still reads as text, never as a bare number.
  EXPECT_TRUE(
      ECommError(QStringLiteral("Write error"), ETIMEDOUT).UserText().startsWith("системная ошибка 110 ("));
}

// The unprivileged user a permission binds (the superuser opens any device).
constexpr uid_t kNobody = 65534;

// Opens `device` with TComm as the user a permission binds: the superuser runs the open in a child
// that drops to nobody; anyone else opens as themselves. The error text, or "opened".
std::pair<int, QString> OpenAsUnprivileged(const QString& device) {
  const auto attempt = [&]() -> std::pair<int, QString> {
    TComm port;
    port.SetDeviceName(device);
    try {
      port.Open();
    } catch (const ECommError& e) {
      return {e.ErrorCode(), e.Text()};
    }
    return {0, QStringLiteral("opened")};
  };
  if (geteuid() != 0) return attempt();
  int out[2];
  if (pipe(out) != 0) return {-1, QStringLiteral("no pipe")};
  const pid_t child = fork();
  if (child == 0) {
    ::close(out[0]);
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
    const auto [code, text] = attempt();
    const QByteArray bytes = QByteArray::number(code) + '\n' + text.toUtf8();
    (void)!::write(out[1], bytes.constData(), static_cast<size_t>(bytes.size()));
    _exit(0);
  }
  ::close(out[1]);
  QByteArray got;
  char buf[1024];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<qsizetype>(n));
  ::close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-1, QStringLiteral("child failed")};
  const qsizetype eol = got.indexOf('\n');
  return {got.left(eol).toInt(), QString::fromUtf8(got.mid(eol + 1))};
}

TEST_F(CommTest, ADeviceThatRefusesTheUserNamesItsGroupAndTheFix) {
  const QByteArray path = QFile::encodeName(pty.slave);
  const group* dialout = getgrnam("dialout");
  const gid_t gid = dialout ? dialout->gr_gid : getegid();
  const QString groupName =
      dialout ? QStringLiteral("dialout") : QString::fromLocal8Bit(getgrgid(gid)->gr_name);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(path.constData(), 0, gid), 0);
    ASSERT_EQ(chmod(path.constData(), 0660), 0);
  } else {
    ASSERT_EQ(chmod(path.constData(), 0), 0);  // even the owner is refused now
  }
  const auto [code, text] = OpenAsUnprivileged(pty.slave);
  EXPECT_TRUE(code == EACCES || code == EPERM) << code << " " << text.toStdString();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Нет прав на порт ") + pty.slave)) << text.toStdString();
  if (geteuid() == 0) {
    EXPECT_TRUE(text.contains(QStringLiteral("(crw-rw---- root %1)").arg(groupName))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("«sudo usermod -aG %1 nobody»").arg(groupName)))
        << text.toStdString();
  }
  EXPECT_TRUE(text.endsWith(QStringLiteral("войдите в систему заново."))) << text.toStdString();

  // The same device opens for its owner: the message is about permission, not the device.
  ASSERT_EQ(chmod(path.constData(), 0600), 0);
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST(PortAccessDeniedTextTest, NamesTheGroupTheModeLetsIn) {
  if (geteuid() != 0) GTEST_SKIP() << "giving files to other groups needs the superuser";
  QTemporaryDir dir;
  const group* dialout = getgrnam("dialout");
  const gid_t named = dialout ? dialout->gr_gid : 0;
  const QString namedText = QString::fromLocal8Bit(getgrgid(named)->gr_name);
  constexpr gid_t kUnnamed = 54321;  // a group without an entry shows as its number, as in ls -l
  ASSERT_EQ(getgrgid(kUnnamed), nullptr);
  const struct {
    gid_t Gid;
    mode_t Mode;
    QString Listing;
    QString Fix;
  } cases[] = {
      {named, 0660, QStringLiteral("(-rw-rw---- root %1).").arg(namedText),
       QStringLiteral("Порт открывают члены группы «%1»: добавьте пользователя в неё командой «sudo usermod "
                      "-aG %1 root»")
           .arg(namedText)},
      {kUnnamed, 0664, QStringLiteral("(-rw-rw-r-- root 54321)."),
       QStringLiteral("«sudo usermod -aG 54321 root»")},
      // Joining the group would not help: the group may not read and write.
      {named, 0640, QStringLiteral("(-rw-r----- root %1).").arg(namedText),
       QStringLiteral("Группа «%1» не может открыть его: попросите администратора дать группе права на "
                      "чтение и запись (chmod g+rw ")
           .arg(namedText)},
      {named, 0600, QStringLiteral("(-rw------- root %1).").arg(namedText), QStringLiteral("chmod g+rw")},
  };
  for (const auto& c : cases) {
    const QString file = dir.filePath(QStringLiteral("ttyS%1").arg(c.Mode, 0, 8));
    QFile(file).open(QIODevice::WriteOnly);
    ASSERT_EQ(chown(QFile::encodeName(file).constData(), 0, c.Gid), 0);
    ASSERT_EQ(chmod(QFile::encodeName(file).constData(), c.Mode), 0);
    const QString text = PortAccessDeniedText(file);
    SCOPED_TRACE(text.toStdString());
    EXPECT_TRUE(text.startsWith(QStringLiteral("Нет прав на порт ") + file + QStringLiteral(" ")));
    EXPECT_TRUE(text.contains(c.Listing));
    EXPECT_TRUE(text.contains(c.Fix));
    EXPECT_EQ(text.contains(QStringLiteral("usermod")), (c.Mode & 060) == 060);
  }
  // A device that cannot even be looked at: the fix without a name, and where to find it.
  const QString gone = dir.filePath(QStringLiteral("gone"));
  EXPECT_EQ(
      PortAccessDeniedText(gone),
      QStringLiteral("Нет прав на порт %1. Добавьте пользователя в группу, которой принадлежит устройство "
                     "(её показывает ls -l %1), и войдите в систему заново.")
          .arg(gone));
}

class PortDevicePathTest : public ::testing::Test {
 protected:
  QString PortDevicePath(const QString& name) const { return vexa::PortDevicePath(name, dir.path()); }

  QTemporaryDir dir;
};

TEST_F(PortDevicePathTest, ComNamesMapToUsbAdaptersUnlessThePortsFolderHasAnEntry) {
  EXPECT_EQ(PortDevicePath(QStringLiteral("COM1")), "/dev/ttyUSB0");
  EXPECT_EQ(PortDevicePath(QStringLiteral("com3")), "/dev/ttyUSB2");
  EXPECT_EQ(PortDevicePath(QStringLiteral("Com2")), "/dev/ttyUSB1");
  EXPECT_EQ(PortDevicePath(QStringLiteral("COM12")), "/dev/ttyUSB11");
  for (const char* asIs : {"COM0", "COM", "COMx", "COM1x", "/dev/pts/7", "ports/COM1"})
    EXPECT_EQ(PortDevicePath(QString::fromLatin1(asIs)), QString::fromLatin1(asIs));

  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Ports")));
  const QString com3 = dir.filePath(QStringLiteral("Ports/COM3"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), com3));
  EXPECT_EQ(PortDevicePath(QStringLiteral("com3")), com3);
  EXPECT_EQ(PortDevicePath(QStringLiteral("COM4")), "/dev/ttyUSB3");

  // A link whose target is gone still names the port, so the open fails on it.
  const QString com5 = dir.filePath(QStringLiteral("Ports/COM5"));
  ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("gone")), com5));
  EXPECT_EQ(PortDevicePath(QStringLiteral("COM5")), com5);
  TComm port(dir.path());
  port.SetDeviceName(QStringLiteral("COM5"));
  const ECommError gone = Raised([&] { port.Open(); });
  EXPECT_EQ(gone.ErrorCode(), ENOENT);
}

TEST_F(PortDevicePathTest, ComNameOpensThePseudoTerminalBehindItsLink) {
  TPty pty;
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Ports")));
  ASSERT_TRUE(QFile::link(pty.slave, dir.filePath(QStringLiteral("Ports/COM2"))));
  TComm port(dir.path());
  port.SetDeviceName(QStringLiteral("COM2"));
  port.Open();
  pty.Send("ping");
  ASSERT_TRUE(WaitForCount(port, 4));
  const uint8_t pong[] = {'p', 'o', 'n', 'g'};
  EXPECT_EQ(port.Write(pong, 4), 4);
  EXPECT_EQ(pty.Receive(4), "pong");
}

// A simulator restarted on the same link, an adapter plugged in again: the lost port opens what its
// name names now, at most once a second, and sets the modem lines again as they were.
TEST_F(PortDevicePathTest, ALostPortReopensTheDeviceItsLinkNamesNowAtMostOnceASecond) {
  auto clock = std::make_unique<test::TFakeClock>();
  test::TFakeClock& fake = *clock;
  std::unique_ptr<TClock> saved = std::exchange(Services().Clock, std::move(clock));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Ports")));
  const QString link = dir.filePath(QStringLiteral("Ports/COM1"));
  auto first = std::make_unique<TPty>();
  ASSERT_TRUE(QFile::link(first->slave, link));
  TComm port(dir.path());
  port.SetDeviceName(QStringLiteral("COM1"));
  port.Open();
  port.SetRTS(false);
  port.SetDTR(false);
  first->CloseMaster();
  const uint8_t b[5] = {0, 1, 2, 0, 0xD1};
  EXPECT_THROW(port.Write(b, 5), ECommError);
  ASSERT_TRUE(port.Lost());

  // Gone for good so far: the link dangles, and the attempts are a second apart.
  ASSERT_TRUE(QFile::remove(link));
  ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("gone")), link));
  fake.Advance(1000);
  EXPECT_FALSE(port.Reopen());
  EXPECT_TRUE(port.Lost());

  TPty second;
  ASSERT_TRUE(QFile::remove(link));
  ASSERT_TRUE(QFile::link(second.slave, link));
  fake.Advance(500);
  EXPECT_FALSE(port.Reopen());  // half a second after the last attempt
  EXPECT_TRUE(port.Lost());
  fake.Advance(500);
  EXPECT_TRUE(port.Reopen());
  EXPECT_FALSE(port.Lost());
  EXPECT_TRUE(port.Connected());
  const uint8_t ping[] = {'p', 'i', 'n', 'g'};
  EXPECT_EQ(port.Write(ping, 4), 4);
  EXPECT_EQ(second.Receive(4), "ping");
  second.Send("pong");
  ASSERT_TRUE(WaitForCount(port, 4));
  // Set up as before: raw bytes (no echo of "ping"), the device locked against other programs.
  EXPECT_EQ(second.Settings().c_lflag & (ECHO | ICANON), 0u);
  const int other = ::open(second.slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
  }
  Services().Clock = std::move(saved);
}

// The exchange may run on one thread while another closes, reopens or reconfigures the port: every
// operation holds the port's lock, so none runs on a descriptor being closed or changed. Under
// ThreadSanitizer (scripts/test --tsan) an operation outside the lock is reported as a race.
TEST_F(CommTest, OperationsFromTwoThreadsNeverMeetOnTheDescriptor) {
  port.Open();
  std::atomic<bool> stop = false;
  std::atomic<int> calls = 0;
  std::thread exchange([&] {
    uint8_t buf[16];
    while (!stop) {
      try {
        if (port.Connected() && port.InQueCount() > 0) port.Read(buf, sizeof buf);
        port.PurgeIn();
        port.PurgeOut();
        port.SetRTS(true);
      } catch (const ECommError&) {
        // Closed under the call: the operation failed cleanly, which is all that is asked.
      }
      ++calls;
    }
  });
  while (calls.load() == 0) std::this_thread::yield();  // the exchange is under way
  for (int i = 0; i < 40; ++i) {
    port.SetBaudRate(i % 2 ? br9600 : br19200);
    pty.Send("x");
    port.Close();
    port.Open();
  }
  stop = true;
  exchange.join();
  EXPECT_TRUE(port.Connected());
}

}  // namespace
}  // namespace vexa
