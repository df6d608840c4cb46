#pragma once
// Reports made for the page tests, and their pages printed on a recording device of an A4 page.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <memory>
#include <utility>
#include <vector>

#include "core/RegisterNode.h"
#include "core/Services.h"
#include "paper/RecordingDevice.h"
#include "reports/model/ReportNode.h"
#include "reports/paper/ReportPaper.h"
#include "support/TestSupport.h"

namespace vexa::test {

class TPaperTest : public TVexaTest {
 protected:
  static constexpr double kStart = 46363.5;  // 07.12.2026 12:00:00
  static constexpr int kDpi = 600;

  TReportNode& NewReport(double minutes = 60) {
    report = std::make_unique<TReportNode>(nullptr);
    report->SetCaption(QStringLiteral("Печь 1"));
    report->SetStartPoint(kStart);
    report->SetLastPoint(kStart + minutes / 1440);
    return *report;
  }
  TRegisterNode& AddRegister(const QString& caption, int zero = 0, int notch = 10) {
    auto* reg = new TRegisterNode(report.get());
    reg->SetName(TCustomRegister::RegisterName(0, 0, report->ComponentCount()));
    reg->SetCaption(caption);
    reg->SetZero(zero);
    reg->SetNotch(notch);
    return *reg;
  }
  // The time text of a sample `seconds` after the start, as a history holds it.
  static QString At(double seconds) { return DateTimeToStr(kStart + seconds / 86400); }
  static void SetSamples(TRegisterNode& reg, const std::vector<std::pair<QString, QString>>& samples) {
    QStringList points, data;
    for (const auto& [time, value] : samples) {
      points << time;
      data << value;
    }
    reg.SetPoints(points);
    reg.SetDataList(data);
  }
  // n samples 18 s apart, the value of sample i given by f.
  template <class F>
  static void FillSamples(TRegisterNode& reg, int n, F f) {
    std::vector<std::pair<QString, QString>> samples;
    for (int i = 0; i < n; ++i) samples.emplace_back(At(18.0 * i), FloatToStr(f(i)));
    SetSamples(reg, samples);
  }

  // An A4 PDF page's metrics at kDpi.
  static TPrinterMetrics A4(QPageLayout::Orientation orientation) {
    QBuffer buffer;
    QPdfWriter writer(&buffer);
    writer.setResolution(kDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(orientation);
    return TPrinterMetrics::Of(writer);
  }

  // The report laid out for an A4 page and printed onto a recording device of that page.
  struct TPrinted {
    std::unique_ptr<TReportPaper> Paper;
    std::unique_ptr<TRecordingDevice> Device;
    int Pages = 0;
    const TRecordingEngine& Drawn() const { return Device->Engine(); }
  };
  TPrinted Print(TPrintView view, QPageLayout::Orientation orientation = QPageLayout::Landscape) {
    TPrinted p;
    const TPrinterMetrics metrics = A4(orientation);
    p.Device =
        std::make_unique<TRecordingDevice>(QSize(metrics.PrintableWidth, metrics.PrintableHeight), kDpi);
    p.Paper = std::make_unique<TReportPaper>(*report);
    p.Paper->View = view;
    p.Paper->Layout(metrics, *p.Device);
    QPainter painter(p.Device.get());
    p.Pages = p.Paper->PrintPages(painter, [&p] { return p.Device->NewPage(); });
    return p;
  }

  // A page point in printer pixels, as the printed page has it.
  static QPointF OnPrinter(const TPrinterMetrics& m, double x, double y) {
    return {std::trunc(x * m.PageWidth) - m.OffsetX, std::trunc(y * m.PageHeight) - m.OffsetY};
  }

  void TearDown() override {
    report.reset();
    TVexaTest::TearDown();
  }

  std::unique_ptr<TReportNode> report;
};

// The lines drawn in one colour.
inline std::vector<TDrawnLine> LinesIn(const TRecordingEngine& e, QColor color) {
  std::vector<TDrawnLine> out;
  for (const TDrawnLine& l : e.Lines)
    if (l.Pen.color() == color) out.push_back(l);
  return out;
}

inline const TDrawnText* FindText(const TRecordingEngine& e, const QString& text) {
  for (const TDrawnText& t : e.Texts)
    if (t.Text == text) return &t;
  return nullptr;
}

}  // namespace vexa::test
