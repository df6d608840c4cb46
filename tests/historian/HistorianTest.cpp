// The historian's recording and its faults, on real files: only enabled registers are recorded,
// with the value as a number; reads wait out another program's lock in the spill file and arrive
// in order; a damaged database is kept aside and recording goes on in a fresh one; a full disk holds
// the reads back until there is room; a spill file an earlier run left is written first, without the
// line a crash cut.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <csignal>

#include "historian/Historian.h"
#include "historian/HistorianWriter.h"
#include "historian/HistoryStore.h"
#include "support/ForeignLock.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

constexpr int64_t kWriterT0 = 1796083200000;  // 1 Dec 2026 00:00 UTC

class HistorianTest : public TVexaTest {
 protected:
  QString Path() const { return HistoryPath(Dir->path()); }
  THistorianOptions Options() const {
    THistorianOptions o;
    o.Path = Path();
    o.RetryMs = 100;
    o.BusyMs = 50;
    o.UtcNowMs = [] { return kWriterT0 + kHourMs; };
    return o;
  }
  // Every raw read of a register, as "time value ok".
  QStringList Raw(const QString& name) const {
    THistoryStore store;
    EXPECT_TRUE(store.Open(Path(), true)) << store.ErrorText().toStdString();
    QStringList lines;
    for (const THistoryRow& r : store.Query({name, 0, INT64_MAX, THistoryStep::Raw}, {}, 0))
      lines << QStringLiteral("%1 %2 %3").arg(r.Time - kWriterT0).arg(r.Mean).arg(r.Good);
    return lines;
  }
  static THistorySample Sample(int i) { return {QStringLiteral("A"), kWriterT0 + i * 1000, double(i), true}; }
  static QStringList Expected(int from, int to) {
    QStringList lines;
    for (int i = from; i < to; ++i) lines << QStringLiteral("%1 %2 1").arg(i * 1000).arg(i);
    return lines;
  }
};

TEST_F(HistorianTest, OnlyEnabledRegistersAreRecordedWithTheirValueAsANumber) {
  TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), 0), 0);
  TRegisterNode& on = AddRegisterNode(channel, 1, {.Enabled = true, .Last = QStringLiteral("12,5")});
  TRegisterNode& off = AddRegisterNode(channel, 2, {.Last = QStringLiteral("7")});
  TRegisterNode& failed = AddRegisterNode(channel, 3, {.Enabled = true});
  failed.SetLastIOResult(iorFAIL);
  failed.SetLastStringData(QStringLiteral("***"));
  {
    THistorian historian(Current(), Options());
    historian.Attach();
    for (TRegisterNode* reg : {&on, &off, &failed}) Current().RegisterRead.Notify(*reg);
    historian.Finish(5000);
    EXPECT_EQ(historian.StatusText(), QString());
    EXPECT_TRUE(Current().RegisterRead.Empty());
  }
  const QString when = QString::number(kHourMs);
  EXPECT_EQ(Raw(on.Name()), QStringList{when + " 12.5 1"});
  EXPECT_EQ(Raw(off.Name()), QStringList{});
  EXPECT_EQ(Raw(failed.Name()), QStringList{when + " nan 0"});
}

TEST_F(HistorianTest, ReadsWaitOutAnotherProgramsLockAndArriveInOrder) {
  if (!HaveSqliteShell()) GTEST_SKIP() << "sqlite3 is not installed (scripts/deps installs it)";
  {
    THistoryStore store;
    ASSERT_TRUE(store.Open(Path()));
  }
  THistorianWriter writer(Options());
  ASSERT_TRUE(writer.Flush(5000));
  {
    TForeignLock lock(Path());
    for (int i = 0; i < 100; ++i) writer.Post(Sample(i));
    EXPECT_FALSE(writer.Flush(1000));
    const THistorianStatus st = writer.Status();
    EXPECT_EQ(st.Trouble, TJournalTrouble::Locked) << st.Error.toStdString();
    EXPECT_EQ(st.Waiting, 100);
    EXPECT_EQ(THistorianWriter::ReadSpill(THistorianWriter::SpillPath(Path())).size(), 100u);
    for (int i = 100; i < 150; ++i) writer.Post(Sample(i));
  }
  ASSERT_TRUE(writer.Flush(10000)) << writer.Status().Error.toStdString();
  EXPECT_EQ(writer.Status().Trouble, TJournalTrouble::None);
  EXPECT_FALSE(QFileInfo::exists(THistorianWriter::SpillPath(Path())));
  EXPECT_EQ(Raw("A"), Expected(0, 150));
}

