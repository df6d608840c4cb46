// The cyclogram editor as the operator uses it: the table of points with its row commands and
// limit, the warnings while typing, the graph's fit and zoom, and the question on closing.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <memory>

#include "core/Network.h"
#include "processes/gui/CycloEditUnit.h"
#include "processes/model/CommandNode.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

const QString kCaption = QStringLiteral("Уставка.Зона 1.Печь");

class CycloEditTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    auto* templ = new TRootNode(TTemplates().get());
    templ->SetCaption(QStringLiteral("Отжиг"));
    node = new TCommandNode(templ);
    node->SetName(QStringLiteral("D000C000R004"));
    node->SetCaption(kCaption);
    node->SetRegisterType(rtINT);
    node->SetUserCanWRITE(true);
    mainForm = std::make_unique<TMainForm>(Current());
    Messages->Shown.clear();  // the main window's word about missing diagrams
    editor = std::make_unique<TCycloEditForm>(Current(), SessionOf(mainForm.get()));
  }
  void TearDown() override {
    editor.reset();
    mainForm.reset();
    TVexaTest::TearDown();
  }

  void Open(const QStringList& values, const QStringList& durations) {
    if (editor->isVisible()) editor->hide();
    node->SetDataList(values);
    node->SetPoints(durations);
    node->SetXScale(1);
    node->SetYScale(1);
    editor->SetNode(node);
    editor->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(editor.get()));
  }

  // The editor's parts, found by their names.
  QTableWidget* Grid() const { return Child<QTableWidget>(*editor, "pointsGrid"); }
  TCyclogramView* Graph() const { return Child<TCyclogramView>(*editor, "graph"); }
  QStringList Column(int column) const {
    QStringList texts;
    for (int r = 0; r < Grid()->rowCount(); ++r) texts << Grid()->item(r, column)->text();
    return texts;
  }
  // A click on the toolbar button of the command of that name.
  void Click(const char* command) {
    QWidget* button = Child<QToolBar>(*editor, "toolBar")->widgetForAction(Child<QAction>(*editor, command));
    ASSERT_NE(button, nullptr) << command;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void ClickCell(int row, int column) {
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {},
                      Grid()->visualRect(Grid()->model()->index(row, column)).center());
  }
  // Types into a cell as the operator does: click, F2, type over the text, Enter.
  void TypeInCell(int row, int column, const QString& text) {
    ClickCell(row, column);
    QTest::keyClick(Grid(), Qt::Key_F2);
    QLineEdit* field = nullptr;  // closed editors linger until deleted
    for (QLineEdit* e : Grid()->viewport()->findChildren<QLineEdit*>())
      if (e->isVisible()) field = e;
    ASSERT_NE(field, nullptr);
    KeyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();  // the grid takes the text after the key
  }
  // The graph as drawn now.
  const TCyclogramGraph& Drawn() {
    Graph()->grab();
    return Graph()->LastGraph();
  }

  TCommandNode* node = nullptr;
  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TCycloEditForm> editor;
};

TEST_F(CycloEditTest, OpensWithTheNodesPointsAndTheLastRowMarked) {
  Open({"20", "80", "80", "99"}, {"0", "60", "600"});
  EXPECT_EQ(editor->windowTitle(), kCaption);
  EXPECT_EQ(Grid()->horizontalHeaderItem(0)->text(), "Значение");
  EXPECT_EQ(Grid()->horizontalHeaderItem(1)->text(), "Время (с)");
  EXPECT_EQ(Column(0), QStringList({"20", "80", "80"}));
  EXPECT_EQ(Column(1), QStringList({"0", "60", "600"}));
  EXPECT_TRUE(Grid()->isEnabled());
  EXPECT_EQ(Grid()->currentRow(), 2);
  EXPECT_EQ(editor->Table().MarkRow(), 3);
  // The mark at point 2's time, 660 s, the programme's end: the right edge of the fitted graph.
  EXPECT_EQ(Drawn().MarkX, Graph()->width() - 1);
  ClickCell(1, 0);
  EXPECT_EQ(editor->Table().MarkRow(), 2);
  // 60 s right of where the time axis starts, beside the value labels.
  EXPECT_EQ(Drawn().MarkX, Drawn().Line.at(0).x() + static_cast<int>(60 * node->XScale()));
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);

  // No points: a disabled grid that "Вставить запись" fills like "Добавить запись".
  Open({}, {});
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_FALSE(Grid()->isEnabled());
  Click("insertAction");
  EXPECT_TRUE(Grid()->isEnabled());
  EXPECT_EQ(Column(0), QStringList({"0"}));
  EXPECT_EQ(Column(1), QStringList({"0"}));
}

