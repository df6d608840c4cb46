// "Свойства отчета" as the operator uses it: the node's values shown, the spin buttons and the
// expected number of points, the shift controls, the hour word, "OK" with its two questions,
// "Отмена", and the showing with only the header and footer page.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <functional>
#include <memory>

#include "reports/gui/ReportPropertiesUnit.h"
#include "reports/model/ReportNode.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/OperatorInput.h"

namespace vexa::test {
namespace {

using TForm = TReportPropertiesForm;

class TReportPropertiesTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    node = std::make_unique<TReportNode>(nullptr);
    node->SetName(QStringLiteral("T1"));
    node->SetCaption(QStringLiteral("Шаблон отчета"));
    form = std::make_unique<TForm>();
  }
  void TearDown() override {
    form.reset();
    node.reset();
    TVexaTest::TearDown();
  }

  // Shows the dialog for the node; `operatorActs` runs while it is up and ends it with its buttons.
  bool Run(const std::function<void(TForm&)>& operatorActs, bool headerFooterOnly = false) {
    WhenModal<TForm>([&](TForm* f) {
      operatorActs(*f);
      if (f->isVisible()) f->reject();  // a failed assertion must not leave the test waiting
    });
    return headerFooterOnly ? form->ExecuteHeaderFooter(*node) : form->Execute(*node);
  }

  // The dialog's controls, found by their names.
  static QLineEdit* Name(const TForm& f) { return Child<QLineEdit>(f, "nameEdit"); }
  static QTabWidget* Pages(const TForm& f) { return Child<QTabWidget>(f, "pageTabs"); }
  static QCheckBox* Align(const TForm& f) { return Child<QCheckBox>(f, "alignCheckBox"); }
  static QCheckBox* Shift(const TForm& f) { return Child<QCheckBox>(f, "shiftCheckBox"); }
  static QSpinBox* ShiftHour(const TForm& f) { return Child<QSpinBox>(f, "shiftHourSpin"); }
  static QLabel* HourWord(const TForm& f) { return Child<QLabel>(f, "hourWordLabel"); }
  static QLabel* Legend(const TForm& f) { return Child<QLabel>(f, "legendLabel"); }
  static QLineEdit* Duration(const TForm& f) { return Child<QLineEdit>(f, "durationField"); }
  static QWidget* DurationStepper(const TForm& f) { return Child<QWidget>(f, "durationStepper"); }
  static QLineEdit* Interval(const TForm& f) { return Child<QLineEdit>(f, "intervalField"); }
  static QWidget* IntervalStepper(const TForm& f) { return Child<QWidget>(f, "intervalStepper"); }
  static QLabel* PointCount(const TForm& f) { return Child<QLabel>(f, "pointCountLabel"); }
  static QPlainTextEdit* Header(const TForm& f) { return Child<QPlainTextEdit>(f, "headerEdit"); }
  static QPlainTextEdit* Footer(const TForm& f) { return Child<QPlainTextEdit>(f, "footerEdit"); }
  static QRadioButton* Periodic(const TForm& f) { return Child<QRadioButton>(f, "periodicButton"); }
  static QRadioButton* OneTime(const TForm& f) { return Child<QRadioButton>(f, "oneTimeButton"); }
  static QRadioButton* SaveAuto(const TForm& f) { return Child<QRadioButton>(f, "saveAutoButton"); }
  static QRadioButton* SaveNone(const TForm& f) { return Child<QRadioButton>(f, "saveNoneButton"); }
  static QPushButton* Ok(const TForm& f) { return Child<QPushButton>(f, "okButton"); }
  static QPushButton* Cancel(const TForm& f) { return Child<QPushButton>(f, "cancelButton"); }

