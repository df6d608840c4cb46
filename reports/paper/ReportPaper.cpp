#include "reports/paper/ReportPaper.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/RegisterNode.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "storage/AtomicFile.h"
#include "storage/NetDescription.h"

namespace vexa {

namespace {

// 01.01.0001 .. 31.12.9999: the dates a date text can show.
constexpr double kFirstDate = -693593;
constexpr double kLastDate = 2958466;
constexpr int kPdfDpi = 1200;

bool IsDate(double v) {
  return std::isfinite(v) && v > kFirstDate && v < kLastDate;
}

// Pixel coordinates stay inside what a device can take, whatever a stored report holds.
int Pixel(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(std::trunc(v), -1e8, 1e8));
}

// A stored colour: red in the low byte, then green and blue.
QColor StoredColor(int color) {
  const auto c = static_cast<quint32>(color);
  return {static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF)};
}

QPen SolidPen(const QColor& color, int width, Qt::PenCapStyle cap = Qt::SquareCap,
              Qt::PenJoinStyle join = Qt::MiterJoin) {
  return QPen(color, width, Qt::SolidLine, cap, join);
}

}  // namespace

QString DateText(double dateTime) {
  if (!IsDate(dateTime)) return {};
  return DateTimeToQt(dateTime).date().toString(FormatSettings().ShortDateFormat);
}

QString TimeText(double dateTime) {
  if (!IsDate(dateTime)) return {};
  return DateTimeToQt(dateTime).time().toString(FormatSettings().LongTimeFormat);
}

TTimeAxis::TTimeAxis(const TReportNode& report)
    : StartDate(report.StartPoint()),
      StartTime(report.StartPoint()),
      XNotch((report.LastPoint() - report.StartPoint() + 1e-9) / 6) {}

double TTimeAxis::T(int i) const {
  const double date = std::trunc(StartDate);
  const double time = std::fabs(StartTime - std::trunc(StartTime));
  return date + time + i * XNotch;
}

// --- canvas --------------------------------------------------------------------------------------

TPageCanvas::TPageCanvas(QPainter& painter, const TPrinterMetrics& printer)
    : painter_(painter), printer_(printer) {}

TPageCanvas::TPageCanvas(QPainter& painter, const TPrinterMetrics& printer, QSize image, int screenDpi)
    : painter_(painter), printer_(printer), screen_(true), image_(image), screenDpi_(std::max(1, screenDpi)) {
  const double denominator = static_cast<double>(printer.PageHeight) * screenDpi_;
  zoom_ = denominator > 0 ? image.height() * static_cast<double>(printer.DpiY) / denominator : 1;
}

QPoint TPageCanvas::Map(double x, double y) const {
  if (screen_) return {Pixel(x * image_.width()), Pixel(y * image_.height())};
  return {Pixel(x * printer_.PageWidth) - printer_.OffsetX,
          Pixel(y * printer_.PageHeight) - printer_.OffsetY};
}

int TPageCanvas::PenWidth(int w720) const {
  const qint64 w = w720;
  // Whole device pixels first, as the page has always been drawn; the screen's zoom after.
  const qint64 device = w * (screen_ ? screenDpi_ : printer_.DpiY) / 720;
  const double pixels =
      screen_ ? std::trunc(static_cast<double>(device) * zoom_) : static_cast<double>(device);
  return static_cast<int>(std::clamp(pixels, 1.0, 100000.0));
}

int TPageCanvas::FontSize(int points) const {
  if (!screen_) return std::max(1, points);
  return std::max(1, static_cast<int>(std::trunc(points * zoom_)));
}

void TPageCanvas::Text(double x, double y, int points, const QString& text, double width) const {
  QFont font(kPaperFontFamily);
  font.setPointSize(FontSize(points));
  painter_.setFont(font);
  painter_.setPen(Qt::black);
  const QPoint at = Map(x, y);
  const QString shown =
      width > 0 ? painter_.fontMetrics().elidedText(text, Qt::ElideRight, Map(x + width, y).x() - at.x())
                : text;
  painter_.drawText(at.x(), at.y() + painter_.fontMetrics().ascent(), shown);
}

// --- pages ---------------------------------------------------------------------------------------

TReportPaper::TReportPaper(const TReportNode& report) : report_(report), axis_(report) {}

void TReportPaper::Layout(const TPrinterMetrics& printer, QPaintDevice& measure) {
  registers_ = ReportRegisters(report_);
  axis_ = TTimeAxis(report_);
  layout_ = LayoutPage(printer, measure, report_);
  samples_.clear();
  samples_.reserve(registers_.size());
  for (const TRegisterNode* reg : registers_) {
    const TTextList& points = reg->Points();
    const TTextList& data = reg->DataList();
    std::vector<TSample> samples(static_cast<size_t>(points.size()));
    for (qsizetype j = 0; j < points.size(); ++j) {
      const std::optional<double> time = StrToDateTime(points.at(j));
      const std::optional<double> value = StrToFloat(data.value(j));
      if (time && value) samples[static_cast<size_t>(j)] = {*time, *value, true};
    }
    samples_.push_back(std::move(samples));
  }
}