TEST_F(HistorianTest, ADamagedDatabaseIsKeptAsideAndRecordingGoesOnInAFreshOne) {
  {
    QFile f(Path());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Path()).absolutePath()) && f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, '\x5a'));
  }
  THistorianWriter writer(Options());
  for (int i = 0; i < 3; ++i) writer.Post(Sample(i));
  ASSERT_TRUE(writer.Flush(5000)) << writer.Status().Error.toStdString();
  const QString aside = writer.Status().SetAside;
  ASSERT_TRUE(aside.startsWith(Path() + ".damaged-")) << aside.toStdString();
  QFile kept(aside);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), QByteArray(4096, '\x5a'));
  EXPECT_EQ(Raw("A"), Expected(0, 3));
}

// The child of the next test: a run whose files may not grow past a bound, which is lifted after a
// while as space is made on a full disk.
class HistorianFullChild : public HistorianTest {};

TEST_F(HistorianFullChild, WritesUnderAFileSizeLimit) {
  const QString folder = qEnvironmentVariable("VEXA_HISTORY_FULL_CHILD");
  if (folder.isEmpty()) GTEST_SKIP() << "run by AFullDiskHoldsTheReadsBackUntilThereIsRoom";
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the bound fails instead of ending the process
  THistorianOptions options = Options();
  options.Path = HistoryPath(folder);
  THistorianWriter writer(options);
  ASSERT_TRUE(writer.Flush(5000)) << writer.Status().Error.toStdString();
  qint64 largest = 0;
  for (QDirIterator it(QFileInfo(options.Path).absolutePath(), QDir::Files); it.hasNext();)
    largest = std::max(largest, QFileInfo(it.next()).size());
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit bound = saved;
  bound.rlim_cur = static_cast<rlim_t>(largest + 64 * 1024);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &bound), 0);
  int posted = 0;
  bool held = false;
  while (!held && posted < 200000) {
    for (int i = 0; i < 500; ++i) writer.Post(Sample(posted++));
    held = !writer.Flush(5000);
  }
  ASSERT_TRUE(held) << "the bound never stopped a write";
  EXPECT_EQ(writer.Status().Trouble, TJournalTrouble::Full) << writer.Status().Error.toStdString();
  EXPECT_TRUE(writer.Status().Error.contains(QStringLiteral("диск полон")))
      << writer.Status().Error.toStdString();
  for (int i = 0; i < 500; ++i) writer.Post(Sample(posted++));
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
  ASSERT_TRUE(writer.Flush(20000)) << writer.Status().Error.toStdString();
  EXPECT_EQ(writer.Status().Trouble, TJournalTrouble::None);
  EXPECT_EQ(writer.Status().Lost, 0);
  std::printf("posted %d\n", posted);
}

TEST_F(HistorianTest, AFullDiskHoldsTheReadsBackUntilThereIsRoom) {
  qputenv("VEXA_HISTORY_FULL_CHILD", Dir->path().toLocal8Bit());
  TChildProcess child(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--gtest_filter=HistorianFullChild.WritesUnderAFileSizeLimit")});
  qunsetenv("VEXA_HISTORY_FULL_CHILD");
  ASSERT_TRUE(child.Wait(90000));
  ASSERT_EQ(child.Code(), 0) << child.Out().toStdString() << child.Err().toStdString();
  const qsizetype at = child.Out().indexOf(QLatin1String("posted "));
  ASSERT_GE(at, 0) << child.Out().toStdString();
  const int posted = child.Out().mid(at + 7).section(QLatin1Char('\n'), 0, 0).toInt();
  EXPECT_EQ(Raw("A"), Expected(0, posted));
}

TEST_F(HistorianTest, ASpillFileLeftByAnEarlierRunIsWrittenFirst) {
  ASSERT_TRUE(QDir().mkpath(QFileInfo(Path()).absolutePath()));
  {
    QFile spill(THistorianWriter::SpillPath(Path()));
    ASSERT_TRUE(spill.open(QIODevice::WriteOnly));
    for (int i = 0; i < 3; ++i)
      spill.write(QByteArray::number(kWriterT0 + i * 1000) + "\t" + QByteArray::number(i) + "\t1\tA\n");
    spill.write(QByteArray::number(kWriterT0 + 9000) + "\t9\t1\tA");  // cut by a crash
  }
  THistorianWriter writer(Options());
  writer.Post(Sample(3));
  ASSERT_TRUE(writer.Flush(5000)) << writer.Status().Error.toStdString();
  EXPECT_EQ(Raw("A"), Expected(0, 4));
  EXPECT_FALSE(QFileInfo::exists(THistorianWriter::SpillPath(Path())));
}

}  // namespace
}  // namespace vexa::test
