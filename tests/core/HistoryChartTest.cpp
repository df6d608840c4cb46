// The history chart's rules without a window: the automatic scale, the curve's pixels, the
// read-outs, and the snapshot of a register's history.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/RegisterNode.h"
#include "support/TestSupport.h"
#include "ui/model/HistoryChart.h"

namespace vexa::test {
namespace {

class HistoryChartTest : public TVexaTest {};

TEST_F(HistoryChartTest, TheZeroLineFollowsTheSignsOfTheVisibleValues) {
  const struct {
    std::vector<double> Values;
    int Height;
    int ZeroLine;
    int Room;
  } cases[] = {
      {{}, 150, 75, 75},              // nothing drawn: the middle
      {{0, 0, 0}, 150, 142, 142},     // zero counts as positive
      {{5, 20, 40}, 150, 142, 142},   // 150 * 19 div 20
      {{-5, -20, -40}, 150, 7, 143},  // 150 div 20, the room below
      {{-5, 20, -40}, 150, 75, 75},   // both signs: the middle
      {{10, 20}, 101, 95, 95},        // 1919 div 20 = 95: integer division
      {{-10, -20}, 101, 5, 96},
  };
  for (const auto& c : cases) {
    double scale = 1.0;
    const THistoryScale s = AutoScale(c.Values, static_cast<int>(c.Values.size()), c.Height, scale);
    EXPECT_EQ(s.ZeroLine, c.ZeroLine) << c.Values.size() << " values, height " << c.Height;
    EXPECT_EQ(s.Room, c.Room);
  }
}

TEST_F(HistoryChartTest, ASmallRangeDoublesTheScaleOncePerPaintAndALargeOneHalvesUntilItFits) {
  const struct {
    std::vector<double> Values;
    double Scale;
    double After;  // one paint
  } cases[] = {
      {{0.5}, 1.0, 2.0},  // range 0.5 < 4: doubled once, not until it fits
      {{-0.5, 0.25}, 3.0, 6.0}, {{3.99}, 1.0, 2.0},
      {{4}, 1.0, 1.0},                                    // 4 is no longer under 4
      {{0, 0}, 1.0, 1.0},                                 // range 0: unchanged
      {{}, 7.0, 7.0},           {{1000}, 1.0, 0.125},     // room 142 - 16 = 126: 1000 -> 500 -> 250 -> 125
      {{126}, 1.0, 1.0},                                  // exactly the room less 16 fits
      {{127}, 1.0, 0.5},        {{-100, 100}, 1.0, 0.5},  // both signs: room 75 - 16 = 59
      {{5}, 0.0, 1.0},                                    // a scale from a damaged file starts again from 1
      {{5}, -2.0, 1.0},         {{5}, std::numeric_limits<double>::quiet_NaN(), 1.0},
  };
  for (const auto& c : cases) {
    double scale = c.Scale;
    AutoScale(c.Values, static_cast<int>(c.Values.size()), 150, scale);
    EXPECT_DOUBLE_EQ(scale, c.After) << (c.Values.empty() ? 0 : c.Values[0]) << " from " << c.Scale;
  }
  // Later paints go on doubling while the range stays under 4.
  double scale = 1.0;
  const std::vector<double> small{0.3};
  int paints = 0;
  for (; paints < 10 && small[0] * scale < 4; ++paints) AutoScale(small, 1, 150, scale);
  EXPECT_EQ(paints, 4);  // 0.3 -> 0.6 -> 1.2 -> 2.4 -> 4.8
  EXPECT_DOUBLE_EQ(scale, 16.0);
  AutoScale(small, 1, 150, scale);
  EXPECT_DOUBLE_EQ(scale, 16.0) << "settled";
}

TEST_F(HistoryChartTest, OnlyTheVisibleSamplesCountForTheScale) {
  const std::vector<double> values{1, 2, -500};
  double scale = 1.0;
  const THistoryScale s = AutoScale(values, 2, 150, scale);
  EXPECT_EQ(s.ZeroLine, 142);
  EXPECT_DOUBLE_EQ(scale, 2.0);
}

TEST_F(HistoryChartTest, ValuesRoundToTheNearestPixelHalvesToEven) {
  const struct {
    double Value;
    double Scale;
    int Y;
  } cases[] = {
      {0, 1, 100},    {10, 1, 90},   {-10, 1, 110}, {2.5, 1, 98}, {3.5, 1, 96},
      {-2.5, 1, 102}, {1.25, 2, 98}, {0.4, 1, 100}, {0.6, 1, 99}, {1e300, 1e300, 100 - (1 << 24)},
  };
  for (const auto& c : cases) EXPECT_EQ(ChartY(100, c.Value, c.Scale), c.Y) << c.Value << " x " << c.Scale;
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
  EXPECT_EQ(h.Values, (std::vector<double>{12.5, 0, 0, -3, 0}));
  EXPECT_EQ(VisibleCount(h, 1210), 5);
  EXPECT_EQ(VisibleCount(h, 3), 3);
}

}  // namespace
}  // namespace vexa::test
