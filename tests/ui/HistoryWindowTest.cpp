// The history window as the operator uses it: opened from a label's menu, one per label, the
// cursor on keys and mouse, the zoom buttons, the refresh every logging interval, and what it draws.

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cmath>
#include <memory>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "historian/HistoryStore.h"
#include "reports/gui/PrintPreviewUnit.h"
#include "reports/model/ReportNode.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "ui/HistoryChart.h"
#include "ui/HistoryUnit.h"
#include "ui/LabelViews.h"
#include "ui/MainUnit.h"
#include "ui/ManualTimer.h"
#include "ui/MnemoPages.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

// The history window's parts, found by their names.
QToolBar* ToolBar(const THistoryForm& h) {
  return Child<QToolBar>(h, "toolBar");
}
QLabel* DateLabel(const THistoryForm& h) {
  return Child<QLabel>(h, "dateLabel");
}
QLabel* TimeLabel(const THistoryForm& h) {
  return Child<QLabel>(h, "timeLabel");
}
QLabel* ValueLabel(const THistoryForm& h) {
  return Child<QLabel>(h, "valueLabel");
}
QScrollArea* ScrollBox(const THistoryForm& h) {
  return Child<QScrollArea>(h, "scrollBox");
}
THistoryAxis* Axis(const THistoryForm& h) {
  return Child<THistoryAxis>(h, "axis");
}
THistoryChart* ChartWidget(const THistoryForm& h) {
  return Child<THistoryChart>(h, "chart");
}

class HistoryWindowTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkpath("Config");
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::white);
    ASSERT_TRUE(picture.save(Dir->filePath("a.png"), "PNG"));
    Settings()->SetMNames({QStringLiteral("Котельная")});
    Settings()->SetMFiles({Dir->filePath("a.png")});
    ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
    TRootNode& channel =
        AddChannelNode(AddRegulatorNode(*Net(), 1, QStringLiteral("Печь")), 0, QStringLiteral("Зона 1"));
    reg = &AddRegisterNode(channel, 1, {.Caption = QStringLiteral("Температура")});
    form = std::make_unique<TMainForm>(Current());
    form->ShowHistory = [this](TLabelDisplay& l) { ShowLabelHistory(*form, l); };
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    label = PlaceLabel(*reg, QStringLiteral("ts0"), 40, 30);
    ASSERT_NE(label, nullptr);
  }
  void TearDown() override {
    form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  // Samples at 3 s steps from 07.12.2026 9:00:00 with the given values.
  void History(const std::vector<double>& values) {
    QStringList times, texts;
    for (size_t i = 0; i < values.size(); ++i) {
      times << DateTimeToStr(DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(9, 0).addSecs(3 * int(i)))));
      texts << FloatToStr(values[i]);
    }
    reg->SetPoints(times);
    reg->SetDataList(texts);
  }

  // Right click on the label, then a command of its menu.
  void LabelCommand(QAction* command) {
    QWidget* view = nullptr;
    for (TLabelView* v : form->findChildren<TLabelView*>())
      if (v->Label() == label) view = v;
    ASSERT_NE(view, nullptr);
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(3, 3), view->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(view, &e);
    QMenu* menu = Child<QMenu>(*form, "labelMenu");
    EXPECT_TRUE(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(command).center());
  }

  // "История" from the label's menu; the window that came up.
  THistoryForm* OpenFromMenu() {
    LabelCommand(Child<QAction>(*form, "historyAction"));
    auto* history = qobject_cast<THistoryForm*>(form->Labels()->HistoryForm(*label));
    if (history != nullptr) {
      EXPECT_TRUE(QTest::qWaitForWindowExposed(history));
      auto t = std::make_unique<TManualTimer>();
      timer = t.get();
      history->SetRepeatTimer(std::move(t));
      // The window started the program's timer when it was shown; the test's takes its place.
      if (reg->LoggingInterval() > 0) {
        timer->SetInterval(reg->LoggingInterval() * 1000);
        timer->Start();
      }
    }
    return history;
  }

  QImage Chart(THistoryForm* h) { return ChartWidget(*h)->grab().toImage(); }

  std::unique_ptr<TMainForm> form;
  TRegisterNode* reg = nullptr;
  TLabelDisplay* label = nullptr;
  TManualTimer* timer = nullptr;
};

