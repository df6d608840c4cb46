// The print preview as the operator uses it: the empty report refused, the page image fitted and
// zoomed with the mouse, the paper turned, the view changed, the report printed (into a PDF file on
// a system without printers) and the report's and registers' properties opened from the tree.

#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "core/RegisterNode.h"
#include "reports/gui/PrintPreviewUnit.h"
#include "reports/model/ReportNode.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {
namespace {

constexpr double kStart = 46363.5;  // 07.12.2026 12:00:00

// Pages of a PDF file, counted by their page objects.
int PdfPages(const QByteArray& pdf) {
  static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
  int n = 0;
  for (auto it = page.globalMatch(QString::fromLatin1(pdf)); it.hasNext(); it.next()) ++n;
  return n;
}

void DoubleClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
  const QPoint at = tree->visualItemRect(item).center();
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// A radio button is clicked on its circle: its label may end before the middle of the button.
void ClickRadio(QRadioButton* button) {
  MouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

class TPrintPreviewTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    MakeReport();
    mainForm = std::make_unique<TMainForm>(Current());
    form = std::make_unique<TPrintPreviewForm>(SessionOf(mainForm.get()));
  }
  void TearDown() override {
    form.reset();
    mainForm.reset();
    report.reset();
    Services().BusyCursor = nullptr;
    TVexaTest::TearDown();
  }

  // An hour's report of two registers with 200 samples each.
  void MakeReport() {
    report = std::make_unique<TReportNode>(nullptr);
    report->SetCaption(QStringLiteral("Печь 1"));
    report->SetStartPoint(kStart);
    report->SetLastPoint(kStart + 1.0 / 24);
    temperature = AddRegister(QStringLiteral("Температура"), 200);
    pressure = AddRegister(QStringLiteral("Давление"), 200);
  }
  TRegisterNode* AddRegister(const QString& caption, int samples) {
    auto* reg = new TRegisterNode(report.get());
    reg->SetName(TCustomRegister::RegisterName(0, 0, report->ComponentCount()));
    reg->SetCaption(caption);
    QStringList points, data;
    for (int i = 0; i < samples; ++i) {
      points << DateTimeToStr(kStart + 18.0 * i / 86400);
      data << QString::number(i % 60);
    }
    reg->SetPoints(points);
    reg->SetDataList(data);
    return reg;
  }

  // Opens the preview on the report and runs `inside` while it is shown; closes it afterwards.
  bool Open(const std::function<void()>& inside) {
    form->SetReport(report.get());
    bool ran = false;
    WhenModal<TPrintPreviewForm>([&](TPrintPreviewForm* f) {
      const auto close = qScopeGuard([f] { f->reject(); });
      ProcessEventsFor(50);
      inside();
      ran = true;
    });
    const bool shown = form->Execute();
    EXPECT_TRUE(ran);
    return shown;
  }

  // The window's parts, found by their names.
  QScrollArea* ScrollBox() const { return Child<QScrollArea>(*form, "scrollBox"); }
  QWidget* PageImage() const { return Child<QWidget>(*form, "pageImage"); }
  QLineEdit* DateField() const { return Child<QLineEdit>(*form, "dateField"); }
  QLineEdit* TimeField() const { return Child<QLineEdit>(*form, "timeField"); }
  QLineEdit* NotchField() const { return Child<QLineEdit>(*form, "notchField"); }
  QRadioButton* GraphButton() const { return Child<QRadioButton>(*form, "graphButton"); }
  QRadioButton* TableButton() const { return Child<QRadioButton>(*form, "tableButton"); }
  QRadioButton* LandscapeButton() const { return Child<QRadioButton>(*form, "landscapeButton"); }
  QRadioButton* PortraitButton() const { return Child<QRadioButton>(*form, "portraitButton"); }
  QTreeWidget* Tree() const { return Child<QTreeWidget>(*form, "reportTree"); }
  QPushButton* PrintButton() const { return Child<QPushButton>(*form, "printButton"); }
  QSize ImageSize() const { return PageImage()->size(); }
  QSize Fitted() const { return FitPageImage(form->FitArea(), form->Paper()->PageLayout().Printer); }
  // Where a point of the page image is in the scroll box's viewport.
  QPoint InViewport(QPoint onImage) const { return PageImage()->mapTo(ScrollBox()->viewport(), onImage); }
  QPoint ViewportCentre() const { return ScrollBox()->viewport()->rect().center(); }

