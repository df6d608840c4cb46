// Pictures of the print preview, with the graph page and with the table's first sheet, for the
// documentation.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPixmap>
#include <QRadioButton>
#include <QScopeGuard>
#include <cmath>
#include <memory>

#include "Pictures.h"
#include "core/RegisterNode.h"
#include "reports/gui/PrintPreviewUnit.h"
#include "reports/model/ReportNode.h"
#include "reports/paper/ReportPaper.h"
#include "support/Child.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

class TPrintPreviewPictures : public TPicturesTest {
 protected:
  static constexpr double kStart = 46363.5;  // 07.12.2026 12:00:00

  void SetUp() override {
    TPicturesTest::SetUp();
    if (HasFatalFailure()) return;
    report = std::make_unique<TReportNode>(nullptr);
    report->SetCaption(QStringLiteral("Котел 1"));
    report->SetStartPoint(kStart);
    report->SetLastPoint(kStart + 1.0 / 24);
    report->SetHeader({QStringLiteral("Котельная № 2. Сменный отчет")});
    report->SetFooter({QStringLiteral("Оператор: ____________")});
    // Full names, as the reports window and the archive give them: the table's headings take lines.
    Add(QStringLiteral("Температура.Топка.Котел 1"), 0, 20, 0xFF0000,
        [](double t) { return 40 + 50 * (1 - std::exp(-3 * t)); });
    Add(QStringLiteral("Давление пара.Барабан.Котел 1"), 0, 2, 0x0000C0,
        [](double t) { return 5 + 2 * std::sin(12 * t); });
    Add(QStringLiteral("Уровень воды.Барабан.Котел 1"), 20, 10, 0x008000,
        [](double t) { return 45 + 10 * std::cos(7 * t); });
  }
  void TearDown() override {
    report.reset();
    TPicturesTest::TearDown();
  }

  template <class F>
  void Add(const QString& caption, int zero, int notch, int color, F value) {
    auto* reg = new TRegisterNode(report.get());
    reg->SetName(TCustomRegister::RegisterName(0, 0, report->ComponentCount() + 1));
    reg->SetCaption(caption);
    reg->SetZero(zero);
    reg->SetNotch(notch);
    reg->SetPenColor(color);
    QStringList points, data;
    for (int i = 0; i <= 120; ++i) {
      points << DateTimeToStr(kStart + 30.0 * i / 86400);
      data << FormatFixed(value(i / 120.0), 1);
    }
    reg->SetPoints(points);
    reg->SetDataList(data);
  }

  std::unique_ptr<TReportNode> report;
};

TEST_F(TPrintPreviewPictures, GraphAndTable) {
  TPrintPreviewForm form;
  form.SetReport(report.get());
  bool taken = false;
  WhenModal<TPrintPreviewForm>([&](TPrintPreviewForm* f) {
    const auto close = qScopeGuard([f] { f->reject(); });
    Save(f, "print-preview-graph.png");
    MouseClick(Child<QRadioButton>(*f, "tableButton"), Qt::LeftButton, {},
               QPoint(6, Child<QRadioButton>(*f, "tableButton")->height() / 2));
    Save(f, "print-preview-table.png");
    taken = true;
  });
  EXPECT_TRUE(form.Execute());
  EXPECT_TRUE(taken);
}

// The table's first sheet as the paper gets it, large enough to read: the full names' headings on
// as many lines as they take.
TEST_F(TPrintPreviewPictures, TablePage) {
  QPdfWriter printer(QDir(folder).filePath(QStringLiteral("unused.pdf")));
  printer.setResolution(600);
  printer.setPageSize(QPageSize(QPageSize::A4));
  TReportPaper paper(*report);
  paper.View = TPrintView::Table;
  paper.Layout(printer, QPageLayout::Landscape);
  QImage image(1123, 794, QImage::Format_RGB32);
  image.setDotsPerMeterX(3780);  // 96 dpi
  image.setDotsPerMeterY(3780);
  {
    QPainter painter(&image);
    paper.DrawScreen(painter, image.size(), Qt::white);
  }
  QFile::remove(QDir(folder).filePath(QStringLiteral("unused.pdf")));
  EXPECT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("print-table-page.png")), "PNG"));
}

}  // namespace
}  // namespace vexa::test