TEST_F(HistoryWindowTest, TheLabelMenuOpensOneWindowPerLabelTitledWithTheFullName) {
  History({1, 2, 3});
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(h->isVisible());
  EXPECT_EQ(h->windowTitle(), QStringLiteral("Температура.Зона 1.Печь"));
  EXPECT_EQ(form->ToolWindowCount(), 1);
  EXPECT_FALSE(Child<QAction>(*form, "restoreAction")->isEnabled());
  const QList<QAction*> tools = ToolBar(*h)->actions();
  ASSERT_GE(tools.size(), 2);
  EXPECT_EQ(tools[0]->text(), QStringLiteral("Увеличить"));
  EXPECT_EQ(tools[1]->text(), QStringLiteral("Уменьшить"));
  EXPECT_EQ(DateLabel(*h)->toolTip(), QStringLiteral("Дата"));
  // At least as wide as the toolkit's boxes, and wide enough for a date and a time in this font.
  EXPECT_GE(DateLabel(*h)->width(), 69);
  EXPECT_GE(TimeLabel(*h)->width(), 55);
  EXPECT_GE(DateLabel(*h)->contentsRect().width(),
            DateLabel(*h)->fontMetrics().horizontalAdvance(" 07.12.2026 "));
  EXPECT_GE(TimeLabel(*h)->contentsRect().width(),
            TimeLabel(*h)->fontMetrics().horizontalAdvance(" 19:00:12"));
  EXPECT_EQ(ChartWidget(*h)->width(), THistoryForm::kChartWidth);
  EXPECT_EQ(ChartWidget(*h)->height(), ScrollBox(*h)->viewport()->height());
  EXPECT_EQ(h->minimumSize(), QSize(THistoryForm::kMinClientWidth, THistoryForm::kMinClientHeight));

  // Asked again, the same window comes forward.
  EXPECT_EQ(OpenFromMenu(), h);
  EXPECT_EQ(form->ToolWindowCount(), 1);
  const QWidgetList windows = QApplication::topLevelWidgets();
  EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                          [](QWidget* w) { return qobject_cast<THistoryForm*>(w); }),
            1);

  // Closed, it gives back the count, and the next command makes a new one.
  h->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(form->ToolWindowCount(), 0);
  EXPECT_EQ(form->Labels()->HistoryForm(*label), nullptr);
  THistoryForm* again = OpenFromMenu();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(form->ToolWindowCount(), 1);
}

TEST_F(HistoryWindowTest, TheWindowGoesWithItsLabel) {
  History({1, 2, 3});
  QPointer<THistoryForm> h = OpenFromMenu();
  ASSERT_TRUE(h);
  delete label;  // the label's "Удалить", or a restore replacing the tree
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(h);
  EXPECT_EQ(form->ToolWindowCount(), 0);
}