  std::unique_ptr<TReportNode> report;
  TRegisterNode* temperature = nullptr;
  TRegisterNode* pressure = nullptr;
  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TPrintPreviewForm> form;
};

TEST_F(TPrintPreviewTest, AnEmptyReportIsRefusedWithoutOpening) {
  const struct {
    const char* Name;
    std::function<void(std::unique_ptr<TReportNode>&)> Empty;
  } cases[] = {
      {"no report", [](std::unique_ptr<TReportNode>& r) { r.reset(); }},
      {"no register", [](std::unique_ptr<TReportNode>& r) { r->DestroyComponents(); }},
      {"first register without samples",
       [](std::unique_ptr<TReportNode>& r) {
         auto* first = static_cast<TRegisterNode*>(r->Component(0));
         first->SetPoints(QStringList());
         first->SetDataList(QStringList());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    MakeReport();
    Messages->Shown.clear();
    c.Empty(report);
    form->SetReport(report.get());
    {
      TNoModalWindow none;
      EXPECT_FALSE(form->Execute());
    }
    ASSERT_EQ(Messages->Shown.size(), 1u);
    EXPECT_EQ(Messages->Shown[0].Text, QStringLiteral("Отчет пуст!"));
    EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Information);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(mainForm->ToolWindowCount(), 0);
    EXPECT_EQ(form->Report(), nullptr) << "the caller's report is not kept";
  }
}

TEST_F(TPrintPreviewTest, OpensWithTheTimeAxisTheTreeAndTheFittedPage) {
  const bool shown = Open([&] {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Предварительный просмотр"));
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form->minimumSize(), QSize(400, 400));
    EXPECT_EQ(form->property("HelpContext").toInt(), 9);
    EXPECT_EQ(mainForm->ToolWindowCount(), 1);
    EXPECT_EQ(DateField()->text(), QStringLiteral("07.12.2026"));
    EXPECT_EQ(TimeField()->text(), QStringLiteral("12:00:00"));
    EXPECT_EQ(NotchField()->text(), QStringLiteral("0:10:00")) << "an hour in six";
    EXPECT_TRUE(GraphButton()->isChecked() && LandscapeButton()->isChecked());
    EXPECT_TRUE(PrintButton()->isDefault());
    EXPECT_EQ(PrintButton()->parentWidget()->width(), 143);

    QTreeWidget* tree = Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* top = tree->topLevelItem(0);
    EXPECT_EQ(top->text(0), QStringLiteral("Печь 1"));
    ASSERT_EQ(top->childCount(), 2);
    EXPECT_EQ(top->child(1)->text(0), QStringLiteral("Давление"));
    EXPECT_EQ(tree->editTriggers(), QAbstractItemView::NoEditTriggers);

    // The landscape page fitted at 8 pixels from the top-left.
    EXPECT_EQ(ImageSize(), Fitted());
    EXPECT_GT(ImageSize().width(), ImageSize().height());
    EXPECT_EQ(PageImage()->pos(), QPoint(8, 8));
    EXPECT_EQ(ScrollBox()->horizontalScrollBar()->maximum(), 0) << "nothing to scroll";
  });
  EXPECT_TRUE(shown);
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  EXPECT_EQ(Tree()->topLevelItemCount(), 0) << "the caller destroys the report now";
  EXPECT_EQ(form->Paper(), nullptr);
}

TEST_F(TPrintPreviewTest, LeftClicksDoubleTheImageUpTo4000PixelsAndCentreTheClickedPoint) {
  Open([&] {
    const QSize fitted = ImageSize();
    QWidget* image = PageImage();
    // A point off the middle comes to the middle of the scroll box.
    const QPoint at(fitted.width() / 3, fitted.height() / 3);
    MouseClick(image, Qt::LeftButton, {}, at);
    EXPECT_EQ(ImageSize(), fitted * 2);
    EXPECT_LE((InViewport(at * 2) - ViewportCentre()).manhattanLength(), 2);
    const QPoint centre = ScrollBox()->viewport()->mapToGlobal(ViewportCentre());
    EXPECT_EQ(QCursor::pos(), centre) << "the pointer to the centre";

    QList<int> widths{fitted.width(), ImageSize().width()};
    for (int i = 0; i < 5; ++i) {
      MouseClick(image, Qt::LeftButton, {}, image->rect().center());
      widths << ImageSize().width();
    }
    for (int i = 1; i < widths.size(); ++i)
      EXPECT_EQ(widths[i], widths[i - 1] < 4000 ? widths[i - 1] * 2 : widths[i - 1]) << i;
    EXPECT_GE(widths.last(), 4000);
    EXPECT_LT(widths.last(), 8000);
    EXPECT_NEAR(double(ImageSize().width()) / ImageSize().height(), double(fitted.width()) / fitted.height(),
                0.01);
  });
}

