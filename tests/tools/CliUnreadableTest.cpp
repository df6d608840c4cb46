// vexa-cli on a folder whose state files exist but cannot be read, or only in part: every command
// that loads the state says which file and why, exits non-zero and changes nothing in the folder.

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <map>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/CompoundFile.h"
#include "storage/FolderLock.h"
#include "storage/NetworkState.h"
#include "storage/StreamWriter.h"
#include "storage/TreeFiles.h"
#include "support/Cli.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

// Every file under the folder with its bytes.
std::map<QString, QByteArray> Snapshot(const QString& dir) {
  std::map<QString, QByteArray> files;
  QDirIterator it(dir, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    // The writers' lock file holds no state; once its writer has ended it names nobody.
    if (path == TFolderLock::LockFilePath(dir)) {
      EXPECT_EQ(QFileInfo(path).size(), 0) << "a writer still named";
      continue;
    }
    QFile f(path);
    files[path] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<folder>");
  }
  return files;
}

class CliUnreadableTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    AddRegisterNode(AddChannelNode(AddRegulatorNode(*Net(), 0), 0), 1);
    Settings()->SetAutoSaveEnabled(false);
    EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  }

  TRun Cli(const QStringList& args) { return test::Cli(QStringList{"--demo", "--dir", Dir->path()} + args); }
};

TEST_F(CliUnreadableTest, CommandsThatLoadTheStateRefuseAnUnreadableFileAndTouchNothing) {
  const QString net = ConfigFilePath(Current().Dir(), QStringLiteral("NET"));
  const QString tasks = ConfigFilePath(Current().Dir(), QStringLiteral("TASKS"));
  struct TDamage {
    const char* Name;
    QString Path;
    QByteArray Bytes;
    const char* Reason;
  };
  const QByteArray garbled = [&net] {
    auto file = CompoundFile::Open(net);
    file->Root().Stream("Object") = QByteArray(200, '\x7F');
    return *file->ToBytes();
  }();
  const auto renamed = [](const QString& path, const QString& name) {
    auto file = CompoundFile::Open(path);
    TRootNode root(nullptr);
    root.SetName(name);
    file->Root().Stream("Object") = WriteComponent(root);
    return *file->ToBytes();
  };
  const QByteArray channelMisnamed = [&net, this] {
    const QString copy = Dir->filePath("copy.cfg");
    QFile::copy(net, copy);
    EXPECT_TRUE(DamagePart(copy, "000/000", TPartDamage::ObjectMisnamed));
    QFile f(copy);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    f.remove();
    return bytes;
  }();
  const TDamage damages[] = {
      {"NET cut to nothing", net, QByteArray(), "не составной файл"},
      {"NET's object garbled", net, garbled, "данные не разбираются"},
      {"TASKS is text", tasks, "tasks\n", "не составной файл"},
      {"NET's root named with a path", net, renamed(net, "../../elsewhere/x"),
       "корневой объект назван '../../elsewhere/x' вместо NET"},
      {"TASKS's root named NET", tasks, renamed(tasks, "NET"), "корневой объект назван 'NET' вместо TASKS"},
      {"a channel's object misnamed", net, channelMisnamed,
       "повреждены части, остальное загружено:\n  000/000 (в D000)"},
  };
  const std::vector<QStringList> commands = {
      {"poll", "--seconds", "1"},
      {"run", "--seconds", "5", "--virtual-clock", "07.12.2026 9:00:00"},
      {"search", "--mode", "added", "--last", "1"},
      {"search", "--mode", "removed", "--last", "1"},
  };
  for (const TDamage& damage : damages) {
    QFile f(damage.Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(damage.Bytes);
    f.close();
    const auto before = Snapshot(Dir->path());
    QString firstText;
    for (const QStringList& command : commands) {
      // Only run loads the processes.
      if (damage.Path == tasks && command[0] != QLatin1String("run")) continue;
      SCOPED_TRACE(std::string(damage.Name) + ": " + command.join(' ').toStdString());
      const TRun r = Cli(command);
      EXPECT_EQ(r.Code, 1) << r.Err.toStdString();
      EXPECT_TRUE(r.Err.contains("\n" + damage.Path + ": " + damage.Reason)) << r.Err.toStdString();
      EXPECT_TRUE(r.Err.contains(QStringLiteral("ничего не изменено"))) << r.Err.toStdString();
      // The same words whichever command found the file.
      const QString text = r.Err.mid(r.Err.indexOf(QStringLiteral("vexa-cli: эти файлы")));
      if (firstText.isEmpty()) firstText = text;
      EXPECT_EQ(text, firstText);
      EXPECT_EQ(Snapshot(Dir->path()), before) << "nothing written, renamed or made";
      EXPECT_FALSE(QFileInfo::exists(Dir->path() + "/../elsewhere")) << "nor outside the folder";
    }
    EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  }
}

// A search started afresh never read the saved network: its save keeps that file aside first, once.
// A run reads the state it saves, and replaces the files plainly.
TEST_F(CliUnreadableTest, ASearchSavedOverANetworkItNeverReadKeepsThatNetworkAside) {
  const QString net = ConfigFilePath(Current().Dir(), QStringLiteral("NET"));
  const auto bytes = [](const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  const auto aside = [this] {
    return QDir(Dir->filePath("Config")).entryList({"NET.cfg.replaced-*"}, QDir::Files);
  };
  // With the channels' templates the search need not explore them register by register.
  AddChannelTemplate("000", "Аналоговый вход", {"Температура", "Уставка"}, rtFLOAT);
  AddChannelTemplate("001", "Дискретный выход", {"Состояние"}, rtBOOL);
  ASSERT_TRUE(SaveTreeFile(Current(), *Registry()));
  const QByteArray saved = bytes(net);
  const TRun search = Cli({"search", "--last", "0", "--save"});
  ASSERT_EQ(search.Code, 0) << search.Err.toStdString();
  ASSERT_EQ(aside().size(), 1) << aside().join(' ').toStdString();
  EXPECT_TRUE(aside()[0].contains(QRegularExpression("^NET\\.cfg\\.replaced-\\d{8}-\\d{4}$")))
      << aside()[0].toStdString();
  EXPECT_EQ(bytes(Dir->filePath("Config/" + aside()[0])), saved);
  EXPECT_NE(bytes(net), saved);

  const TRun run = Cli({"run", "--seconds", "5", "--virtual-clock", "07.12.2026 9:00:00"});
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
  EXPECT_EQ(aside().size(), 1);
  EXPECT_TRUE(QDir(Dir->filePath("Config")).entryList({"*.replaced-*"}, QDir::Files).size() == 1);
}

}  // namespace
}  // namespace vexa::test