TEST_F(HistoryWindowTest, TheCursorStartsOnTheNewestSampleAndFollowsKeysAndTheMouse) {
  History({10, 20, 30, 40, 50});
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Cursor(), 4);
  ChartWidget(*h)->repaint();
  EXPECT_EQ(DateLabel(*h)->text(), QStringLiteral(" 07.12.2026 "));
  EXPECT_EQ(TimeLabel(*h)->text(), QStringLiteral(" 9:00:12"));
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" 50"));

  const struct {
    const char* Step;
    std::function<void()> Do;
    int Cursor;
  } steps[] = {
      {"left", [&] { KeyClick(ChartWidget(*h), Qt::Key_Left); }, 3},
      {"left", [&] { KeyClick(ChartWidget(*h), Qt::Key_Left); }, 2},
      {"left", [&] { KeyClick(ChartWidget(*h), Qt::Key_Left); }, 1},
      {"left stops at 1", [&] { KeyClick(ChartWidget(*h), Qt::Key_Left); }, 1},
      {"the mouse reaches 0",
       [&] {
         MouseEvent(ChartWidget(*h), QEvent::MouseButtonPress, Qt::LeftButton, {}, {0, 5});
       },
       0},
      {"drag",
       [&] {
         MouseEvent(ChartWidget(*h), QEvent::MouseMove, Qt::LeftButton, {}, {700, 5});
       },
       700},
      {"drag beyond the chart",
       [&] {
         MouseEvent(ChartWidget(*h), QEvent::MouseMove, Qt::LeftButton, {}, {1300, 5});
       },
       1209},
      {"right stops at the last pixel", [&] { KeyClick(ChartWidget(*h), Qt::Key_Right); }, 1209},
      {"shift click",
       [&] {
         MouseEvent(ChartWidget(*h), QEvent::MouseButtonPress, Qt::LeftButton, Qt::ShiftModifier, {9, 5});
       },
       1209},
      {"right button",
       [&] {
         MouseEvent(ChartWidget(*h), QEvent::MouseButtonPress, Qt::RightButton, {}, {9, 5});
       },
       1209},
      {"click",
       [&] {
         MouseEvent(ChartWidget(*h), QEvent::MouseButtonPress, Qt::LeftButton, {}, {2, 5});
       },
       2},
      {"right", [&] { KeyClick(ChartWidget(*h), Qt::Key_Right); }, 3},
  };
  for (const auto& s : steps) {
    s.Do();
    EXPECT_EQ(h->Cursor(), s.Cursor) << s.Step;
  }
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" 40"));
  EXPECT_EQ(TimeLabel(*h)->text(), QStringLiteral(" 9:00:09"));
  MouseEvent(ChartWidget(*h), QEvent::MouseButtonPress, Qt::LeftButton, {}, {600, 5});
  EXPECT_EQ(DateLabel(*h)->text(), QStringLiteral(" "));
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" "));
}

TEST_F(HistoryWindowTest, TheChartRefreshesEveryLoggingIntervalAndNeverWithoutOne) {
  History({1, 2});
  reg->SetLoggingInterval(3);
  reg->SetEnabled(false);  // the poller runs, and this register's history is the test's
  Current().StartPoller();
  QStringList states;
  Services().ProgramState = [&](const QString& s) { states << s; };
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(states, QStringList({"Копирование данных", "Работа"}));
  states.clear();
  EXPECT_EQ(timer->Interval(), 3000);

  History({1, 2, 3, 4});
  timer->Advance(2999);
  EXPECT_EQ(h->VisibleCount(), 2) << "between ticks the chart is the snapshot";
  timer->Advance(1);
  EXPECT_EQ(h->VisibleCount(), 4);
  EXPECT_EQ(states, QStringList({"Копирование данных", "Работа"}));
  timer->Advance(3000);
  EXPECT_EQ(states.size(), 4);
  h->close();
  EXPECT_FALSE(timer->Active());

  // No logging interval: the snapshot taken at show is all there is.
  reg->SetLoggingInterval(0);
  h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(timer->Active());
  History({1, 2, 3, 4, 5, 6});
  timer->Advance(60000);
  ChartWidget(*h)->repaint();
  EXPECT_EQ(h->VisibleCount(), 4);
  Services().ProgramState = nullptr;
}

// The rows of the topmost and the bottom-most pure blue pixel: the curve's extent (-1 for none).
std::pair<int, int> CurveRows(const QImage& image, int fromX = 0, int toX = THistoryForm::kChartWidth) {
  int top = image.height(), bottom = -1;
  for (int y = 0; y < image.height(); ++y)
    for (int x = fromX; x < toX; ++x)
      if (image.pixel(x, y) == qRgb(0, 0, 255)) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  return {top, bottom};
}

