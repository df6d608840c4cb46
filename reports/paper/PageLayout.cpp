#include "reports/paper/PageLayout.h"

#include <QFont>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <algorithm>
#include <cmath>

#include "core/RegisterNode.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"

namespace vexa {

namespace {

QFont PaperFont(int points) {
  QFont font(kPaperFontFamily);
  font.setPointSize(std::max(1, points));
  return font;
}

// The text of a Y label; the same as the graph page prints.
QString ScaleLabel(const TRegisterNode& reg, int m) {
  return QString::number(ScaleValue(reg, m));
}

}  // namespace

TPrinterMetrics TPrinterMetrics::Of(const QPagedPaintDevice& device) {
  TPrinterMetrics m;
  m.DpiX = device.logicalDpiX();
  m.DpiY = device.logicalDpiY();
  const QPageLayout layout = device.pageLayout();
  const QRect full = layout.fullRectPixels(m.DpiX);
  const QRect paint = layout.paintRectPixels(m.DpiX);
  m.PageWidth = full.width();
  m.PageHeight = full.height();
  m.OffsetX = paint.x();
  m.OffsetY = paint.y();
  m.PrintableWidth = device.width();
  m.PrintableHeight = device.height();
  return m;
}

std::vector<const TRegisterNode*> ReportRegisters(const TReportNode& report) {
  std::vector<const TRegisterNode*> regs;
  for (int i = 0; i < report.ComponentCount(); ++i)
    if (const auto* reg = dynamic_cast<const TRegisterNode*>(report.Component(i))) regs.push_back(reg);
  return regs;
}

qint64 ScaleValue(const TRegisterNode& reg, int m) {
  return static_cast<qint64>(reg.Zero()) + static_cast<qint64>(m) * reg.Notch();
}

int MmToPixels(double mm, int dpi) {
  return static_cast<int>(std::trunc(mm * dpi / 25.4));
}

TPageLayout LayoutPage(const TPrinterMetrics& printer, QPaintDevice& measure, const TReportNode& report) {
  TPageLayout l;
  l.Printer = printer;
  const double pw = std::max(1, printer.PageWidth);
  const double ph = std::max(1, printer.PageHeight);

  const int left = std::max(printer.OffsetX, MmToPixels(kMarginLeftMm, printer.DpiX));
  const int top = std::max(printer.OffsetY, MmToPixels(kMarginTopMm, printer.DpiY));
  const int right = std::max(printer.PageWidth - printer.OffsetX - printer.PrintableWidth,
                             MmToPixels(kMarginRightMm, printer.DpiX));
  const int bottom = std::max(printer.PageHeight - printer.OffsetY - printer.PrintableHeight,
                              MmToPixels(kMarginBottomMm, printer.DpiY));
  l.Frame = {left / pw, top / ph, (printer.PageWidth - right) / pw, (printer.PageHeight - bottom) / ph};

  const QFontMetrics m12(PaperFont(12), &measure);
  const QFontMetrics m16(PaperFont(16), &measure);
  l.H12 = m12.height() / ph;
  l.H16 = m16.height() / ph;
  int widest = 0;
  for (const TRegisterNode* reg : ReportRegisters(report))
    for (int m = 0; m <= 5; ++m) widest = std::max(widest, m12.horizontalAdvance(ScaleLabel(*reg, m) + "  "));
  if (widest == 0) widest = m12.horizontalAdvance(QStringLiteral("  "));
  l.LabelW = widest / pw;
  l.TimeW = m12.horizontalAdvance(DateTimeToStr(Now()) + QStringLiteral("00000")) / pw;
  l.DateW = m16.horizontalAdvance(QStringLiteral("00.00.0000")) / pw;

  const double L = l.Frame.Left, T = l.Frame.Top, R = l.Frame.Right, B = l.Frame.Bottom;
  const auto headerLines = static_cast<double>(report.Header().size());
  const qsizetype footerCount = report.Footer().size();
  const double footerLines = footerCount > 0 ? static_cast<double>(footerCount) : 1.0;
  l.Header = {L + l.LabelW, T, R, T + (headerLines + 0.1) * l.H16};
  l.DateBox = {R - l.DateW, B - (footerLines + 0.1) * l.H16, R, B};
  l.Footer = {L + l.LabelW, l.DateBox.Top, l.DateBox.Left, B};
  l.TimeBand = {L + l.LabelW, l.Footer.Top - 3 * l.H12, R, l.Footer.Top};
  l.Table = {L, l.Header.Bottom, R - 0.005, l.Footer.Top};
  l.Plot = {L, l.Header.Bottom, R - 0.005, l.TimeBand.Top};

  // Headings are broken on the printer's metrics, so the screen shows the lines the paper gets.
  const std::vector<const TRegisterNode*> regs = ReportRegisters(report);
  l.TableHeadings.assign(regs.size() + 1, {});
  l.HeadingLines = 1;
  for (int k = 0; k < l.TableColumns(); ++k) {
    const QString text = k == 0 ? kTableDateHeading : regs[static_cast<size_t>(k - 1)]->Caption();
    const int width = static_cast<int>(std::trunc(l.TableColumnWidth(k) * pw));
    l.TableHeadings[static_cast<size_t>(k)] = WrapText(text, m12, width);
    l.HeadingLines =
        std::max(l.HeadingLines, static_cast<int>(l.TableHeadings[static_cast<size_t>(k)].size()));
  }
  return l;
}

double TPageLayout::TableColumn(int k) const {
  if (k <= 0) return Frame.Left;
  const int registers = std::max(1, TableColumns() - 1);
  return Frame.Left + TimeW + (k - 1) * (Table.Right - Frame.Left - TimeW) / registers;
}

double TPageLayout::TableColumnWidth(int k) const {
  constexpr double kGap = 0.005;
  const double right = k + 1 < TableColumns() ? TableColumn(k + 1) : Table.Right;
  return std::max(0.0, right - TableColumn(k) - kGap);
}

QStringList WrapText(const QString& text, const QFontMetrics& metrics, int width) {
  if (width <= 0) return {text};
  // The text as parts that a line may end after: a space ends a part (and is dropped at a line's
  // end), so do the separators of a full name.
  QStringList parts;
  QString part;
  for (const QChar c : text) {
    part += c;
    if (c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('\\') || c == QLatin1Char('_') ||
        c == QLatin1Char('/') || c == QLatin1Char(',') || c == QLatin1Char('-')) {
      parts << part;
      part.clear();
    }
  }
  if (!part.isEmpty() || parts.isEmpty()) parts << part;

  QStringList lines;
  QString line;
  const auto fits = [&](const QString& s) { return metrics.horizontalAdvance(s.trimmed()) <= width; };
  for (QString p : parts) {
    if (fits(line + p)) {
      line += p;
      continue;
    }
    if (!line.trimmed().isEmpty()) lines << line.trimmed();
    line.clear();
    // A part wider than a whole line goes character by character; at least one a line.
    while (!fits(p)) {
      int n = 1;
      while (n < p.size() && fits(p.left(n + 1))) ++n;
      lines << p.left(n);
      p.remove(0, n);
    }
    line = p;
  }
  if (!line.trimmed().isEmpty() || lines.isEmpty()) lines << line.trimmed();
  return lines;
}

TPageLayout LayoutPage(QPagedPaintDevice& printer, QPageLayout::Orientation orientation,
                       const TReportNode& report) {
  printer.setPageOrientation(orientation);
  return LayoutPage(TPrinterMetrics::Of(printer), printer, report);
}

QSize FitPageImage(QSize area, const TPrinterMetrics& printer) {
  const int w = std::max(0, area.width());
  const int h = std::max(0, area.height());
  if (printer.PageWidth <= 0 || printer.PageHeight <= 0) return {w, h};
  const double a = static_cast<double>(printer.PageWidth) / printer.PageHeight;
  const auto trunc = [](double v) { return static_cast<int>(std::trunc(v)); };
  if (a >= 1) {
    const int height = trunc(w / a);
    if (height < h) return {w, height};
    return {trunc(a * h), h};
  }
  const int width = trunc(a * h);
  if (width < w) return {width, h};
  return {w, trunc(w / a)};
}

}  // namespace vexa
