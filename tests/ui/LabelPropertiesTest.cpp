// "Свойства ярлыка": filled from the label, every change applied at once, the colour swatches and
// the frame, the tool-window count.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "core/ExecuterUnit.h"
#include "support/Child.h"
#include "support/TestSupport.h"
#include "ui/LabelPropertiesUnit.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/model/LabelDisplay.h"
#include "ui/parts/Colors.h"

namespace vexa::test {
namespace {

class TLabelPropertiesTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    label = std::make_unique<TLabelDisplay>(nullptr);
    label->SetPrefix(QStringLiteral("Температура ="));
    label->SetValue(QStringLiteral("123,4"));
    label->SetUnits(QStringLiteral("°C"));
    label->OnChange = [this](TLabelDisplay& l) { changes << l.Caption(); };
  }
  void TearDown() override {
    form.reset();
    mainForm.reset();
    label.reset();
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  TMainForm& CreateMainForm() {
    mainForm = std::make_unique<TMainForm>(Current());
    Messages->Shown.clear();  // no diagram pages: told once, not this window's business
    return *mainForm;
  }

  TLabelPropertiesForm& Open() {
    form = std::make_unique<TLabelPropertiesForm>(mainForm.get());
    form->SetLabel(label.get());
    changes.clear();
    EXPECT_TRUE(Activate(form.get()));
    return *form;
  }

  void SetFont(const QString& name, int size, int color) {
    TFont font;
    font.Assign(label->Font());
    font.SetName(name);
    font.SetSize(size);
    font.SetColor(color);
    label->SetFont(font);
  }

  // Chooses an item of a combo box's list with the mouse, as the operator does.
  static void ChooseFromList(QComboBox* box, const QString& text) {
    const int row = box->findText(text);
    ASSERT_GE(row, 0) << text.toStdString();
    box->showPopup();
    // The list ignores the release of the click that opened it for a double-click interval.
    ProcessEventsFor(QApplication::doubleClickInterval() + 50);
    QAbstractItemView* view = box->view();
    ASSERT_TRUE(view->isVisible());
    const QRect item = view->visualRect(view->model()->index(row, 0));
    ASSERT_TRUE(item.isValid());
    MouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    QApplication::processEvents();
  }

  static void SelectAllAndType(QLineEdit* edit, const QString& text) {
    KeyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
      KeyClick(edit, Qt::Key_Backspace);
    else
      TypeText(edit, text);
  }

  // Picks a colour in the colour dialog and confirms (or cancels); returns the colour the dialog
  // was opened with.
  static std::shared_ptr<QColor> AnswerColorDialog(QColor pick, bool confirm) {
    auto preset = std::make_shared<QColor>();
    WhenModal<QColorDialog>([=](QColorDialog* d) {
      *preset = d->currentColor();
      d->setCurrentColor(pick);
      auto* buttons = d->findChild<QDialogButtonBox*>();
      ASSERT_NE(buttons, nullptr);
      MouseClick(buttons->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel));
    });
    return preset;
  }

  // The window's fields and swatches.
  QComboBox* FontName() const { return Child<QComboBox>(*form, "fontNameBox"); }
  QComboBox* FontSize() const { return Child<QComboBox>(*form, "fontSizeBox"); }
  QLineEdit* Prefix() const { return Child<QLineEdit>(*form, "prefixEdit"); }
  QLineEdit* Units() const { return Child<QLineEdit>(*form, "unitsEdit"); }
  TLabelSwatch* FontColor() const { return Child<TLabelSwatch>(*form, "fontColorSwatch"); }
  TLabelSwatch* Background() const { return Child<TLabelSwatch>(*form, "backgroundSwatch"); }

  std::unique_ptr<TLabelDisplay> label;
  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TLabelPropertiesForm> form;
  QStringList changes;  // the label's caption at each change it announced
};

