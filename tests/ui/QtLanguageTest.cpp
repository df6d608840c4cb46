// Qt's own file dialog in Russian, as the program sets it up at its start: Qt's translation (with the
// file types Qt 6 files elsewhere) and, on a system that names no locale, Russian dates.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTreeView>
#include <algorithm>
#include <iterator>
#include <map>

#include "core/Network.h"
#include "core/SetupNode.h"
#include "support/TestSupport.h"
#include "ui/OperatorInput.h"
#include "ui/config/NetDescriptionSave.h"
#include "ui/parts/FileDialogs.h"
#include "ui/parts/QtLanguage.h"

namespace vexa::test {
namespace {

TEST(QtLocaleTest, OnlyAnEnvironmentWithoutALocaleGetsTheRussianDates) {
  const struct {
    std::map<QByteArray, QByteArray> Env;
    bool NoLocale;
  } cases[] = {
      {{}, true},
      {{{"LANG", "C.UTF-8"}}, true},
      {{{"LANG", "POSIX"}, {"LC_ALL", "C"}}, true},
      {{{"LANG", "ru_RU.UTF-8"}}, false},
      {{{"LANG", "C.UTF-8"}, {"LC_TIME", "en_GB.UTF-8"}}, false},
      {{{"LC_MESSAGES", "de_DE"}}, false},
  };
  for (const auto& c : cases) {
    const bool none = NamesNoLocale([&](const char* name) {
      const auto it = c.Env.find(QByteArray(name));
      return it != c.Env.end() ? it->second : QByteArray();
    });
    EXPECT_EQ(none, c.NoLocale) << c.Env.size();
  }
}

class QtLanguageTest : public TVexaTest {};

// The program's save dialog of the network description, with the translator the program installs.
TEST_F(QtLanguageTest, TheFileDialogSpeaksRussianDownToItsFileTypesAndDates) {
  const std::unique_ptr<QTranslator> russian = InstallQtRussian();
  ASSERT_NE(russian, nullptr) << "qt6-translations-l10n (scripts/deps) gives qtbase_ru";
  const QString folder = Dir->filePath(QStringLiteral("tables"));
  ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/Архив")));
  QFile file(folder + QStringLiteral("/сеть.txt"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("1");
  file.close();
  Settings()->SetTablesDir(folder);
  // Where the system names no locale, its dates are the program's Russian ones (as vexa starts).
  const bool russianDates = NamesNoLocale([](const char* name) { return qgetenv(name); });

  bool seen = false;
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex root = model->index(folder);
    for (int i = 0; i < 200 && model->rowCount(root) < 2; ++i) ProcessEventsFor(10);
    ASSERT_EQ(model->rowCount(root), 2);
    for (int row = 0; row < 2; ++row) {
      const QString name = model->data(model->index(row, 0, root)).toString();
      const QString type = model->data(model->index(row, 2, root)).toString();
      const QString date = model->data(model->index(row, 3, root)).toString();
      SCOPED_TRACE(name.toStdString());
      if (name == QStringLiteral("Архив")) {
        EXPECT_EQ(type, QStringLiteral("Папка"));
      }
      if (russianDates) {
        const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
        EXPECT_TRUE(date.startsWith(today)) << date.toStdString();
      }
    }
    QStringList headings;
    for (int c = 0; c < 4; ++c) headings << model->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headings, QStringList({"Имя", "Размер", "Тип", "Дата изменения"}));
    QStringList labels;
    for (const QLabel* l : dialog->findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains(QStringLiteral("Перейти к:"))) << labels.join('|').toStdString();
    QStringList buttons;
    for (const QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
      if (!b->text().isEmpty()) buttons << b->text();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Отмена"))) << buttons.join('|').toStdString();
    seen = true;
    KeyClick(dialog->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Escape);
  });
  SaveNetworkDescriptionDialog(Current(), nullptr);
  EXPECT_TRUE(seen);
  // Qt 6 asks for the file type under the icon provider; the translation has it under the dialog.
  EXPECT_EQ(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
            QStringLiteral("Папка"));
}

TEST(FileSizeTextTest, SizesAreWrittenInRussianUnitsOfPowersOf1024) {
  Services().Format.DecimalSeparator = QLatin1Char(',');
  const struct {
    qint64 Bytes;
    const char* Text;
  } cases[] = {
      {0, "0 байт"},
      {1023, "1023 байт"},
      {1024, "1,0 КиБ"},
      {1536, "1,5 КиБ"},
      {1024 * 1024 - 20, "1,0 МиБ"},  // not "1024,0 КиБ"
      {3 * 1024 * 1024 + 300 * 1024, "3,3 МиБ"},
      {5LL * 1024 * 1024 * 1024, "5,0 ГиБ"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSizeText(c.Bytes), QString::fromUtf8(c.Text)) << c.Bytes;
}

// The program's save dialog of the network description, as the operator sees its detail view.
TEST_F(QtLanguageTest, TheFileDialogWritesSizesInRussianAndShowsItsColumnsWhole) {
  Services().Format.DecimalSeparator = QLatin1Char(',');
  const QString folder = Dir->filePath(QStringLiteral("tables"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const struct {
    const char* Name;
    qint64 Bytes;
    const char* Size;
  } files[] = {
      {"сеть.txt", 12, "12 байт"},
      {"журнал тревог котельной за декабрь.txt", 1536, "1,5 КиБ"},
      {"архив.txt", 3 * 1024 * 1024, "3,0 МиБ"},
  };
  for (const auto& f : files) {
    QFile file(folder + QLatin1Char('/') + QString::fromUtf8(f.Name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(f.Bytes));
  }
  Settings()->SetTablesDir(folder);

  bool seen = false;
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    // A failed check must not leave the dialog waiting.
    const auto closed = qScopeGuard([dialog] {
      if (dialog->isVisible()) dialog->reject();
    });
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->isVisible()) << "the detail view";
    QAbstractItemModel* shown = view->model();
    const QModelIndex root = view->rootIndex();
    for (int i = 0; i < 300 && shown->rowCount(root) < 3; ++i) ProcessEventsFor(10);
    ASSERT_EQ(shown->rowCount(root), 3);
    ProcessEventsFor(50);  // the names' column follows the loaded folder
    for (int row = 0; row < 3; ++row) {
      const QString name = shown->index(row, 0, root).data().toString();
      SCOPED_TRACE(name.toStdString());
      const auto* f = std::find_if(std::begin(files), std::end(files),
                                   [&](const auto& x) { return QString::fromUtf8(x.Name) == name; });
      ASSERT_NE(f, std::end(files));
      EXPECT_EQ(shown->index(row, 1, root).data().toString(), QString::fromUtf8(f->Size));
    }
    QHeaderView* header = view->header();
    for (int c = 0; c < 4; ++c) {
      SCOPED_TRACE(c);
      EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << "the heading is cut";
      // The names beside their icons.
      const int icon = c == 0 ? view->iconSize().width() : 0;
      for (int row = 0; row < 3; ++row) {
        const QString text = shown->index(row, c, root).data().toString();
        EXPECT_GE(header->sectionSize(c), view->fontMetrics().horizontalAdvance(text) + icon)
            << "cut: " << text.toStdString();
      }
    }
    seen = true;
    KeyClick(dialog->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Escape);
  });
  SaveNetworkDescriptionDialog(Current(), nullptr);
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace vexa::test
