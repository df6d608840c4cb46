// The channel table as the operator uses it: opened modally from the main window on a simulated
// channel, values typed into the grid, "Применить", and the lasso following the current row.

#include <gtest/gtest.h>

#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "core/LineWriter.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "ui/ChannelUnit.h"
#include "ui/LabelViews.h"
#include "ui/LassoUnit.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

class ChannelWindowTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    // One diagram page, so that the lasso has somewhere to mark.
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::white);
    ASSERT_TRUE(picture.save(Dir->filePath("a.png")));
    QDir(Dir->path()).mkpath("Config");
    Settings()->SetMNames({QStringLiteral("Котельная")});
    Settings()->SetMFiles({Dir->filePath("a.png")});
    Settings()->SetDemo(true);
    ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));  // the main window reads the settings from their file

    channel = &AddChannelNode(AddRegulatorNode(*Net(), 0), 0, QStringLiteral("Канал 000"));
    Add(0, "Регистр-идентификатор", rtBYTE, 0, false)->SetVisible(false);
    temperature = Add(1, "Температура", rtINT, 1, false);
    temperature->SetComments(QStringLiteral("Измеренная температура, °C"));
    setpoint = Add(2, "Уставка температуры", rtINT, 0, true);
    Add(3, "Выход регулятора", rtFLOAT, 1, false);
    Add(4, "Служебный", rtINT, 0, true)->SetVisible(false);
    name = Add(5, "Название", rtASCIIZ, 0, true);

    mainForm = std::make_unique<TMainForm>(Current());
    form = std::make_unique<TChannelForm>(Current(), mainForm.get());
    // As the main window wires it: the current row marks its label, closing clears the mark.
    QObject::connect(form.get(), &TChannelForm::RegisterSelected, mainForm->Labels(), &TMnemoLabels::Mark);
    QObject::connect(form.get(), &TChannelForm::Closed, mainForm->Labels(), &TMnemoLabels::ClearMark);
    QObject::connect(form.get(), &TChannelForm::RegisterSelected,
                     [this](TRootNode* reg) { selections.push_back(reg); });
    Current().Line().Trace = [this](const QString& line) {
      // "> address channel register command ...": the write requests, by register number.
      const QStringList bytes = line.split(' ');
      if (bytes.size() > 4 && bytes[0] == ">" && bytes[4] == "01") writes << bytes[3].toInt(nullptr, 16);
    };
  }
  void TearDown() override {
    form.reset();
    mainForm.reset();
    TVexaTest::TearDown();
  }

  TRegisterNode* Add(int r, const char* caption, TRegisterType type, int digits, bool writable) {
    TRegisterNode& reg = AddRegisterNode(
        *channel, r, {.Caption = QString::fromUtf8(caption), .Type = type, .Writable = writable});
    reg.SetDigits(digits);
    return &reg;
  }

  QTableWidget* Grid() const { return Child<QTableWidget>(*form, "channelGrid"); }
  QPushButton* ApplyButton() const { return Child<QPushButton>(*form, "applyButton"); }
  QTableWidgetItem* Value(const TRootNode* reg) const {
    return Grid()->item(form->Table().RowOf(reg) - 1, 1);
  }
  void ClickRow(const TRootNode* reg) {
    QTableWidget* grid = Grid();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(Value(reg)).center());
  }
  // Selects the value, types text over it and leaves the editor open.
  QLineEdit* TypeInto(const TRootNode* reg, const QString& text) {
    ClickRow(reg);
    KeyClick(Grid(), Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (editor == nullptr) {
      ADD_FAILURE() << "no editor";
      return nullptr;
    }
    KeyClick(editor, Qt::Key_A, Qt::ControlModifier);
    TypeText(editor, text);
    return editor;
  }
  TLasso* Lasso() const { return Child<TLasso>(*mainForm, "lasso"); }

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TChannelForm> form;
  TRootNode* channel = nullptr;
  TRegisterNode* temperature = nullptr;
  TRegisterNode* setpoint = nullptr;
  TRegisterNode* name = nullptr;
  std::vector<TRootNode*> selections;
  QList<int> writes;
};