// "Увеличить" and "Уменьшить" zoom the fitted band around its centre; the register keeps the zoom
// for its next window, and painting never changes it.
TEST_F(HistoryWindowTest, ZoomButtonsZoomFromTheFitAndTheRegisterKeepsTheZoom) {
  History({10, 20, 30});
  reg->SetYScale(1.0);
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  const int height = ChartWidget(*h)->height();
  const auto [top, bottom] = CurveRows(Chart(h));
  EXPECT_NEAR(top, (height - 1) / 12.0, 1);
  EXPECT_NEAR(bottom, (height - 1) * 11 / 12.0, 1);
  EXPECT_DOUBLE_EQ(reg->YScale(), 1.0);
  auto button = [&](QAction* a) { return qobject_cast<QToolButton*>(ToolBar(*h)->widgetForAction(a)); };
  MouseClick(button(Child<QAction>(*h, "zoomOutAction")));
  EXPECT_DOUBLE_EQ(reg->YScale(), 0.5);
  const auto [outTop, outBottom] = CurveRows(Chart(h));
  EXPECT_NEAR(outBottom - outTop, (bottom - top) / 2.0, 1) << "half as tall";
  EXPECT_NEAR((outTop + outBottom) / 2.0, (top + bottom) / 2.0, 1) << "around the band's centre";
  MouseClick(button(Child<QAction>(*h, "zoomInAction")));
  MouseClick(button(Child<QAction>(*h, "zoomInAction")));
  EXPECT_DOUBLE_EQ(reg->YScale(), 2.0);
  ChartWidget(*h)->repaint();
  EXPECT_DOUBLE_EQ(reg->YScale(), 2.0) << "the zoom stays as asked, though the curve now leaves the chart";
  EXPECT_NEAR(h->Axis().Y(10) - h->Axis().Y(30), 2 * (bottom - top), 2);
  EXPECT_NEAR(h->Axis().Y(20), (top + bottom) / 2.0, 1);
  // The zoom is the register's: the next window starts from it.
  h->close();
  THistoryForm* next = OpenFromMenu();
  ASSERT_NE(next, nullptr);
  ChartWidget(*next)->repaint();
  EXPECT_DOUBLE_EQ(reg->YScale(), 2.0);
  EXPECT_NEAR(next->Axis().Y(10) - next->Axis().Y(30), 2 * (bottom - top), 2);
}

// The demonstration's pressure of 2,2..2,5 bar fills the chart, labelled on its value axis, and a
// brief shrink of the window leaves the fit as it was.
TEST_F(HistoryWindowTest, TheCurveFillsTheChartBesideItsValueLabelsAfterAResizeToo) {
  std::vector<double> values;
  for (int i = 0; i < 300; ++i) values.push_back(2.35 + 0.15 * std::sin(i / 20.0));
  History(values);
  reg->SetYScale(1.0);
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  const QSize size = h->size();
  const auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    const int height = ChartWidget(*h)->height();
    const auto [top, bottom] = CurveRows(Chart(h));
    EXPECT_NEAR(top, (height - 1) / 12.0, 1);
    EXPECT_NEAR(bottom, (height - 1) * 11 / 12.0, 1);
    QStringList labels;
    const TValueAxis axis = h->Axis();
    for (const TAxisTick& t : axis.Ticks()) labels << t.Text;
    EXPECT_GE(labels.size(), 2) << labels.join(' ').toStdString();
    for (const QString& label : labels)
      EXPECT_LE(Axis(*h)->fontMetrics().horizontalAdvance(label) + 4, Axis(*h)->width());
    EXPECT_DOUBLE_EQ(reg->YScale(), 1.0);
  };
  check("as opened");
  h->resize(THistoryForm::kMinClientWidth, THistoryForm::kMinClientHeight);
  QTest::qWait(20);
  check("shrunk");
  h->resize(size.width(), size.height() + 150);
  QTest::qWait(20);
  check("enlarged");
}

