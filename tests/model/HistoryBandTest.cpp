// The history window's spans of the historian: rows fitted to pixel columns (band and weighted
// mean), read from a real history file as the window reads it, the read-outs, and the export.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <cmath>

#include "historian/HistoryStore.h"
#include "support/TestSupport.h"
#include "ui/model/HistoryBand.h"

namespace vexa::test {
namespace {

constexpr int64_t kStart = 1796083200000;  // 1 Dec 2026 00:00 UTC
const double kNone = std::nan("");

THistoryRow Row(int64_t minute, double lo, double mean, double hi, int64_t good, int64_t failed = 0) {
  return {kStart + minute * kMinuteMs, lo, mean, hi, good, failed};
}

bool Same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::abs(a - b) < 1e-9;
}

TEST(HistoryBandTest, RowsAreFittedToColumnsWithTheirBoundsAndAWeightedMean) {
  const struct {
    const char* what;
    std::vector<THistoryRow> rows;
    int minutes;  // the span, from kStart
    int columns;
    std::vector<double> min, mean, max;
  } cases[] = {
      {"one row a column", {Row(0, 1, 2, 3, 1), Row(1, 4, 5, 6, 1)}, 2, 2, {1, 4}, {2, 5}, {3, 6}},
      {"two rows in one column: the least, the greatest, the mean weighted by good reads",
       {Row(0, 1, 2, 3, 1), Row(1, 0, 8, 9, 3)},
       2,
       1,
       {0},
       {6.5},
       {9}},
      {"a column without good reads is a gap; so is one of failed reads alone",
       {Row(0, 1, 1, 1, 1), Row(2, kNone, kNone, kNone, 0, 3)},
       3,
       3,
       {1, kNone, kNone},
       {1, kNone, kNone},
       {1, kNone, kNone}},
      {"rows outside the span are left out",
       {Row(-1, 7, 7, 7, 1), Row(3, 7, 7, 7, 1)},
       3,
       3,
       {kNone, kNone, kNone},
       {kNone, kNone, kNone},
       {kNone, kNone, kNone}},
      {"no columns at all", {Row(0, 1, 1, 1, 1)}, 3, 0, {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    THistoryBand band;
    band.Since = kStart;
    band.Until = kStart + c.minutes * kMinuteMs;
    band.Rows = c.rows;
    FitBand(band, c.columns);
    ASSERT_EQ(band.Mean.size(), c.mean.size());
    for (size_t x = 0; x < c.mean.size(); ++x) {
      EXPECT_TRUE(Same(band.Min[x], c.min[x])) << x << ": " << band.Min[x];
      EXPECT_TRUE(Same(band.Mean[x], c.mean[x])) << x << ": " << band.Mean[x];
      EXPECT_TRUE(Same(band.Max[x], c.max[x])) << x << ": " << band.Max[x];
    }
  }
}

class HistoryBandFileTest : public TVexaTest {};

// What the window reads: the tier by the span, the rows of that register only, a read-out per
// column, and the export in vexa-cli history's form; a folder without history says so.
TEST_F(HistoryBandFileTest, ASpanIsReadFromTheHistoryFileAndExported) {
  const THistoryBand none =
      ReadHistoryBand(Dir->path(), QStringLiteral("A"), kStart, kStart + kHourMs, 60, kStart);
  EXPECT_EQ(none.Error, QStringLiteral("Архив значений ещё пуст"));
  EXPECT_TRUE(std::all_of(none.Mean.begin(), none.Mean.end(), [](double v) { return std::isnan(v); }));

  {
    THistoryStore store;
    ASSERT_TRUE(store.Open(HistoryPath(Dir->path()))) << store.ErrorText().toStdString();
    std::vector<THistorySample> samples;
    for (int64_t t = kStart; t < kStart + kHourMs; t += 20000) {
      samples.push_back({QStringLiteral("A"), t, static_cast<double>((t - kStart) / kMinuteMs), true});
      samples.push_back({QStringLiteral("B"), t, 1000, true});
    }
    ASSERT_TRUE(store.Write(samples));
  }
  const int64_t now = kStart + kHourMs;
  const THistoryBand band = ReadHistoryBand(Dir->path(), QStringLiteral("A"), kStart, now, 60, now);
  EXPECT_TRUE(band.Error.isEmpty()) << band.Error.toStdString();
  EXPECT_EQ(band.Tier, THistoryStep::Raw);
  ASSERT_EQ(band.Rows.size(), 180u);
  ASSERT_EQ(band.Mean.size(), 60u);
  for (size_t x = 0; x < 60; ++x) EXPECT_EQ(band.Mean[x], static_cast<double>(x)) << x;  // B left out

  const THistoryReadout readout = BandReadout(band, 59, 1);
  EXPECT_EQ(readout.Value, QStringLiteral(" 59,0"));
  EXPECT_EQ(readout.Date.trimmed(),
            QDateTime::fromMSecsSinceEpoch(kStart + 59 * kMinuteMs).toString("dd.MM.yyyy"));
  EXPECT_EQ(BandReadout(band, 60, 1).Value, QStringLiteral(" "));

  const QString path = Dir->filePath(QStringLiteral("a.csv"));
  EXPECT_NO_FAULTS(ExportHistoryBand(band, path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 181);
  EXPECT_EQ(lines[0], QStringLiteral("time,register,value,ok"));
  EXPECT_EQ(lines[1], QStringLiteral("2026-12-01T00:00:00.000Z,A,0,1"));
  EXPECT_FALSE(ExportHistoryBand(band, Dir->filePath(QStringLiteral("нет/a.csv"))).Empty());
}

}  // namespace
}  // namespace vexa::test
