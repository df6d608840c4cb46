// The report archive window as the operator uses it: clicks, keys and answered messages on real
// archive files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

#include "core/RegisterNode.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/OperatorInput.h"
#include "ui/config/ArchivesUnit.h"

namespace vexa::test {
namespace {

const QString kKilnArchive = QStringLiteral("Kiln_07_12_2026_0905");
const QString kOvenArchive = QStringLiteral("Oven_2_07_12_2026_1200");
const QString kCannotConvert = QStringLiteral(
    "Не могу преобразовать в Excel.\r\nДанный файл не является файлом отчета, не существует или поврежден!");

class ArchivesWindowTest : public TVexaTest {
 protected:
  // An archive of `registers` registers with one reading each.
  void SaveReportArchive(const QString& name, int registers) {
    TReportNode report(nullptr);
    report.SetCaption(name);
    for (int r = 0; r < registers; ++r) {
      auto* reg = new TRegisterNode(&report);
      reg->SetPoints({"07.12.2026 12:00:00"});
      reg->SetDataList({QString::number(r)});
    }
    ASSERT_TRUE(SaveArchive(Current().Dir(), report));
  }

  void WriteFile(const QString& name, const QByteArray& bytes) {
    QFile f(ArchivePath(Current().Dir(), name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }

  // An archive's sound header over garbled sectors: it has an archive's form, but does not open.
  void SaveDamagedArchive(const QString& name) {
    SaveReportArchive(name, 2);
    QFile f(ArchivePath(Current().Dir(), name));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.seek(512));
    f.write(QByteArray(f.size() - 512, '\xEE'));
  }

  void SetAge(const QString& name, qint64 seconds) {
    const timespec t[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(ArchivePath(Current().Dir(), name)).constData(), t, 0),
              0);
  }
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
  }
  void TearDown() override {
    window.reset();
    mainForm.reset();
    TVexaTest::TearDown();
  }

  // Three files: two archives and a note that is none.
  void SaveThreeFiles() {
    SaveReportArchive(kOvenArchive, 3);
    SaveReportArchive(kKilnArchive, 1);
    WriteFile(QStringLiteral("notes.txt"), "text");
  }

  TArchivesForm& Open() {
    mainForm = std::make_unique<TMainForm>(Current());
    Services().BusyCursor = [this](bool busy) { Busy << busy; };
    Messages->Shown.clear();  // the main window's word on the missing diagrams
    window = std::make_unique<TArchivesForm>(Current(), mainForm.get());
    window->Preview = [this](TReportNode& report) {
      Previewed << report.Caption();
      PreviewedImage = report.ImageIndex();
      PreviewedRegisters = report.ComponentCount();
    };
    EXPECT_TRUE(Activate(window.get()));
    return *window;
  }

  // The window's parts, found by their names.
  QToolBar* ToolBar() const { return Child<QToolBar>(*window, "toolBar"); }
  QListWidget* List() const { return Child<QListWidget>(*window, "fileList"); }
  QWidget* SortingPanel() const { return Child<QWidget>(*window, "sortingPanel"); }
  QLabel* TotalPanel() const { return Child<QLabel>(*window, "totalPanel"); }
  QLabel* SelectedPanel() const { return Child<QLabel>(*window, "selectedPanel"); }
  QAction* Command(const char* name) const { return Child<QAction>(*window, name); }
  QString Total() const { return TotalPanel()->text(); }
  QString Selected() const { return SelectedPanel()->text(); }
  void ClickRow(int row, Qt::KeyboardModifiers mods = {}) {
    QListWidgetItem* item = List()->item(row);
    ASSERT_NE(item, nullptr);
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, mods, List()->visualItemRect(item).center());
  }
  void DoubleClickRow(int row) {
    QListWidgetItem* item = List()->item(row);
    ASSERT_NE(item, nullptr);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, List()->visualItemRect(item).center());
  }
  // A click on the toolbar button of the command of that name.
  void Click(const char* command) {
    QTest::mouseClick(ToolBar()->widgetForAction(Command(command)), Qt::LeftButton);
  }
  void Key(int key, Qt::KeyboardModifiers mods = {}) { KeyClick(List(), key, mods); }

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TArchivesForm> window;
  QList<bool> Busy;
  QStringList Previewed;
  int PreviewedImage = -1;
  int PreviewedRegisters = -1;
};

