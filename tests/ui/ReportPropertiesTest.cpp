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
    QTabBar* bar = f.pcPages->tabBar();
    MouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    ASSERT_EQ(f.pcPages->currentIndex(), index);
  }
  static void Step(TUpDown* buttons, int times) {
    for (int i = 0; i < std::abs(times); ++i) MouseClick(times > 0 ? buttons->btUp : buttons->btDown);
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
    EXPECT_TRUE(f.btOK->isDefault());
    EXPECT_EQ(f.btCancel->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(f.edName->text(), QStringLiteral("Шаблон отчета"));
    ASSERT_EQ(f.pcPages->count(), 3);
    EXPECT_EQ(f.pcPages->tabText(0), QStringLiteral("Длительности"));
    EXPECT_EQ(f.pcPages->tabText(1), QStringLiteral("Колонтитулы"));
    EXPECT_EQ(f.pcPages->tabText(2), QStringLiteral("Прочее"));
    EXPECT_EQ(f.pcPages->currentIndex(), 0);

    EXPECT_EQ(f.edDuration->text(), QStringLiteral(" 00 00:01:00"));
    EXPECT_EQ(f.edInterval->text(), QStringLiteral(" 00 00:00:03"));
    EXPECT_EQ(f.lbLegend->text(), QStringLiteral("дд чч:мм:сс"));
    for (QWidget* w : std::initializer_list<QWidget*>{f.edDuration, f.edInterval, f.lbLegend}) {
      EXPECT_EQ(w->font().pixelSize(), 13);
      EXPECT_TRUE(QFontInfo(w->font()).fixedPitch());
    }
    EXPECT_TRUE(f.edDuration->isReadOnly());
    EXPECT_TRUE(f.edInterval->isReadOnly());
    EXPECT_EQ(f.lbPointCount->text(), QStringLiteral("20"));
    EXPECT_FALSE(Red(f.lbPointCount));
    EXPECT_TRUE(f.cbAlign->isChecked());
    EXPECT_FALSE(f.cbShift->isEnabled());
    EXPECT_FALSE(f.cbShift->isChecked());
    EXPECT_FALSE(f.seShiftHour->isEnabled());
    EXPECT_EQ(f.lbHourWord->text(), QStringLiteral("часов"));
    EXPECT_FALSE(f.lbHourWord->isEnabled());
    EXPECT_TRUE(f.rbPeriodic->isChecked());
    EXPECT_TRUE(f.rbSaveAuto->isChecked());
    for (QPlainTextEdit* memo : {f.meHeader, f.meFooter}) {
      EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
      EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }
    // Nothing cut off: every control inside the dialog, every caption as wide as its text (but the
    // dotted one, whose dots run up to the number).
    for (int page = 2; page >= 0; --page) {
      f.pcPages->setCurrentIndex(page);
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
      const QRect tab = f.pcPages->tabBar()->tabRect(page);
      EXPECT_TRUE(f.pcPages->tabBar()->rect().contains(tab)) << page;
      EXPECT_GE(tab.width(), f.pcPages->tabBar()->fontMetrics().horizontalAdvance(f.pcPages->tabText(page)));
    }
    MouseClick(f.btOK);
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
      Step(f.udInterval, c.IntervalSteps);
      Step(f.udDuration, c.DurationSteps);
      EXPECT_EQ(f.edInterval->text(), QString::fromLatin1(c.Interval));
      EXPECT_EQ(f.edDuration->text(), QString::fromLatin1(c.Duration));
      EXPECT_EQ(f.lbPointCount->text(), QString::number(c.Count));
      EXPECT_EQ(Red(f.lbPointCount), c.Question != nullptr);
      if (c.Question == nullptr) {
        MouseClick(f.btOK);
        return;
      }
      // "Нет": the dialog stays for another choice; "Да": it closes without writing.
      Messages->Answers = {mbNo};
      MouseClick(f.btOK);
      ASSERT_EQ(Messages->Shown.size(), 1u);
      EXPECT_EQ(Messages->Shown[0].Text, QString::fromUtf8(c.Question));
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Question);
      EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo));
      EXPECT_TRUE(f.isVisible());
      Messages->Answers = {mbYes};
      MouseClick(f.btOK);
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
      Step(f.udInterval, -1);
      Step(f.udDuration, +6);
      // "Нет" (Esc with the keys) keeps the dialog; "Да" (Return) closes it without writing.
      Messages->Answers = {mbNo};
      MouseClick(f.btOK);
      EXPECT_TRUE(f.isVisible());
      Messages->Answers = {mbYes};
      MouseClick(f.btOK);
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
    Step(f.udInterval, +4);  // 1 min: every duration below gives a count in range
    const auto expectShift = [&](const char* when, bool enabled, bool checked) {
      SCOPED_TRACE(when);
      EXPECT_EQ(f.cbShift->isEnabled(), enabled);
      EXPECT_EQ(f.cbShift->isChecked(), checked);
      EXPECT_EQ(f.seShiftHour->isEnabled(), enabled && checked);
      EXPECT_EQ(f.lbHourWord->isEnabled(), enabled);
    };
    Step(f.udDuration, +5);
    ASSERT_EQ(f.edDuration->text(), QStringLiteral(" 00 01:00:00"));
    expectShift("1 h", false, false);
    ClickIndicator(f.cbShift);
    expectShift("1 h, clicked", false, false);
    Step(f.udDuration, +3);
    ASSERT_EQ(f.edDuration->text(), QStringLiteral(" 00 08:00:00"));
    expectShift("8 h", true, false);
    ClickIndicator(f.cbShift);
    expectShift("8 h, checked", true, true);
    Step(f.udDuration, +3);
    ASSERT_EQ(f.edDuration->text(), QStringLiteral(" 03 00:00:00"));
    expectShift("3 days", false, false);
    Step(f.udDuration, -3);
    expectShift("8 h again: not checked by itself", true, false);
    ClickIndicator(f.cbShift);
    ClickIndicator(f.cbAlign);
    EXPECT_FALSE(f.cbAlign->isChecked());
    expectShift("not aligned", false, false);
    ClickIndicator(f.cbAlign);
    expectShift("aligned again", true, false);
    ClickIndicator(f.cbShift);
    KeyClick(f.seShiftHour, Qt::Key_Up);
    MouseClick(f.btOK);
  });
  ASSERT_TRUE(written);
  EXPECT_TRUE(node->AlignEnabled());
  EXPECT_TRUE(node->OffsetEnabled());
  EXPECT_EQ(node->TimeOffset(), 1);
  EXPECT_EQ(node->LoggingDurationIndex(), 8);

  // Unchecking the alignment takes the shift with it into the node.
  ASSERT_TRUE(Run([](TForm& f) {
    EXPECT_TRUE(f.cbShift->isChecked());
    EXPECT_EQ(f.lbHourWord->text(), QStringLiteral("час"));
    ClickIndicator(f.cbAlign);
    MouseClick(f.btOK);
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
    ASSERT_TRUE(f.seShiftHour->isEnabled());
    EXPECT_EQ(f.seShiftHour->value(), 20);
    EXPECT_EQ(f.lbHourWord->text(), QStringLiteral("часов"));
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
      for (int i = 0; i < s.Presses; ++i) KeyClick(f.seShiftHour, s.Key);
      EXPECT_EQ(f.seShiftHour->value(), s.Hour);
      EXPECT_EQ(f.lbHourWord->text(), QString::fromUtf8(s.Word)) << s.Hour;
    }
    TypeText(f.seShiftHour, QStringLiteral("5"));
    EXPECT_EQ(f.seShiftHour->value(), 11) << "the hour cannot be typed";
    MouseClick(f.btOK);
  });
  ASSERT_TRUE(written);
  EXPECT_EQ(node->TimeOffset(), 11);
  EXPECT_TRUE(node->OffsetEnabled());
}