TEST_F(HistoryWindowTest, TheCurveIsDrawnOnePixelPerSampleInBlueAndBrokenByFailedReads) {
  std::vector<double> values;
  for (int i = 0; i < 1500; ++i) values.push_back(i % 100 == 0 ? 40 : 20);
  History(values);
  QStringList texts = reg->DataList().ToStringList();
  for (int i = 400; i < 410; ++i) texts[i] = QStringLiteral("***");
  reg->SetDataList(texts);
  reg->SetYScale(1.0);
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->VisibleCount(), 1210) << "only the oldest 1210 samples are drawn";
  const QImage image = Chart(h);
  const TValueAxis axis = h->Axis();
  const QRgb blue = qRgb(0, 0, 255);
  EXPECT_EQ(image.pixel(50, axis.Y(20)), blue);
  EXPECT_EQ(image.pixel(100, axis.Y(40)), blue) << "a peak";
  EXPECT_NE(image.pixel(350, axis.Y(30)), blue);
  EXPECT_FALSE(axis.ZeroY().has_value()) << "0 is off the band of 20..40";
  EXPECT_EQ(CurveRows(image, 401, 409).second, -1) << "no curve where the reads failed, nor a dive to 0";
  EXPECT_NE(CurveRows(image, 411, 420).second, -1) << "and the curve goes on after them";

  // Nothing logged: the frame, the zero line in the middle, no curve.
  History({});
  h->close();
  h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  const QImage empty = Chart(h);
  ASSERT_TRUE(h->Axis().ZeroY().has_value());
  EXPECT_NEAR(*h->Axis().ZeroY(), ChartWidget(*h)->height() / 2, 1);
  EXPECT_EQ(empty.pixel(300, *h->Axis().ZeroY()), qRgb(0, 0, 0));
  for (int x = 1; x < 1209; x += 7)
    for (int y = 1; y < ChartWidget(*h)->height() - 1; y += 3)
      ASSERT_NE(empty.pixel(x, y), blue) << x << "," << y;
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" "));
}

// A new label: the cursor follows the samples as they come; moved back, it stays on its sample
// while a full history drops its oldest.
TEST_F(HistoryWindowTest, TheCursorFollowsNewSamplesAndOtherwiseKeepsItsTime) {
  History({5});
  reg->SetLoggingInterval(3);
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Cursor(), 0);
  History({5, 6, 7});
  timer->Advance(3000);
  EXPECT_EQ(h->Cursor(), 2);
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" 7"));

  KeyClick(ChartWidget(*h), Qt::Key_Left);  // onto 9:00:03
  EXPECT_EQ(TimeLabel(*h)->text(), QStringLiteral(" 9:00:03"));
  // The history is full: the oldest drops off as each new sample comes.
  QStringList times = reg->Points().ToStringList(), texts = reg->DataList().ToStringList();
  times.removeFirst();
  texts.removeFirst();
  times << DateTimeToStr(DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 9))));
  texts << QStringLiteral("8");
  reg->SetPoints(times);
  reg->SetDataList(texts);
  timer->Advance(3000);
  EXPECT_EQ(h->Cursor(), 0);
  EXPECT_EQ(TimeLabel(*h)->text(), QStringLiteral(" 9:00:03")) << "the same time under the cursor";
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" 6"));
}

// "Печать" prints the label's history as a report of its own; with nothing logged it says so.
// From the label's pop-up menu: the real box comes up while the menu is handling its click.
TEST_F(HistoryWindowTest, NoDataToPrintIsToldByTheRealBoxAndTheMenuGoesOn) {
  TPrintPreviewForm preview(SessionOf(form.get()));
  form->PrintHistory = [&](TLabelDisplay& l) { PreviewLabelHistory(preview, l); };
  History({});
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    LabelCommand(Child<QAction>(*form, "printAction"));
    EXPECT_EQ(boxes.Answered, 1);
    EXPECT_EQ(Messages->Texts(), QStringList{"Нет данных!"});
    EXPECT_FALSE(preview.isVisible());
    EXPECT_FALSE(Child<QMenu>(*form, "labelMenu")->isVisible());
  }
  THistoryForm* history = OpenFromMenu();
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(history->isVisible());
}