TEST_F(ArchivesWindowTest, TheWindowListsTheArchiveFolderAndCountsAsAToolWindow) {
  SaveThreeFiles();
  TArchivesForm& form = Open();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Архив отчетов"));
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(form.size(), QSize(217, 350));
  EXPECT_EQ(form.property("HelpContext").toInt(), hcArchives);
  // The hints in order; "|" a separator, the wider one with its gap before it.
  QStringList bar;
  for (QAction* a : ToolBar()->actions()) {
    if (a->isSeparator())
      bar << "|";
    else if (qobject_cast<QToolButton*>(ToolBar()->widgetForAction(a)) == nullptr)
      bar << "gap";
    else
      bar << a->toolTip();
  }
  EXPECT_EQ(bar, (QStringList{"Просмотр и печать отчета", "|", "Обновить", "Сортировать по дате", "|",
                              "Преобразовать для Excel", "gap", "|", "Удалить"}));
  EXPECT_TRUE(Command("sortByDateAction")->isCheckable());
  EXPECT_EQ(form.Names(), (QStringList{kKilnArchive, "notes.txt", kOvenArchive}));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 3"));
  EXPECT_EQ(Selected(), QStringLiteral("Выбрано: 0"));
  EXPECT_GE(TotalPanel()->width(), 82);
  EXPECT_GE(SelectedPanel()->width(), 50);
  EXPECT_TRUE(List()->isVisible());
  EXPECT_FALSE(SortingPanel()->isVisible());
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);

  // Archives written while the window was closed are there when it opens again.
  form.close();
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  SaveReportArchive(QStringLiteral("Batch_08_12_2026_0800"), 1);
  ASSERT_TRUE(Activate(&form));
  EXPECT_EQ(form.Names().first(), QStringLiteral("Batch_08_12_2026_0800"));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 4"));

  // The count goes with the window to another main window.
  TMainForm other(Current());
  form.SetMainForm(&other);
  EXPECT_EQ(mainForm->ToolWindowCount(), 0);
  EXPECT_EQ(other.ToolWindowCount(), 1);
  form.close();
  EXPECT_EQ(other.ToolWindowCount(), 0);
}

TEST_F(ArchivesWindowTest, WithoutTheFolderTheListIsEmpty) {
  ASSERT_TRUE(QDir(Dir->filePath(QStringLiteral("Archives"))).removeRecursively());
  QFile stray(Dir->filePath(QStringLiteral("stray")));
  ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
  const QString current = QDir::currentPath();
  QDir::setCurrent(Dir->path());
  Open();
  EXPECT_EQ(List()->count(), 0);
  Key(Qt::Key_F5);
  EXPECT_EQ(List()->count(), 0);
  EXPECT_EQ(Total(), QStringLiteral("Всего: 0"));
  QDir::setCurrent(current);
}

TEST_F(ArchivesWindowTest, ClicksAndKeysSelectAndTheStatusBarCounts) {
  SaveThreeFiles();
  Open();
  ClickRow(0);
  EXPECT_EQ(Selected(), QStringLiteral("Выбрано: 1"));
  ClickRow(2, Qt::ControlModifier);
  EXPECT_EQ(Selected(), QStringLiteral("Выбрано: 2"));
  Key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(Selected(), QStringLiteral("Выбрано: 3"));
  EXPECT_EQ(List()->selectedItems().size(), 3);
  Key(Qt::Key_Escape);
  EXPECT_EQ(Selected(), QStringLiteral("Выбрано: 0"));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 3"));
}

