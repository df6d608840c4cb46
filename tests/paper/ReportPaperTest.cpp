// The pages as printed and as the screen shows them: the graph page's axis, bands and curves, the
// table continued page after page, and reports that a file can hold but the dialogs never make.

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QRegularExpression>
#include <cmath>
#include <map>

#include "paper/PaperFixture.h"

namespace vexa::test {
namespace {

using TReportPaperTest = TPaperTest;

const QColor kRed(255, 0, 0);
constexpr int kStoredRed = 0x0000FF;
const QColor kGrey(192, 192, 192);

// The timestamps printed in the table's first column, page by page.
std::vector<QStringList> TimestampsByPage(const TRecordingEngine& e, int pages) {
  static const QRegularExpression stamp(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d+:\\d\\d:\\d\\d$"));
  std::vector<QStringList> out(static_cast<size_t>(pages));
  for (const TDrawnText& t : e.Texts)
    if (stamp.match(t.Text).hasMatch()) out.at(static_cast<size_t>(t.Page)) << t.Text;
  return out;
}

TEST_F(TReportPaperTest, GraphPageHasTheTimeAxisUnderEqualBandsOfTitledFramedRegisters) {
  NewReport(60);  // 12:00 to 13:00: a tick every ten minutes
  const QStringList captions = {QStringLiteral("Температура"), QStringLiteral("Давление"),
                                QStringLiteral("Уровень")};
  for (const QString& c : captions) FillSamples(AddRegister(c), 100, [](int i) { return i % 50; });
  const TPrinted p = Print(TPrintView::Graph);
  const TPrinterMetrics& m = p.Paper->PageLayout().Printer;
  const TRecordingEngine& e = p.Drawn();
  EXPECT_EQ(p.Pages, 1);
  EXPECT_EQ(e.Page, 0) << "no new page for the graph";

  // Three frames of equal height, pen 10/720 inch, one under the other.
  std::vector<QRectF> frames;
  for (const TDrawnRect& r : e.Rects)
    if (r.Pen.color() == Qt::black && r.Pen.width() == 10 * kDpi / 720) frames.push_back(r.Rect);
  ASSERT_EQ(frames.size(), 3u);
  for (size_t k = 1; k < frames.size(); ++k) {
    EXPECT_NEAR(frames[k].height(), frames[0].height(), 1.0);
    EXPECT_GT(frames[k].top(), frames[k - 1].bottom());
  }

  // Titles: the register's caption and the report's, above its band.
  for (int k = 0; k < 3; ++k) {
    const TDrawnText* title = FindText(e, captions[k] + QStringLiteral(".Печь 1"));
    ASSERT_NE(title, nullptr) << k;
    EXPECT_LT(title->Baseline.y(), frames[static_cast<size_t>(k)].top());
    EXPECT_EQ(title->Font.pointSize(), 12);
  }

  // Date and time under ticks 0..5, at the ticks, below the bottom band; none for tick 6.
  const QStringList times = {"12:00:00", "12:10:00", "12:20:00", "12:30:00", "12:40:00", "12:50:00"};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const TDrawnText* time = FindText(e, times[i]);
    ASSERT_NE(time, nullptr);
    EXPECT_DOUBLE_EQ(time->Baseline.x(), OnPrinter(m, p.Paper->TickX(i), 0).x());
    EXPECT_GT(time->Baseline.y(), frames.back().bottom());
  }
  EXPECT_EQ(FindText(e, "13:00:00"), nullptr);
  const auto dates = std::count_if(e.Texts.begin(), e.Texts.end(),
                                   [](const TDrawnText& t) { return t.Text == "07.12.2026"; });
  EXPECT_EQ(dates, 6 + 1) << "six ticks and the date box";

  // Y labels of the first band, 0 to 50 from the bottom up, at the 35 mm margin.
  double previous = 1e9;
  for (const char* label : {"0", "10", "20", "30", "40", "50"}) {
    const TDrawnText* t = FindText(e, label);
    ASSERT_NE(t, nullptr) << label;
    EXPECT_LT(t->Baseline.y(), previous) << label;
    previous = t->Baseline.y();
    EXPECT_DOUBLE_EQ(t->Baseline.x() + m.OffsetX, MmToPixels(35, kDpi)) << label;
  }
}

TEST_F(TReportPaperTest, ValuesOutsideTheScaleRunAlongItsNearestEdge) {
  const struct {
    double Value;
    double Level;  // of the graph's height from the bottom
  } cases[] = {{70, 1}, {50, 1}, {-20, 0}, {25, 0.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Value);
    NewReport(60);
    TRegisterNode& reg = AddRegister(QStringLiteral("Температура"), 0, 10);
    reg.SetPenColor(kStoredRed);
    reg.SetPenWidth(40);
    FillSamples(reg, 201, [&c](int) { return c.Value; });
    TReportPaper paper(*report);
    const TPrinterMetrics m = A4(QPageLayout::Landscape);
    TRecordingDevice measure(QSize(m.PrintableWidth, m.PrintableHeight), kDpi);
    paper.Layout(m, measure);
    QImage image(1123, 794, QImage::Format_RGB32);
    image.setDotsPerMeterX(3780);  // 96 dpi
    image.setDotsPerMeterY(3780);
    {
      QPainter painter(&image);
      paper.DrawScreen(painter, image.size(), Qt::white);
    }
    const TPageRect g = paper.GraphRect(0);
    const int expected = static_cast<int>((g.Bottom - (g.Bottom - g.Top) * c.Level) * image.height());
    // The red run in a column half-way along the graph.
    const int x = static_cast<int>(paper.TickX(3) * image.width()) + 7;
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixelColor(x, y) != kRed) continue;
      if (first < 0) first = y;
      last = y;
    }
    ASSERT_GE(first, 0) << "no curve in the column";
    EXPECT_LE(last - first, 6) << "one line of the pen's width";
    EXPECT_NEAR((first + last) / 2.0, expected, 3);
  }
}