TEST_F(HistoryWindowTest, PrintShowsTheHistoryAsAReportOrSaysThereIsNoData) {
  TPrintPreviewForm preview(SessionOf(form.get()));
  form->PrintHistory = [&](TLabelDisplay& l) { PreviewLabelHistory(preview, l); };
  History({});
  Messages->Answers = {mbOK};
  LabelCommand(Child<QAction>(*form, "printAction"));
  ASSERT_EQ(Messages->Shown.size(), 1);
  EXPECT_EQ(Messages->Shown[0].Text, QStringLiteral("Нет данных!"));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Information);
  EXPECT_FALSE(preview.isVisible());

  History({10, 20, 30});
  reg->SetLoggingInterval(3);
  Clock->SetNow(DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(10, 0))));
  QString caption, registerCaption;
  double start = 0, last = 0;
  int registers = 0, samples = 0;
  WhenModal<TPrintPreviewForm>([&](TPrintPreviewForm* shown) {
    TReportNode* report = shown->Report();
    caption = report->Caption();
    start = report->StartPoint();
    last = report->LastPoint();
    registers = report->ComponentCount();
    if (auto* copy = dynamic_cast<TRegisterNode*>(report->Component(0))) {
      registerCaption = copy->Caption();
      samples = copy->Count();
    }
    shown->reject();
  });
  LabelCommand(Child<QAction>(*form, "printAction"));
  EXPECT_EQ(Messages->Shown.size(), 1) << "no second message";
  EXPECT_EQ(caption, QStringLiteral("История"));
  EXPECT_EQ(registers, 1);
  EXPECT_EQ(registerCaption, QStringLiteral("Температура.Зона 1.Печь"));
  EXPECT_EQ(samples, 3);
  EXPECT_DOUBLE_EQ(last, Now());
  EXPECT_NEAR((last - start) * 86400, 3.0 * reg->MaxCount(), 1e-3);
  EXPECT_EQ(preview.Report(), nullptr) << "the temporary report is gone with the showing";
  EXPECT_EQ(reg->Caption(), QStringLiteral("Температура")) << "the register itself is untouched";
}

// Opening the network settings stops polling: the status line says "Останов" for as long as the
// window is open, while the history window goes on copying every logging interval, and "Работа"
// when polling is back.
TEST_F(HistoryWindowTest, TheStatusLineStaysStoppedWhileTheNetworkSettingsAreOpen) {
  History({1, 2});
  reg->SetLoggingInterval(3);
  reg->SetEnabled(false);
  Current().StartPoller();
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
  QDialog setup;
  form->SetWindow(TWindowRole::Setup, &setup);
  form->SetNetworkOpen(true);

  QStringList during;
  int shownDuring = 0;
  WhenModal<QDialog>([&](QDialog* modal) {
    during << form->ProgramState();
    for (int i = 1; i <= 4; ++i) {
      History(std::vector<double>(2 + i, 1.0));
      timer->Advance(3000);
      QCoreApplication::processEvents();
      during << form->ProgramState();
    }
    shownDuring = h->VisibleCount();
    modal->reject();
  });
  // "Настройки", then "Настройка параметров сети", with the mouse.
  auto* settings = qobject_cast<QMenu*>(Child<QAction>(*form, "setupAction")->parent());
  ASSERT_NE(settings, nullptr);
  QMenuBar* bar = form->menuBar();
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                    bar->actionGeometry(settings->menuAction()).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return settings->isVisible(); }, 2000));
  QTest::mouseClick(settings, Qt::LeftButton, Qt::NoModifier,
                    settings->actionGeometry(Child<QAction>(*form, "setupAction")).center());

  EXPECT_EQ(during, QStringList(5, QStringLiteral("Останов")));
  EXPECT_EQ(shownDuring, 6) << "the chart went on refreshing";
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
  timer->Advance(3000);
  EXPECT_EQ(form->ProgramState(), QStringLiteral("Работа"));
  form->SetWindow(TWindowRole::Setup, nullptr);
}

