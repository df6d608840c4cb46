// "Папка данных", asked at the first start of an installed program: the proposed folder, a folder
// typed in, the folders refused with a reason, and declining.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <memory>
#include <optional>

#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/OperatorInput.h"
#include "ui/config/DataFolderUnit.h"

namespace vexa::test {
namespace {

class TDataFolderTest : public TVexaTest {};

enum TAnswer { ClickOK, PressEnter, ClickCancel, PressEsc };

// Selects what the folder field holds and types text over it.
void TypeOver(TDataFolderDlg* d, const QString& text) {
  QLineEdit* folder = Child<QLineEdit>(*d, "folderEdit");
  KeyClick(folder, Qt::Key_A, Qt::ControlModifier);
  TypeText(folder, text);
}

void Answer(TDataFolderDlg* d, TAnswer how) {
  switch (how) {
    case ClickOK:
      MouseClick(Child<QPushButton>(*d, "okButton"));
      break;
    case PressEnter:
      KeyClick(Child<QLineEdit>(*d, "folderEdit"), Qt::Key_Return);
      break;
    case ClickCancel:
      MouseClick(Child<QPushButton>(*d, "cancelButton"));
      break;
    case PressEsc:
      KeyClick(Child<QLineEdit>(*d, "folderEdit"), Qt::Key_Escape);
      break;
  }
}

TEST_F(TDataFolderTest, TheWindowShowsTheProposedFolderAndNothingIsClipped) {
  const QString proposed = Dir->filePath("home/operator/.local/share/Vexa");
  TDataFolderDlg dialog(proposed);
  ASSERT_TRUE(Activate(&dialog));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Папка данных"));
  const QLineEdit* folder = Child<QLineEdit>(dialog, "folderEdit");
  const QPushButton* ok = Child<QPushButton>(dialog, "okButton");
  const QPushButton* cancel = Child<QPushButton>(dialog, "cancelButton");
  EXPECT_EQ(folder->text(), proposed);
  EXPECT_EQ(dialog.Folder(), proposed);
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(cancel->text(), QStringLiteral("Отмена"));
  for (QWidget* w : dialog.findChildren<QWidget*>())
    EXPECT_TRUE(dialog.rect().contains(w->geometry())) << w->metaObject()->className() << " clipped";
  // The whole explanation fits its label at the label's width.
  const QLabel* explanation = Child<QLabel>(dialog, "explanationLabel");
  EXPECT_GE(explanation->height(), explanation->heightForWidth(explanation->width()));
  EXPECT_FALSE(ok->geometry().intersects(cancel->geometry()));
  EXPECT_FALSE(folder->geometry().intersects(Child<QPushButton>(dialog, "browseButton")->geometry()));
}

TEST_F(TDataFolderTest, AFolderIsTakenOnlyWhenItCanHoldTheFiles) {
  QFile file(Dir->filePath("taken"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  const QString fresh = Dir->filePath("plant/line 1");
  const struct {
    const char* Name;
    QString Typed;  // replaces the proposal; empty keeps it
    TAnswer How;
    std::optional<QString> Chosen;
    QString Told;
  } cases[] = {
      {"the proposal", {}, ClickOK, Dir->filePath("proposed"), {}},
      {"typed, Enter", fresh, PressEnter, fresh, {}},
      {"typed with spaces and a trailing slash", "  " + fresh + "/ ", ClickOK, fresh, {}},
      {"relative", "data", ClickOK, std::nullopt, "Укажите полный путь к папке (от корня, /...): data"},
      {"a file", Dir->filePath("taken"), PressEnter, std::nullopt,
       Dir->filePath("taken") + " — это файл, а не папка."},
      {"cleared", " ", ClickOK, std::nullopt, "Укажите папку для данных программы."},
      {"declined", fresh, ClickCancel, std::nullopt, {}},
      {"declined with Esc", {}, PressEsc, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Messages->Shown.clear();
    QDir(Dir->filePath("proposed")).removeRecursively();
    bool stayedOpen = false;
    WhenModal<TDataFolderDlg>([&](TDataFolderDlg* d) {
      if (!c.Typed.isEmpty()) {
        TypeOver(d, c.Typed);
      }
      Answer(d, c.How);
      // A refused folder keeps the question open; the operator then gives up.
      stayedOpen = d->isVisible();
      if (stayedOpen) MouseClick(Child<QPushButton>(*d, "cancelButton"));
    });
    const std::optional<QString> chosen = ChooseDataFolder(Dir->filePath("proposed"));
    EXPECT_EQ(chosen, c.Chosen);
    if (c.Chosen) {
      EXPECT_TRUE(QDir(*c.Chosen).exists()) << "not made";
    }
    EXPECT_EQ(Messages->Texts(), c.Told.isEmpty() ? QStringList() : QStringList{c.Told});
    EXPECT_EQ(stayedOpen, !c.Told.isEmpty());
  }
}

// The refusal comes up as the real box inside the OK button's click or the field's Enter; the
// question stays open and takes the next folder typed.
TEST_F(TDataFolderTest, ARefusedFolderIsToldByTheRealBoxAndTheNextIsTaken) {
  const QString fresh = Dir->filePath("plant/line 2");
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    int answered = -1;
    WhenModal<TDataFolderDlg>([&](TDataFolderDlg* d) {
      TypeOver(d, QStringLiteral("data"));
      Answer(d, how == TBoxClose::Keys ? PressEnter : ClickOK);
      answered = boxes.Answered;
      EXPECT_TRUE(d->isVisible());
      TypeOver(d, fresh);
      Answer(d, how == TBoxClose::Keys ? PressEnter : ClickOK);
    });
    EXPECT_EQ(ChooseDataFolder(Dir->filePath("proposed")), std::optional<QString>(fresh));
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(Messages->Texts(), QStringList{"Укажите полный путь к папке (от корня, /...): data"});
  }
}

TEST_F(TDataFolderTest, AFixedFolderIsTakenAfterARefusal) {
  const QString fixed = Dir->filePath("line2");
  WhenModal<TDataFolderDlg>([&](TDataFolderDlg* d) {
    TypeOver(d, "line2");
    MouseClick(Child<QPushButton>(*d, "okButton"));
    EXPECT_TRUE(d->isVisible());
    TypeOver(d, fixed);
    MouseClick(Child<QPushButton>(*d, "okButton"));
  });
  EXPECT_EQ(ChooseDataFolder(Dir->filePath("proposed")), fixed);
  EXPECT_EQ(Messages->Shown.size(), 1u);
  EXPECT_TRUE(QDir(fixed).exists());
  EXPECT_FALSE(QDir(Dir->filePath("proposed")).exists()) << "the refused proposal was made anyway";
}

TEST_F(TDataFolderTest, TheFolderIsSettledBeforeTheProgramStarts) {
  QFile file(Dir->filePath("a file"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  const QString line2 = Dir->filePath("line2");
  const QString broken = Dir->filePath("a file/data");  // cannot be made
  const QString typed = Dir->filePath("typed");
  const QString remembered = Dir->filePath("remembered");
  const struct {
    const char* Name;
    TProgramFolder Folder;
    bool Asked;
    std::optional<QString> Settled;
    QString Remembered;  // afterwards
    bool Told;
  } cases[] = {
      {"beside the program, as it is",
       {Dir->filePath("build"), TFolderSource::BesideProgram},
       false,
       Dir->filePath("build"),
       remembered,
       false},
      {"--dir, made", {line2, TFolderSource::CommandLine}, false, line2, remembered, false},
      {"--dir that cannot be used ends the start",
       {broken, TFolderSource::CommandLine},
       false,
       std::nullopt,
       remembered,
       true},
      {"remembered", {remembered, TFolderSource::Remembered}, false, remembered, remembered, false},
      {"remembered but gone: chosen again", {broken, TFolderSource::Remembered}, true, typed, typed, true},
      {"first start", {Dir->filePath("proposed"), TFolderSource::Ask}, true, typed, typed, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Messages->Shown.clear();
    QSettings settings(Dir->filePath("Vexa.conf"), QSettings::IniFormat);
    RememberDataFolder(settings, remembered);
    bool asked = false;
    QString proposed;
    if (c.Asked)
      WhenModal<TDataFolderDlg>([&](TDataFolderDlg* d) {
        asked = true;
        proposed = d->Folder();
        TypeOver(d, typed);
        MouseClick(Child<QPushButton>(*d, "okButton"));
      });
    EXPECT_EQ(SettleProgramFolder(c.Folder, settings), c.Settled);
    EXPECT_EQ(asked, c.Asked);
    if (c.Asked) {
      EXPECT_EQ(proposed, c.Folder.Path);
    }
    EXPECT_EQ(settings.value("DataFolder").toString(), c.Remembered);
    EXPECT_EQ(Messages->Shown.size(), c.Told ? 1u : 0u) << Messages->Texts().join(" | ").toStdString();
    if (c.Settled) {
      EXPECT_TRUE(QDir(*c.Settled).exists() || c.Folder.Source == TFolderSource::BesideProgram);
    }
  }
}

}  // namespace
}  // namespace vexa::test
