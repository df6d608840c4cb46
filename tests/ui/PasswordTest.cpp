// "Введите пароль" and the question that opens the network: the network password, the fixed one,
// a wrong one, and every way of declining.

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/SetupNode.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/config/PasswordUnit.h"

namespace vexa::test {
namespace {

class TPasswordTest : public TVexaTest {
 protected:
  void TearDown() override {
    dialog.reset();
    mainForm.reset();
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  TMainForm& CreateMainForm() {
    mainForm = std::make_unique<TMainForm>(Current());
    Messages->Shown.clear();  // no diagram pages: told once, not this window's business
    return *mainForm;
  }

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TPasswordDlg> dialog;
};

enum TAnswer { ClickOK, PressEnter, ClickCancel, PressEsc, CloseBox };

// Types `text` into the password dialog when it comes up and answers it; notes what it saw.
struct TSeen {
  bool Empty = false;
  bool Focused = false;
  QString Shown;
  int ToolWindows = -1;
  QRect Frame;
};
std::shared_ptr<TSeen> Answer(const QString& text, TAnswer how, TMainForm* mainForm) {
  auto seen = std::make_shared<TSeen>();
  WhenModal<TPasswordDlg>([=](TPasswordDlg* d) {
    QLineEdit* password = Child<QLineEdit>(*d, "passwordEdit");
    seen->Empty = password->text().isEmpty();
    seen->Focused = d->focusWidget() == password;
    seen->ToolWindows = mainForm ? mainForm->ToolWindowCount() : -1;
    seen->Frame = d->frameGeometry();
    TypeText(password, text);
    seen->Shown = password->displayText();
    switch (how) {
      case ClickOK:
        MouseClick(Child<QPushButton>(*d, "okButton"));
        break;
      case PressEnter:
        KeyClick(password, Qt::Key_Return);
        break;
      case ClickCancel:
        MouseClick(Child<QPushButton>(*d, "cancelButton"));
        break;
      case PressEsc:
        KeyClick(password, Qt::Key_Escape);
        break;
      case CloseBox:
        d->close();
        break;
    }
  });
  return seen;
}

TEST_F(TPasswordTest, TheDialog) {
  dialog = std::make_unique<TPasswordDlg>(Current());
  dialog->show();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Введите пароль"));
  EXPECT_EQ(dialog->size(), QSize(182, 65));
  EXPECT_EQ(dialog->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_EQ(dialog->property("HelpContext").toInt(), 14);
  QLineEdit* password = Child<QLineEdit>(*dialog, "passwordEdit");
  QPushButton* ok = Child<QPushButton>(*dialog, "okButton");
  QPushButton* cancel = Child<QPushButton>(*dialog, "cancelButton");
  EXPECT_EQ(ok->text(), QStringLiteral("OK"));
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(cancel->text(), QStringLiteral("Отмена"));
  EXPECT_FALSE(cancel->isDefault());
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  for (QWidget* w :
       {static_cast<QWidget*>(password), static_cast<QWidget*>(ok), static_cast<QWidget*>(cancel)})
    EXPECT_TRUE(dialog->rect().contains(w->geometry())) << "clipped";
  EXPECT_FALSE(ok->geometry().intersects(cancel->geometry()));
  const QRect screen = dialog->screen()->geometry();
  EXPECT_LE((dialog->frameGeometry().center() - screen.center()).manhattanLength(), 1) << "not centred";
  dialog->hide();
}

TEST_F(TPasswordTest, OpensWithTheNetworkPasswordOrTheFixedOneAndTellsAWrongOne) {
  CreateMainForm();
  const QString wrong = QStringLiteral("Неверный пароль!");
  const struct {
    const char* Network;
    const char* Typed;
    TAnswer How;
    bool Opens;
    bool Told;
  } cases[] = {
      {"BrastLun", "BrastLun", ClickOK, true, false},   {"BrastLun", "BrastLun", PressEnter, true, false},
      {"BrastLun", "brastlun", ClickOK, false, true},   {"BrastLun", "BrastLun ", ClickOK, false, true},
      {"BrastLun", "", ClickOK, false, true},           {"BrastLun", "418275", ClickOK, true, false},
      {"BrastLun", "4182750", PressEnter, false, true}, {"", "", ClickOK, true, false},
      {"", "418275", PressEnter, true, false},          {"Котёл", "Котёл", ClickOK, true, false},
      {"Котёл", "котёл", ClickOK, false, true},         {"BrastLun", "BrastLun", ClickCancel, false, false},
      {"BrastLun", "418275", PressEsc, false, false},   {"BrastLun", "wrong", CloseBox, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Network << " / " << c.Typed << " / " << int(c.How));
    Settings()->SetPassword(QString::fromUtf8(c.Network));
    Messages->Shown.clear();
    auto seen = Answer(QString::fromUtf8(c.Typed), c.How, mainForm.get());
    EXPECT_EQ(AskPassword(Current(), mainForm.get()), c.Opens);
    EXPECT_TRUE(seen->Empty);
    EXPECT_TRUE(seen->Focused);
    EXPECT_EQ(seen->Shown, QString(QString::fromUtf8(c.Typed).size(), QLatin1Char('*')));
    EXPECT_EQ(seen->ToolWindows, 1);
    EXPECT_EQ(mainForm->ToolWindowCount(), 0);
    if (c.Told) {
      ASSERT_EQ(Messages->Shown.size(), 1u);
      EXPECT_EQ(Messages->Shown[0].Text, wrong);
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
      EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbOK));
    } else {
      EXPECT_TRUE(Messages->Shown.empty());
    }
  }
}

TEST_F(TPasswordTest, UsesTheMainWindowsDialogAndLeavesNoPasswordInIt) {
  CreateMainForm();
  dialog = std::make_unique<TPasswordDlg>(Current(), mainForm.get());
  mainForm->SetWindow(TWindowRole::Password, dialog.get());
  TypeText(Child<QLineEdit>(*dialog, "passwordEdit"), QStringLiteral("left over"));
  TPasswordDlg* asked = nullptr;
  WhenModal<TPasswordDlg>([&](TPasswordDlg* d) { asked = d; });
  auto seen = Answer(QStringLiteral("418275"), ClickOK, mainForm.get());
  EXPECT_TRUE(AskPassword(Current(), mainForm.get()));
  EXPECT_EQ(asked, dialog.get());
  EXPECT_TRUE(seen->Empty) << "the text of the last time was shown";
  EXPECT_EQ(Child<QLineEdit>(*dialog, "passwordEdit")->text(), QString());
  const QRect screen = dialog->screen()->geometry();
  EXPECT_LE((seen->Frame.center() - screen.center()).manhattanLength(), 1) << "not centred";
}

TEST_F(TPasswordTest, WithoutAMainWindowItAsksInAWindowOfItsOwn) {
  Settings()->SetPassword(QStringLiteral("abc"));
  auto seen = Answer(QStringLiteral("abc"), PressEnter, nullptr);
  EXPECT_TRUE(AskPassword(Current(), nullptr));
  EXPECT_EQ(seen->Shown, QStringLiteral("***"));
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_EQ(qobject_cast<TPasswordDlg*>(w), nullptr) << "the dialog was left behind";
}

TEST_F(TPasswordTest, AWrongPasswordIsToldByTheRealBoxAndTheNextTryOpens) {
  CreateMainForm();
  mainForm->AskPassword = [this] { return AskPassword(Current(), mainForm.get()); };
  mainForm->SetNetworkOpen(false);
  Settings()->SetPassword(QStringLiteral("BrastLun"));
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    Answer(QStringLiteral("nope"), PressEnter, mainForm.get());
    Child<QAction>(*mainForm, "accessAction")->trigger();
    EXPECT_FALSE(mainForm->NetworkOpen());
    EXPECT_EQ(boxes.Answered, 1);
    EXPECT_EQ(Messages->Texts(), QStringList({"Неверный пароль!"}));
    EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  }
  Answer(QStringLiteral("BrastLun"), PressEnter, mainForm.get());
  Child<QAction>(*mainForm, "accessAction")->trigger();
  EXPECT_TRUE(mainForm->NetworkOpen());
}

TEST_F(TPasswordTest, TheAccessCommandOpensWithThePasswordAndClosesWithoutAsking) {
  CreateMainForm();
  mainForm->AskPassword = [this] { return AskPassword(Current(), mainForm.get()); };
  mainForm->SetNetworkOpen(false);
  Settings()->SetPassword(QStringLiteral("BrastLun"));

  Answer(QStringLiteral("nope"), ClickOK, mainForm.get());
  Child<QAction>(*mainForm, "accessAction")->trigger();
  EXPECT_FALSE(mainForm->NetworkOpen());
  EXPECT_EQ(Messages->Texts(), QStringList({"Неверный пароль!"}));

  Answer(QStringLiteral("BrastLun"), ClickCancel, mainForm.get());
  Child<QAction>(*mainForm, "accessAction")->trigger();
  EXPECT_FALSE(mainForm->NetworkOpen());
  EXPECT_EQ(Messages->Shown.size(), 1u);

  Answer(QStringLiteral("BrastLun"), ClickOK, mainForm.get());
  Child<QAction>(*mainForm, "accessAction")->trigger();
  EXPECT_TRUE(mainForm->NetworkOpen());
  EXPECT_EQ(Child<QAction>(*mainForm, "accessAction")->text(), QStringLiteral("Закрыть сеть для настройки"));

  {
    TNoModalWindow noQuestion;
    Child<QAction>(*mainForm, "accessAction")->trigger();
    EXPECT_FALSE(mainForm->NetworkOpen());
    ProcessEventsFor(100);
  }
  EXPECT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
}

}  // namespace
}  // namespace vexa::test