TEST_F(TReportPaperTest, TableOf200SamplesContinuesOnPagesThatEachBeginWithTheHeading) {
  NewReport(60);
  report->SetHeader({QStringLiteral("Отчет смены")});
  FillSamples(AddRegister(QStringLiteral("Температура")), 200, [](int i) { return i; });
  FillSamples(AddRegister(QStringLiteral("Давление")), 150, [](int i) { return 1000 + i; });
  const TPrinted p = Print(TPrintView::Table);
  const TRecordingEngine& e = p.Drawn();
  ASSERT_GT(p.Pages, 2);
  EXPECT_EQ(e.Page + 1, p.Pages) << "a new page between pages, none after the last";
  EXPECT_EQ(p.Paper->TableRow, 200);

  const std::vector<QStringList> stamps = TimestampsByPage(e, p.Pages);
  QStringList all;
  for (int page = 0; page < p.Pages; ++page) {
    SCOPED_TRACE(page);
    int headings = 0, headers = 0;
    double headingY = 0;
    for (const TDrawnText& t : e.Texts) {
      if (t.Page != page) continue;
      if (t.Text == TReportPaper::kTableHeading) {
        ++headings;
        headingY = t.Baseline.y();
      }
      headers += t.Text == QStringLiteral("Отчет смены");
    }
    EXPECT_EQ(headings, 1);
    EXPECT_EQ(headers, 1) << "the frame on every page";
    EXPECT_FALSE(stamps[static_cast<size_t>(page)].isEmpty());
    for (const TDrawnText& t : e.Texts)
      if (t.Page == page && stamps[static_cast<size_t>(page)].contains(t.Text)) {
        EXPECT_GT(t.Baseline.y(), headingY);
      }
    all += stamps[static_cast<size_t>(page)];
  }
  // Every sample once, in order: each page goes on where the last one stopped.
  QStringList expected;
  for (int i = 0; i < 200; ++i) expected << At(18.0 * i);
  EXPECT_EQ(all, expected);
  // The shorter log leaves its column empty below its last sample.
  int pressures = 0;
  for (const TDrawnText& t : e.Texts) pressures += t.Text.size() == 4 && t.Text.startsWith('1');
  EXPECT_EQ(pressures, 150);

  // The screen shows the first page only.
  TRecordingDevice screen(QSize(1123, 794), 96);
  {
    QPainter painter(&screen);
    p.Paper->DrawScreen(painter, QSize(1123, 794), Qt::white);
  }
  EXPECT_EQ(screen.Engine().Page, 0);
  EXPECT_EQ(TimestampsByPage(screen.Engine(), 1)[0], stamps[0]);
}

