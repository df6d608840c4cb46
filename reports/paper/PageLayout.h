#pragma once
// The printed page of a report laid out once per paper orientation from the printer's metrics, in
// page-relative coordinates: x a fraction of the physical page width, y of its height. The screen
// shows a scaled image of the same page.

#include <QPageLayout>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

class QFontMetrics;
class QPaintDevice;
class QPagedPaintDevice;

namespace vexa {

class TReportNode;
class TRegisterNode;

// The printer's page in device pixels.
struct TPrinterMetrics {
  int PrintableWidth = 0;
  int PrintableHeight = 0;
  int PageWidth = 0;   // PW, the physical page
  int PageHeight = 0;  // PH
  int OffsetX = 0;     // of the printable area on the physical page
  int OffsetY = 0;
  int DpiX = 0;
  int DpiY = 0;

  // What the device reports now, for the orientation it is set to.
  static TPrinterMetrics Of(const QPagedPaintDevice& device);
};

// Left, top, right, bottom in page coordinates.
struct TPageRect {
  double Left = 0;
  double Top = 0;
  double Right = 0;
  double Bottom = 0;
  double Width() const { return Right - Left; }
  double Height() const { return Bottom - Top; }
};

struct TPageLayout {
  TPrinterMetrics Printer;
  TPageRect Frame;  // the page less the margins: L, T, R, B
  // Text heights at 12 and 16 points as fractions of the page height; the widths of the Y labels
  // column, of the table's date-time column and of the date box as fractions of its width.
  double H12 = 0;
  double H16 = 0;
  double LabelW = 0;
  double TimeW = 0;
  double DateW = 0;
  TPageRect Header;
  TPageRect DateBox;
  TPageRect Footer;
  TPageRect TimeBand;
  TPageRect Table;
  TPageRect Plot;
  // The table's heading row: for column 0 (the date and time) and each register's column, its
  // text broken into the lines its column takes at 12 points.
  std::vector<QStringList> TableHeadings;
  int HeadingLines = 1;  // the most lines of any heading

  // The graph's left and right edges (GL, GR): the ticks and the bands span them.
  double GraphLeft() const { return Frame.Left + LabelW; }
  double GraphRight() const { return Frame.Right - 0.005; }
  // The table's column k (0 the date and time, 1..registers one per register): its left edge, and
  // its width up to a small gap before the next column.
  double TableColumn(int k) const;
  double TableColumnWidth(int k) const;
  int TableColumns() const { return static_cast<int>(TableHeadings.size()); }
};

// Margins in millimetres: left, top, right, bottom (each at least the printer's own).
inline constexpr double kMarginLeftMm = 35;
inline constexpr double kMarginTopMm = 15;
inline constexpr double kMarginRightMm = 10;
inline constexpr double kMarginBottomMm = 15;

// Every text of the page; on this system a substitute of the same metrics where one is installed.
inline const QString kPaperFontFamily = QStringLiteral("Arial");

// The heading of the table's date and time column.
inline const QString kTableDateHeading = QStringLiteral("Дата и время");

// The report's register children in order.
std::vector<const TRegisterNode*> ReportRegisters(const TReportNode& report);
// A register's Y label m (0..5): Zero + m * Notch, wide enough for any stored pair.
qint64 ScaleValue(const TRegisterNode& reg, int m);

// The text broken into lines no wider than `width` pixels: at spaces and after the points,
// backslashes and underscores of full names, and a part wider than a line at any character. An
// empty text is one empty line.
QStringList WrapText(const QString& text, const QFontMetrics& metrics, int width);

// n millimetres in pixels at dpi, truncated.
int MmToPixels(double mm, int dpi);

// The layout for these metrics, texts measured on `measure` (the printer itself, or a device of
// its resolution).
TPageLayout LayoutPage(const TPrinterMetrics& printer, QPaintDevice& measure, const TReportNode& report);
// Sets the printer's orientation, then lays the page out on it.
TPageLayout LayoutPage(QPagedPaintDevice& printer, QPageLayout::Orientation orientation,
                       const TReportNode& report);

// The page image's size inside an area (the scroll box's client less 16 pixels), keeping the
// physical page's aspect ratio.
QSize FitPageImage(QSize area, const TPrinterMetrics& printer);

}  // namespace vexa
