// The cyclogram editor's rules without its window: the table and its row commands, the warnings
// while typing, the accumulated times and the graph's value axis, zoom and clipping.

#include <QStringList>
#include <cmath>
#include <limits>
#include <memory>
#include <tuple>
#include <utility>

#include "processes/model/CommandNode.h"
#include "processes/model/Cyclogram.h"
#include "storage/StreamReader.h"
#include "storage/StreamWriter.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

class CyclogramTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    node = std::make_unique<TCommandNode>(nullptr);
    node->SetCaption(QStringLiteral("Печь.Зона 1.Уставка"));
    node->SetRegisterType(rtINT);
    node->SetUserCanWRITE(true);
  }

  // The table's column as text, rows 1..N.
  QStringList Column(const TCyclogramTable& table, int column) const {
    QStringList texts;
    for (int r = 1; r < table.RowCount(); ++r) texts << table.Cell(r, column);
    return texts;
  }

  TCyclogramTable Table(const QStringList& values, const QStringList& durations) {
    node->SetDataList(values);
    node->SetPoints(durations);
    TCyclogramTable table;
    table.Load(*node);
    return table;
  }

  std::unique_ptr<TCommandNode> node;
};

TEST_F(CyclogramTest, LoadingTakesOneRowPerDurationAndSelectsTheLast) {
  TCyclogramTable table = Table({"20", "80", "80", "99"}, {"0", "60", "600"});
  EXPECT_EQ(table.RowCount(), 4);
  EXPECT_EQ(table.Cell(0, 0), QStringLiteral("Значение"));
  EXPECT_EQ(table.Cell(0, 1), QStringLiteral("Время (с)"));
  EXPECT_EQ(Column(table, 0), QStringList({"20", "80", "80"}));  // the surplus value is dropped
  EXPECT_EQ(Column(table, 1), QStringList({"0", "60", "600"}));
  EXPECT_TRUE(table.Enabled());
  EXPECT_EQ(table.CurrentRow(), 3);
  EXPECT_EQ(table.MarkRow(), 3);

  table = Table({"5"}, {"0", "10"});
  EXPECT_EQ(Column(table, 0), QStringList({"5", ""}));

  table = Table({}, {});
  EXPECT_EQ(table.RowCount(), 1);
  EXPECT_FALSE(table.Enabled());
  EXPECT_EQ(table.CurrentRow(), 0);
}

TEST_F(CyclogramTest, RowCommands) {
  TCyclogramTable table = Table({}, {});
  // Without points Insert is Add.
  EXPECT_TRUE(table.Insert().Empty());
  EXPECT_TRUE(table.Enabled());
  EXPECT_EQ(Column(table, 0), QStringList({"0"}));
  ShowFaults(table.Typed(*node, 1, 0, "10"));
  EXPECT_TRUE(table.Add().Empty());
  ShowFaults(table.Typed(*node, 2, 0, "30"));
  EXPECT_EQ(table.CurrentRow(), 2);
  EXPECT_EQ(table.MarkRow(), 2);

  // Insert puts a row before the current one and makes it current.
  table.Select(2);
  EXPECT_TRUE(table.Insert().Empty());
  EXPECT_EQ(Column(table, 0), QStringList({"10", "0", "30"}));
  EXPECT_EQ(Column(table, 1), QStringList({"0", "0", "0"}));
  EXPECT_EQ(table.CurrentRow(), 2);
  EXPECT_EQ(table.MarkRow(), 2);

  // Remove takes the current row; the next one takes its place, or the new last one.
  table.Select(1);
  table.Remove();
  EXPECT_EQ(Column(table, 0), QStringList({"0", "30"}));
  EXPECT_EQ(table.CurrentRow(), 1);
  table.Select(2);
  table.Remove();
  EXPECT_EQ(Column(table, 0), QStringList({"0"}));
  EXPECT_EQ(table.CurrentRow(), 1);
  EXPECT_EQ(table.MarkRow(), 1);
  table.Remove();
  EXPECT_EQ(table.RowCount(), 1);
  EXPECT_FALSE(table.Enabled());
  table.Remove();  // nothing left to remove
  EXPECT_EQ(table.RowCount(), 1);
  // Selecting the header or beyond the rows changes nothing.
  ShowFaults(table.Add());
  table.Select(0);
  table.Select(5);
  EXPECT_EQ(table.CurrentRow(), 1);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(CyclogramTest, TheTableHoldsAtMost255Points) {
  TCyclogramTable table = Table({}, {});
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(table.Add().Empty());
  EXPECT_EQ(table.RowCount(), kCyclogramMaxRows);
  EXPECT_TRUE(Messages->Shown.empty());
  ShowFaults(table.Add());
  table.Select(10);
  ShowFaults(table.Insert());
  EXPECT_EQ(table.PointCount(), 255);
  ASSERT_EQ(Messages->Texts(), QStringList(2, QStringLiteral("Емкость таблицы исчерпана!")));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbOK));
  table.Remove();
  EXPECT_TRUE(table.Insert().Empty());
}

