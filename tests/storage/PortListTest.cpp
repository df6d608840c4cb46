// The port list: which entries a probe of their device marks busy or missing.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "storage/PortList.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// A pseudo-terminal; its slave side is the device the port entries link to.
class TPty {
 public:
  explicit TPty(bool unlocked = true) : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ >= 0 && grantpt(master_) == 0 && (!unlocked || unlockpt(master_) == 0))
      slave_ = QString::fromLocal8Bit(ptsname(master_));
  }
  ~TPty() {
    if (master_ >= 0) close(master_);
  }
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;
  const QString& Slave() const { return slave_; }

 private:
  int master_;
  QString slave_;
};

class PortListTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Current().Dir()).mkdir("Ports"));
  }
  QString Entry(int n) { return QDir(Current().Dir()).filePath(QStringLiteral("Ports/COM%1").arg(n)); }
  void Link(int n, const QString& target) { ASSERT_TRUE(QFile::link(target, Entry(n))); }
};

TEST_F(PortListTest, ProbesMarkBusyAndMissingPortsButNotTheConfiguredOne) {
  TPty free;
  TPty held;
  TPty locked(false);  // a slave that is not unlocked yet refuses to open (EIO)
  ASSERT_FALSE(free.Slave().isEmpty());
  ASSERT_FALSE(held.Slave().isEmpty());
  ASSERT_FALSE(locked.Slave().isEmpty());
  Link(1, free.Slave());
  Link(2, held.Slave());
  Link(3, Dir->filePath("gone"));  // a simulator that has ended
  QFile plain(Entry(4));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  Link(5, Dir->filePath("also-gone"));
  Link(6, locked.Slave());

  // Another program holds COM2 (the lock the port takes, which the superuser cannot bypass either).
  const int holder = open(held.Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  const std::vector<TPortEntry> list = FillPortList(Current().Dir(), 4);
  close(holder);

  ASSERT_EQ(list.size(), 8u);
  EXPECT_EQ(list[0].Text, "COM1");
  EXPECT_EQ(list[0].State, TPortState::Free);
  EXPECT_EQ(list[0].DevicePath, Entry(1));
  EXPECT_EQ(list[1].Text, "COM2 (занят)");
  EXPECT_EQ(list[2].Text, "COM3 (не существует)");
  EXPECT_EQ(list[3].Text, "COM4 (не существует)");  // a plain file is no port
  EXPECT_EQ(list[4].Text, "COM5");                  // configured: not probed, not marked
  EXPECT_EQ(list[4].State, TPortState::Configured);
  EXPECT_EQ(list[5].Text, "COM6 (занят)");
  // Without an entry in Ports the USB adapter of that number is meant.
  EXPECT_EQ(list[7].DevicePath, "/dev/ttyUSB7");
  EXPECT_TRUE(list[7].Text.startsWith("COM8"));

  // Probing leaves nothing behind: the free port can be locked at once.
  const int after = open(free.Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(after, 0);
  EXPECT_EQ(flock(after, LOCK_EX | LOCK_NB), 0);
  close(after);

  // Once released, COM2 is free again; the configured index -1 (none) probes all eight.
  const std::vector<TPortEntry> again = FillPortList(Current().Dir(), -1);
  EXPECT_EQ(again[1].Text, "COM2");
  EXPECT_EQ(again[4].Text, "COM5 (не существует)");
}

// Every fill looks again: the entry follows its link to whatever device it names now, and the
// configured port is probed like the others once its device went away (the program no longer holds it).
TEST_F(PortListTest, EachFillFollowsTheLinkAsItIsNowAndProbesALostConfiguredPort) {
  TPty first;
  TPty second;
  ASSERT_FALSE(first.Slave().isEmpty());
  Link(1, first.Slave());
  const int holder = open(first.Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(FillPortList(Current().Dir(), -1)[0].Text, "COM1 (занят)");

  ASSERT_TRUE(QFile::remove(Entry(1)));
  Link(1, second.Slave());
  EXPECT_EQ(FillPortList(Current().Dir(), -1)[0].Text, "COM1");
  close(holder);

  ASSERT_TRUE(QFile::remove(Entry(1)));
  Link(1, Dir->filePath("unplugged"));
  EXPECT_EQ(FillPortList(Current().Dir(), 0)[0].Text, "COM1");  // held: not probed
  EXPECT_EQ(FillPortList(Current().Dir(), 0)[0].State, TPortState::Configured);
  const std::vector<TPortEntry> lost = FillPortList(Current().Dir(), 0, false);
  EXPECT_EQ(lost[0].Text, "COM1 (не существует)");
  EXPECT_EQ(lost[0].State, TPortState::Missing);
}

}  // namespace
}  // namespace vexa::test