  // Clicks a check box or radio button on its indicator.
  template <class Button>
  static void ClickIndicator(Button* b) {
    QStyleOptionButton option;
    option.initFrom(b);
    const auto element =
        std::is_same_v<Button, QCheckBox> ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator;
    MouseClick(b, Qt::LeftButton, {}, b->style()->subElementRect(element, &option, b).center());
  }
  static void ClickPage(TForm& f, int index) {
    QTabBar* bar = Pages(f)->tabBar();
    MouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    ASSERT_EQ(Pages(f)->currentIndex(), index);
  }
  static void Step(QWidget* stepper, int times) {
    for (int i = 0; i < std::abs(times); ++i)
      MouseClick(Child<QToolButton>(*stepper, times > 0 ? "upButton" : "downButton"));
  }
  static bool Red(const QLabel* label) {
    return label->palette().color(QPalette::WindowText) == QColor(Qt::red);
  }
  static void Retype(QLineEdit* edit, const QString& text) {
    KeyClick(edit, Qt::Key_A, Qt::ControlModifier);
    TypeText(edit, text);
  }

  // Every stored property of the node, for "nothing changed".
  QVariantList Snapshot() const {
    QVariantList values;
    for (const TPropInfo* p : node->ClassInfo().Properties()) values << p->Get(*node);
    return values;
  }

  std::unique_ptr<TReportNode> node;
  std::unique_ptr<TForm> form;
};

