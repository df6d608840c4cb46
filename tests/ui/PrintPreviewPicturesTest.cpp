// Pictures of the print preview, with the graph page and with the table's first sheet, for the
// documentation; taken only when VEXA_SCREENSHOTS_DIR names the folder to write them to.

#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <QRadioButton>
#include <QScopeGuard>
#include <cmath>
#include <memory>

#include "core/RegisterNode.h"
#include "reports/gui/PrintPreviewUnit.h"
#include "reports/model/ReportNode.h"
#include "support/TestSupport.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

class TPrintPreviewPictures : public TVexaTest {
 protected:
  static constexpr double kStart = 46363.5;  // 07.12.2026 12:00:00

  void SetUp() override {
    folder = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir().mkpath(folder));
    report = std::make_unique<TReportNode>(nullptr);
    report->SetCaption(QStringLiteral("Котел 1"));
    report->SetStartPoint(kStart);
    report->SetLastPoint(kStart + 1.0 / 24);
    report->SetHeader({QStringLiteral("Котельная № 2. Сменный отчет")});
    report->SetFooter({QStringLiteral("Оператор: ____________")});
    Add(QStringLiteral("Температура"), 0, 20, 0xFF0000,
        [](double t) { return 40 + 50 * (1 - std::exp(-3 * t)); });
    Add(QStringLiteral("Давление"), 0, 2, 0x0000C0, [](double t) { return 5 + 2 * std::sin(12 * t); });
    Add(QStringLiteral("Уровень"), 20, 10, 0x008000, [](double t) { return 45 + 10 * std::cos(7 * t); });
  }
  void TearDown() override {
    report.reset();
    if (!folder.isEmpty()) TVexaTest::TearDown();
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

  void Save(QWidget* w, const char* name) {
    ProcessEventsFor(100);
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    const QPixmap picture = w->grab();
    EXPECT_EQ(picture.size(), w->size());
    EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
  }

  QString folder;
  std::unique_ptr<TReportNode> report;
};

TEST_F(TPrintPreviewPictures, GraphAndTable) {
  TPrintPreviewForm form;
  form.resize(900, 560);
  form.SetReport(report.get());
  bool taken = false;
  WhenModal<TPrintPreviewForm>([&](TPrintPreviewForm* f) {
    const auto close = qScopeGuard([f] { f->reject(); });
    Save(f, "print-preview-graph.png");
    MouseClick(f->TableButton(), Qt::LeftButton, {}, QPoint(6, f->TableButton()->height() / 2));
    Save(f, "print-preview-table.png");
    taken = true;
  });
  EXPECT_TRUE(form.Execute());
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace vexa::test
