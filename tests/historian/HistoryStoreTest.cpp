// The historian's database on real SQLite files: a simulated month of reads rolled up hour by hour
// on a test clock into minutes and hours, each tier trimmed to its bound; a late read remaking its
// buckets; the tier a query takes; and the files that are no history database.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cmath>

#include "historian/HistoryStore.h"
#include "support/MonthOfReads.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

class HistoryStoreTest : public TVexaTest {
 protected:
  QString Path() const { return HistoryPath(Dir->path()); }
};

TEST_F(HistoryStoreTest, AMonthIsRolledUpHourByHourAndEachTierKeptToItsBound) {
  THistoryStore store;
  ASSERT_TRUE(store.Open(Path())) << store.ErrorText().toStdString();
  const int64_t end = kStart + 31 * kDayMs;
  ASSERT_NO_FATAL_FAILURE(WriteTheMonth(store, end));
  // Raw reads for the last 7 days, minutes for 14, hours for the whole month.
  EXPECT_EQ(store.Count(THistoryStep::Raw), 2 * 7 * 24 * 180);
  EXPECT_EQ(store.Count(THistoryStep::Minute), 2 * 14 * 24 * 60);
  EXPECT_EQ(store.Count(THistoryStep::Hour), 2 * 31 * 24);

  ExpectTheMonthsBuckets(store, end);
}

TEST_F(HistoryStoreTest, ALateReadRemakesItsMinuteAndHour) {
  THistoryStore store;
  ASSERT_TRUE(store.Open(Path()));
  ASSERT_TRUE(store.Write(Hour(kStart)));
  ASSERT_TRUE(store.RollUp(kStart + kHourMs + 10000, kTiers));
  // A read of the first minute arriving after it was made (a spill file written late).
  ASSERT_TRUE(store.Write({{QStringLiteral("A"), kStart + 5000, 100.0, true}}));
  ASSERT_TRUE(store.RollUp(kStart + kHourMs + 11000, kTiers));
  const auto minute = store.Query({"A", kStart, kStart + kMinuteMs, THistoryStep::Minute}, kTiers, kStart);
  ASSERT_EQ(minute.size(), 1u);
  EXPECT_EQ(minute[0].Good, 4);
  EXPECT_DOUBLE_EQ(minute[0].Max, 100);
  EXPECT_DOUBLE_EQ(minute[0].Mean, 25);
  const auto hour = store.Query({"A", kStart, kStart + kHourMs, THistoryStep::Hour}, kTiers, kStart);
  ASSERT_EQ(hour.size(), 1u);
  EXPECT_EQ(hour[0].Good, 181);
  EXPECT_DOUBLE_EQ(hour[0].Max, 100);
}

TEST_F(HistoryStoreTest, AutoTakesTheFinestTierThatCoversTheSpan) {
  const int64_t now = kStart + 100 * kDayMs;
  const THistoryTiers tiers{31, 731, 7305};
  const struct {
    int64_t since, until;
    THistoryStep tier;
  } cases[] = {
      {now - kHourMs, now, THistoryStep::Raw},
      {now - 6 * kHourMs, now, THistoryStep::Raw},
      {now - 7 * kHourMs, now, THistoryStep::Minute},
      {now - 40 * kDayMs, now - 40 * kDayMs + kHourMs, THistoryStep::Minute},  // raw reads gone
      {now - 4 * kDayMs, now, THistoryStep::Minute},
      {now - 5 * kDayMs, now, THistoryStep::Hour},
      {now - 800 * kDayMs, now - 800 * kDayMs + kHourMs, THistoryStep::Hour},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TierFor({"A", c.since, c.until, THistoryStep::Auto}, tiers, now), c.tier)
        << (now - c.since) / kHourMs << " h back";
  EXPECT_EQ(TierFor({"A", now - kHourMs, now, THistoryStep::Hour}, tiers, now), THistoryStep::Hour);
}

TEST_F(HistoryStoreTest, AFileThatIsNoHistoryIsToldDamaged) {
  const struct {
    const char* what;
    std::function<void(const QString&)> make;
  } cases[] = {
      {"bytes that are no database",
       [](const QString& path) {
         QFile f(path);
         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         f.write(QByteArray(8192, 'x'));
       }},
      {"another program's tables",
       [](const QString& path) {
         auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
         db.setDatabaseName(path);
         ASSERT_TRUE(db.open());
         QSqlQuery(db).exec(QStringLiteral("CREATE TABLE orders (id INTEGER)"));
         db.close();
       }},
      {"our table without its columns",
       [](const QString& path) {
         {
           auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
           db.setDatabaseName(path);
           ASSERT_TRUE(db.open());
           QSqlQuery(db).exec(QStringLiteral("CREATE TABLE raw (reg INTEGER, t INTEGER)"));
           db.close();
         }
       }},
      {"a folder", [](const QString& path) { ASSERT_TRUE(QDir().mkpath(path)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = Dir->filePath(QString::fromLatin1(c.what).replace(' ', '_') + ".sqlite");
    c.make(path);
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    THistoryStore store;
    EXPECT_FALSE(store.Open(path));
    EXPECT_EQ(store.Trouble(), TJournalTrouble::Damaged) << store.ErrorText().toStdString();
    EXPECT_TRUE(store.ErrorText().contains(path)) << store.ErrorText().toStdString();
  }
}

}  // namespace
}  // namespace vexa::test
