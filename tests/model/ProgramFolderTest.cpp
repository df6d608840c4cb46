// Which folder is the program folder: vexa's command line, an installed program against one run from
// its own folder, the remembered choice, and the checks a chosen folder must pass.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "ui/model/ProgramFolder.h"

namespace vexa {
namespace {

TEST(ProgramOptionsTest, CommandLines) {
  const QString cwd = QDir::currentPath();
  const struct {
    QStringList Args;
    QString Dir;
    bool ChooseDir, Help, Version;
    QString Error;
  } cases[] = {
      {{}, {}, false, false, false, {}},
      {{"--dir", "/plant/line 2/../line 1/"}, "/plant/line 1", false, false, false, {}},
      {{"--dir", "line2"}, cwd + "/line2", false, false, false, {}},
      {{"--dir"}, {}, false, false, false, "--dir needs a folder"},
      {{"--dir", ""}, {}, false, false, false, "--dir needs a folder"},
      {{"--choose-dir"}, {}, true, false, false, {}},
      {{"--help"}, {}, false, true, false, {}},
      {{"-h"}, {}, false, true, false, {}},
      {{"--version"}, {}, false, false, true, {}},
      {{"--bogus"}, {}, false, false, false, "unknown option --bogus"},
      {{"stray"}, {}, false, false, false, "unexpected argument stray"},
      // Help is answered whatever else is wrong; the first fault is the one told.
      {{"--bogus", "--help", "x"}, {}, false, true, false, "unknown option --bogus"},
      {{"--dir", "/a", "--dir", "/b"}, "/b", false, false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args.join(' ').toStdString());
    const TProgramOptions o = ParseProgramOptions(c.Args);
    EXPECT_EQ(o.Dir, c.Dir);
    EXPECT_EQ(o.ChooseDir, c.ChooseDir);
    EXPECT_EQ(o.Help, c.Help);
    EXPECT_EQ(o.Version, c.Version);
    EXPECT_EQ(o.Error, c.Error);
  }
}

class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir(tree.path()).mkpath("usr/bin"));
    ASSERT_TRUE(QDir(tree.path()).mkpath("usr/share/applications"));
    QFile entry(tree.filePath("usr/share/applications/vexa.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QDir(tree.path()).mkpath("build"));
    ASSERT_TRUE(QDir(tree.path()).mkpath("opt/bin"));  // a bin folder without the desktop entry
    ASSERT_TRUE(QDir(tree.path()).mkpath("usr/sbin"));
  }

  QSettings Settings() const { return QSettings(tree.filePath("Vexa.conf"), QSettings::IniFormat); }

  QTemporaryDir tree;
};

TEST_F(ProgramFolderTest, TheCommandLineWinsThenWhereTheProgramLiesThenTheRememberedFolder) {
  const QString installed = tree.filePath("usr/bin");
  const QString plant = tree.filePath("plant");
  const struct {
    const char* Name;
    QString ProgramDir;
    QString Dir;
    bool ChooseDir;
    QString Remembered;
    QString Path;
    TFolderSource Source;
  } cases[] = {
      {"--dir, installed", installed, "/data/line2", false, plant, "/data/line2", TFolderSource::CommandLine},
      {"--dir, build folder",
       tree.filePath("build"),
       "/data/line2",
       false,
       {},
       "/data/line2",
       TFolderSource::CommandLine},
      {"build folder",
       tree.filePath("build"),
       {},
       false,
       plant,
       tree.filePath("build"),
       TFolderSource::BesideProgram},
      {"a bin folder of no installation",
       tree.filePath("opt/bin"),
       {},
       false,
       {},
       tree.filePath("opt/bin"),
       TFolderSource::BesideProgram},
      {"installed, not bin",
       tree.filePath("usr/sbin"),
       {},
       false,
       {},
       tree.filePath("usr/sbin"),
       TFolderSource::BesideProgram},
      {"first start", installed, {}, false, {}, DefaultDataFolder(), TFolderSource::Ask},
      {"remembered", installed, {}, false, plant, plant, TFolderSource::Remembered},
      {"choose again", installed, {}, true, plant, plant, TFolderSource::Ask},
      {"choose again, nothing remembered", installed, {}, true, {}, DefaultDataFolder(), TFolderSource::Ask},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    QSettings settings = Settings();
    settings.clear();
    if (!c.Remembered.isEmpty()) RememberDataFolder(settings, c.Remembered);
    TProgramOptions options;
    options.Dir = c.Dir;
    options.ChooseDir = c.ChooseDir;
    const TProgramFolder folder = DecideProgramFolder(options, c.ProgramDir, settings);
    EXPECT_EQ(folder.Path, c.Path);
    EXPECT_EQ(folder.Source, c.Source);
  }
  EXPECT_FALSE(DefaultDataFolder().isEmpty());
}

TEST_F(ProgramFolderTest, TheChoiceOutlivesTheProgram) {
  {
    QSettings settings = Settings();
    RememberDataFolder(settings, tree.filePath("plant"));
  }
  const QSettings later = Settings();
  const TProgramFolder folder = DecideProgramFolder({}, tree.filePath("usr/bin"), later);
  EXPECT_EQ(folder.Source, TFolderSource::Remembered);
  EXPECT_EQ(folder.Path, tree.filePath("plant"));
}

TEST_F(ProgramFolderTest, AFolderIsMadeAndMustTakeFiles) {
  QFile file(tree.filePath("a file"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  const struct {
    QString Folder;
    QString Problem;
  } cases[] = {
      {"", "Укажите папку для данных программы."},
      {"  ", "Укажите папку для данных программы."},
      {"Vexa/data", "Укажите полный путь к папке (от корня, /...): Vexa/data"},
      {tree.filePath("a file"), tree.filePath("a file") + " — это файл, а не папка."},
      {tree.filePath("a file/below"), "Не удалось создать папку " + tree.filePath("a file/below") + "."},
      // No file may be made there, not even by the superuser.
      {"/proc/1", "В папку /proc/1 нельзя записывать."},
      {tree.filePath("new/nested/data"), ""},
      {tree.filePath("build"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Folder.toStdString());
    EXPECT_EQ(PrepareProgramFolder(c.Folder), c.Problem);
    if (c.Problem.isEmpty()) {
      EXPECT_TRUE(QDir(c.Folder).exists());
      // The write check leaves nothing behind.
      EXPECT_TRUE(QDir(c.Folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
  }
}

}  // namespace
}  // namespace vexa