TEST_F(TReportPropertiesTest, OkWritesEveryFieldAndTheLastPageStaysOnlyIfItHeldTheHeaders) {
  node->SetHeader({QStringLiteral("Цех 2"), QStringLiteral("Смена А")});
  const bool written = Run([](TForm& f) {
    Retype(f.edName, QStringLiteral("Котел 3"));
    // The arrow keys in a field step it as its buttons do.
    for (int i = 0; i < 5; ++i) KeyClick(f.edInterval, Qt::Key_Up);
    KeyClick(f.edInterval, Qt::Key_Down);
    for (int i = 0; i < 5; ++i) KeyClick(f.edDuration, Qt::Key_Up);
    EXPECT_EQ(f.edInterval->text(), QStringLiteral(" 00 00:01:00"));
    EXPECT_EQ(f.edDuration->text(), QStringLiteral(" 00 01:00:00"));
    ClickPage(f, TForm::kHeaderFooterPage);
    EXPECT_EQ(f.meHeader->toPlainText(), QStringLiteral("Цех 2\nСмена А"));
    EXPECT_TRUE(f.meFooter->toPlainText().isEmpty());
    TypeText(f.meFooter, QStringLiteral("Подпись"));
    KeyClick(f.meFooter, Qt::Key_Return, {}, QStringLiteral("\r"));
    TypeText(f.meFooter, QStringLiteral("Дата"));
    ClickPage(f, TForm::kOtherPage);
    ClickIndicator(f.rbOneTime);
    ClickIndicator(f.rbSaveNone);
    EXPECT_FALSE(f.rbPeriodic->isChecked());
    EXPECT_FALSE(f.rbSaveAuto->isChecked());
    MouseClick(f.btOK);
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
    EXPECT_EQ(f.pcPages->currentIndex(), TForm::kDurationsPage);
    EXPECT_EQ(f.lbPointCount->text(), QStringLiteral("60"));
    EXPECT_TRUE(f.rbOneTime->isChecked());
    EXPECT_TRUE(f.rbSaveNone->isChecked());
    ClickPage(f, TForm::kHeaderFooterPage);
    MouseClick(f.btCancel);
  }));
  ASSERT_FALSE(Run([](TForm& f) {
    EXPECT_EQ(f.pcPages->currentIndex(), TForm::kHeaderFooterPage);
    MouseClick(f.btCancel);
  }));
}