TEST_F(TReportPropertiesTest, ShowsTheNodeWithTheDefaultsAndWritesThemBack) {
  const bool written = Run([](TForm& f) {
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Свойства отчета"));
    EXPECT_EQ(f.size(), QSize(272, 272));
    EXPECT_EQ(f.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(f.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(f.property("HelpContext").toInt(), hcReportProperties);
    EXPECT_TRUE(Ok(f)->isDefault());
    EXPECT_EQ(Cancel(f)->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(Name(f)->text(), QStringLiteral("Шаблон отчета"));
    ASSERT_EQ(Pages(f)->count(), 3);
    EXPECT_EQ(Pages(f)->tabText(0), QStringLiteral("Длительности"));
    EXPECT_EQ(Pages(f)->tabText(1), QStringLiteral("Колонтитулы"));
    EXPECT_EQ(Pages(f)->tabText(2), QStringLiteral("Прочее"));
    EXPECT_EQ(Pages(f)->currentIndex(), 0);

    EXPECT_EQ(Duration(f)->text(), QStringLiteral(" 00 00:01:00"));
    EXPECT_EQ(Interval(f)->text(), QStringLiteral(" 00 00:00:03"));
    EXPECT_EQ(Legend(f)->text(), QStringLiteral("дд чч:мм:сс"));
    for (QWidget* w : std::initializer_list<QWidget*>{Duration(f), Interval(f), Legend(f)}) {
      EXPECT_EQ(w->font().pixelSize(), 13);
      EXPECT_TRUE(QFontInfo(w->font()).fixedPitch());
    }
    EXPECT_TRUE(Duration(f)->isReadOnly());
    EXPECT_TRUE(Interval(f)->isReadOnly());
    EXPECT_EQ(PointCount(f)->text(), QStringLiteral("20"));
    EXPECT_FALSE(Red(PointCount(f)));
    EXPECT_TRUE(Align(f)->isChecked());
    EXPECT_FALSE(Shift(f)->isEnabled());
    EXPECT_FALSE(Shift(f)->isChecked());
    EXPECT_FALSE(ShiftHour(f)->isEnabled());
    EXPECT_EQ(HourWord(f)->text(), QStringLiteral("часов"));
    EXPECT_FALSE(HourWord(f)->isEnabled());
    EXPECT_TRUE(Periodic(f)->isChecked());
    EXPECT_TRUE(SaveAuto(f)->isChecked());
    for (QPlainTextEdit* memo : {Header(f), Footer(f)}) {
      EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
      EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }
    // Nothing cut off: every control inside the dialog, every caption as wide as its text (but the
    // dotted one, whose dots run up to the number).
    for (int page = 2; page >= 0; --page) {
      Pages(f)->setCurrentIndex(page);
      for (QWidget* w : f.findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        const std::string name =
            std::string(w->metaObject()->className()) + " " + w->objectName().toStdString();
        EXPECT_TRUE(f.rect().contains(QRect(w->mapTo(&f, QPoint()), w->size()))) << name;
        auto* label = qobject_cast<QLabel*>(w);
        if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) ||
            (label && !label->text().endsWith(QLatin1Char('.')))) {
          EXPECT_GE(w->width(), w->sizeHint().width()) << name;
        }
      }
    }
    for (int page = 0; page < 3; ++page) {
      const QRect tab = Pages(f)->tabBar()->tabRect(page);
      EXPECT_TRUE(Pages(f)->tabBar()->rect().contains(tab)) << page;
      EXPECT_GE(tab.width(), Pages(f)->tabBar()->fontMetrics().horizontalAdvance(Pages(f)->tabText(page)));
    }
    MouseClick(Ok(f));
  });
  EXPECT_TRUE(written);
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_EQ(node->MaxCount(), 20);
  EXPECT_EQ(node->LoggingIntervalIndex(), 1);
  EXPECT_EQ(node->LoggingDurationIndex(), 0);
  EXPECT_EQ(node->Caption(), QStringLiteral("Шаблон отчета"));
}

TEST_F(TReportPropertiesTest, SpinButtonsSetThePointCountAndOkRefusesItOutOfRange) {
  const struct {
    const char* Name;
    int IntervalSteps, DurationSteps;
    const char* Interval;
    const char* Duration;
    int Count;
    const char* Question;
  } cases[] = {
      {"1 s x 3 h", -1, +6, " 00 00:00:01", " 00 03:00:00", 10800,
       "В отчете слишком много точек!\r\nЗакрыть окно без сохранения?"},
      {"12 s x 1 min", +2, 0, " 00 00:00:12", " 00 00:01:00", 5,
       "В отчете слишком мало точек!\r\nЗакрыть окно без сохранения?"},
      {"3 s x 1 min, past the lower stop", 0, -3, " 00 00:00:03", " 00 00:01:00", 20, nullptr},
      {"1 s x 12 min, past the lower stop", -5, +3, " 00 00:00:01", " 00 00:12:00", 720, nullptr},
      {"12 h x 30 days, past the upper stops", +20, +20, " 00 12:00:00", " 30 00:00:00", 60, nullptr},
      {"1 min x 8 h", +4, +8, " 00 00:01:00", " 00 08:00:00", 480, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    node = std::make_unique<TReportNode>(nullptr);
    Messages->Shown.clear();
    const QVariantList before = Snapshot();
    const bool written = Run([&](TForm& f) {
      Step(IntervalStepper(f), c.IntervalSteps);
      Step(DurationStepper(f), c.DurationSteps);
      EXPECT_EQ(Interval(f)->text(), QString::fromLatin1(c.Interval));
      EXPECT_EQ(Duration(f)->text(), QString::fromLatin1(c.Duration));
      EXPECT_EQ(PointCount(f)->text(), QString::number(c.Count));
      EXPECT_EQ(Red(PointCount(f)), c.Question != nullptr);
      if (c.Question == nullptr) {
        MouseClick(Ok(f));
        return;
      }
      // "Нет": the dialog stays for another choice; "Да": it closes without writing.
      Messages->Answers = {mbNo};
      MouseClick(Ok(f));
      ASSERT_EQ(Messages->Shown.size(), 1u);
      EXPECT_EQ(Messages->Shown[0].Text, QString::fromUtf8(c.Question));
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Question);
      EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo));
      EXPECT_TRUE(f.isVisible());
      Messages->Answers = {mbYes};
      MouseClick(Ok(f));
      EXPECT_EQ(Messages->Shown.size(), 2u);
      EXPECT_FALSE(f.isVisible());
    });
    if (c.Question != nullptr) {
      EXPECT_FALSE(written);
      EXPECT_EQ(Snapshot(), before);
    } else {
      EXPECT_TRUE(written);
      EXPECT_TRUE(Messages->Shown.empty());
      EXPECT_EQ(node->MaxCount(), c.Count);
      EXPECT_EQ(IntervalFieldText(node->LoggingIntervalIndex()), QString::fromLatin1(c.Interval));
      EXPECT_EQ(DurationFieldText(node->LoggingDurationIndex()), QString::fromLatin1(c.Duration));
    }
  }
}

