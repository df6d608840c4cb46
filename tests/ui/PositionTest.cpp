// "X-Y": steps of 1 and 10 pixels from the arrow keys and buttons, the held-button repeat on a
// timer the test advances, Esc, the tool-window count.

#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>
#include <memory>

#include "core/ExecuterUnit.h"
#include "support/Child.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/ManualTimer.h"
#include "ui/OperatorInput.h"
#include "ui/PositionUnit.h"
#include "ui/model/LabelDisplay.h"

namespace vexa::test {
namespace {

class TPositionTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    label = std::make_unique<TLabelDisplay>(nullptr);
    label->SetLeft(100);
    label->SetTop(50);
  }
  void TearDown() override {
    form.reset();
    mainForm.reset();
    label.reset();
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  TPositionForm& Open(bool manualTimer = true) {
    form = std::make_unique<TPositionForm>(mainForm.get());
    if (manualTimer) {
      auto t = std::make_unique<TManualTimer>();
      timer = t.get();
      form->SetRepeatTimer(std::move(t));
    }
    form->SetLabel(label.get());
    EXPECT_TRUE(Activate(form.get()));
    return *form;
  }

  QPoint Position() const { return {label->Left(), label->Top()}; }

  std::unique_ptr<TLabelDisplay> label;
  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TPositionForm> form;
  TManualTimer* timer = nullptr;
};

TEST_F(TPositionTest, FourArrowButtonsInACross) {
  Open();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("X-Y"));
  EXPECT_EQ(form->size(), QSize(72, 65));
  EXPECT_EQ(form->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form->property("HelpContext").toInt(), 15);
  QPushButton* upButton = Child<QPushButton>(*form, "upButton");
  QPushButton* leftButton = Child<QPushButton>(*form, "leftButton");
  QPushButton* rightButton = Child<QPushButton>(*form, "rightButton");
  QPushButton* downButton = Child<QPushButton>(*form, "downButton");
  for (QPushButton* b : {upButton, leftButton, rightButton, downButton}) {
    EXPECT_EQ(b->size(), QSize(17, 17));
    EXPECT_FALSE(b->icon().isNull());
    EXPECT_TRUE(form->rect().contains(b->geometry())) << "clipped";
    EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << "keys go to the window";
  }
  const QRect up = upButton->geometry(), left = leftButton->geometry();
  const QRect right = rightButton->geometry(), down = downButton->geometry();
  EXPECT_EQ(up.x(), down.x());
  EXPECT_EQ(left.y(), right.y());
  EXPECT_LT(up.bottom(), left.top());
  EXPECT_GT(down.top(), left.bottom());
  EXPECT_LT(left.right(), up.left());
  EXPECT_GT(right.left(), up.right());
  // The four pictures differ: no two buttons look alike.
  const QImage images[] = {upButton->icon().pixmap(13).toImage(), leftButton->icon().pixmap(13).toImage(),
                           rightButton->icon().pixmap(13).toImage(), downButton->icon().pixmap(13).toImage()};
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) EXPECT_NE(images[i], images[j]) << i << " " << j;
  EXPECT_FALSE(timer->Active()) << "the repeat starts stopped";
}

TEST_F(TPositionTest, ArrowKeysStepOnePixelAndTenWithShift) {
  Open();
  const struct {
    int Key;
    Qt::KeyboardModifiers Mods;
    QPoint Move;
    TDirection Direction;
  } cases[] = {
      {Qt::Key_Right, Qt::NoModifier, {1, 0}, drRight}, {Qt::Key_Right, Qt::ShiftModifier, {10, 0}, drRight},
      {Qt::Key_Left, Qt::NoModifier, {-1, 0}, drLeft},  {Qt::Key_Left, Qt::ShiftModifier, {-10, 0}, drLeft},
      {Qt::Key_Up, Qt::NoModifier, {0, -1}, drUp},      {Qt::Key_Up, Qt::ShiftModifier, {0, -10}, drUp},
      {Qt::Key_Down, Qt::NoModifier, {0, 1}, drDown},   {Qt::Key_Down, Qt::ShiftModifier, {0, 10}, drDown},
      {Qt::Key_A, Qt::NoModifier, {0, 0}, drNone},      {Qt::Key_Space, Qt::ShiftModifier, {0, 0}, drNone},
      {Qt::Key_Return, Qt::NoModifier, {0, 0}, drNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Key << " " << int(c.Mods));
    const QPoint before = Position();
    KeyClick(nullptr, c.Key, c.Mods);
    EXPECT_EQ(Position() - before, c.Move);
    EXPECT_EQ(form->Direction(), c.Direction);
    EXPECT_TRUE(form->isVisible());
  }
  EXPECT_FALSE(timer->Active()) << "keys do not repeat by the timer";
}