TEST_F(ChannelWindowTest, OpensModallyWithValuesReadAndTheLabelsRowCurrentAndMarked) {
  auto* label = new TLabelDisplay(setpoint);
  label->SetParentName("ts0");
  mainForm->Labels()->Attach(*label);
  mainForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(mainForm.get()));
  Messages->Shown.clear();
  form->SetLabel(label);
  form->SetChannel(channel);

  bool inside = false;
  WhenModal<TChannelForm>([&](TChannelForm* f) {
    inside = true;
    EXPECT_EQ(f->windowTitle(), QStringLiteral("Канал 000"));
    EXPECT_TRUE(f->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(mainForm->ToolWindowCount(), 1);
    QTableWidget* grid = Child<QTableWidget>(*f, "channelGrid");
    EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), QStringLiteral("Регистр"));
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), QStringLiteral("Значение"));
    ASSERT_EQ(grid->rowCount(), 5);
    EXPECT_TRUE(grid->isRowHidden(3));  // the hidden register
    for (int row = 0; row < 5; ++row) {
      if (row == 3) continue;
      auto* reg = dynamic_cast<TCustomRegister*>(channel->Node(row + 1));
      EXPECT_EQ(grid->item(row, 0)->text(), reg->Caption());
      EXPECT_EQ(grid->item(row, 1)->text(), reg->LastStringData());
      EXPECT_EQ(reg->LastIOResult(), iorOK) << row;
      // Captions cannot be typed over; values can.
      EXPECT_FALSE(grid->item(row, 0)->flags() & Qt::ItemIsEditable);
      EXPECT_TRUE(grid->item(row, 1)->flags() & Qt::ItemIsEditable);
    }
    EXPECT_GE(grid->columnWidth(0), grid->fontMetrics().horizontalAdvance(setpoint->Caption()));
    EXPECT_EQ(grid->currentRow(), 1);
    EXPECT_EQ(Lasso()->REG(), setpoint);

    // Another row: its comments, and no label to mark; the closing leaves nothing marked.
    ClickRow(temperature);
    EXPECT_EQ(Child<QPlainTextEdit>(*f, "commentsField")->toPlainText(), temperature->Comments());
    EXPECT_EQ(Lasso()->REG(), nullptr);
    ClickRow(setpoint);
    EXPECT_EQ(Lasso()->REG(), setpoint);
    QTest::mouseClick(Child<QPushButton>(*f, "cancelButton"), Qt::LeftButton);
  });
  EXPECT_EQ(mainForm->ShowModalNearPage(form.get(), 12, 12), QDialog::Rejected);
  EXPECT_TRUE(inside);
  EXPECT_EQ(selections, (std::vector<TRootNode*>{setpoint, temperature, setpoint}));
  EXPECT_EQ(Lasso()->REG(), nullptr);
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_TRUE(writes.isEmpty());
}

TEST_F(ChannelWindowTest, TypedValuesAreCheckedAndWrittenTopToBottomOnApply) {
  form->SetChannel(channel);
  ASSERT_TRUE(Activate(form.get()));
  const QString shown = Value(temperature)->text();

  // A read-only value is refused at the first key and its value is back in the editor.
  QLineEdit* editor = TypeInto(temperature, "5");
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(RunEventsUntil([&] { return !Messages->Shown.empty(); }, 2000));
  EXPECT_EQ(Messages->Texts(),
            QStringList{QStringLiteral("Регистр 'Температура'\r\nимеет тип 'ТОЛЬКО ЧТЕНИЕ'!")});
  EXPECT_EQ(editor->text(), shown);
  KeyClick(editor, Qt::Key_Return);
  EXPECT_EQ(Value(temperature)->text(), shown);

  // Esc takes a typed value back: nothing of it is written.
  const QString before = Value(setpoint)->text();
  KeyClick(TypeInto(setpoint, "77"), Qt::Key_Escape);
  EXPECT_EQ(Value(setpoint)->text(), before);
  QTest::mouseClick(ApplyButton(), Qt::LeftButton);
  EXPECT_TRUE(writes.isEmpty());

  const QString forty = QStringLiteral("Печь отжига, зона ").repeated(3).left(40);
  KeyClick(TypeInto(setpoint, " 42 "), Qt::Key_Return);
  TypeInto(name, forty);  // still being edited when the button is clicked
  Messages->Shown.clear();
  QTest::mouseClick(ApplyButton(), Qt::LeftButton);

  EXPECT_EQ(writes, (QList<int>{2, 5}));
  EXPECT_EQ(setpoint->LastStringData(), "42");  // what the simulator took
  EXPECT_EQ(name->LastStringData(), forty.left(31));
  EXPECT_EQ(Value(name)->text(), forty.left(31));
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_TRUE(Messages->Shown[0].Text.endsWith(QStringLiteral("укорочена до '") + forty.left(31) + "'!"));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
  EXPECT_TRUE(form->isVisible());  // the window stays open

  // Nothing changed since: nothing to write.
  QTest::mouseClick(ApplyButton(), Qt::LeftButton);
  EXPECT_EQ(writes.size(), 2);
  EXPECT_EQ(Messages->Shown.size(), 1u);
}

