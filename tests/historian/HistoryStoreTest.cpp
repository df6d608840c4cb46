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
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// 1 Dec 2026 00:00 UTC, a whole hour.
constexpr int64_t kStart = 1796083200000;
const THistoryTiers kTiers{7, 14, 31};

// Register A reads its minute's number every 20 s (three reads a minute); each hour's first read
// of register B fails.
std::vector<THistorySample> Hour(int64_t hourStart) {
  std::vector<THistorySample> samples;
  for (int64_t t = hourStart; t < hourStart + kHourMs; t += 20000) {
    const double minute = static_cast<double>((t - kStart) / kMinuteMs);
    samples.push_back({QStringLiteral("A"), t, minute, true});
    const bool fails = t == hourStart;
    samples.push_back({QStringLiteral("B"), t, fails ? std::nan("") : 1.0, !fails});
  }
  return samples;
}

class HistoryStoreTest : public TVexaTest {
 protected:
  QString Path() const { return HistoryPath(Dir->path()); }
};

TEST_F(HistoryStoreTest, AMonthIsRolledUpHourByHourAndEachTierKeptToItsBound) {
  THistoryStore store;
  ASSERT_TRUE(store.Open(Path())) << store.ErrorText().toStdString();
  const int64_t end = kStart + 31 * kDayMs;
  for (int64_t hour = kStart; hour < end; hour += kHourMs) {
    ASSERT_TRUE(store.Write(Hour(hour))) << store.ErrorText().toStdString();
    ASSERT_TRUE(store.RollUp(hour + kHourMs + 10000, kTiers)) << store.ErrorText().toStdString();
  }
  const int64_t now = end + 10000;
  // Raw reads for the last 7 days, minutes for 14, hours for the whole month.
  EXPECT_EQ(store.Count(THistoryStep::Raw), 2 * 7 * 24 * 180);
  EXPECT_EQ(store.Count(THistoryStep::Minute), 2 * 14 * 24 * 60);
  EXPECT_EQ(store.Count(THistoryStep::Hour), 2 * 31 * 24);

  const struct {
    const char* what;
    QString name;
    THistoryStep step;
    int64_t since, until;
    size_t rows;
    THistoryRow first;
  } cases[] = {
      {"a minute of A", "A", THistoryStep::Minute, end - kHourMs, end, 60, {end - kHourMs, 0, 0, 0, 3, 0}},
      {"an hour of A", "A", THistoryStep::Hour, kStart, kStart + kHourMs, 1, {kStart, 0, 29.5, 59, 180, 0}},
      {"the month of B in hours", "B", THistoryStep::Hour, kStart, end, 31 * 24, {kStart, 1, 1, 1, 179, 1}},
      {"B's first minute of an hour",
       "B",
       THistoryStep::Minute,
       end - kHourMs,
       end - kHourMs + kMinuteMs,
       1,
       {end - kHourMs, 1, 1, 1, 2, 1}},
      {"raw reads of A", "A", THistoryStep::Raw, end - kMinuteMs, end, 3, {end - kMinuteMs, 0, 0, 0, 1, 0}},
      {"raw reads past their bound", "A", THistoryStep::Raw, kStart, kStart + kDayMs, 0, {}},
      {"a register never read", "C", THistoryStep::Hour, kStart, end, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<THistoryRow> rows = store.Query({c.name, c.since, c.until, c.step}, kTiers, now);
    ASSERT_EQ(rows.size(), c.rows);
    if (rows.empty()) continue;
    const THistoryRow& r = rows.front();
    EXPECT_EQ(r.Time, c.first.Time);
    EXPECT_EQ(r.Good, c.first.Good);
    EXPECT_EQ(r.Failed, c.first.Failed);
    // A's minute number, as of the query's first bucket.
    const double base =
        c.name == QLatin1String("A") ? static_cast<double>((c.since - kStart) / kMinuteMs) : 0;
    if (c.step == THistoryStep::Hour && c.name == QLatin1String("A")) {
      EXPECT_DOUBLE_EQ(r.Min, base);
      EXPECT_DOUBLE_EQ(r.Mean, base + 29.5);
      EXPECT_DOUBLE_EQ(r.Max, base + 59);
    } else {
      EXPECT_DOUBLE_EQ(r.Mean, base + c.first.Mean);
    }
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].Time, rows[i].Time);
  }
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