TEST_F(ArchivesWindowTest, F5AndTheDateToggleReadTheFolderAgain) {
  SaveThreeFiles();
  const qint64 base = 1796640000;
  SetAge(kOvenArchive, base + 120);
  SetAge(kKilnArchive, base);
  SetAge(QStringLiteral("notes.txt"), base + 60);
  TArchivesForm& form = Open();

  WriteFile(QStringLiteral("added"), "x");
  SetAge(QStringLiteral("added"), base + 30);
  ClickRow(1);
  Key(Qt::Key_F5);
  EXPECT_EQ(form.Names(), (QStringList{"added", kKilnArchive, "notes.txt", kOvenArchive}));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 4"));
  EXPECT_EQ(Selected(), QStringLiteral("Выбрано: 0"));
  EXPECT_TRUE(Busy.isEmpty()) << "reading the names alone is quick";

  // While the list sorts, the panel shows in its place.
  bool panelShown = false;
  QTimer::singleShot(0, &form, [&] { panelShown = SortingPanel()->isVisible() && !List()->isVisible(); });
  Click("sortByDateAction");
  EXPECT_TRUE(Command("sortByDateAction")->isChecked());
  EXPECT_EQ(form.Names(), (QStringList{kOvenArchive, "notes.txt", "added", kKilnArchive}));
  EXPECT_TRUE(panelShown);
  EXPECT_TRUE(List()->isVisible());
  EXPECT_EQ(Busy, (QList<bool>{true, false}));

  // F5 keeps the toggle's order; a newer file comes first.
  WriteFile(QStringLiteral("newest"), "x");
  SetAge(QStringLiteral("newest"), base + 600);
  Key(Qt::Key_F5);
  EXPECT_EQ(form.Names().first(), QStringLiteral("newest"));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 5"));

  Click("sortByDateAction");
  EXPECT_FALSE(Command("sortByDateAction")->isChecked());
  EXPECT_EQ(form.Names(), (QStringList{"added", kKilnArchive, "newest", "notes.txt", kOvenArchive}));
}

TEST_F(ArchivesWindowTest, ViewingHandsTheLoadedArchiveToThePreview) {
  SaveThreeFiles();
  Open();
  DoubleClickRow(2);
  EXPECT_EQ(Previewed, QStringList{kOvenArchive});
  EXPECT_EQ(PreviewedImage, 27);
  EXPECT_EQ(PreviewedRegisters, 3);
  EXPECT_TRUE(Messages->Shown.empty());

  ClickRow(0);
  Click("viewAction");
  EXPECT_EQ(Previewed, (QStringList{kOvenArchive, kKilnArchive}));
  EXPECT_EQ(PreviewedRegisters, 1);

  // Not exactly one file selected: the hint, and no preview.
  const QString one = QStringLiteral("Выберите один отчет для просмотра и печати!");
  ClickRow(2, Qt::ControlModifier);
  Click("viewAction");
  Key(Qt::Key_Escape);
  Click("viewAction");
  EXPECT_EQ(Messages->Texts(), (QStringList{one, one}));
  EXPECT_EQ(Messages->Shown.at(0).Icon, TMsgIcon::Information);

  // A file that is no archive is greyed with the reason and passed over without a message (a
  // damaged archive is named: the real boxes below); the window goes on with the next command.
  Messages->Shown.clear();
  EXPECT_EQ(List()->item(1)->toolTip(),
            QStringLiteral("Не файл отчета: просмотр и преобразование недоступны"));
  EXPECT_NE(List()->item(1)->foreground().color(), List()->item(0)->foreground().color());
  DoubleClickRow(1);
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join('|').toStdString();
  EXPECT_EQ(Previewed.size(), 2);
  DoubleClickRow(0);
  EXPECT_EQ(Previewed.size(), 3);
  EXPECT_EQ(Previewed.last(), kKilnArchive);
}

TEST_F(ArchivesWindowTest, TheExportWritesTheTextFileAndListsIt) {
  SaveThreeFiles();
  TArchivesForm& form = Open();
  ClickRow(2);
  Click("exportAction");
  EXPECT_EQ(Messages->Texts(),
            QStringList{"Отчет\r\n" + kOvenArchive + "\r\nпреобразован в\r\n" + kOvenArchive + ".txt"});
  EXPECT_EQ(form.Names(), (QStringList{kKilnArchive, "notes.txt", kOvenArchive, kOvenArchive + ".txt"}));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 4"));

  // The text file itself is no archive: greyed, and passed over without a message.
  Messages->Shown.clear();
  EXPECT_EQ(List()->item(3)->toolTip(),
            QStringLiteral("Не файл отчета: просмотр и преобразование недоступны"));
  ClickRow(3);
  Click("exportAction");
  EXPECT_TRUE(Messages->Shown.empty()) << Messages->Texts().join('|').toStdString();
  EXPECT_FALSE(QFile::exists(ArchivePath(Current().Dir(), kOvenArchive + ".txt.txt")));
  ASSERT_TRUE(QFile::remove(ArchivePath(Current().Dir(), kKilnArchive)));
  ClickRow(0);
  Click("exportAction");
  EXPECT_EQ(Messages->Texts(), QStringList{kCannotConvert}) << "an archive gone since the list was read";

  Messages->Shown.clear();
  Key(Qt::Key_A, Qt::ControlModifier);
  Click("exportAction");
  EXPECT_EQ(Messages->Texts(), QStringList{"Выберите один отчет для преобразования в Excel!"});
}