void TReportPaper::Layout(QPagedPaintDevice& printer, QPageLayout::Orientation orientation) {
  printer.setPageOrientation(orientation);
  Layout(TPrinterMetrics::Of(printer), printer);
}

int TReportPaper::RowCount() const {
  return registers_.empty() ? 0 : static_cast<int>(registers_.front()->Points().size());
}

void TReportPaper::DrawScreen(QPainter& painter, QSize image, const QColor& background) {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), image), background);
  painter.setPen(SolidPen(Qt::black, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(0, 0, image.width() - 1, image.height() - 1);
  const int dpi = painter.device() != nullptr ? painter.device()->logicalDpiY() : 96;
  const TPageCanvas canvas(painter, layout_.Printer, image, dpi);
  TableRow = 0;
  DrawFrame(canvas);
  DrawPage(canvas);
  painter.restore();
}

int TReportPaper::PrintPages(QPainter& painter, const std::function<bool()>& newPage) {
  const TPageCanvas canvas(painter, layout_.Printer);
  TableRow = 0;
  int pages = 0;
  for (;;) {
    ++pages;
    DrawFrame(canvas);
    if (DrawPage(canvas) || !newPage()) break;
  }
  return pages;
}

int TReportPaper::Print(QPagedPaintDevice& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return -1;
  const int pages = PrintPages(painter, [&printer] { return printer.newPage(); });
  return painter.end() ? pages : -1;
}

void TReportPaper::DrawFrame(const TPageCanvas& canvas) const {
  const TPageLayout& l = layout_;
  const QStringList& header = report_.Header();
  for (qsizetype i = 0; i < header.size(); ++i)
    canvas.Text(l.Header.Left, l.Header.Top + static_cast<double>(i) * l.H16, kLinePoints, header.at(i));
  const QStringList& footer = report_.Footer();
  for (qsizetype i = 0; i < footer.size(); ++i)
    canvas.Text(l.Footer.Left, l.Footer.Top + static_cast<double>(i) * l.H16, kLinePoints, footer.at(i));
  canvas.Text(l.DateBox.Left, l.DateBox.Top, kLinePoints, DateText(axis_.StartDate));
}

bool TReportPaper::DrawPage(const TPageCanvas& canvas) {
  if (View == TPrintView::Table) return DrawTablePage(canvas);
  DrawGraphPage(canvas);
  return true;
}

double TReportPaper::TickX(int i) const {
  const double gl = layout_.GraphLeft();
  return gl + (layout_.GraphRight() - gl) * i / 6;
}

TPageRect TReportPaper::Band(int k) const {
  const TPageRect& plot = layout_.Plot;
  const double n = std::max<double>(1, static_cast<double>(registers_.size()));
  return {layout_.GraphLeft(), plot.Top + plot.Height() * k / n, layout_.GraphRight(),
          plot.Top + plot.Height() * (k + 1) / n};
}

TPageRect TReportPaper::GraphRect(int k) const {
  TPageRect r = Band(k);
  r.Top += 1.5 * layout_.H12;
  return r;
}

void TReportPaper::DrawGraphPage(const TPageCanvas& canvas) const {
  const TPageLayout& l = layout_;
  for (int i = 0; i <= 5; ++i) {
    canvas.Text(TickX(i), l.TimeBand.Top + 0.2 * l.H12, kTitlePoints, DateText(axis_.T(i)));
    canvas.Text(TickX(i), l.TimeBand.Top + 1.2 * l.H12, kTitlePoints, TimeText(axis_.T(i)));
  }
  for (int k = 0; k < static_cast<int>(registers_.size()); ++k) DrawBand(canvas, k);
}

void TReportPaper::DrawBand(const TPageCanvas& canvas, int k) const {
  const TPageLayout& l = layout_;
  const TRegisterNode& reg = *registers_.at(static_cast<size_t>(k));
  QPainter& p = canvas.Painter();
  const TPageRect band = Band(k);
  canvas.Text(band.Left, band.Top + 0.4 * l.H12, kTitlePoints, NodeFullName(reg));

  const TPageRect g = GraphRect(k);
  const auto level = [&g](int r) { return g.Bottom - g.Height() * r / 5; };
  const QPoint topLeft = canvas.Map(g.Left, g.Top);
  const QPoint bottomRight = canvas.Map(g.Right, g.Bottom);
  p.setBrush(Qt::NoBrush);
  p.setPen(SolidPen(Qt::black, canvas.PenWidth(kFramePen)));
  p.drawRect(QRect(topLeft, QSize(bottomRight.x() - topLeft.x(), bottomRight.y() - topLeft.y())));

  p.setPen(SolidPen(Qt::black, canvas.PenWidth(kGridPen)));
  for (int r = 1; r <= 4; ++r) p.drawLine(canvas.Map(g.Left, level(r)), canvas.Map(g.Right, level(r)));
  for (int i = 1; i <= 5; ++i) p.drawLine(canvas.Map(TickX(i), g.Top), canvas.Map(TickX(i), g.Bottom));
  for (int r = 0; r <= 5; ++r)
    canvas.Text(l.Frame.Left, level(r) - 0.5 * l.H12, kTitlePoints, QString::number(ScaleValue(reg, r)));

  DrawCurve(canvas, k, g);
}

void TReportPaper::DrawCurve(const TPageCanvas& canvas, int k, const TPageRect& g) const {
  const TRegisterNode& reg = *registers_.at(static_cast<size_t>(k));
  QPainter& p = canvas.Painter();
  const auto v0 = static_cast<double>(ScaleValue(reg, 0));
  const auto v5 = static_cast<double>(ScaleValue(reg, 5));
  const double low = std::min(v0, v5);
  const double high = std::max(v0, v5);
  const double t0 = axis_.T(0);
  const double t6 = axis_.T(6);
  const double x0 = TickX(0);
  const double x6 = TickX(6);
  const QPen pen =
      SolidPen(StoredColor(reg.PenColor()), canvas.PenWidth(reg.PenWidth()), Qt::RoundCap, Qt::RoundJoin);
  const QPen bridge =
      SolidPen(StoredColor(kBridgeColor), canvas.PenWidth(reg.PenWidth() / 3), Qt::RoundCap, Qt::RoundJoin);
  p.setBrush(Qt::NoBrush);

  QPolygon run;  // the points drawn since the last bridge
  const auto flush = [&] {
    if (run.size() >= 2) {
      p.setPen(pen);
      p.drawPolyline(run);
    }
    run.clear();
  };
  bool failedSince = false;
  double lastTime = -std::numeric_limits<double>::infinity();
  for (const TSample& s : Samples(k)) {
    if (!s.Good) {
      failedSince = true;
      continue;
    }
    if (!(t0 <= s.Time && s.Time <= t6)) continue;
    // The clock went back (an hour repeated, a step): the curve begins anew rather than stroke back.
    if (s.Time < lastTime) {
      flush();
      failedSince = false;
    }
    lastTime = s.Time;
    // A window of no length (or a stored one that runs backwards) puts what it holds at its start
    // instead of dividing by nothing; a scale of no height puts every value on its one level.
    const double x = t6 > t0 ? x0 + (x6 - x0) * (s.Time - t0) / (t6 - t0) : x0;
    const double v = std::clamp(s.Value, low, high);
    const double y = v5 != v0 ? g.Bottom + (g.Top - g.Bottom) * (v - v0) / (v5 - v0) : g.Bottom;
    const QPoint at = canvas.Map(x, y);
    if (!run.isEmpty() && failedSince) {
      const QPoint from = run.last();
      flush();
      p.setPen(bridge);
      p.drawLine(from, at);
    }
    run << at;
    failedSince = false;
  }
  flush();
}

bool TReportPaper::DrawTablePage(const TPageCanvas& canvas) {
  const TPageLayout& l = layout_;
  const auto n = static_cast<int>(registers_.size());
  double y = l.Table.Top + 0.25 * l.H12;
  // The heading row takes as many lines as its longest heading; the rows begin below it.
  for (int k = 0; k < l.TableColumns(); ++k) {
    const QStringList& lines = l.TableHeadings[static_cast<size_t>(k)];
    for (qsizetype i = 0; i < lines.size(); ++i)
      canvas.Text(l.TableColumn(k), y + static_cast<double>(i) * l.H12, kTitlePoints, lines.at(i),
                  l.TableColumnWidth(k));
  }
  y += (l.HeadingLines - 1 + 1.25) * l.H12;
  const int rows = RowCount();
  int printed = 0;
  while (y < l.Table.Bottom - 1.5 * l.H12 && TableRow < rows) {
    canvas.Text(l.TableColumn(0), y, kTitlePoints, registers_.front()->Points().at(TableRow));
    for (int k = 0; k < n; ++k)
      canvas.Text(l.TableColumn(k + 1), y, kTitlePoints,
                  registers_[static_cast<size_t>(k)]->DataList().value(TableRow), l.TableColumnWidth(k + 1));
    y += l.H12;
    ++TableRow;
    ++printed;
  }
  // A page too short for a single row would begin the same page again for ever.
  return TableRow >= rows || printed == 0;
}

int RenderReportPdf(const TReportNode& report, const QString& path, QPageLayout::Orientation orientation,
                    TPrintView view, QString* error) {
  // Drawn in memory and then replaced whole: a full disk leaves the earlier file, never an empty
  // or a cut one.
  QBuffer pdf;
  pdf.open(QIODevice::WriteOnly);
  int pages = -1;
  {
    QPdfWriter writer(&pdf);
    writer.setResolution(kPdfDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setTitle(report.Caption());
    writer.setCreator(QStringLiteral("Vexa"));
    TReportPaper paper(report);
    paper.View = view;
    paper.Layout(writer, orientation);
    pages = paper.Print(writer);
  }
  QString why;
  if (pages < 0) {
    why = QStringLiteral("страницы не нарисованы");
  } else if (!WriteFileAtomically(path, pdf.data(), &why)) {
    pages = -1;
  }
  if (pages < 0 && error != nullptr) *error = why;
  return pages;
}

}  // namespace vexa
