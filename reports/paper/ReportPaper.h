#pragma once
// The one drawing code of a report's pages, for the screen, the printer and PDF files: the page frame
// (header, footer, date), the graph page (one band per register on a common time axis) and the
// table of the logged samples over as many pages as it takes.

#include <QColor>
#include <QPageLayout>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

#include "reports/paper/PageLayout.h"

class QPainter;
class QPagedPaintDevice;

namespace vexa {

class TReportNode;
class TRegisterNode;

enum class TPrintView { Graph, Table };  // "График", "Таблица (1-й лист)"

// Date and time texts in the regional format; empty for a value that is no date.
QString DateText(double dateTime);
QString TimeText(double dateTime);

// The common time axis: seven ticks over the report's window.
struct TTimeAxis {
  double StartDate = 0;  // both the report's StartPoint: the date part of one, the time of the other
  double StartTime = 0;
  double XNotch = 0;  // time between two ticks

  TTimeAxis() = default;
  explicit TTimeAxis(const TReportNode& report);
  // The time of tick i (0..6).
  double T(int i) const;
};

// Where page coordinates land on a device: on the printer the physical page less the printable
// area's offsets, on the screen the page image; pen widths in 1/720 inch and font sizes in points.
class TPageCanvas {
 public:
  // Painting on the printer (painter begun on it).
  TPageCanvas(QPainter& painter, const TPrinterMetrics& printer);
  // Painting the page image of the given size on a screen of the given vertical resolution.
  TPageCanvas(QPainter& painter, const TPrinterMetrics& printer, QSize image, int screenDpi);

  QPainter& Painter() const { return painter_; }
  bool OnScreen() const { return screen_; }
  // The screen's scale z of the printer's fonts; 1 on the printer.
  double Zoom() const { return zoom_; }
  QPoint Map(double x, double y) const;
  int PenWidth(int w720) const;
  int FontSize(int points) const;
  // Black text in the paper's font with its top-left corner at (x, y).
  // With a width (page units), a longer text is cut short with an ellipsis, so neighbouring columns
  // never overlap (a table heading is broken into lines that fit on the printer; the screen's
  // scaled font may still need a cut).
  void Text(double x, double y, int points, const QString& text, double width = 0) const;

 private:
  QPainter& painter_;
  TPrinterMetrics printer_;
  bool screen_ = false;
  QSize image_;
  int screenDpi_ = 96;
  double zoom_ = 1;
};

// One register's samples as the graph reads them: a sample whose time or value text does not
// convert is a failed one.
struct TSample {
  double Time = 0;
  double Value = 0;
  bool Good = false;
};

class TReportPaper {
 public:
  static constexpr int kFramePen = 10;  // 1/720 inch
  static constexpr int kGridPen = 2;
  static constexpr int kTitlePoints = 12;
  static constexpr int kLinePoints = 16;         // header, footer, date
  static constexpr int kBridgeColor = 12632256;  // light grey in the stored colour order
  static inline const QString kTableHeading = kTableDateHeading;

  // The report is read, never changed; it must outlive this object. Nothing is drawn before Layout.
  explicit TReportPaper(const TReportNode& report);

  const TReportNode& Report() const { return report_; }
  // Lays the page out for the printer's metrics (texts measured on `measure`) and reads the
  // registers' samples again: after a change of orientation or of the report.
  void Layout(const TPrinterMetrics& printer, QPaintDevice& measure);
  void Layout(QPagedPaintDevice& printer, QPageLayout::Orientation orientation);
  const TPageLayout& PageLayout() const { return layout_; }
  const TTimeAxis& Axis() const { return axis_; }

  TPrintView View = TPrintView::Graph;
  // The next sample row of the table.
  int TableRow = 0;
  // The number of table rows: the first register's samples.
  int RowCount() const;

  // The screen's page image: filled with the background, framed, then the first page. The painter's
  // device gives the screen's resolution.
  void DrawScreen(QPainter& painter, QSize image, const QColor& background);
  // The printed pages, each begun with the frame, newPage between them, until the view is done;
  // the number of pages drawn. The painter is begun on the printer laid out last.
  int PrintPages(QPainter& painter, const std::function<bool()>& newPage);
  // Begins a painter on the printer and prints; -1 when the printer could not be begun.
  int Print(QPagedPaintDevice& printer);

  // The pieces of a page, for one canvas.
  void DrawFrame(const TPageCanvas& canvas) const;
  // True when the view has no more pages: the graph always, the table when every row is printed or
  // none fits on a page.
  bool DrawPage(const TPageCanvas& canvas);
  void DrawGraphPage(const TPageCanvas& canvas) const;
  bool DrawTablePage(const TPageCanvas& canvas);

  // The geometry of the graph page: tick i (0..6), band k of the registers, its graph rectangle.
  double TickX(int i) const;
  TPageRect Band(int k) const;
  TPageRect GraphRect(int k) const;
  const std::vector<TSample>& Samples(int k) const { return samples_.at(static_cast<size_t>(k)); }

 private:
  void DrawBand(const TPageCanvas& canvas, int k) const;
  void DrawCurve(const TPageCanvas& canvas, int k, const TPageRect& graph) const;

  const TReportNode& report_;
  std::vector<const TRegisterNode*> registers_;
  std::vector<std::vector<TSample>> samples_;
  TPageLayout layout_;
  TTimeAxis axis_;
};

// The report drawn into a PDF file on A4 paper, replaced whole; the number of pages, or -1 with
// *error set (in Russian) when the file could not be written, which then is as it was.
int RenderReportPdf(const TReportNode& report, const QString& path, QPageLayout::Orientation orientation,
                    TPrintView view, QString* error = nullptr);

}  // namespace vexa
