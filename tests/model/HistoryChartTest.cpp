// The history chart's rules without a window: the value axis fitted to the samples, the zoom, the
// cursor that follows the samples, the read-outs, and the snapshot of a register's history.

#include <gtest/gtest.h>

#include <QDateTime>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/RegisterNode.h"
#include "support/TestSupport.h"
#include "ui/model/HistoryChart.h"

namespace vexa::test {
namespace {

class HistoryChartTest : public TVexaTest {};

// Samples at 3 s steps from 07.12.2026 9:00:00, starting `first` samples in, with the given values
// ("***" for a failed read).
THistorySnapshot Snapshot(const QStringList& texts, int first = 0) {
  THistorySnapshot h;
  h.Texts = texts;
  for (qsizetype i = 0; i < texts.size(); ++i) {
    h.Times << DateTimeToStr(DateTimeFromQt(
        QDateTime(QDate(2026, 12, 7), QTime(9, 0).addSecs(3 * (first + static_cast<int>(i))))));
    h.Values.push_back(StrToFloat(texts[i]).value_or(std::nan("")));
  }
  return h;
}

QStringList Texts(const std::vector<double>& values) {
  QStringList texts;
  for (double v : values) texts << FloatToStr(v);
  return texts;
}

// The rows of the highest and the lowest drawn sample.
std::pair<int, int> Extremes(const TValueAxis& axis, const THistorySnapshot& h, int visible) {
  int top = INT_MAX, bottom = INT_MIN;
  for (int i = 0; i < visible; ++i) {
    if (std::isnan(h.Values[static_cast<size_t>(i)])) continue;
    top = std::min(top, axis.Y(h.Values[static_cast<size_t>(i)]));
    bottom = std::max(bottom, axis.Y(h.Values[static_cast<size_t>(i)]));
  }
  return {top, bottom};
}

// A pressure of 2.2..2.5 bar fills the chart whatever its height: the band's tenth of margin above
// and below, so the highest sample is 1/12 of the height below the top and the lowest as far above
// the bottom. Failed reads are no part of the band, and nothing of it depends on earlier paints.
TEST_F(HistoryChartTest, TheSamplesBandFillsTheChartsHeight) {
  const struct {
    const char* What;
    QStringList Texts;
  } cases[] = {
      {"rising", Texts({2.2, 2.25, 2.3, 2.4, 2.5})},
      {"with failed reads", {"***", "2,2", "***", "2,5", "2,3", "***"}},
      {"falling below zero", Texts({2.5, 1, -0.5, 2.2})},
  };
  for (const auto& c : cases) {
    const THistorySnapshot h = Snapshot(c.Texts);
    const int visible = VisibleCount(h, 1210);
    // A resize is a paint at another height: 150, shrunk to 40, back to 150, then 400.
    for (const int height : {150, 40, 150, 400}) {
      SCOPED_TRACE(testing::Message() << c.What << ", height " << height);
      const TValueAxis axis = HistoryAxis(h, visible, height, 1.0);
      const auto [top, bottom] = Extremes(axis, h, visible);
      EXPECT_NEAR(top, (height - 1) / 12.0, 1);
      EXPECT_NEAR(bottom, (height - 1) * 11 / 12.0, 1);
    }
  }
  // Only the drawn samples count: a later sample far off the chart's first 2 samples changes nothing.
  const THistorySnapshot h = Snapshot(Texts({1, 2, -500}));
  const TValueAxis axis = HistoryAxis(h, 2, 150, 1.0);
  EXPECT_EQ(Extremes(axis, h, 2), std::make_pair(12, 137));
}

TEST_F(HistoryChartTest, AFlatSeriesIsCentredAndAnEmptyOneHasTheZeroLineInTheMiddle) {
  const struct {
    const char* What;
    QStringList Texts;
    std::optional<int> Zero;
  } cases[] = {
      {"flat 2,3", {"2,3", "2,3", "2,3"}, std::nullopt},
      {"flat 0", {"0", "0"}, 75},
      {"flat -40 with a gap", {"-40", "***", "-40"}, std::nullopt},
      {"nothing logged", {}, 75},
      {"only failed reads", {"***", "***"}, 75},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const THistorySnapshot h = Snapshot(c.Texts);
    const TValueAxis axis = HistoryAxis(h, VisibleCount(h, 1210), 151, 1.0);
    EXPECT_EQ(axis.ZeroY(), c.Zero);
    const auto [top, bottom] = Extremes(axis, h, VisibleCount(h, 1210));
    if (top != INT_MAX) {
      EXPECT_EQ(top, 75) << "the line in the middle";
      EXPECT_EQ(bottom, 75);
    }
    EXPECT_EQ(axis.Ticks().empty(), !axis.HasValues());
  }
}

// "Увеличить" and "Уменьшить" double and halve the band's height around its centre, from the fit.
TEST_F(HistoryChartTest, TheZoomIsAroundTheBandsCentreFromTheFit) {
  const THistorySnapshot h = Snapshot(Texts({2.2, 2.5}));
  const TValueAxis fit = HistoryAxis(h, 2, 151, 1.0);
  const int centre = fit.Y(2.35);
  EXPECT_EQ(centre, 75);
  for (const double zoom : {2.0, 4.0, 0.5, 0.25}) {
    SCOPED_TRACE(zoom);
    const TValueAxis zoomed = HistoryAxis(h, 2, 151, zoom);
    EXPECT_EQ(zoomed.Y(2.35), centre);
    EXPECT_NEAR(zoomed.Y(2.2) - centre, (fit.Y(2.2) - centre) * zoom,
                std::max(1.0, zoom));  // rounding x zoom
  }
  // A stored scale that is no positive number (a damaged file) is the fit; the zoom has limits.
  for (const double damaged : {0.0, -2.0, std::nan(""), std::numeric_limits<double>::infinity()})
    EXPECT_EQ(HistoryAxis(h, 2, 151, damaged).Y(2.2), fit.Y(2.2)) << damaged;
  EXPECT_EQ(TValueAxis::Zoomed(1, 2), 2);
  EXPECT_EQ(TValueAxis::Zoomed(1, 0.5), 0.5);
  EXPECT_EQ(TValueAxis::Zoomed(TValueAxis::kMaxZoom, 2), TValueAxis::kMaxZoom);
  EXPECT_EQ(TValueAxis::Zoomed(TValueAxis::kMinZoom, 0.5), TValueAxis::kMinZoom);
  EXPECT_EQ(TValueAxis::Zoomed(std::nan(""), 2), 2) << "from the fit";
}

// The cursor follows the newest sample while it is on it, and otherwise stays on its sample's time.
TEST_F(HistoryChartTest, TheCursorFollowsTheNewestSampleOrStaysOnItsTime) {
  THistoryCursor cursor;
  // A new label: nothing logged yet, then samples come in.
  cursor.FollowNewest(Snapshot({}), 0);
  EXPECT_EQ(cursor.X(), -1);
  for (int n = 1; n <= 4; ++n) {
    const THistorySnapshot h = Snapshot(Texts(std::vector<double>(static_cast<size_t>(n), 5)));
    cursor.Follow(h, n);
    EXPECT_EQ(cursor.X(), n - 1) << "on the newest of " << n;
  }

  // Moved back onto sample 1 (9:00:03): new samples leave it there.
  cursor.Place(Snapshot(Texts({1, 2, 3, 4})), 4, 1);
  EXPECT_FALSE(cursor.OnNewest());
  cursor.Follow(Snapshot(Texts({1, 2, 3, 4, 5, 6})), 6);
  EXPECT_EQ(cursor.X(), 1);

  // A full history of 6: each refresh drops the oldest; the cursor keeps to 9:00:03 until it drops off,
  // then it stands on the oldest sample.
  for (int dropped = 1; dropped <= 3; ++dropped) {
    const THistorySnapshot h = Snapshot(Texts({1, 2, 3, 4, 5, 6}), dropped);
    cursor.Follow(h, 6);
    EXPECT_EQ(cursor.X(), std::max(0, 1 - dropped)) << dropped << " dropped";
    if (dropped == 1) {
      EXPECT_EQ(h.Times[cursor.X()], Snapshot(Texts({1, 2})).Times[1]);
    }
  }

  // Put back on the newest, it follows again, on a full history too.
  THistorySnapshot full = Snapshot(Texts({1, 2, 3, 4, 5, 6}), 3);
  cursor.Place(full, 6, 5);
  EXPECT_TRUE(cursor.OnNewest());
  cursor.Follow(Snapshot(Texts({1, 2, 3, 4, 5, 6}), 4), 6);
  EXPECT_EQ(cursor.X(), 5);

  // Right of the curve there is no time: the cursor keeps its x until the curve reaches it.
  cursor.Place(Snapshot(Texts({1, 2})), 2, 4);
  cursor.Follow(Snapshot(Texts({1, 2, 3})), 3);
  EXPECT_EQ(cursor.X(), 4);
  cursor.Follow(Snapshot(Texts({1, 2, 3, 4, 5})), 5);
  EXPECT_EQ(cursor.X(), 4);
  EXPECT_TRUE(cursor.OnNewest()) << "reached by the newest sample, it follows from now on";
  cursor.Follow(Snapshot(Texts({1, 2, 3, 4, 5, 6})), 6);
  EXPECT_EQ(cursor.X(), 5);

  // A history emptied under it: nothing to stand on, then the newest again.
  cursor.Place(Snapshot(Texts({1, 2, 3})), 3, 0);
  cursor.Follow(Snapshot({}), 0);
  EXPECT_EQ(cursor.X(), -1);
  cursor.Follow(Snapshot(Texts({7, 8})), 2);
  EXPECT_EQ(cursor.X(), 1);
}

// The clock set back by one interval reads 9:00:03 twice: the cursor on the first stays on it as the
// full history drops its oldest, not on the later sample of the same time.
TEST_F(HistoryChartTest, TheCursorKeepsToItsSampleThroughARepeatedTime) {
  THistorySnapshot before = Snapshot(Texts({0, 1, 2, 3, 4, 5}));  // 9:00:00 .. 9:00:15
  before.Times[2] = before.Times[1];
  THistorySnapshot after = Snapshot(Texts({1, 2, 3, 4, 5, 6}), 1);
  after.Times[1] = after.Times[0];
  THistoryCursor cursor;
  cursor.Place(before, 6, 1);
  cursor.Follow(after, 6);
  EXPECT_EQ(cursor.X(), 0);
  EXPECT_EQ(Readout(after, cursor.X(), 6).Value, QStringLiteral(" 1"));
}

TEST_F(HistoryChartTest, TicksAreRoundValuesFarEnoughApartForTheirLabels) {
  const struct {
    double Low, High;
    int Height;
    double Step;
    QStringList Labels;
  } cases[] = {
      {2.2, 2.5, 150, 0.1, {"2,2", "2,3", "2,4", "2,5"}},
      {2.2, 2.5, 300, 0.05, {"2,20", "2,25", "2,30", "2,35", "2,40", "2,45", "2,50"}},
      {-5, 5, 150, 2, {"-6", "-4", "-2", "0", "2", "4", "6"}},
      {1000, 5000, 100, 2000, {"2000", "4000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Low << ".." << c.High << " on " << c.Height);
    const TValueAxis axis = TValueAxis::Fit(std::vector<double>{c.Low, c.High}, c.Height, 1, 24);
    EXPECT_DOUBLE_EQ(axis.Step(), c.Step);
    QStringList labels;
    for (const TAxisTick& t : axis.Ticks()) labels << t.Text;
    EXPECT_EQ(labels, c.Labels);
    for (size_t i = 1; i < axis.Ticks().size(); ++i)
      EXPECT_GE(axis.Ticks()[i - 1].Y - axis.Ticks()[i].Y, 24) << "upwards, at least the gap apart";
  }
  const struct {
    double AtLeast, Step;
  } steps[] = {{0.058, 0.1}, {0.03, 0.05}, {0.2, 0.2},      {1, 1}, {1.1, 2},
               {3, 5},       {6, 10},      {0.0029, 0.005}, {0, 1}};
  for (const auto& s : steps) EXPECT_DOUBLE_EQ(RoundStep(s.AtLeast), s.Step) << s.AtLeast;
  EXPECT_EQ(TickText(-1e-17, 0.1), "0,0") << "never -0";
  EXPECT_EQ(TickText(0.5, 0.5), "0,5");
  EXPECT_EQ(TickText(1500, 500), "1500");
}

// Values at the ends of what a double holds still land on the chart's rows.
TEST_F(HistoryChartTest, ExtremeValuesStayOnTheChart) {
  for (const auto& values : {std::vector<double>{-1e308, 1e308}, std::vector<double>{1e-300, 2e-300},
                             std::vector<double>{1.7e308, 1.7e308}}) {
    const TValueAxis axis = TValueAxis::Fit(values, 150, 1);
    for (double v : values) {
      EXPECT_GE(axis.Y(v), 0) << v;
      EXPECT_LT(axis.Y(v), 150) << v;
    }
    EXPECT_LE(axis.Ticks().size(), 150u);
  }
  const TValueAxis axis = TValueAxis::Fit(std::vector<double>{1, 2}, 150, TValueAxis::kMaxZoom);
  EXPECT_LT(axis.Y(1e300), 0) << "far above the chart, and still a pixel to draw to";
}

TEST_F(HistoryChartTest, ReadoutsSplitTheTimeTextAndShowTheValueText) {
  THistorySnapshot h;
  h.Times = {"07.12.2026 9:05:03", "07.12.2026 09:05:06", "12/7/2026 9:05:09 AM", "garbled", "07.12.2026"};
  h.Texts = {"12,5", "***", "7", "8"};
  const struct {
    int Cursor;
    const char* Date;
    const char* Time;
    const char* Value;
  } cases[] = {
      {0, " 07.12.2026 ", " 9:05:03", " 12,5"},
      {1, " 07.12.2026 ", " 9:05:06", " ***"},  // another regional format, shown in the program's
      {2, " 07.12.2026 ", " 9:05:09", " 7"},
      {3, " garbled", " ", " 8"},            // no date: the text as it stands
      {4, " 07.12.2026 ", " 0:00:00", " "},  // midnight is written without a time
      {5, " ", " ", " "},                    // beyond the samples
      {-1, " ", " ", " "},
  };
  for (const auto& c : cases) {
    const THistoryReadout r = Readout(h, c.Cursor, 5);
    EXPECT_EQ(r.Date, QString::fromUtf8(c.Date)) << c.Cursor;
    EXPECT_EQ(r.Time, QString::fromUtf8(c.Time)) << c.Cursor;
    EXPECT_EQ(r.Value, QString::fromUtf8(c.Value)) << c.Cursor;
  }
  EXPECT_EQ(Readout(h, 2, 2).Date, " ") << "a sample that is not drawn is not read out";
}

TEST_F(HistoryChartTest, TheSnapshotReadsValuesAsNumbersAndPadsAShortValueList) {
  TRegisterNode reg(nullptr);
  reg.SetPoints(TTextList({"07.12.2026 9:05:03", "07.12.2026 9:05:06", "07.12.2026 9:05:09", "x", "y"}));
  reg.SetDataList(TTextList({"12,5", "***", "1E400", "-3"}));
  const THistorySnapshot h = THistorySnapshot::Of(reg);
  EXPECT_EQ(h.Times.size(), 5);
  EXPECT_EQ(h.Texts, QStringList({"12,5", "***", "1E400", "-3"}));
  // A failed read, an infinite value and a missing value are gaps.
  ASSERT_EQ(h.Values.size(), 5u);
  EXPECT_EQ(h.Values[0], 12.5);
  EXPECT_TRUE(std::isnan(h.Values[1]));
  EXPECT_TRUE(std::isnan(h.Values[2]));
  EXPECT_EQ(h.Values[3], -3);
  EXPECT_TRUE(std::isnan(h.Values[4]));
  EXPECT_EQ(VisibleCount(h, 1210), 5);
  EXPECT_EQ(VisibleCount(h, 3), 3);
}

}  // namespace
}  // namespace vexa::test