// The real warning box runs its own event loop, where the value's editor loses the focus and is
// closed: the window must not be inside that editor's key handler then.
TEST_F(ChannelWindowTest, ARealWarningOnAReadOnlyValueIsDismissedAndTheWindowGoesOn) {
  form->SetChannel(channel);
  ASSERT_TRUE(Activate(form.get()));
  const QString shown = Value(temperature)->text();
  const QString warning = QStringLiteral("Регистр 'Температура'\r\nимеет тип 'ТОЛЬКО ЧТЕНИЕ'!");
  const struct {
    bool OpenEditor;
    TBoxClose How;
  } cases[] = {
      {false, TBoxClose::Keys}, {false, TBoxClose::Click}, {true, TBoxClose::Keys}, {true, TBoxClose::Click}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.OpenEditor ? "open editor, " : "closed cell, ") + BoxCloseName(c.How));
    Messages->Shown.clear();
    TRealMessageBoxes boxes(c.How);
    // The window system gives the window back its focus after a box; here the test does.
    ASSERT_TRUE(Activate(form.get()));
    ClickRow(temperature);
    if (c.OpenEditor) {
      ASSERT_NE(TypeInto(temperature, "5"), nullptr);
    } else {
      // A key on the selected cell opens its editor with that key in it.
      ASSERT_EQ(QApplication::focusWidget(), Grid());
      TypeText(Grid(), "5");
    }
    ASSERT_TRUE(RunEventsUntil(
        [&] { return boxes.Answered == 1 && QApplication::activeModalWidget() == nullptr; }, 5000));
    EXPECT_EQ(Messages->Texts(), QStringList{warning});
    EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
    RunEventsFor(20);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(Value(temperature)->text(), shown);
    EXPECT_EQ(form->Table().Row(form->Table().RowOf(temperature)).Text, shown);
    if (auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
      EXPECT_EQ(editor->text(), shown);
    }
  }

  // The window goes on taking the operator's keys: a writable value typed and applied.
  Messages->Shown.clear();
  TRealMessageBoxes boxes;
  ASSERT_TRUE(Activate(form.get()));
  KeyClick(TypeInto(setpoint, "42"), Qt::Key_Return);
  QTest::mouseClick(ApplyButton(), Qt::LeftButton);
  EXPECT_EQ(writes, QList<int>{2});
  EXPECT_EQ(setpoint->LastStringData(), "42");
  EXPECT_EQ(Value(temperature)->text(), shown);
  EXPECT_TRUE(Messages->Shown.empty());
}

// "Применить" returns before its writes are made; a write that fails is told in a real box when its
// outcome arrives, the typed value stays in its cell, and the window goes on meanwhile.
TEST_F(ChannelWindowTest, AFailedWriteIsToldWhenItsOutcomeArrivesAndTheTypedValueStays) {
  const TSystemClockScope systemClock;
  Settings()->SetDemo(false);  // and the port is closed: the write goes unanswered
  form->SetChannel(channel);
  ASSERT_TRUE(Activate(form.get()));
  TRealMessageBoxes boxes;
  KeyClick(TypeInto(setpoint, "42"), Qt::Key_Return);
  QTest::mouseClick(ApplyButton(), Qt::LeftButton);
  EXPECT_TRUE(Messages->Shown.empty()) << "told before the outcome was there";
  EXPECT_TRUE(setpoint->WritePending());

  ASSERT_TRUE(RunEventsUntil(
      [&] { return boxes.Answered == 1 && QApplication::activeModalWidget() == nullptr; }, 5000));
  EXPECT_EQ(
      Messages->Texts(),
      QStringList{QStringLiteral("'42' - 'Уставка температуры'\r\nошибка записи, регулятор не отвечает!")});
  EXPECT_EQ(writes, QList<int>{2});
  EXPECT_EQ(Value(setpoint)->text(), "42");
  EXPECT_EQ(setpoint->LastIOResult(), iorFAIL);
  EXPECT_TRUE(form->isVisible());
  Current().Writer().Stop();
}

TEST_F(ChannelWindowTest, AChannelWithOnlyItsIdentifierShowsJustTheHeader) {
  while (channel->NodeCount() > 1) delete channel->Node(1);
  form->SetChannel(channel);
  ASSERT_TRUE(Activate(form.get()));
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_TRUE(Grid()->horizontalHeader()->isVisible());
  EXPECT_EQ(selections, std::vector<TRootNode*>{nullptr});
  EXPECT_EQ(Child<QPlainTextEdit>(*form, "commentsField")->toPlainText(), QStringLiteral("Комментарии"));
  QTest::mouseClick(ApplyButton(), Qt::LeftButton);
  EXPECT_TRUE(writes.isEmpty());

  // The window keeps its least size, and the values take what the captions leave.
  form->resize(100, 100);
  EXPECT_EQ(form->size(), QSize(TChannelForm::kMinWidth, TChannelForm::kMinHeight));
  QTableWidget* grid = Grid();
  EXPECT_EQ(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width());
}

TEST_F(ChannelWindowTest, Screenshots) {
  const QString dir = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
  QDir().mkpath(dir);
  setpoint->SetDigits(1);
  name->SetUserCanWRITE(false);
  form->SetChannel(channel);
  ASSERT_TRUE(Activate(form.get()));
  ClickRow(temperature);
  QTest::qWait(100);
  EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/channel-window.png")));
}

}  // namespace
}  // namespace vexa::test