TEST_F(TReportPropertiesTest, CancelLeavesTheNodeUntouched) {
  node->SetLoggingDurationIndex(8);
  node->SetChanged(false);
  const QVariantList before = Snapshot();
  for (int howClosed = 0; howClosed < 2; ++howClosed) {
    SCOPED_TRACE(howClosed == 0 ? "Отмена" : "Esc");
    const bool written = Run([&](TForm& f) {
      Retype(f.edName, QStringLiteral("Другой"));
      Step(f.udInterval, +4);
      Step(f.udDuration, -1);
      ClickIndicator(f.cbShift);
      ClickIndicator(f.cbAlign);
      ClickPage(f, TForm::kHeaderFooterPage);
      TypeText(f.meHeader, QStringLiteral("Шапка"));
      ClickPage(f, TForm::kOtherPage);
      ClickIndicator(f.rbOneTime);
      ClickIndicator(f.rbSaveNone);
      if (howClosed == 0)
        MouseClick(f.btCancel);
      else
        KeyClick(f.rbSaveNone, Qt::Key_Escape);
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
        EXPECT_FALSE(f.pcPages->isTabVisible(TForm::kDurationsPage));
        EXPECT_TRUE(f.pcPages->isTabVisible(TForm::kHeaderFooterPage));
        EXPECT_FALSE(f.pcPages->isTabVisible(TForm::kOtherPage));
        EXPECT_EQ(f.pcPages->currentIndex(), TForm::kHeaderFooterPage);
        EXPECT_EQ(f.meFooter->toPlainText(), QStringLiteral("Подпись"));
        TypeText(f.meHeader, QStringLiteral("Для печати"));
        MouseClick(f.btOK);
      },
      true);
  ASSERT_TRUE(written);
  EXPECT_EQ(node->Header(), QStringList({"Для печати"}));
  EXPECT_EQ(node->Footer(), QStringList({"Подпись"}));
  EXPECT_EQ(node->MaxCount(), 20);

  // The next ordinary showing has all three pages, also after a cancelled header showing.
  ASSERT_FALSE(Run([](TForm& f) { MouseClick(f.btCancel); }, true));
  ASSERT_FALSE(Run([](TForm& f) {
    for (int page = 0; page < 3; ++page) EXPECT_TRUE(f.pcPages->isTabVisible(page)) << page;
    ClickPage(f, TForm::kDurationsPage);
    EXPECT_TRUE(f.edDuration->isVisible());
    MouseClick(f.btCancel);
  }));
}

}  // namespace
}  // namespace vexa::test