// The real boxes, shown from inside the list's double click and the delete button: the list is read
// again after the box and the window goes on.
TEST_F(ArchivesWindowTest, RealBoxesFromTheListAndTheDeleteButton) {
  SaveThreeFiles();
  WriteFile(QStringLiteral("x1"), "x");
  SaveDamagedArchive(QStringLiteral("x2"));
  TArchivesForm& form = Open();
  ASSERT_EQ(form.Names(), (QStringList{kKilnArchive, "notes.txt", kOvenArchive, "x1", "x2"}));
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Messages->Shown.clear();
    Messages->Answers.clear();
    TRealMessageBoxes boxes(how);
    DoubleClickRow(static_cast<int>(form.Names().indexOf(QStringLiteral("x2"))));
    EXPECT_EQ(Messages->Texts(), QStringList{"Файл x2\r\nне является файлом отчета или поврежден!"});
    // The window system gives the window back its focus after the box; here the test does.
    ASSERT_TRUE(Activate(&form));
    // "Нет" is neither the default nor Esc's button: clicked either way.
    ClickRow(3);
    Messages->Answers = {mbNo, mbYes};
    Click("deleteAction");
    EXPECT_EQ(form.Names().size(), how == TBoxClose::Keys ? 5 : 4);
    Click("deleteAction");
    EXPECT_EQ(boxes.Answered, 3);
    EXPECT_EQ(Messages->Texts().mid(1), (QStringList{"Удалить 1 отчет?", "Удалить 1 отчет?"}));
    EXPECT_TRUE(form.isVisible());
  }
  EXPECT_EQ(form.Names(), (QStringList{kKilnArchive, "notes.txt", kOvenArchive}));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 3"));
  DoubleClickRow(0);
  EXPECT_EQ(Previewed.last(), kKilnArchive);
}

TEST_F(ArchivesWindowTest, DeleteAsksThenDeletesTheSelectedFiles) {
  SaveThreeFiles();
  WriteFile(QStringLiteral("x1"), "x");
  WriteFile(QStringLiteral("x2"), "x");
  TArchivesForm& form = Open();
  ASSERT_EQ(form.Names(), (QStringList{kKilnArchive, "notes.txt", kOvenArchive, "x1", "x2"}));

  Key(Qt::Key_Delete);
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text, QStringLiteral("Выберите отчеты для удаления!"));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);

  // No keeps everything.
  Messages->Shown.clear();
  Key(Qt::Key_A, Qt::ControlModifier);
  Messages->Answers = {mbNo};
  Key(Qt::Key_Delete);
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text, QStringLiteral("Удалить 5 отчетов?"));
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Question);
  EXPECT_EQ(Messages->Shown[0].Buttons, unsigned(mbYes | mbNo));
  EXPECT_EQ(form.Names().size(), 5);

  // Yes deletes them; one that went meanwhile is reported and the others still go.
  Messages->Shown.clear();
  ClickRow(3);
  ClickRow(1, Qt::ControlModifier);
  ClickRow(4, Qt::ControlModifier);
  ASSERT_TRUE(QFile::remove(ArchivePath(Current().Dir(), QStringLiteral("x1"))));
  Messages->Answers = {mbYes};
  Key(Qt::Key_Delete);
  EXPECT_EQ(Messages->Texts(),
            (QStringList{"Удалить 3 отчета?", "Не могу удалить x1\r\nФайл не существует или занят"}));
  EXPECT_EQ(form.Names(), (QStringList{kKilnArchive, kOvenArchive}));
  EXPECT_EQ(Total(), QStringLiteral("Всего: 2"));
  EXPECT_EQ(Selected(), QStringLiteral("Выбрано: 0"));

  // The toolbar button asks the same.
  Messages->Shown.clear();
  ClickRow(0);
  Messages->Answers = {mbYes};
  Click("deleteAction");
  EXPECT_EQ(Messages->Texts(), QStringList{"Удалить 1 отчет?"});
  EXPECT_EQ(form.Names(), QStringList{kOvenArchive});
}

}  // namespace
}  // namespace vexa::test