TEST_F(CycloEditTest, RowCommandsAddInsertBeforeTheCurrentRowAndDelete) {
  Open({"1", "2", "3"}, {"0", "10", "20"});
  ClickCell(1, 1);
  Click("insertAction");
  EXPECT_EQ(Column(0), QStringList({"1", "0", "2", "3"}));
  EXPECT_EQ(Grid()->currentRow(), 1);
  EXPECT_EQ(Grid()->currentColumn(), 1);
  Click("addAction");
  EXPECT_EQ(Column(0), QStringList({"1", "0", "2", "3", "0"}));
  EXPECT_EQ(Grid()->currentRow(), 4);
  ClickCell(0, 0);
  Click("deleteAction");
  EXPECT_EQ(Column(0), QStringList({"0", "2", "3", "0"}));
  EXPECT_EQ(Grid()->currentRow(), 0);
  for (int i = 0; i < 4; ++i) Click("deleteAction");
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_FALSE(Grid()->isEnabled());
  Click("deleteAction");  // nothing left to delete
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(CycloEditTest, TheTableStopsAt255PointsWithTheMessage) {
  QStringList values;
  QStringList durations;
  for (int i = 0; i < 254; ++i) {
    values << QString::number(i);
    durations << QStringLiteral("10");
  }
  Open(values, durations);
  Click("addAction");
  EXPECT_EQ(Grid()->rowCount(), 255);
  EXPECT_TRUE(Messages->Shown.empty());
  Click("addAction");
  Click("insertAction");
  EXPECT_EQ(Grid()->rowCount(), 255);
  EXPECT_EQ(Messages->Texts(), QStringList({"Емкость таблицы исчерпана!", "Емкость таблицы исчерпана!"}));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
}

TEST_F(CycloEditTest, DoubtfulTextsAreWarnedAboutAndKept) {
  const struct {
    bool Writable;
    int Column;
    const char* Text;
    const char* Warning;  // empty: none
  } cases[] = {
      {true, 0, "abc", "'abc' - 'Уставка.Зона 1.Печь'\r\nне может принять такое значение!"},
      {true, 0, "99999999999", "'99999999999' - 'Уставка.Зона 1.Печь'\r\nне может принять такое значение!"},
      {true, 0, "35", ""},
      {false, 0, "35", "Регистр 'Уставка.Зона 1.Печь'\r\nимеет тип 'ТОЛЬКО ЧТЕНИЕ'!"},
      {true, 1, "1.5", "'1.5' - не целое число!"},
      {true, 1, "x", "'x' - не целое число!"},
      {true, 1, "90", ""},
      {false, 1, "90", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    node->SetUserCanWRITE(c.Writable);
    Open({"20", "80"}, {"0", "60"});
    Messages->Shown.clear();
    TypeInCell(1, c.Column, QString::fromUtf8(c.Text));
    EXPECT_EQ(Grid()->item(1, c.Column)->text(), QString::fromUtf8(c.Text));
    EXPECT_EQ(editor->Table().Cell(2, c.Column), QString::fromUtf8(c.Text));
    const QStringList expected = *c.Warning != 0 ? QStringList{QString::fromUtf8(c.Warning)} : QStringList{};
    EXPECT_EQ(Messages->Texts(), expected);
    if (!Messages->Shown.empty()) {
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
    }
  }
  // A value that is no number is drawn at the zero line.
  node->SetUserCanWRITE(true);
  Open({"20", "80"}, {"0", "60"});
  TypeInCell(1, 0, QStringLiteral("abc"));
  const TCyclogramGraph& graph = Drawn();
  ASSERT_EQ(graph.Line.size(), 2u);
  ASSERT_TRUE(graph.ZeroY.has_value());
  EXPECT_EQ(graph.Line[1].y(), *graph.ZeroY);
  EXPECT_LT(graph.Line[0].y(), *graph.ZeroY);
}

// The warning comes up as the grid takes the typed text, while its editor is being closed; the real
// box's own event loop must find nothing of that editor left to use.
TEST_F(CycloEditTest, RealBoxesWarnWhileTypingAndAskOnClosing) {
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Open({"20", "80"}, {"0", "60"});
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    TypeInCell(1, 0, QStringLiteral("abc"));
    ASSERT_TRUE(RunEventsUntil(
        [&] { return boxes.Answered == 1 && QApplication::activeModalWidget() == nullptr; }, 5000));
    EXPECT_EQ(Messages->Texts(),
              QStringList{"'abc' - 'Уставка.Зона 1.Печь'\r\nне может принять такое значение!"});
    EXPECT_EQ(Grid()->item(1, 0)->text(), "abc");
    EXPECT_EQ(editor->Table().Cell(2, 0), "abc");
    // The grid goes on taking the operator's keys.
    TypeInCell(0, 0, QStringLiteral("25"));
    RunEventsFor(10);
    EXPECT_EQ(editor->Table().Cell(1, 0), "25");
    EXPECT_EQ(boxes.Answered, 1);

    // Closing: Cancel (Esc with the keys) keeps the editor open, "Нет" closes it and keeps nothing.
    Messages->Shown.clear();
    Messages->Answers = {mbCancel, mbNo};
    editor->close();
    EXPECT_TRUE(editor->isVisible());
    KeyClick(Grid(), Qt::Key_Escape);
    EXPECT_EQ(boxes.Answered, 3);
    EXPECT_EQ(Messages->Texts(), QStringList({"Сохранить изменения?", "Сохранить изменения?"}));
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(node->DataList().ToStringList(), QStringList({"20", "80"}));
  }
}

// A 31..38 degree programme fills the graph's height beside labelled values; the time axis starts
// right of the labels, and the first row's duration counts for nothing.
TEST_F(CycloEditTest, TheGraphFitsItsPointsBesideItsValueLabels) {
  const struct {
    QStringList Values;
    bool Zero;
  } cases[] = {
      {{"31", "35", "38", "38", "31"}, false},
      {{"-10", "-20"}, false},
      {{"-10", "20"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Values.join(' ').toStdString());
    QStringList durations{"600"};
    while (durations.size() < c.Values.size()) durations << QStringLiteral("60");
    Open(c.Values, durations);
    const TCyclogramGraph& graph = Drawn();
    const int h = graph.PlotHeight;  // above the time labels
    ASSERT_GT(h, 60);
    EXPECT_LT(h, Graph()->height());
    int top = h, bottom = 0;
    for (const QPoint& p : graph.Line) {
      top = std::min(top, p.y());
      bottom = std::max(bottom, p.y());
    }
    EXPECT_NEAR(top, (h - 1) / 12.0, 1) << "a tenth of the band's margin above";
    EXPECT_NEAR(bottom, (h - 1) * 11 / 12.0, 1);
    EXPECT_EQ(graph.ZeroY.has_value(), c.Zero);
    ASSERT_GE(graph.Axis.Ticks().size(), 2u);
    int widest = 0;
    for (const TAxisTick& t : graph.Axis.Ticks())
      widest = std::max(widest, Graph()->fontMetrics().horizontalAdvance(t.Text));
    const int left = graph.Line[0].x();
    EXPECT_GT(left, widest) << "the labels have their room";
    EXPECT_EQ(graph.Line[1].x(), left + static_cast<int>(60 * node->XScale()));  // 600 s count for nothing
    EXPECT_DOUBLE_EQ(node->YScale(), 1) << "drawing keeps the stored zoom";
  }
}

// A new programme has no span on opening (one that has is fitted then: the mark at the right edge
// above): its first durations fit it, with time labels along the axis; a zoom button then rules.
TEST_F(CycloEditTest, ANewProgrammeIsFittedOnceItsDurationsGiveItASpan) {
  Open({}, {});
  Click("addAction");
  Click("addAction");
  TypeInCell(1, 1, "30");
  EXPECT_EQ(Drawn().Line.back().x(), Graph()->width() - 1);
  ASSERT_GE(Drawn().TimeTicks.size(), 3u);
  EXPECT_GT(Drawn().TimeTicks.back().X, Graph()->width() / 2);
  const double fitted = node->XScale();
  Click("compressXAction");
  TypeInCell(1, 0, "50");
  EXPECT_DOUBLE_EQ(node->XScale(), fitted / 2) << "fitted once";
}

TEST_F(CycloEditTest, ZoomButtonsScaleTheNodeAndTheGraphAtOnce) {
  Open({"10", "20", "0"}, {"0", "30", "30"});
  const double x0 = node->XScale();
  const double y0 = node->YScale();
  const QPoint before = Drawn().Line[1];
  const int left = Drawn().Line[0].x();  // the time axis starts right of the value labels
  Click("expandXAction");
  EXPECT_DOUBLE_EQ(node->XScale(), x0 * 2);
  EXPECT_NEAR(Drawn().Line[1].x() - left, (before.x() - left) * 2, 1);  // whole pixels of a fitted scale
  Click("compressXAction");
  Click("compressXAction");
  EXPECT_DOUBLE_EQ(node->XScale(), x0 / 2);
  Click("zoomInAction");
  EXPECT_DOUBLE_EQ(node->YScale(), y0 * 2);
  // Around the band's centre (10): the point of 20 twice as far from it.
  const int centre = Drawn().Axis.Y(10);
  const TCyclogramGraph& zoomed = Drawn();
  EXPECT_EQ(zoomed.Axis.Y(10), centre);
  EXPECT_NEAR(centre - zoomed.Line[1].y(), 2 * (centre - before.y()), 1);
  Click("zoomOutAction");
  EXPECT_DOUBLE_EQ(node->YScale(), y0);
}

TEST_F(CycloEditTest, ClosingAsksWhetherToKeepTheChanges) {
  Open({"20", "80"}, {"0", "60"});
  TypeInCell(1, 0, QStringLiteral("99"));
  Click("expandXAction");
  const double zoomed = node->XScale();

  Messages->Answers = {mbCancel};
  editor->close();
  EXPECT_TRUE(editor->isVisible());
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text, "Сохранить изменения?");
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Question);
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo | mbCancel));

  Messages->Answers = {mbNo};
  KeyClick(Grid(), Qt::Key_Escape);
  EXPECT_FALSE(editor->isVisible());
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  EXPECT_EQ(node->DataList().ToStringList(), QStringList({"20", "80"}));
  EXPECT_DOUBLE_EQ(node->XScale(), zoomed);  // zoom is kept either way
  EXPECT_FALSE(QFile::exists(ConfigFilePath(Current().Dir(), "TTEMPLATES")));

  Open({"20", "80"}, {"0", "60"});
  TypeInCell(1, 0, QStringLiteral("99"));
  Click("addAction");
  TypeInCell(2, 1, QStringLiteral("120"));
  Messages->Answers = {mbYes};
  editor->close();
  EXPECT_FALSE(editor->isVisible());
  EXPECT_EQ(node->DataList().ToStringList(), QStringList({"20", "99", "0"}));
  EXPECT_EQ(node->Points().ToStringList(), QStringList({"0", "60", "120"}));
  // The templates were saved with it.
  editor->SetNode(nullptr);
  Current().RecreateRoot(QStringLiteral("TTEMPLATES"));
  LoadTreeFile(Current(), TTemplates());
  auto* loaded = dynamic_cast<TCommandNode*>(FindNode(TTemplates().get(), QStringLiteral("D000C000R004")));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->DataList().ToStringList(), QStringList({"20", "99", "0"}));
  EXPECT_EQ(loaded->Points().ToStringList(), QStringList({"0", "60", "120"}));
}

}  // namespace
}  // namespace vexa::test
