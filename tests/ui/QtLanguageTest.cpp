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

// The program's save dialog of the network description, as the operator sees its detail view.
TEST_F(QtLanguageTest, TheFileDialogWritesSizesInRussianAndShowsItsColumnsWhole) {
  Services().Format.DecimalSeparator = QLatin1Char(',');
  const QString folder = Dir->filePath(QStringLiteral("tables"));
  ASSERT_TRUE(QDir().mkpath(folder));
  // Name -> bytes and the size shown; just under 1 МиБ is no "1024,0 КиБ".
  const std::map<QString, std::pair<qint64, QString>> files = {
      {"сеть.txt", {12, "12 байт"}},
      {"журнал тревог котельной за декабрь.txt", {1536, "1,5 КиБ"}},
      {"почти.txt", {(1 << 20) - 20, "1,0 МиБ"}}};
  for (const auto& [name, size] : files) {
    QFile file(folder + '/' + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size.first));
  }
  Settings()->SetTablesDir(folder);
  bool seen = false;
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    seen = true;
    const auto closed = qScopeGuard([dialog] { dialog->reject(); });  // also after a failed check
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_TRUE(view != nullptr && view->isVisible()) << "the detail view";
    const QModelIndex root = view->rootIndex();
    for (int i = 0; i < 300 && view->model()->rowCount(root) < 3; ++i) ProcessEventsFor(10);
    ASSERT_EQ(view->model()->rowCount(root), 3);
    ProcessEventsFor(50);  // the names' column follows the loaded folder
    for (int row = 0; row < 3; ++row) {
      const QString name = view->model()->index(row, 0, root).data().toString();
      EXPECT_EQ(view->model()->index(row, 1, root).data().toString(), files.at(name).second);
      for (int c = 0; c < 4; ++c) {  // no heading or text cut, the names beside their icons
        const QString text = view->model()->index(row, c, root).data().toString();
        const int needed =
            view->fontMetrics().horizontalAdvance(text) + (c == 0 ? view->iconSize().width() : 0);
        EXPECT_GE(view->header()->sectionSize(c), std::max(needed, view->header()->sectionSizeHint(c)))
            << text.toStdString();
      }
    }
  });
  SaveNetworkDescriptionDialog(Current(), nullptr);
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace vexa::test