// Register captions are full names, often wider than their column: broken onto as many lines as
// they need, never over the next column, and the rows move down below the longest.
TEST_F(TReportPaperTest, LongTableHeadingsWrapAndTheRowsMoveDown) {
  NewReport(60);
  const QString longName =
      QStringLiteral("Уставка температуры.Канал 000.Регулятор 000.Котельная_09_12_2026_0459");
  for (int k = 0; k < 3; ++k)
    FillSamples(AddRegister(longName + QString::number(k)), 5, [](int i) { return i; });
  FillSamples(AddRegister(QStringLiteral("Давление")), 5, [](int i) { return 100 + i; });
  const TPrinted p = Print(TPrintView::Table);
  const TPageLayout& l = p.Paper->PageLayout();
  ASSERT_GT(l.HeadingLines, 1);
  const double h12 = l.H12 * l.Printer.PageHeight;
  const TDrawnText* dateHeading = FindText(p.Drawn(), TReportPaper::kTableHeading);
  ASSERT_NE(dateHeading, nullptr);
  const double firstLine = dateHeading->Baseline.y();

  // Per column (by its left edge) the heading's lines in order, one line height apart.
  std::map<int, std::vector<const TDrawnText*>> columns;
  for (const TDrawnText& t : p.Drawn().Texts)
    if (t.Page == 0 && t.Baseline.y() < firstLine + l.HeadingLines * h12 - 1)
      columns[static_cast<int>(t.Baseline.x())].push_back(&t);
  ASSERT_EQ(columns.size(), 5u);
  std::vector<int> lefts;
  for (const auto& [x, texts] : columns) lefts.push_back(x);
  int k = 0;
  for (const auto& [x, texts] : columns) {
    QString whole;
    for (size_t i = 0; i < texts.size(); ++i) {
      EXPECT_NEAR(texts[i]->Baseline.y(), firstLine + static_cast<double>(i) * h12, 1);
      const QFontMetricsF metrics(texts[i]->Font, p.Device.get());
      if (static_cast<size_t>(k + 1) < lefts.size()) {
        EXPECT_LT(x + metrics.horizontalAdvance(texts[i]->Text), lefts[static_cast<size_t>(k + 1)])
            << texts[i]->Text.toStdString();
      }
      EXPECT_FALSE(texts[i]->Text.endsWith(QChar(0x2026))) << "nothing cut short";
      whole += texts[i]->Text;
    }
    if (k >= 1 && k <= 3) {
      EXPECT_EQ(whole.remove(' '), QString(longName + QString::number(k - 1)).remove(' '));
    }
    ++k;
  }
  // The first row of samples comes below the last heading line.
  const TDrawnText* firstStamp = FindText(p.Drawn(), At(0));
  ASSERT_NE(firstStamp, nullptr);
  EXPECT_NEAR(firstStamp->Baseline.y(), firstLine + (l.HeadingLines - 1 + 1.25) * h12, 1);
  EXPECT_NE(FindText(p.Drawn(), QStringLiteral("104")), nullptr) << "every row still printed";
}

TEST_F(TReportPaperTest, APageWithRoomForNoRowEndsThePrinting) {
  NewReport(60);
  QStringList header;
  for (int i = 0; i < 40; ++i) header << QStringLiteral("Строка заголовка %1").arg(i);
  report->SetHeader(header);
  FillSamples(AddRegister(QStringLiteral("Температура")), 50, [](int i) { return i; });
  const TPrinted p = Print(TPrintView::Table);
  EXPECT_EQ(p.Pages, 1);
  EXPECT_EQ(p.Paper->TableRow, 0);
  EXPECT_NE(FindText(p.Drawn(), TReportPaper::kTableHeading), nullptr);
}

TEST_F(TReportPaperTest, ReportsWithoutSamplesPrintOnePage) {
  const struct {
    const char* Name;
    bool Register;
    TPrintView View;
  } cases[] = {{"no register, graph", false, TPrintView::Graph},
               {"no register, table", false, TPrintView::Table},
               {"no sample, graph", true, TPrintView::Graph},
               {"no sample, table", true, TPrintView::Table}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    NewReport(60);
    if (c.Register) AddRegister(QStringLiteral("Температура")).SetPenColor(kStoredRed);
    const TPrinted p = Print(c.View);
    EXPECT_EQ(p.Pages, 1);
    EXPECT_TRUE(LinesIn(p.Drawn(), kRed).empty());
    EXPECT_NE(FindText(p.Drawn(), c.View == TPrintView::Table ? TReportPaper::kTableHeading : "12:00:00"),
              nullptr);
  }
}