TEST_F(TPrintPreviewTest, RightClicksHalveTheImageUntilItFitsAgain) {
  Open([&] {
    const QSize fitted = ImageSize();
    QWidget* image = PageImage();
    MouseClick(image, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(ImageSize(), fitted) << "a fitted image stays";

    MouseClick(image, Qt::LeftButton, {}, image->rect().center());
    MouseClick(image, Qt::LeftButton, {}, image->rect().center());
    ASSERT_EQ(ImageSize(), fitted * 4);
    const QPoint at(fitted.width() * 5 / 2, fitted.height() * 3 / 2);
    MouseClick(image, Qt::RightButton, {}, at);
    EXPECT_EQ(ImageSize(), fitted * 2);
    EXPECT_LE((InViewport(at / 2) - ViewportCentre()).manhattanLength(), 2);

    MouseClick(image, Qt::RightButton, {}, image->rect().center());
    EXPECT_EQ(ImageSize(), Fitted()) << "half of it would be smaller than the box: fitted again";
    EXPECT_EQ(ScrollBox()->horizontalScrollBar()->maximum(), 0);

    // A new window size fits the page again.
    MouseClick(image, Qt::LeftButton, {}, image->rect().center());
    form->resize(form->width() + 200, form->height() + 100);
    ProcessEventsFor(50);
    EXPECT_EQ(ImageSize(), Fitted());
  });
}

TEST_F(TPrintPreviewTest, TurningThePaperLaysThePageOutAgainAndRefitsIt) {
  Open([&] {
    const QSize landscape = ImageSize();
    const TPrinterMetrics wide = form->Paper()->PageLayout().Printer;
    MouseClick(PageImage(), Qt::LeftButton, {}, QPoint(5, 5));

    ClickRadio(PortraitButton());
    EXPECT_EQ(form->Orientation(), QPageLayout::Portrait);
    const TPageLayout& l = form->Paper()->PageLayout();
    EXPECT_EQ(l.Printer.PageWidth, wide.PageHeight);
    EXPECT_EQ(l.Printer.PageHeight, wide.PageWidth);
    EXPECT_EQ(ImageSize(), Fitted());
    EXPECT_LT(ImageSize().width(), ImageSize().height());
    // The same margins on the turned page.
    EXPECT_GE(l.Frame.Left * l.Printer.PageWidth, MmToPixels(35, l.Printer.DpiX));
    EXPECT_GE((1 - l.Frame.Right) * l.Printer.PageWidth, MmToPixels(10, l.Printer.DpiX) - 1e-6);
    EXPECT_GE(l.Frame.Top * l.Printer.PageHeight, MmToPixels(15, l.Printer.DpiY));

    ClickRadio(LandscapeButton());
    EXPECT_EQ(ImageSize(), landscape);
  });
}

TEST_F(TPrintPreviewTest, TheTableViewShowsTheFirstSheet) {
  Open([&] {
    const QImage graph = PageImage()->grab().toImage();
    ClickRadio(TableButton());
    EXPECT_EQ(form->View(), TPrintView::Table);
    ProcessEventsFor(20);
    const QImage table = PageImage()->grab().toImage();
    EXPECT_NE(graph, table);
    EXPECT_LT(form->Paper()->TableRow, 200) << "one sheet of the 200 samples";
    EXPECT_GT(form->Paper()->TableRow, 0);
    ClickRadio(GraphButton());
    ProcessEventsFor(20);
    EXPECT_EQ(PageImage()->grab().toImage(), graph);
  });
}

TEST_F(TPrintPreviewTest, PrintWithoutAPrinterWritesThePdfFileAsked) {
  if (!QPrinterInfo::defaultPrinter().isNull()) GTEST_SKIP() << "this system has a printer";
  QList<bool> busy;
  Services().BusyCursor = [&busy](bool on) { busy << on; };
  const QString unwritable = Dir->filePath("no/such/folder/report.pdf");
  QStringList answers{Dir->filePath("graph.pdf"), QString(), unwritable, Dir->filePath("table.pdf")};
  int asked = 0;
  form->AskPdfPath = [&] { return answers.value(asked++); };
  Open([&] {
    MouseClick(PrintButton());
    MouseClick(PrintButton());  // cancelled
    MouseClick(PrintButton());  // a file that cannot be written
    ClickRadio(TableButton());
    ClickRadio(PortraitButton());
    MouseClick(PrintButton());
  });
  EXPECT_EQ(asked, 4);
  EXPECT_EQ(busy, (QList<bool>{true, false, true, false, true, false}))
      << "the busy cursor while printing only";
  const QStringList failures = Messages->Texts().filter(QStringLiteral("напечатать"));
  ASSERT_EQ(failures.size(), 1) << Messages->Texts().join(" / ").toStdString();
  EXPECT_TRUE(failures[0].contains(unwritable)) << failures[0].toStdString();
  QFile graph(Dir->filePath("graph.pdf")), table(Dir->filePath("table.pdf"));
  ASSERT_TRUE(graph.open(QIODevice::ReadOnly));
  ASSERT_TRUE(table.open(QIODevice::ReadOnly));
  const QByteArray g = graph.readAll(), t = table.readAll();
  EXPECT_TRUE(g.startsWith("%PDF-"));
  EXPECT_EQ(PdfPages(g), 1);
  EXPECT_GT(PdfPages(t), 1) << "200 samples take several sheets";
  // A4 in points: landscape for the graph, portrait as chosen for the table.
  EXPECT_TRUE(g.contains("/MediaBox [0 0 841") || g.contains("/MediaBox [0 0 842"))
      << g.left(2000).constData();
  EXPECT_TRUE(t.contains("/MediaBox [0 0 595"));
}

// Told by the real box inside the preview's own loop, from the print button's click; the preview
// stays open and prints the next time.
TEST_F(TPrintPreviewTest, AFailedPrintIsToldByTheRealBoxAndThePreviewGoesOn) {
  if (!QPrinterInfo::defaultPrinter().isNull()) GTEST_SKIP() << "this system has a printer";
  const QString unwritable = Dir->filePath("no/such/folder/report.pdf");
  QStringList answers{unwritable, unwritable, Dir->filePath("graph.pdf")};
  int asked = 0;
  form->AskPdfPath = [&] { return answers.value(asked++); };
  int answered = 0;
  Open([&] {
    for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
      TRealMessageBoxes boxes(how);
      MouseClick(PrintButton());
      answered += boxes.Answered;
      EXPECT_TRUE(form->isVisible()) << BoxCloseName(how);
    }
    MouseClick(PrintButton());
  });
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(answered, 2);
  EXPECT_EQ(Messages->Texts().filter(QStringLiteral("напечатать")).size(), 2)
      << Messages->Texts().join(" / ").toStdString();
  EXPECT_TRUE(QFile::exists(Dir->filePath("graph.pdf")));
}

