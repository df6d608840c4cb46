// "Сохранить описание сети": the file written, and where the next export starts, with the file
// question answered by the test and once through the real save dialog.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>

#include "core/Network.h"
#include "core/SetupNode.h"
#include "storage/NetDescription.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/OperatorInput.h"
#include "ui/config/NetDescriptionSave.h"

namespace vexa::test {
namespace {

class NetDescriptionSaveTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Net()->SetCaption(QStringLiteral("Сеть"));
    auto* regulator = new TRootNode(Net().get());
    regulator->SetName("D005");
    regulator->SetCaption(QStringLiteral("Регулятор 005"));
    tables = Dir->filePath("tables");
    other = Dir->filePath("other");
    QDir().mkpath(tables);
    QDir().mkpath(other);
    Settings()->SetTablesDir(tables);
  }

  QByteArray Expected() const { return ToCp1251(NetworkDescription(*Net())); }
  static QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  QString tables;
  QString other;
};

TEST_F(NetDescriptionSaveTest, TheFileChosenIsReplacedAndTheNextExportStartsInTheFolderLastUsed) {
  const QString path = other + "/net.txt";
  QFile old(path);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write(QByteArray(4096, 'x'));  // longer than the description: nothing of it may stay
  old.close();

  const struct {
    const char* Name;
    QString Chosen;  // empty: cancelled
    QString FolderLeftIn;
    QString TablesDirAfter;
    bool Error;
  } cases[] = {
      {"confirmed", path, tables, other, false},
      {"cancelled after browsing", "", other + "/..", QDir::cleanPath(other + "/.."), false},
      {"cannot be written", other + "/none/net.txt", other, tables, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Settings()->SetTablesDir(tables);
    Messages->Shown.clear();
    QString askedIn;
    SaveNetworkDescriptionDialog(Current(), nullptr,
                                 [&](QWidget*, QString& folder) -> std::optional<QString> {
                                   askedIn = folder;
                                   folder = c.FolderLeftIn;
                                   if (c.Chosen.isEmpty()) return std::nullopt;
                                   return c.Chosen;
                                 });
    EXPECT_EQ(askedIn, tables);
    EXPECT_EQ(QDir::cleanPath(Settings()->TablesDir()), c.TablesDirAfter);
    EXPECT_EQ(Messages->Shown.size(), c.Error ? 1u : 0u);
    for (const auto& m : Messages->Shown) EXPECT_EQ(m.Icon, TMsgIcon::Error);
  }
  EXPECT_EQ(Read(path), Expected());
}

TEST_F(NetDescriptionSaveTest, AFileThatCannotBeWrittenIsToldByTheRealBox) {
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Settings()->SetTablesDir(tables);
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    SaveNetworkDescriptionDialog(Current(), nullptr, [&](QWidget*, QString&) -> std::optional<QString> {
      return other + "/none/net.txt";
    });
    EXPECT_EQ(boxes.Answered, 1);
    ASSERT_EQ(Messages->Shown.size(), 1u);
    EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(QDir::cleanPath(Settings()->TablesDir()), tables);
  }
}

TEST_F(NetDescriptionSaveTest, TheSaveDialogStartsInTablesDirAndKeepsTheFolderLastUsedAlsoOnCancel) {
  WhenModal<QFileDialog>([this](QFileDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Сохранение параметров сети в виде таблицы"));
    EXPECT_EQ(dialog->nameFilters(),
              QStringList({QStringLiteral("Текстовые файлы (*.txt)"), QStringLiteral("Все файлы (*.*)")}));
    EXPECT_EQ(dialog->directory().absolutePath(), tables);
    // The operator pastes another folder's path, goes there, and cancels.
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(other);
    KeyClick(name, Qt::Key_Return);
    EXPECT_EQ(dialog->directory().absolutePath(), other);
    KeyClick(name, Qt::Key_Escape);
  });
  SaveNetworkDescriptionDialog(Current(), nullptr);
  EXPECT_EQ(Settings()->TablesDir(), other);
  EXPECT_TRUE(QDir(other).entryList(QDir::Files).isEmpty());

  // The next export starts there; a name without extension gets ".txt".
  WhenModal<QFileDialog>([this](QFileDialog* dialog) {
    EXPECT_EQ(dialog->directory().absolutePath(), other);
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    TypeText(name, QStringLiteral("сеть"));
    KeyClick(name, Qt::Key_Return);
  });
  SaveNetworkDescriptionDialog(Current(), nullptr);
  EXPECT_EQ(Read(other + QStringLiteral("/сеть.txt")), Expected());
}

}  // namespace
}  // namespace vexa::test