TEST_F(TReportPaperTest, ScalesOfNoHeightOrUpsideDownDrawInsideTheGraph) {
  const struct {
    int Zero, Notch;
    std::vector<double> Levels;  // of the values 0, 50 and 70: 0 the bottom edge, 1 the top
  } cases[] = {
      {0, 10, {0, 1, 1}},
      {50, -10, {1, 0, 0}},  // labels 50 down to 0
      {5, 0, {0, 0, 0}},     // every level 5: a file's register the dialog would refuse
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "Zero " << c.Zero << " Notch " << c.Notch);
    NewReport(60);
    TRegisterNode& reg = AddRegister(QStringLiteral("Температура"), c.Zero, c.Notch);
    reg.SetPenColor(kStoredRed);
    SetSamples(reg, {{At(60), "0"}, {At(120), "50"}, {At(180), "70"}});
    const TPrinted p = Print(TPrintView::Graph);
    const TPrinterMetrics& m = p.Paper->PageLayout().Printer;
    const TPageRect g = p.Paper->GraphRect(0);
    const std::vector<TDrawnLine> curve = LinesIn(p.Drawn(), kRed);
    ASSERT_EQ(curve.size(), 1u);
    ASSERT_EQ(curve[0].Points.size(), 3);
    for (int j = 0; j < 3; ++j) {
      const double level = c.Levels[static_cast<size_t>(j)];
      EXPECT_NEAR(curve[0].Points[j].y(), OnPrinter(m, 0, g.Bottom - g.Height() * level).y(), 1) << j;
    }
  }
}

// An archive written under another regional format draws its samples at the same times.
TEST_F(TReportPaperTest, TimeStampsOfOtherRegionalFormatsDrawAtTheirTimes) {
  const auto curveOf = [&](const std::vector<std::pair<QString, QString>>& samples) {
    NewReport(60);
    TRegisterNode& reg = AddRegister(QStringLiteral("Температура"));
    reg.SetPenColor(kStoredRed);
    SetSamples(reg, samples);
    const TPrinted p = Print(TPrintView::Graph);
    const std::vector<TDrawnLine> curve = LinesIn(p.Drawn(), kRed);
    return curve.empty() ? QPolygonF() : curve[0].Points;
  };
  const QPolygonF ours = curveOf({{At(305), "10"}, {At(905), "20"}, {At(1505), "30"}});
  ASSERT_EQ(ours.size(), 3);
  EXPECT_EQ(At(305), QStringLiteral("07.12.2026 12:05:05"));
  const QPolygonF others = curveOf({{"7.12.26 12:05:05", "10"},         // short day and year
                                    {"2026-12-07 12:15:05", "20"},      // year first
                                    {"12/7/2026 12:25:05 PM", "30"}});  // month first, 12-hour clock
  EXPECT_EQ(others, ours);
}

TEST_F(TReportPaperTest, FailedSamplesAreBridgedByAThinGreyLine) {
  NewReport(60);
  TRegisterNode& reg = AddRegister(QStringLiteral("Температура"));
  reg.SetPenColor(kStoredRed);
  reg.SetPenWidth(30);
  SetSamples(reg, {
                      {At(-60), "10"},               // before the window
                      {At(0), "***"},                // failed before anything is drawn
                      {At(0), "10"},                 // 0: the first drawn point
                      {At(60), "20"},                // 1
                      {At(120), "***"},              // a failed read
                      {"07.13.2026 12:03:00", "5"},  // a time that is no date
                      {At(240), "20"},               // 2: reached by the grey bridge
                      {At(300), "30"},               // 3
                      {At(3660), "40"},              // after the window
                  });
  const TPrinted p = Print(TPrintView::Graph);
  const TPrinterMetrics& m = p.Paper->PageLayout().Printer;
  const std::vector<TDrawnLine> red = LinesIn(p.Drawn(), kRed);
  const std::vector<TDrawnLine> grey = LinesIn(p.Drawn(), kGrey);
  ASSERT_EQ(red.size(), 2u);
  ASSERT_EQ(grey.size(), 1u);
  EXPECT_EQ(red[0].Pen.width(), 30 * kDpi / 720);
  EXPECT_EQ(grey[0].Pen.width(), 10 * kDpi / 720) << "a third of the pen";
  ASSERT_EQ(red[0].Points.size(), 2);
  ASSERT_EQ(red[1].Points.size(), 2);
  EXPECT_EQ(grey[0].Points[0], red[0].Points[1]);
  EXPECT_EQ(grey[0].Points[1], red[1].Points[0]);
  EXPECT_DOUBLE_EQ(red[0].Points[0].x(), OnPrinter(m, p.Paper->TickX(0), 0).x()) << "the start on tick 0";
  EXPECT_LT(red[1].Points[1].x(), OnPrinter(m, p.Paper->TickX(1), 0).x()) << "five minutes: before tick 1";
}