TEST_F(TPrintPreviewTest, DoubleClicksInTheTreeEditTheReportOrARegisterAndRelayTheCopy) {
  Open([&] {
    QTreeWidget* tree = Tree();
    QTreeWidgetItem* top = tree->topLevelItem(0);
    const TPageLayout before = form->Paper()->PageLayout();
    DoubleClickItem(tree, top);  // no hooks: nothing happens
    DoubleClickItem(tree, top->child(0));

    TReportNode* edited = nullptr;
    form->EditHeaderFooter = [&](TReportNode& r) {
      edited = &r;
      r.SetHeader({"Смена 1", "Мастер", "Цех 2"});
      return true;
    };
    TRegisterNode* register_ = nullptr;
    form->EditRegister = [&](TRegisterNode& r) {
      register_ = &r;
      r.SetCaption(QStringLiteral("Давление в котле"));
      r.SetZero(-100000);
      return true;
    };
    DoubleClickItem(tree, top);
    EXPECT_EQ(edited, report.get());
    const TPageLayout& after = form->Paper()->PageLayout();
    EXPECT_NEAR(after.Header.Height(), 3.1 * after.H16, 1e-12);
    EXPECT_GT(after.Plot.Top, before.Plot.Top);

    DoubleClickItem(tree, top->child(1));
    EXPECT_EQ(register_, pressure);
    EXPECT_EQ(top->child(1)->text(0), QStringLiteral("Давление в котле"));
    EXPECT_GT(form->Paper()->PageLayout().LabelW, before.LabelW) << "the new scale's labels are wider";
  });
}

}  // namespace
}  // namespace vexa::test