// The historian's spans through the span box: a day of what the historian kept, drawn as a band
// across the window's width and read out where clicked; exported as CSV; a span of the operator's
// own from its dialog, refused while it ends before it starts; back to the recent reads.
TEST_F(HistoryWindowTest, TheHistoriansSpansAreChosenDrawnReadOutAndExported) {
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  {
    THistoryStore store;
    ASSERT_TRUE(store.Open(HistoryPath(Dir->path()))) << store.ErrorText().toStdString();
    std::vector<THistorySample> samples;
    for (int64_t t = now - 2 * kHourMs; t < now; t += 3000) samples.push_back({reg->Name(), t, 40.0, true});
    ASSERT_TRUE(store.Write(samples));
    ASSERT_TRUE(store.RollUp(now, THistoryTiers{}));  // as the writer does as time passes
  }
  reg->SetDigits(1);
  THistoryForm* h = OpenFromMenu();
  ASSERT_NE(h, nullptr);
  auto* spans = Child<QComboBox>(*h, "spanBox");
  QAction* exportAction = Child<QAction>(*h, "exportAction");
  EXPECT_FALSE(exportAction->isEnabled());

  spans->setFocus();
  QTest::keyClick(spans, Qt::Key_Down);  // "Час"
  QTest::keyClick(spans, Qt::Key_Down);  // "Сутки"
  EXPECT_EQ(h->Span(), THistorySpan::Day);
  EXPECT_TRUE(h->Band().Error.isEmpty()) << h->Band().Error.toStdString();
  EXPECT_EQ(h->Band().Until - h->Band().Since, kDayMs);
  EXPECT_EQ(static_cast<int>(h->Band().Mean.size()), ScrollBox(*h)->viewport()->width());
  EXPECT_TRUE(exportAction->isEnabled());
  // The last two hours of the day hold the reads: the right end of the chart.
  const int x = static_cast<int>(h->Band().Mean.size()) - 3;
  QTest::mouseClick(ChartWidget(*h), Qt::LeftButton, Qt::NoModifier, QPoint(x, 10));
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" 40,0"));
  QTest::mouseClick(ChartWidget(*h), Qt::LeftButton, Qt::NoModifier, QPoint(2, 10));
  EXPECT_EQ(ValueLabel(*h)->text(), QStringLiteral(" ***"));
  const QImage drawn = Chart(h);
  const auto curveIn = [&drawn](int column) {
    for (int y = 1; y < drawn.height() - 1; ++y)
      if (drawn.pixelColor(column, y) == QColor(0, 0, 255)) return true;
    return false;
  };
  EXPECT_TRUE(curveIn(x));
  EXPECT_FALSE(curveIn(2));

  const QString csv = Dir->filePath("day.csv");
  QString suggested;
  h->AskExportPath = [&](const QString& s) {
    suggested = s;
    return csv;
  };
  QTest::mouseClick(Child<QToolBar>(*h, "spanBar")->widgetForAction(exportAction), Qt::LeftButton);
  EXPECT_TRUE(suggested.endsWith(reg->Name() + ".csv")) << suggested.toStdString();
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readLine().startsWith("time,register,"));

  // The operator's own span: refused while it ends before it starts, then the last hour.
  bool refused = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* since = Child<QDateTimeEdit>(*dialog, "sinceEdit");
    auto* until = Child<QDateTimeEdit>(*dialog, "untilEdit");
    auto* ok = Child<QPushButton>(*dialog, "okButton");
    since->setDateTime(until->dateTime().addSecs(60));
    refused = !ok->isEnabled();
    since->setDateTime(until->dateTime().addSecs(-3600));
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  QTest::keyClick(spans, Qt::Key_End);  // "Другой…"
  EXPECT_TRUE(refused);
  EXPECT_EQ(h->Span(), THistorySpan::Custom);
  EXPECT_NEAR(static_cast<double>(h->Band().Until - h->Band().Since), static_cast<double>(kHourMs), 60000);

  // Cancelled: the span stays as it was.
  QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  QTest::keyClick(spans, Qt::Key_Up);
  QTest::keyClick(spans, Qt::Key_Down);  // "Другой…" again, then Escape
  EXPECT_EQ(spans->currentIndex(), static_cast<int>(h->Span()));

  QTest::keyClick(spans, Qt::Key_Home);
  EXPECT_EQ(h->Span(), THistorySpan::Recent);
  EXPECT_FALSE(exportAction->isEnabled());
  EXPECT_TRUE(h->Band().Rows.empty());
}

}  // namespace
}  // namespace vexa::test
