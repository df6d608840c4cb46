// The cyclogram editor's rules without its window: the table and its row commands, the warnings
// while typing, the accumulated times and the graph's fit, zoom and clipping.

#include <QStringList>
#include <cmath>
#include <limits>
#include <memory>

#include "processes/model/CommandNode.h"
#include "processes/model/Cyclogram.h"
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
  EXPECT_TRUE(table.Insert());
  EXPECT_TRUE(table.Enabled());
  EXPECT_EQ(Column(table, 0), QStringList({"0"}));
  table.Typed(*node, 1, 0, "10");
  EXPECT_TRUE(table.Add());
  table.Typed(*node, 2, 0, "30");
  EXPECT_EQ(table.CurrentRow(), 2);
  EXPECT_EQ(table.MarkRow(), 2);

  // Insert puts a row before the current one and makes it current.
  table.Select(2);
  EXPECT_TRUE(table.Insert());
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
  table.Add();
  table.Select(0);
  table.Select(5);
  EXPECT_EQ(table.CurrentRow(), 1);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(CyclogramTest, TheTableHoldsAtMost255Points) {
  TCyclogramTable table = Table({}, {});
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(table.Add());
  EXPECT_EQ(table.RowCount(), kCyclogramMaxRows);
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_FALSE(table.Add());
  table.Select(10);
  EXPECT_FALSE(table.Insert());
  EXPECT_EQ(table.PointCount(), 255);
  ASSERT_EQ(Messages->Texts(), QStringList(2, QStringLiteral("Емкость таблицы исчерпана!")));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbOK));
  table.Remove();
  EXPECT_TRUE(table.Insert());
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
    table.Typed(*node, c.Row, c.Column, c.Text);
    EXPECT_EQ(Messages->Texts(), c.Warning.isEmpty() ? QStringList() : QStringList(c.Warning));
    if (!Messages->Shown.empty()) {
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
    }
    EXPECT_EQ(table.Cell(c.Row, c.Column), c.Text);
  }
}

TEST_F(CyclogramTest, StoringWritesBothColumnsUncheckedAndMarksTheNode) {
  TCyclogramTable table = Table({"20", "80"}, {"0", "60"});
  table.Typed(*node, 2, 0, "abc");
  table.Add();
  table.Typed(*node, 3, 1, "1,5");
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

TEST_F(CyclogramTest, TheValueAxisFitsTheLargestValue) {
  const int h = 200;  // room 190, or 100 with both signs
  const struct {
    const char* What;
    std::vector<double> Values;
    double YScale;
    int ZeroY;
    double Fitted;
  } cases[] = {
      {"all positive: zero near the bottom", {0, 50, 100}, 1, 190, 1},
      {"all negative: zero near the top", {-50, -100}, 1, 10, 1},
      {"both signs: zero in the middle", {-50, 50}, 1, 100, 1},
      {"no points: the middle", {}, 1, 100, 1},
      {"all zero: nothing to fit", {0, 0}, 8, 190, 8},
      {"too high: halved until it fits under room - 16", {1000}, 1, 190, 0.125},
      {"exactly at room - 16 stays", {174}, 1, 190, 1},
      {"one pixel over is halved", {175}, 1, 190, 0.5},
      {"under 4 pixels: doubled once", {1}, 1, 190, 2},
      {"far under: still doubled only once", {0.01}, 1, 190, 2},
      {"4 pixels stays", {4}, 1, 190, 1},
      {"both signs halve to room / 2 - 16", {-100, 10}, 1, 100, 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    node->SetYScale(c.YScale);
    EXPECT_EQ(FitCyclogramVertically(c.Values, h, *node), c.ZeroY);
    EXPECT_EQ(node->YScale(), c.Fitted);
  }
}

// A graph too low to hold a curve, or a scale from a damaged file, never leaves a scale of nothing.
TEST_F(CyclogramTest, TheFitNeverLosesTheScale) {
  node->SetYScale(1);
  EXPECT_EQ(FitCyclogramVertically({100}, 10, *node), 9);
  EXPECT_EQ(node->YScale(), 1.0);
  for (double damaged : {std::numeric_limits<double>::infinity(), std::nan("")}) {
    node->SetYScale(damaged);
    FitCyclogramVertically({100}, 200, *node);
    EXPECT_EQ(node->YScale(), 1.0);
  }
  node->SetYScale(1);
  FitCyclogramVertically({1e300}, 200, *node);
  EXPECT_GT(node->YScale(), 0);
  EXPECT_LE(1e300 * node->YScale(), 190 - 16);
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
}

TEST_F(CyclogramTest, TheGraphClipsAtTheRightEdgeAndMarksTheSelectedPoint) {
  // Values within the band that keeps YScale 1: zero at 190, 200 pixels high.
  TCyclogramTable table = Table({"10", "50", "abc", "100", "20"}, {"0", "40", "40", "60", "100"});
  node->SetXScale(1);
  node->SetYScale(1);
  table.Select(3);
  TCyclogramGraph graph = table.Graph(*node, 150, 200);
  EXPECT_EQ(graph.ZeroY, 190);
  // Times 0, 40, 80, 140, 240: the last point is cut where its segment meets x = 150.
  const std::vector<QPoint> expected = {{0, 180}, {40, 140}, {80, 190}, {140, 90}, {150, 90 + 80 * 10 / 100}};
  EXPECT_EQ(graph.Line, expected);
  EXPECT_EQ(graph.MarkX, 80);

  // A mark right of the graph is not drawn; with a wider scale every later point clips to the edge.
  table.Select(5);
  node->SetXScale(2);
  graph = table.Graph(*node, 150, 200);
  EXPECT_FALSE(graph.MarkX.has_value());
  const int cut = 140 + 50 * 70 / 80;
  const std::vector<QPoint> wide = {{0, 180}, {80, 140}, {150, cut}, {150, cut}, {150, cut}};
  EXPECT_EQ(graph.Line, wide);

  // No points: no line, no mark.
  TCyclogramTable empty = Table({}, {});
  graph = empty.Graph(*node, 150, 200);
  EXPECT_TRUE(graph.Line.empty());
  EXPECT_FALSE(graph.MarkX.has_value());
  EXPECT_EQ(graph.ZeroY, 100);
}

}  // namespace
}  // namespace vexa::test