TEST_F(TReportPropertiesTest, TheRealBoxAsksAboutTooManyPointsFromTheOkButton) {
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    node = std::make_unique<TReportNode>(nullptr);
    Messages->Shown.clear();
    const QVariantList before = Snapshot();
    TRealMessageBoxes boxes(how);
    const bool written = Run([&](TForm& f) {
      Step(IntervalStepper(f), -1);
      Step(DurationStepper(f), +6);
      // "Нет" (Esc with the keys) keeps the dialog; "Да" (Return) closes it without writing.
      Messages->Answers = {mbNo};
      MouseClick(Ok(f));
      EXPECT_TRUE(f.isVisible());
      Messages->Answers = {mbYes};
      MouseClick(Ok(f));
      EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(boxes.Answered, 2);
    EXPECT_EQ(Messages->Texts(),
              QStringList(2, "В отчете слишком много точек!\r\nЗакрыть окно без сохранения?"));
    EXPECT_FALSE(written);
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(TReportPropertiesTest, ShiftStartOnlyForAlignedWindowsOverAnHourAndUnderTwoDays) {
  const bool written = Run([](TForm& f) {
    Step(IntervalStepper(f), +4);  // 1 min: every duration below gives a count in range
    const auto expectShift = [&](const char* when, bool enabled, bool checked) {
      SCOPED_TRACE(when);
      EXPECT_EQ(Shift(f)->isEnabled(), enabled);
      EXPECT_EQ(Shift(f)->isChecked(), checked);
      EXPECT_EQ(ShiftHour(f)->isEnabled(), enabled && checked);
      EXPECT_EQ(HourWord(f)->isEnabled(), enabled);
    };
    Step(DurationStepper(f), +5);
    ASSERT_EQ(Duration(f)->text(), QStringLiteral(" 00 01:00:00"));
    expectShift("1 h", false, false);
    ClickIndicator(Shift(f));
    expectShift("1 h, clicked", false, false);
    Step(DurationStepper(f), +3);
    ASSERT_EQ(Duration(f)->text(), QStringLiteral(" 00 08:00:00"));
    expectShift("8 h", true, false);
    ClickIndicator(Shift(f));
    expectShift("8 h, checked", true, true);
    Step(DurationStepper(f), +3);
    ASSERT_EQ(Duration(f)->text(), QStringLiteral(" 03 00:00:00"));
    expectShift("3 days", false, false);
    Step(DurationStepper(f), -3);
    expectShift("8 h again: not checked by itself", true, false);
    ClickIndicator(Shift(f));
    ClickIndicator(Align(f));
    EXPECT_FALSE(Align(f)->isChecked());
    expectShift("not aligned", false, false);
    ClickIndicator(Align(f));
    expectShift("aligned again", true, false);
    ClickIndicator(Shift(f));
    KeyClick(ShiftHour(f), Qt::Key_Up);
    MouseClick(Ok(f));
  });
  ASSERT_TRUE(written);
  EXPECT_TRUE(node->AlignEnabled());
  EXPECT_TRUE(node->OffsetEnabled());
  EXPECT_EQ(node->TimeOffset(), 1);
  EXPECT_EQ(node->LoggingDurationIndex(), 8);

  // Unchecking the alignment takes the shift with it into the node.
  ASSERT_TRUE(Run([](TForm& f) {
    EXPECT_TRUE(Shift(f)->isChecked());
    EXPECT_EQ(HourWord(f)->text(), QStringLiteral("час"));
    ClickIndicator(Align(f));
    MouseClick(Ok(f));
  }));
  EXPECT_FALSE(node->AlignEnabled());
  EXPECT_FALSE(node->OffsetEnabled());
}

TEST_F(TReportPropertiesTest, TheHourWordFollowsTheSpinner) {
  node->SetLoggingIntervalIndex(5);
  node->SetLoggingDurationIndex(8);
  node->SetOffsetEnabled(true);
  node->SetTimeOffset(20);
  const bool written = Run([](TForm& f) {
    ASSERT_TRUE(ShiftHour(f)->isEnabled());
    EXPECT_EQ(ShiftHour(f)->value(), 20);
    EXPECT_EQ(HourWord(f)->text(), QStringLiteral("часов"));
    const struct {
      int Key, Presses, Hour;
      const char* Word;
    } steps[] = {
        {Qt::Key_Up, 1, 21, "час"},    {Qt::Key_Up, 1, 22, "часа"},     {Qt::Key_Up, 1, 23, "часа"},
        {Qt::Key_Up, 1, 23, "часа"},   {Qt::Key_Down, 12, 11, "часов"}, {Qt::Key_Down, 10, 1, "час"},
        {Qt::Key_Down, 1, 0, "часов"}, {Qt::Key_Up, 4, 4, "часа"},      {Qt::Key_Up, 1, 5, "часов"},
        {Qt::Key_Up, 6, 11, "часов"},
    };
    for (const auto& s : steps) {
      for (int i = 0; i < s.Presses; ++i) KeyClick(ShiftHour(f), s.Key);
      EXPECT_EQ(ShiftHour(f)->value(), s.Hour);
      EXPECT_EQ(HourWord(f)->text(), QString::fromUtf8(s.Word)) << s.Hour;
    }
    TypeText(ShiftHour(f), QStringLiteral("5"));
    EXPECT_EQ(ShiftHour(f)->value(), 11) << "the hour cannot be typed";
    MouseClick(Ok(f));
  });
  ASSERT_TRUE(written);
  EXPECT_EQ(node->TimeOffset(), 11);
  EXPECT_TRUE(node->OffsetEnabled());
}

TEST_F(TReportPropertiesTest, OkWritesEveryFieldAndTheLastPageStaysOnlyIfItHeldTheHeaders) {
  node->SetHeader({QStringLiteral("Цех 2"), QStringLiteral("Смена А")});
  const bool written = Run([](TForm& f) {
    Retype(Name(f), QStringLiteral("Котел 3"));
    // The arrow keys in a field step it as its buttons do.
    for (int i = 0; i < 5; ++i) KeyClick(Interval(f), Qt::Key_Up);
    KeyClick(Interval(f), Qt::Key_Down);
    for (int i = 0; i < 5; ++i) KeyClick(Duration(f), Qt::Key_Up);
    EXPECT_EQ(Interval(f)->text(), QStringLiteral(" 00 00:01:00"));
    EXPECT_EQ(Duration(f)->text(), QStringLiteral(" 00 01:00:00"));
    ClickPage(f, TForm::kHeaderFooterPage);
    EXPECT_EQ(Header(f)->toPlainText(), QStringLiteral("Цех 2\nСмена А"));
    EXPECT_TRUE(Footer(f)->toPlainText().isEmpty());
    TypeText(Footer(f), QStringLiteral("Подпись"));
    KeyClick(Footer(f), Qt::Key_Return, {}, QStringLiteral("\r"));
    TypeText(Footer(f), QStringLiteral("Дата"));
    ClickPage(f, TForm::kOtherPage);
    ClickIndicator(OneTime(f));
    ClickIndicator(SaveNone(f));
    EXPECT_FALSE(Periodic(f)->isChecked());
    EXPECT_FALSE(SaveAuto(f)->isChecked());
    MouseClick(Ok(f));
  });
  ASSERT_TRUE(written);
  EXPECT_EQ(node->Caption(), QStringLiteral("Котел 3"));
  EXPECT_EQ(node->LoggingIntervalIndex(), 5);
  EXPECT_EQ(node->LoggingDurationIndex(), 5);
  EXPECT_EQ(node->MaxCount(), 60);
  EXPECT_EQ(node->Trigger(), 1);
  EXPECT_EQ(node->Save(), 1);
  EXPECT_EQ(node->Header(), QStringList({"Цех 2", "Смена А"}));
  EXPECT_EQ(node->Footer(), QStringList({"Подпись", "Дата"}));
  EXPECT_TRUE(node->AlignEnabled());
  EXPECT_FALSE(node->OffsetEnabled());

  // Left on "Прочее": opens on "Длительности" with the values written; left on "Колонтитулы":
  // opens there.
  ASSERT_FALSE(Run([](TForm& f) {
    EXPECT_EQ(Pages(f)->currentIndex(), TForm::kDurationsPage);
    EXPECT_EQ(PointCount(f)->text(), QStringLiteral("60"));
    EXPECT_TRUE(OneTime(f)->isChecked());
    EXPECT_TRUE(SaveNone(f)->isChecked());
    ClickPage(f, TForm::kHeaderFooterPage);
    MouseClick(Cancel(f));
  }));
  ASSERT_FALSE(Run([](TForm& f) {
    EXPECT_EQ(Pages(f)->currentIndex(), TForm::kHeaderFooterPage);
    MouseClick(Cancel(f));
  }));
}

TEST_F(TReportPropertiesTest, CancelLeavesTheNodeUntouched) {
  node->SetLoggingDurationIndex(8);
  node->SetChanged(false);
  const QVariantList before = Snapshot();
  for (int howClosed = 0; howClosed < 2; ++howClosed) {
    SCOPED_TRACE(howClosed == 0 ? "Отмена" : "Esc");
    const bool written = Run([&](TForm& f) {
      Retype(Name(f), QStringLiteral("Другой"));
      Step(IntervalStepper(f), +4);
      Step(DurationStepper(f), -1);
      ClickIndicator(Shift(f));
      ClickIndicator(Align(f));
      ClickPage(f, TForm::kHeaderFooterPage);
      TypeText(Header(f), QStringLiteral("Шапка"));
      ClickPage(f, TForm::kOtherPage);
      ClickIndicator(OneTime(f));
      ClickIndicator(SaveNone(f));
      if (howClosed == 0)
        MouseClick(Cancel(f));
      else
        KeyClick(SaveNone(f), Qt::Key_Escape);
      EXPECT_FALSE(f.isVisible());
    });
    EXPECT_FALSE(written);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(node->Changed());
    EXPECT_TRUE(Messages->Shown.empty());
  }
}

TEST_F(TReportPropertiesTest, TheHeaderAndFooterShowingHidesTheOtherPagesForItsTurnOnly) {
  node->SetFooter({QStringLiteral("Подпись")});
  const bool written = Run(
      [](TForm& f) {
        EXPECT_FALSE(Pages(f)->isTabVisible(TForm::kDurationsPage));
        EXPECT_TRUE(Pages(f)->isTabVisible(TForm::kHeaderFooterPage));
        EXPECT_FALSE(Pages(f)->isTabVisible(TForm::kOtherPage));
        EXPECT_EQ(Pages(f)->currentIndex(), TForm::kHeaderFooterPage);
        EXPECT_EQ(Footer(f)->toPlainText(), QStringLiteral("Подпись"));
        TypeText(Header(f), QStringLiteral("Для печати"));
        MouseClick(Ok(f));
      },
      true);
  ASSERT_TRUE(written);
  EXPECT_EQ(node->Header(), QStringList({"Для печати"}));
  EXPECT_EQ(node->Footer(), QStringList({"Подпись"}));
  EXPECT_EQ(node->MaxCount(), 20);

  // The next ordinary showing has all three pages, also after a cancelled header showing.
  ASSERT_FALSE(Run([](TForm& f) { MouseClick(Cancel(f)); }, true));
  ASSERT_FALSE(Run([](TForm& f) {
    for (int page = 0; page < 3; ++page) EXPECT_TRUE(Pages(f)->isTabVisible(page)) << page;
    ClickPage(f, TForm::kDurationsPage);
    EXPECT_TRUE(Duration(f)->isVisible());
    MouseClick(Cancel(f));
  }));
}

}  // namespace
}  // namespace vexa::test