TEST_F(CyclogramTest, WarningsWhileTypingKeepTheText) {
  const QString caption = QStringLiteral("Печь.Зона 1.Уставка");
  const struct {
    const char* What;
    bool Writable;
    int Row;
    int Column;
    QString Text;
    QString Warning;  // empty: none
  } cases[] = {
      {"a value for a read-only register", false, 2, 0, "5",
       QStringLiteral("Регистр '%1'\r\nимеет тип 'ТОЛЬКО ЧТЕНИЕ'!").arg(caption)},
      {"letters for an integer register", true, 2, 0, "abc",
       QStringLiteral("'abc' - '%1'\r\nне может принять такое значение!").arg(caption)},
      {"beyond the register's range", true, 2, 0, "40000",
       QStringLiteral("'40000' - '%1'\r\nне может принять такое значение!").arg(caption)},
      {"a good value", true, 2, 0, "-300", ""},
      {"a value typed outside the current row", true, 1, 0, "abc", ""},
      {"an empty value", false, 2, 0, "", ""},
      {"a duration with a fraction", true, 1, 1, "1,5", QStringLiteral("'1,5' - не целое число!")},
      {"a duration beyond 32 bits", true, 2, 1, "3000000000",
       QStringLiteral("'3000000000' - не целое число!")},
      {"a good duration", true, 2, 1, "600", ""},
      {"an empty duration", true, 2, 1, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    Messages->Shown.clear();
    node->SetUserCanWRITE(c.Writable);
    TCyclogramTable table = Table({"1", "2", "3"}, {"0", "10", "10"});
    table.Select(2);
    ShowFaults(table.Typed(*node, c.Row, c.Column, c.Text));
    EXPECT_EQ(Messages->Texts(), c.Warning.isEmpty() ? QStringList() : QStringList(c.Warning));
    if (!Messages->Shown.empty()) {
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
    }
    EXPECT_EQ(table.Cell(c.Row, c.Column), c.Text);
  }
}

TEST_F(CyclogramTest, StoringWritesBothColumnsUncheckedAndMarksTheNode) {
  TCyclogramTable table = Table({"20", "80"}, {"0", "60"});
  ShowFaults(table.Typed(*node, 2, 0, "abc"));
  ShowFaults(table.Add());
  ShowFaults(table.Typed(*node, 3, 1, "1,5"));
  node->SetChanged(false);
  table.Store(*node);
  EXPECT_EQ(node->DataList(), QStringList({"20", "abc", "0"}));
  EXPECT_EQ(node->Points(), QStringList({"0", "60", "1,5"}));
  EXPECT_TRUE(node->Changed());
}

TEST_F(CyclogramTest, PointsAccumulateTimesAndReadBadTextsAsZero) {
  TCyclogramTable table = Table({"20", "abc", "-1,5", "7"}, {"600", "60", "x", "30"});
  const TCyclogramPoints points = table.Points();
  EXPECT_EQ(points.Times, (std::vector<qint64>{0, 60, 60, 90}));  // the first duration is ignored
  EXPECT_EQ(points.Values, (std::vector<double>{20, 0, -1.5, 7}));

  // 255 points of 2e9 s each end far beyond 32 bits.
  QStringList values(255, "1");
  QStringList durations(255, "2000000000");
  EXPECT_EQ(Table(values, durations).Points().Times.back(), 254LL * 2'000'000'000LL);
}

// A 31..38 degree programme fills a 230 pixel graph: its band less a tenth above and below, with
// labelled round values; the zero line only when 0 is on the graph.
TEST_F(CyclogramTest, TheValueAxisFitsThePointsBand) {
  const int h = 230;
  const struct {
    const char* What;
    QStringList Values;
    double Highest, Lowest;
    bool Zero;
  } cases[] = {
      {"a programme of 31..38", {"31", "35", "38", "38", "31"}, 38, 31, false},
      {"negative values", {"-50", "-100"}, -50, -100, false},
      {"both signs: the zero line", {"-50", "50"}, 50, -50, true},
      {"a bad text counts as 0", {"20", "abc", "40"}, 40, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    QStringList durations;
    for (qsizetype i = 0; i < c.Values.size(); ++i) durations << QStringLiteral("60");
    const TCyclogramTable table = Table(c.Values, durations);
    node->SetYScale(1);
    const TCyclogramGraph graph = table.Graph(*node, 300, h);
    // The band's tenth of margin: the highest point 1/12 of the height below the top.
    EXPECT_NEAR(graph.Axis.Y(c.Highest), (h - 1) / 12.0, 1);
    EXPECT_NEAR(graph.Axis.Y(c.Lowest), (h - 1) * 11 / 12.0, 1);
    EXPECT_EQ(graph.ZeroY.has_value(), c.Zero);
    if (c.Zero) {
      EXPECT_EQ(*graph.ZeroY, graph.Axis.Y(0));
    }
    ASSERT_GE(graph.Axis.Ticks().size(), 3u);
    for (const TAxisTick& t : graph.Axis.Ticks()) {
      EXPECT_TRUE(t.Y >= 0 && t.Y < h) << t.Text.toStdString();
      EXPECT_DOUBLE_EQ(std::remainder(t.Value, graph.Axis.Step()), 0) << "ticks at multiples of the step";
    }
    EXPECT_EQ(node->YScale(), 1) << "drawing never changes the stored zoom";
  }
  // The programme of 31..38: ticks of 1 degree at least 24 pixels apart, labelled in whole degrees.
  const TCyclogramGraph graph = Table({"31", "38"}, {"0", "60"}).Graph(*node, 300, h);
  QStringList labels;
  for (const TAxisTick& t : graph.Axis.Ticks()) labels << t.Text;
  EXPECT_EQ(labels, QStringList({"31", "32", "33", "34", "35", "36", "37", "38"}));
}

// The zoom buttons zoom around the band's centre from the fit; a scale from a damaged file is the fit.
TEST_F(CyclogramTest, ZoomIsAroundTheBandsCentreAndADamagedScaleIsTheFit) {
  const TCyclogramTable table = Table({"30", "40"}, {"0", "60"});
  node->SetYScale(1);
  const TCyclogramGraph fit = table.Graph(*node, 300, 201);
  ZoomCyclogram(*node, TCyclogramZoom::ZoomIn);
  const TCyclogramGraph in = table.Graph(*node, 300, 201);
  EXPECT_EQ(in.Axis.Y(35), fit.Axis.Y(35)) << "the centre stays";
  EXPECT_NEAR(in.Axis.Y(35) - in.Axis.Y(40), 2 * (fit.Axis.Y(35) - fit.Axis.Y(40)), 1);
  for (double damaged : {std::numeric_limits<double>::infinity(), std::nan(""), 0.0, -2.0}) {
    node->SetYScale(damaged);
    EXPECT_EQ(table.Graph(*node, 300, 201).Line, fit.Line) << damaged;
  }
  // Values no double can span still draw on the graph's rows.
  node->SetYScale(1);
  const TCyclogramGraph huge = Table({"-1E308", "1E308"}, {"0", "60"}).Graph(*node, 300, 201);
  ASSERT_EQ(huge.Line.size(), 2u);
  EXPECT_NEAR(huge.Line[0].y(), 200 * 11 / 12.0, 1);
  EXPECT_NEAR(huge.Line[1].y(), 200 / 12.0, 1);
}

TEST_F(CyclogramTest, ZoomButtonsScaleTheNodeAtOnce) {
  node->SetXScale(1);
  node->SetYScale(1);
  node->SetChanged(false);
  ZoomCyclogram(*node, TCyclogramZoom::CompressX);
  EXPECT_EQ(node->XScale(), 0.5);
  ZoomCyclogram(*node, TCyclogramZoom::ExpandX);
  ZoomCyclogram(*node, TCyclogramZoom::ExpandX);
  EXPECT_EQ(node->XScale(), 2.0);
  ZoomCyclogram(*node, TCyclogramZoom::ZoomIn);
  EXPECT_EQ(node->YScale(), 2.0);
  ZoomCyclogram(*node, TCyclogramZoom::ZoomOut);
  ZoomCyclogram(*node, TCyclogramZoom::ZoomOut);
  EXPECT_EQ(node->YScale(), 0.5);
  EXPECT_TRUE(node->Changed());
  // The value zoom stops at its limits.
  for (int i = 0; i < 20; ++i) ZoomCyclogram(*node, TCyclogramZoom::ZoomIn);
  EXPECT_EQ(node->YScale(), TValueAxis::kMaxZoom);
  for (int i = 0; i < 40; ++i) ZoomCyclogram(*node, TCyclogramZoom::ZoomOut);
  EXPECT_EQ(node->YScale(), TValueAxis::kMinZoom);
  // So does the time zoom, within what the file keeps: the node saved then loads again.
  for (const auto& [zoom, bound] : {std::pair{TCyclogramZoom::ExpandX, TCommandNode::kMaxXScale},
                                    std::pair{TCyclogramZoom::CompressX, TCommandNode::kMinXScale}}) {
    for (int i = 0; i < 80; ++i) ZoomCyclogram(*node, zoom);
    EXPECT_EQ(node->XScale(), bound);
    EXPECT_NO_THROW(ReadComponent(WriteComponent(*node)));
  }
}

TEST_F(CyclogramTest, TheGraphClipsAtTheRightEdgeAndMarksTheSelectedPoint) {
  TCyclogramTable table = Table({"10", "50", "abc", "100", "20"}, {"0", "40", "40", "60", "100"});
  node->SetXScale(1);
  node->SetYScale(1);
  table.Select(3);
  TCyclogramGraph graph = table.Graph(*node, 150, 200);
  const auto y = [&](double v) { return graph.Axis.Y(v); };
  // Times 0, 40, 80, 140, 240: the last point is cut where its segment meets x = 150.
  const std::vector<QPoint> expected = {
      {0, y(10)}, {40, y(50)}, {80, y(0)}, {140, y(100)}, {150, y(100) + (y(20) - y(100)) * 10 / 100}};
  EXPECT_EQ(graph.Line, expected);
  EXPECT_EQ(graph.MarkX, 80);

  // A mark right of the graph is not drawn; with a wider scale every later point clips to the edge.
  table.Select(5);
  node->SetXScale(2);
  graph = table.Graph(*node, 150, 200);
  EXPECT_FALSE(graph.MarkX.has_value());
  const int cut = y(50) + (y(0) - y(50)) * 70 / 80;
  const std::vector<QPoint> wide = {{0, y(10)}, {80, y(50)}, {150, cut}, {150, cut}, {150, cut}};
  EXPECT_EQ(graph.Line, wide);

  // Room for the value labels: the time axis starts `left` pixels in, the clipping edge stays.
  node->SetXScale(1);
  table.Select(3);
  graph = table.Graph(*node, 150, 200, 30);
  EXPECT_EQ(graph.Line.front(), QPoint(30, y(10)));
  EXPECT_EQ(graph.Line[2], QPoint(110, y(0)));
  EXPECT_EQ(graph.Line[3], QPoint(150, y(0) + (y(100) - y(0)) * 40 / 60))
      << "140 s + 30 px is beyond the edge";
  EXPECT_EQ(graph.MarkX, 110);

  // No points: no line, no mark, the zero line in the middle and no labels.
  TCyclogramTable empty = Table({}, {});
  graph = empty.Graph(*node, 150, 200);
  EXPECT_TRUE(graph.Line.empty());
  EXPECT_FALSE(graph.MarkX.has_value());
  EXPECT_EQ(graph.ZeroY, 100);
  EXPECT_TRUE(graph.Axis.Ticks().empty());
}

TEST_F(CyclogramTest, FittingSpansTheProgrammeAcrossThePlotAndTheTimeAxisIsLabelledBelowIt) {
  node->SetXScale(1);
  EXPECT_FALSE(Table({"5", "6"}, {"900", "0"}).FitTime(*node, 201))
      << "the first duration counts for nothing";
  EXPECT_EQ(node->XScale(), 1);
  const TCyclogramTable table = Table({"1", "2", "3"}, {"0", "4", "6"});
  ASSERT_TRUE(table.FitTime(*node, 201));
  EXPECT_EQ(table.Graph(*node, 231, 100, 30).Line.back().x(), 230) << "on the last column, not clipped";
  // Pixels per second, the fewest pixels between labels, and the step: a second at least.
  for (const auto& [scale, gap, step] :
       {std::tuple{1.0, 48, 50}, {0.1, 48, 500}, {100.0, 48, 1}, {1.0, 100, 100}}) {
    SCOPED_TRACE(scale);
    node->SetXScale(scale);
    const TCyclogramGraph graph = table.Graph(*node, 330, 120, 30, 24, 20, gap);
    EXPECT_EQ(graph.Axis.Y(graph.Axis.Bottom()), graph.PlotHeight - 1) << "the values keep above the labels";
    ASSERT_GE(graph.TimeTicks.size(), 2u);
    for (size_t k = 0; k < graph.TimeTicks.size(); ++k) {
      EXPECT_EQ(graph.TimeTicks[k].X, 30 + static_cast<int>(static_cast<double>(k * step) * scale));
      EXPECT_EQ(graph.TimeTicks[k].Text, QString::number(k * step));
    }
    EXPECT_GT(graph.TimeTicks.back().X + step * scale, 330) << "the next would be off the graph";
  }
  node->SetXScale(std::numeric_limits<double>::quiet_NaN());  // damaged: no endless labels
  EXPECT_TRUE(table.Graph(*node, 330, 120, 30).TimeTicks.empty());
}

}  // namespace
}  // namespace vexa::test