TEST_F(TLabelPropertiesTest, OpensShowingTheLabelAndChangesNothing) {
  SetFont(QStringLiteral("DejaVu Serif"), 10, 0x0000FF);
  label->SetColor(0x00FFFF);
  label->SetBorderStyle(sbsNone);
  Open();

  EXPECT_EQ(form->windowTitle(), QStringLiteral("Свойства ярлыка"));
  EXPECT_EQ(form->size(), QSize(193, 208));
  EXPECT_EQ(form->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(form->property("HelpContext").toInt(), 11);
  EXPECT_TRUE(Child<QPushButton>(*form, "okButton")->isDefault());
  EXPECT_EQ(Child<QPushButton>(*form, "okButton")->text(), QStringLiteral("OK"));

  EXPECT_FALSE(FontName()->isEditable());
  EXPECT_EQ(FontName()->count(), QFontDatabase::families().size());
  EXPECT_EQ(FontName()->currentText(), QStringLiteral("DejaVu Serif"));
  EXPECT_TRUE(FontSize()->isEditable());
  EXPECT_EQ(FontSize()->currentIndex(), -1);
  EXPECT_EQ(FontSize()->currentText(), QStringLiteral("10"));
  QStringList sizes;
  for (int i = 0; i < FontSize()->count(); ++i) sizes << FontSize()->itemText(i);
  EXPECT_EQ(sizes, QStringList({"6", "7", "8", "9", "10", "12", "14", "16", "18", "20", "22", "24"}));
  EXPECT_EQ(Prefix()->text(), QStringLiteral("Температура ="));
  EXPECT_EQ(Units()->text(), QStringLiteral("°C"));
  EXPECT_EQ(Background()->Color(), QColor(255, 255, 0));
  EXPECT_FALSE(Background()->Outlined());
  EXPECT_EQ(FontColor()->Color(), QColor(255, 0, 0));
  EXPECT_EQ(form->focusWidget(), Prefix());
  EXPECT_TRUE(changes.isEmpty()) << "showing the label changed it";

  // Shown again for another label, it shows that one; a frame shows as the swatch's outline.
  form->hide();
  TLabelDisplay other(nullptr);
  other.SetPrefix(QStringLiteral("Давление ="));
  other.SetColor(0x00FF00);
  form->SetLabel(&other);
  form->show();
  EXPECT_EQ(Prefix()->text(), QStringLiteral("Давление ="));
  EXPECT_EQ(Units()->text(), QString());
  EXPECT_EQ(Background()->Color(), QColor(0, 255, 0));
  EXPECT_TRUE(Background()->Outlined());
  EXPECT_EQ(FontSize()->currentText(), QString::number(other.Font().Size()));
  form->hide();
}

TEST_F(TLabelPropertiesTest, AFontThisComputerLacksIsListedOnceAndSelected) {
  ASSERT_FALSE(QFontDatabase::families().contains(label->Font().Name()));  // "MS Sans Serif"
  for (int showing = 0; showing < 2; ++showing) {
    Open();
    const QString name = label->Font().Name();
    QStringList items;
    for (int i = 0; i < FontName()->count(); ++i) items << FontName()->itemText(i);
    EXPECT_EQ(items.count(name), 1);
    EXPECT_EQ(FontName()->currentText(), name);
    QStringList sorted = items;
    sorted.sort(Qt::CaseInsensitive);
    EXPECT_EQ(items, sorted);
    EXPECT_TRUE(changes.isEmpty());
  }
}

TEST_F(TLabelPropertiesTest, NameAndUnitsReachTheLabelKeystrokeByKeystroke) {
  Open();
  SelectAllAndType(Prefix(), QStringLiteral("Печь"));
  KeyClick(Prefix(), Qt::Key_Backspace);
  EXPECT_EQ(changes,
            QStringList({"П 123,4 °C", "Пе 123,4 °C", "Печ 123,4 °C", "Печь 123,4 °C", "Печ 123,4 °C"}));
  EXPECT_EQ(label->Prefix(), QStringLiteral("Печ"));

  changes.clear();
  SelectAllAndType(Units(), QStringLiteral("K"));
  EXPECT_EQ(label->Units(), QStringLiteral("K"));
  EXPECT_EQ(changes, QStringList({"Печ 123,4 K"}));
  // An emptied box leaves the spaces around the value.
  SelectAllAndType(Units(), QString());
  EXPECT_EQ(label->Caption(), QStringLiteral("Печ 123,4 "));
}

TEST_F(TLabelPropertiesTest, TypedSizeIsADecimalNumberOfAtLeastSix) {
  Open();
  const struct {
    const char* Typed;
    int Size;
  } cases[] = {
      {"abc", 6}, {"3", 6},   {"5", 6},    {"6", 6},  {"14", 14}, {"72", 72}, {"", 6},
      {"-8", 6},  {"1e2", 6}, {"12.5", 6}, {"07", 7}, {"+9", 9},  {"9x", 6},  {"99999999999", 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Typed);
    SetFont(QStringLiteral("DejaVu Sans"), 20, 0x123456);
    SelectAllAndType(FontSize()->lineEdit(), QString::fromUtf8(c.Typed));
    EXPECT_EQ(FontSize()->currentText(), QString::fromUtf8(c.Typed));
    EXPECT_EQ(label->Font().Size(), c.Size);
    EXPECT_EQ(label->Font().Name(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(label->Font().Color(), 0x123456);
  }
}

TEST_F(TLabelPropertiesTest, SizeAndFontChosenFromTheirLists) {
  SetFont(QStringLiteral("DejaVu Sans"), 10, 0);
  Open();
  ChooseFromList(FontSize(), QStringLiteral("18"));
  EXPECT_EQ(label->Font().Size(), 18);
  EXPECT_EQ(FontSize()->currentText(), QStringLiteral("18"));

  ChooseFromList(FontName(), QStringLiteral("DejaVu Serif"));
  EXPECT_EQ(FontName()->currentText(), QStringLiteral("DejaVu Serif"));
  EXPECT_EQ(label->Font().Name(), QStringLiteral("DejaVu Serif"));
  EXPECT_EQ(label->Font().Size(), 18) << "the size went with the name";
  EXPECT_EQ(label->Prefix(), QStringLiteral("Температура ="));
}

TEST_F(TLabelPropertiesTest, RightButtonOnTheBackgroundTogglesTheFrame) {
  label->SetColor(0x00FFFF);
  Open();
  ASSERT_EQ(label->BorderStyle(), sbsSingle);
  ASSERT_TRUE(Background()->Outlined());
  TNoModalWindow noColorDialog;  // neither button asks for a colour
  MouseClick(Background(), Qt::RightButton);
  EXPECT_EQ(label->BorderStyle(), sbsNone);
  EXPECT_FALSE(Background()->Outlined());
  MouseClick(Background(), Qt::MiddleButton);
  EXPECT_EQ(label->BorderStyle(), sbsNone);
  EXPECT_FALSE(Background()->Outlined());
  MouseClick(Background(), Qt::RightButton);
  EXPECT_EQ(label->BorderStyle(), sbsSingle);
  EXPECT_TRUE(Background()->Outlined());
  EXPECT_EQ(label->Color(), 0x00FFFF);
  ProcessEventsFor(50);

  // A label shown with a sunken frame loses it at the first right click.
  form->hide();
  label->SetBorderStyle(sbsSunken);
  form->show();
  EXPECT_TRUE(Background()->Outlined());
  MouseClick(Background(), Qt::RightButton);
  EXPECT_EQ(label->BorderStyle(), sbsNone);
}

TEST_F(TLabelPropertiesTest, LeftButtonOnTheBackgroundPicksItsColourUnlessCancelled) {
  label->SetColor(0x00FFFF);
  label->SetBorderStyle(sbsNone);
  Open();
  auto preset = AnswerColorDialog(QColor(0, 0, 255), true);
  MouseClick(Background(), Qt::LeftButton);
  EXPECT_EQ(*preset, QColor(255, 255, 0));
  EXPECT_EQ(label->Color(), 0xFF0000);
  EXPECT_EQ(Background()->Color(), QColor(0, 0, 255));
  EXPECT_EQ(label->BorderStyle(), sbsNone) << "the colour does not touch the frame";
  EXPECT_FALSE(Background()->Outlined());

  changes.clear();
  preset = AnswerColorDialog(QColor(0, 255, 0), false);
  MouseClick(Background(), Qt::LeftButton);
  EXPECT_EQ(*preset, QColor(0, 0, 255));
  EXPECT_EQ(label->Color(), 0xFF0000);
  EXPECT_EQ(Background()->Color(), QColor(0, 0, 255));
  EXPECT_TRUE(changes.isEmpty());
}

TEST_F(TLabelPropertiesTest, AnyButtonOnTheTextSwatchPicksTheFontColour) {
  SetFont(QStringLiteral("DejaVu Sans"), 12, 0x000000);
  label->SetColor(0x00FFFF);
  Open();
  const struct {
    Qt::MouseButton Button;
    QColor Pick;
    bool Confirm;
    int Stored;  // 0x00BBGGRR
  } cases[] = {
      {Qt::LeftButton, QColor(0x12, 0x34, 0x56), true, 0x563412},
      {Qt::RightButton, QColor(200, 0, 0), true, 0x0000C8},
      {Qt::MiddleButton, QColor(0, 0, 0), false, 0x0000C8},
      {Qt::MiddleButton, QColor(255, 255, 255), true, 0xFFFFFF},
  };
  QColor shown(0, 0, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Stored);
    auto preset = AnswerColorDialog(c.Pick, c.Confirm);
    MouseClick(FontColor(), c.Button);
    EXPECT_EQ(*preset, shown);
    EXPECT_EQ(label->Font().Color(), c.Stored);
    shown = ToQColor(c.Stored);
    EXPECT_EQ(FontColor()->Color(), shown);
    EXPECT_EQ(label->Font().Size(), 12);
    EXPECT_EQ(label->Color(), 0x00FFFF) << "the background stays";
  }
}

TEST_F(TLabelPropertiesTest, ShownModallyItCountsAsAToolWindowUntilClosedByAnyMeans) {
  CreateMainForm();
  form = std::make_unique<TLabelPropertiesForm>(mainForm.get());
  label->SetLeft(20);
  label->SetTop(30);
  enum TClose { ByOK, ByEnter, ByEsc, ByCloseBox };
  for (TClose how : {ByOK, ByEnter, ByEsc, ByCloseBox}) {
    SCOPED_TRACE(int(how));
    int countInside = -1;
    bool restoreInside = true;
    WhenModal<TLabelPropertiesForm>([&](TLabelPropertiesForm* f) {
      countInside = mainForm->ToolWindowCount();
      restoreInside = Child<QAction>(*mainForm, "restoreAction")->isEnabled();
      switch (how) {
        case ByOK:
          MouseClick(Child<QPushButton>(*f, "okButton"));
          break;
        case ByEnter:
          KeyClick(Child<QLineEdit>(*f, "prefixEdit"), Qt::Key_Return);
          break;
        case ByEsc:
          KeyClick(Child<QLineEdit>(*f, "prefixEdit"), Qt::Key_Escape);
          break;
        case ByCloseBox:
          f->close();
          break;
      }
    });
    form->SetLabel(label.get());
    mainForm->ShowModalNearPage(form.get(), label->Left(), label->Top() + label->Height() + 10);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(countInside, 1);
    EXPECT_FALSE(restoreInside);
    EXPECT_EQ(mainForm->ToolWindowCount(), 0);
    EXPECT_TRUE(Child<QAction>(*mainForm, "restoreAction")->isEnabled());
  }
  // Gone while shown, it still gives its count back.
  form->show();
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);
  form.reset();
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
}

}  // namespace
}  // namespace vexa::test
