// The page's layout: margins from the printer's offsets or the minimum, the areas stacked by the
// number of header and footer lines, the Y labels' column, and the page image fitted on the screen.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPdfWriter>
#include <climits>

#include "paper/PaperFixture.h"
#include "reports/paper/PageLayout.h"

namespace vexa::test {
namespace {

using TPageLayoutTest = TPaperTest;

TEST_F(TPageLayoutTest, MarginsAreThePrintersOwnWhenWiderThanTheMinimum) {
  NewReport();
  AddRegister(QStringLiteral("Температура"));
  const struct {
    const char* Name;
    TPrinterMetrics Printer;       // printable w, h, physical w, h, offsets, dpi
    int Left, Top, Right, Bottom;  // the frame in pixels of the physical page
  } cases[] = {
      // 35, 15, 10 and 15 mm at 600 dpi are 826, 354, 236 and 354 pixels.
      {"narrow offsets", {6816, 4761, 7016, 4961, 100, 100, 600, 600}, 826, 354, 7016 - 236, 4961 - 354},
      {"wide offsets", {5000, 3000, 7016, 4961, 1000, 500, 600, 600}, 1000, 500, 6000, 3500},
      // At 300 dpi: 413, 177, 118 and 177 pixels.
      {"portrait", {2400, 3400, 2480, 3508, 40, 54, 300, 300}, 413, 177, 2480 - 118, 3508 - 177},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRecordingDevice measure(QSize(c.Printer.PrintableWidth, c.Printer.PrintableHeight), c.Printer.DpiY);
    const TPageLayout l = LayoutPage(c.Printer, measure, *report);
    EXPECT_NEAR(l.Frame.Left * c.Printer.PageWidth, c.Left, 1e-6);
    EXPECT_NEAR(l.Frame.Top * c.Printer.PageHeight, c.Top, 1e-6);
    EXPECT_NEAR(l.Frame.Right * c.Printer.PageWidth, c.Right, 1e-6);
    EXPECT_NEAR(l.Frame.Bottom * c.Printer.PageHeight, c.Bottom, 1e-6);
  }
}

TEST_F(TPageLayoutTest, BothOrientationsKeepTheMinimumMargins) {
  NewReport();
  for (const auto orientation : {QPageLayout::Landscape, QPageLayout::Portrait}) {
    SCOPED_TRACE(orientation);
    QBuffer buffer;
    QPdfWriter writer(&buffer);
    writer.setResolution(kDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    const TPageLayout l = LayoutPage(writer, orientation, *report);
    const double mmX = l.Printer.PageWidth / (kDpi / 25.4), mmY = l.Printer.PageHeight / (kDpi / 25.4);
    EXPECT_NEAR(mmX, orientation == QPageLayout::Landscape ? 297 : 210, 0.5);
    EXPECT_NEAR(l.Frame.Left * mmX, 35, 0.05);
    EXPECT_NEAR(l.Frame.Top * mmY, 15, 0.05);
    EXPECT_NEAR((1 - l.Frame.Right) * mmX, 10, 0.05);
    EXPECT_NEAR((1 - l.Frame.Bottom) * mmY, 15, 0.05);
  }
}

TEST_F(TPageLayoutTest, HeaderAndFooterLinesTakeTheirRoomFromThePlot) {
  const struct {
    int Header, Footer;
    double DateBoxLines;  // one when there is no footer line
  } cases[] = {{0, 0, 1}, {2, 1, 1}, {5, 3, 3}};
  const TPrinterMetrics m = A4(QPageLayout::Landscape);
  TRecordingDevice measure(QSize(m.PrintableWidth, m.PrintableHeight), kDpi);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Header << " header lines, " << c.Footer << " footer lines");
    NewReport();
    QStringList header, footer;
    for (int i = 0; i < c.Header; ++i) header << QStringLiteral("Строка %1").arg(i);
    for (int i = 0; i < c.Footer; ++i) footer << QStringLiteral("Подпись %1").arg(i);
    report->SetHeader(header);
    report->SetFooter(footer);
    const TPageLayout l = LayoutPage(m, measure, *report);
    ASSERT_GT(l.H16, l.H12);
    EXPECT_NEAR(l.Plot.Top - l.Frame.Top, (c.Header + 0.1) * l.H16, 1e-12);
    EXPECT_NEAR(l.Frame.Bottom - l.Footer.Top, (c.DateBoxLines + 0.1) * l.H16, 1e-12);
    EXPECT_NEAR(l.Footer.Top - l.Plot.Bottom, 3 * l.H12, 1e-12) << "the time band";
    EXPECT_DOUBLE_EQ(l.Table.Bottom, l.Footer.Top);
    EXPECT_DOUBLE_EQ(l.DateBox.Right, l.Frame.Right);
  }
}

TEST_F(TPageLayoutTest, TheLabelColumnFitsTheWidestLabelOfAnyRegister) {
  const TPrinterMetrics m = A4(QPageLayout::Landscape);
  TRecordingDevice measure(QSize(m.PrintableWidth, m.PrintableHeight), kDpi);
  const auto labelW = [&](int zero, int notch) {
    NewReport();
    AddRegister(QStringLiteral("Узкая шкала"));
    AddRegister(QStringLiteral("Вторая"), zero, notch);
    return LayoutPage(m, measure, *report).LabelW;
  };
  const double narrow = labelW(0, 10);    // widest "50"
  const double wide = labelW(0, 100000);  // "500000", only in the second register
  EXPECT_GT(wide, narrow * 2);
  EXPECT_GT(labelW(-10000, 1), narrow);  // "-10000"
  // Zero and Notch as a file may hold them: the top label needs more than 32 bits.
  EXPECT_GT(labelW(INT_MAX, INT_MAX), wide);
  EXPECT_EQ(ScaleValue(*static_cast<TRegisterNode*>(report->Component(1)), 5), Q_INT64_C(12884901882));
}

// Full names break at their points and spaces, as many lines as they need; a part wider than the
// column at any character. Every line fits, and nothing of the text is lost.
TEST_F(TPageLayoutTest, LongHeadingsBreakIntoLinesThatFitTheirColumn) {
  TRecordingDevice device(QSize(7016, 4961), kDpi);
  QFont font(kPaperFontFamily);
  font.setPointSize(12);
  const QFontMetrics m(font, &device);
  const QString name = QStringLiteral("Температура.Канал 001.Регулятор 000");
  const struct {
    const char* What;
    QString Text;
    int Width;
    QStringList Lines;
  } cases[] = {
      {"fits", name, m.horizontalAdvance(name), {name}},
      {"after the points",
       name,
       m.horizontalAdvance(QStringLiteral("Регулятор 000")),
       {"Температура.", "Канал 001.", "Регулятор 000"}},
      {"at the spaces too",
       name,
       m.horizontalAdvance(QStringLiteral("Температура.")),
       {"Температура.", "Канал 001.", "Регулятор", "000"}},
      {"a backslash path",
       QStringLiteral("Печь\\Зона 1\\Уставка"),
       m.horizontalAdvance(QStringLiteral("Уставка")),
       {"Печь\\", "Зона 1\\", "Уставка"}},
      {"empty", QString(), 100, {""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(WrapText(c.Text, m, c.Width), c.Lines);
  }
  // A word wider than the column goes by characters; every line fits and the text is whole.
  const QString word = QStringLiteral("Котельная_09_12_2026_0459ДлинноеСловоБезПробелов");
  const int width = m.horizontalAdvance(QStringLiteral("Котельная"));
  const QStringList lines = WrapText(word, m, width);
  EXPECT_GT(lines.size(), 3);
  for (const QString& line : lines) EXPECT_LE(m.horizontalAdvance(line), width) << line.toStdString();
  EXPECT_EQ(lines.join(QString()), word);
  EXPECT_EQ(WrapText(word, m, 1).join(QString()), word) << "a column narrower than a letter: one a line";
}

// The table's heading row is laid out on the printer: column k's heading broken for its width, the
// row as high as its longest heading.
TEST_F(TPageLayoutTest, TheTableHeadingsAreBrokenForTheirColumns) {
  const TPrinterMetrics m = A4(QPageLayout::Portrait);
  TRecordingDevice measure(QSize(m.PrintableWidth, m.PrintableHeight), kDpi);
  NewReport();
  AddRegister(QStringLiteral("Давление"));
  for (int k = 0; k < 4; ++k)
    AddRegister(QStringLiteral("Уставка температуры.Канал 00%1.Регулятор 000.Котельная").arg(k));
  const TPageLayout l = LayoutPage(m, measure, *report);
  ASSERT_EQ(l.TableColumns(), 6);
  EXPECT_EQ(l.TableHeadings[0], QStringList{kTableDateHeading});
  EXPECT_EQ(l.TableHeadings[1], QStringList{QStringLiteral("Давление")});
  QFont font(kPaperFontFamily);
  font.setPointSize(12);
  const QFontMetrics metrics(font, &measure);
  int most = 1;
  for (int k = 2; k < 6; ++k) {
    const QStringList& lines = l.TableHeadings[static_cast<size_t>(k)];
    EXPECT_GT(lines.size(), 1);
    EXPECT_TRUE(lines.join(QString()).contains(QStringLiteral("Канал00%1.").arg(k - 2)))
        << "the channel is on paper: " << lines.join('|').toStdString();
    for (const QString& line : lines)
      EXPECT_LE(metrics.horizontalAdvance(line), l.TableColumnWidth(k) * m.PageWidth);
    most = std::max(most, static_cast<int>(lines.size()));
  }
  EXPECT_EQ(l.HeadingLines, most);
  // The columns: the date and time first, the registers sharing the rest, each short of the next.
  EXPECT_DOUBLE_EQ(l.TableColumn(0), l.Frame.Left);
  EXPECT_DOUBLE_EQ(l.TableColumn(1), l.Frame.Left + l.TimeW);
  for (int k = 0; k < 6; ++k) {
    const double right = k < 5 ? l.TableColumn(k + 1) : l.Table.Right;
    EXPECT_LT(l.TableColumn(k) + l.TableColumnWidth(k), right);
  }
}

TEST(FitPageImageTest, KeepsThePagesAspectInsideTheArea) {
  const TPrinterMetrics landscape{0, 0, 7016, 4961, 0, 0, 600, 600};  // a = 1.41423
  const TPrinterMetrics portrait{0, 0, 4961, 7016, 0, 0, 600, 600};   // a = 0.70710
  const struct {
    const char* Name;
    const TPrinterMetrics& Page;
    QSize Area, Image;
  } cases[] = {
      {"landscape, width decides", landscape, {500, 400}, {500, 353}},
      {"landscape, height decides", landscape, {500, 300}, {424, 300}},
      {"landscape, exact height", landscape, {500, 353}, {499, 353}},
      {"portrait, height decides", portrait, {500, 400}, {282, 400}},
      {"portrait, width decides", portrait, {200, 400}, {200, 282}},
      {"no room", landscape, {-10, -5}, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(FitPageImage(c.Area, c.Page), c.Image);
  }
}

}  // namespace
}  // namespace vexa::test