TEST_F(TPositionTest, NoBoundsAtThePageEdge) {
  label->SetLeft(3);
  label->SetTop(0);
  Open();
  KeyClick(nullptr, Qt::Key_Left, Qt::ShiftModifier);
  KeyClick(nullptr, Qt::Key_Up);
  EXPECT_EQ(Position(), QPoint(-7, -1));
}

TEST_F(TPositionTest, AHeldButtonStepsThenRepeatsAfterHalfASecondEvery50Ms) {
  Open();
  const struct {
    const char* Button;
    QPoint Unit;
  } buttons[] = {
      {"upButton", {0, -1}},
      {"leftButton", {-1, 0}},
      {"rightButton", {1, 0}},
      {"downButton", {0, 1}},
  };
  for (const auto& b : buttons) {
    QPushButton* button = Child<QPushButton>(*form, b.Button);
    SCOPED_TRACE(button->property("Tag").toInt());
    const QPoint start = Position();
    MousePress(button);
    EXPECT_TRUE(button->isDown());
    EXPECT_EQ(Position() - start, b.Unit);
    EXPECT_TRUE(timer->Active());
    EXPECT_EQ(timer->Interval(), 500);
    timer->Advance(499);
    EXPECT_EQ(Position() - start, b.Unit);
    timer->Advance(1);
    EXPECT_EQ(Position() - start, 2 * b.Unit);
    EXPECT_EQ(timer->Interval(), 50);
    // Held for 990 ms in all: ticks at 500, 550, ... 950.
    timer->Advance(490);
    EXPECT_EQ(Position() - start, 11 * b.Unit);
    MouseRelease(button);
    EXPECT_FALSE(timer->Active());
    timer->Advance(1000);
    EXPECT_EQ(Position() - start, 11 * b.Unit);
  }
}

TEST_F(TPositionTest, ShiftMakesOnlyTheFirstStepLarge) {
  Open();
  MousePress(Child<QPushButton>(*form, "downButton"), Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_EQ(Position(), QPoint(100, 60));
  timer->Advance(600);  // ticks at 500 and 550, 600
  EXPECT_EQ(Position(), QPoint(100, 63));
  MouseRelease(Child<QPushButton>(*form, "downButton"), Qt::LeftButton, Qt::ShiftModifier);

  // A press with another button is no press of the arrow.
  MouseClick(Child<QPushButton>(*form, "leftButton"), Qt::RightButton);
  EXPECT_EQ(Position(), QPoint(100, 63));
  EXPECT_FALSE(timer->Active());
}

TEST_F(TPositionTest, ClosingWhileHeldStopsTheRepeat) {
  Open();
  MousePress(Child<QPushButton>(*form, "rightButton"));
  ASSERT_TRUE(timer->Active());
  KeyClick(nullptr, Qt::Key_Escape);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(timer->Active());
  timer->Advance(1000);
  EXPECT_EQ(Position(), QPoint(101, 50));
}

TEST_F(TPositionTest, TheProgramsTimerRepeatsAndStopsOnRelease) {
  Open(false);
  MousePress(Child<QPushButton>(*form, "rightButton"));
  EXPECT_EQ(form->RepeatTimer().Interval(), 500);
  EXPECT_TRUE(form->RepeatTimer().Active());
  // Whatever the machine's load, the repeat comes within a few seconds and then runs at 50 ms.
  EXPECT_TRUE(QTest::qWaitFor([&] { return label->Left() >= 103; }, 10000));
  EXPECT_EQ(form->RepeatTimer().Interval(), 50);
  MouseRelease(Child<QPushButton>(*form, "rightButton"));
  EXPECT_FALSE(form->RepeatTimer().Active());
  const int left = label->Left();
  ProcessEventsFor(200);
  EXPECT_EQ(label->Left(), left);
}

TEST_F(TPositionTest, EscClosesWithoutMovingAndGivesBackTheToolWindowCount) {
  mainForm = std::make_unique<TMainForm>(Current());
  Messages->Shown.clear();
  form = std::make_unique<TPositionForm>(mainForm.get());
  form->SetLabel(label.get());
  int countInside = -1;
  WhenModal<TPositionForm>([&](TPositionForm* f) {
    countInside = mainForm->ToolWindowCount();
    KeyClick(f, Qt::Key_Right);
    KeyClick(f, Qt::Key_Escape);
  });
  const int result =
      mainForm->ShowModalNearPage(form.get(), label->Left(), label->Top() + label->Height() + 10);
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(countInside, 1);
  EXPECT_EQ(Position(), QPoint(101, 50)) << "only the arrow moved it";
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  EXPECT_TRUE(Child<QAction>(*mainForm, "restoreAction")->isEnabled());

  // The close box likewise.
  WhenModal<TPositionForm>([&](TPositionForm* f) { f->close(); });
  mainForm->ShowModalNearPage(form.get(), 0, 0);
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
}

}  // namespace
}  // namespace vexa::test
