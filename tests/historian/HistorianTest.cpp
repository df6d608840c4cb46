// The historian's recording and its faults, on real files: only enabled registers are recorded,
// with the value as a number; reads wait out another program's lock in the spill file and arrive
// in order; a damaged database is kept aside and recording goes on in a fresh one; a spill file an
// earlier run left is written first, without the line a crash cut.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

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