TEST_F(TReportPaperTest, WindowsOfNoLengthDrawWithoutDividingByNothing) {
  const struct {
    const char* Name;
    double Start, Last;
    int Points;  // drawn on tick 0
  } cases[] = {
      {"zero length", kStart, kStart, 2},
      {"ticks on one time", kStart, kStart - 1e-9, 2},
      {"backwards", kStart, kStart - 1.0 / 24, 0},
      {"no date", std::nan(""), kStart, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    NewReport();
    report->SetStartPoint(c.Start);
    report->SetLastPoint(c.Last);
    TRegisterNode& reg = AddRegister(QStringLiteral("Температура"));
    reg.SetPenColor(kStoredRed);
    SetSamples(reg, {{At(0), "10"}, {At(0), "20"}, {At(60), "30"}});
    const TPrinted p = Print(TPrintView::Graph);
    EXPECT_EQ(p.Pages, 1);
    const std::vector<TDrawnLine> curve = LinesIn(p.Drawn(), kRed);
    int points = 0;
    for (const TDrawnLine& l : curve) {
      for (const QPointF& pt : l.Points) {
        ++points;
        EXPECT_DOUBLE_EQ(pt.x(), OnPrinter(p.Paper->PageLayout().Printer, p.Paper->TickX(0), 0).x());
      }
    }
    EXPECT_EQ(points, c.Points);
    for (const TDrawnLine& l : p.Drawn().Lines)
      for (const QPointF& pt : l.Points) EXPECT_TRUE(std::isfinite(pt.x()) && std::isfinite(pt.y()));
  }
}

TEST_F(TReportPaperTest, TheScreenScalesFontsAndPensWithTheImage) {
  NewReport(60);
  TRegisterNode& reg = AddRegister(QStringLiteral("Температура"));
  reg.SetPenColor(kStoredRed);
  reg.SetPenWidth(40);
  FillSamples(reg, 100, [](int i) { return i % 50; });
  const TPrinterMetrics m{6900, 4800, 7016, 4961, 58, 80, 600, 600};
  TRecordingDevice measure(QSize(m.PrintableWidth, m.PrintableHeight), kDpi);
  TReportPaper paper(*report);
  paper.Layout(m, measure);
  // z = image height * 600 / (4961 * 96)
  const struct {
    QSize Image;
    int Points12, Points16, Frame, Curve;
  } cases[] = {
      {{1123, 794}, 12, 16, 1, 5},    // z 1.0003
      {{561, 397}, 6, 8, 1, 2},       // z 0.50015
      {{2828, 2000}, 30, 40, 2, 12},  // z 2.5197
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Image.height());
    TRecordingDevice screen(c.Image, 96);
    {
      QPainter painter(&screen);
      paper.DrawScreen(painter, c.Image, Qt::white);
    }
    const TRecordingEngine& e = screen.Engine();
    const TDrawnText* title = FindText(e, QStringLiteral("Температура.Печь 1"));
    const TDrawnText* date = FindText(e, QStringLiteral("07.12.2026"));
    ASSERT_TRUE(title && date);
    EXPECT_EQ(title->Font.pointSize(), c.Points12);
    EXPECT_EQ(e.Texts.back().Font.pointSize(), c.Points12) << "the last Y label";
    EXPECT_EQ(date->Font.pointSize(), c.Points16) << "the date box, drawn first";
    const std::vector<TDrawnLine> curve = LinesIn(e, kRed);
    ASSERT_FALSE(curve.empty());
    EXPECT_EQ(curve[0].Pen.width(), c.Curve);
    int frames = 0;
    for (const TDrawnRect& r : e.Rects) frames += r.Pen.color() == Qt::black && r.Pen.width() == c.Frame;
    EXPECT_GE(frames, 1);
    // The page's point (x, y) lands on (trunc(x * width), trunc(y * height)).
    EXPECT_DOUBLE_EQ(title->Baseline.x(), std::trunc(paper.PageLayout().GraphLeft() * c.Image.width()));
  }
}

}  // namespace
}  // namespace vexa::test
