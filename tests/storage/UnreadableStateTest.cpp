// State files that exist but cannot be read, and saves that cannot write: the operator is told
// which file and why, the trees stay as they were, and no file is lost.

#include <QDir>
#include <QFile>
#include <cerrno>
#include <functional>
#include <map>

#include "core/ExecuterUnit.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "processes/model/CommandNode.h"
#include "processes/model/ProcessTick.h"
#include "reports/model/ReportNode.h"
#include "reports/model/ReportTick.h"
#include "storage/AtomicFile.h"
#include "storage/CompoundFile.h"
#include "storage/NetworkState.h"
#include "storage/StartUp.h"
#include "storage/TreeFiles.h"
#include "storage/UnreadableFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "ui/model/LabelDisplay.h"

namespace vexa::test {
namespace {

const QStringList kStateFiles = {"NET", "TTEMPLATES", "TASKS", "RTEMPLATES", "REPORTS", "ALARMS", "SETUP"};
const QString kAsideSuffix = QStringLiteral(".unreadable-20261207-1200");  // the test clock's time
const QString kMessageStart = QStringLiteral("Ошибка чтения состояния сети: эти файлы не читаются");

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

// The file's root object, of its own class, under another name; the rest of the file as it was.
void RenameRoot(const QString& path, const QString& root, const QString& name) {
  auto file = CompoundFile::Open(path);
  ASSERT_TRUE(file);
  std::unique_ptr<TComponent> stranger;
  if (root == QLatin1String("SETUP"))
    stranger = std::make_unique<TSetupNode>(nullptr);
  else
    stranger = std::make_unique<TRootNode>(nullptr);
  stranger->SetName(name);
  file->Root().Stream("Object") = WriteComponent(*stranger);
  ASSERT_TRUE(file->Save(path));
}

// A way a file can exist and still be unreadable, and the reason the operator is told.
struct TDamage {
  const char* Name;
  const char* Reason;
  std::function<void(const QString& path, const QString& root)> Apply;
};

const std::vector<TDamage>& Damages() {
  static const std::vector<TDamage> damages = {
      {"not a compound file", "не составной файл",
       [](const QString& path, const QString&) { WriteBytes(path, "NET saved by hand\n"); }},
      {"a broken structure", "структура файла нарушена",
       [](const QString& path, const QString&) {
         // A sound header over tables and directory gone to noise, as a failing disk leaves them.
         QByteArray bytes = FileBytes(path);
         ASSERT_GT(bytes.size(), 512);
         bytes.replace(512, bytes.size() - 512, QByteArray(bytes.size() - 512, '\xFF'));
         WriteBytes(path, bytes);
       }},
      {"a stream that does not parse", "данные не разбираются",
       [](const QString& path, const QString&) {
         auto file = CompoundFile::Open(path);
         ASSERT_TRUE(file);
         file->Root().Stream("Object") = QByteArray(300, '\x7F');
         ASSERT_TRUE(file->Save(path));
       }},
      {"another class", "в файле",
       [](const QString& path, const QString& root) {
         auto file = CompoundFile::Create();
         if (root == QLatin1String("SETUP")) {
           TRootNode stranger(nullptr);
           stranger.SetName(root);
           file->Root().CreateStream("Object") = WriteComponent(stranger);
         } else {
           TSetupNode stranger(nullptr);
           stranger.SetName(root);
           file->Root().CreateStream("Object") = WriteComponent(stranger);
         }
         ASSERT_TRUE(file->Save(path));
       }},
      // The root of each file is its own: a file whose root is named otherwise is not that file's.
      {"a root of another name", "корневой объект назван",
       [](const QString& path, const QString& root) {
         RenameRoot(path, root,
                    root == QLatin1String("NET") ? QStringLiteral("TASKS") : QStringLiteral("NET"));
       }},
      {"a root named with a path", "корневой объект назван '../../elsewhere/x' вместо",
       [](const QString& path, const QString& root) {
         RenameRoot(path, root, QStringLiteral("../../elsewhere/x"));
       }},
      {"a root without a name", "корневой объект без имени вместо",
       [](const QString& path, const QString& root) { RenameRoot(path, root, QString()); }},
  };
  return damages;
}

class UnreadableStateTest : public TVexaTest {
 protected:
  void TearDown() override {
    SetFileFault(nullptr);
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  // A folder of its own for each case: its state saved, one child per tree, settings that open
  // the port and restore the state at start-up.
  void NewFolder(const QString& name) {
    Current().StopPoller();
    NewNetwork(Dir->filePath(name));
    ASSERT_TRUE(QDir().mkpath(Dir->filePath(name + "/Config")));
    for (const QString& root : kStateFiles.mid(0, 6)) {
      Current().RecreateRoot(root);
      auto* child = new TRootNode(Current().RootSlot(root)->get());
      child->SetName("N" + root);
    }
    Settings() = std::make_unique<TSetupNode>(nullptr);
    Settings()->SetPortIndex(1);
    Settings()->SetBaudRateIndex(4);
    Settings()->SetAutoLoadEnabled(true);
    Settings()->SetMNames({"Цех"});
    EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  }

  // The program as it starts: empty trees and default settings, then the start-up work.
  void StartAgain() {
    Current().StopPoller();
    for (const QString& root : kStateFiles.mid(0, 6)) Current().RecreateRoot(root);
    Settings() = std::make_unique<TSetupNode>(nullptr);
    Port->Close();
    Messages->Shown.clear();
    ShowFaults(RunSetupStartUp(Current(), nullptr));
  }

  QStringList UnreadableMessages() const {
    QStringList found;
    for (const QString& text : Messages->Texts())
      if (text.startsWith(kMessageStart)) found << text;
    return found;
  }

  QString Config(const QString& name) { return ConfigFilePath(Current().Dir(), name); }
  QStringList ConfigFiles() {
    return QDir(Current().Dir() + "/Config").entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }
};

TEST_F(UnreadableStateTest, EachKindOfDamageInEachStateFileIsToldKeptAsideAndCostsNoOtherTree) {
  int n = 0;
  for (const QString& damaged : kStateFiles) {
    for (const TDamage& damage : Damages()) {
      SCOPED_TRACE(damaged.toStdString() + ", " + damage.Name);
      NewFolder(QStringLiteral("case%1").arg(++n));
      const QString path = Config(damaged);
      damage.Apply(path, damaged);
      const QByteArray damagedBytes = FileBytes(path);

      StartAgain();

      // One message names the file and says why.
      const QStringList told = UnreadableMessages();
      ASSERT_EQ(told.size(), 1) << Messages->Texts().join(" | ").toStdString();
      EXPECT_TRUE(told[0].contains(path + ": " + damage.Reason)) << told[0].toStdString();
      EXPECT_EQ(told[0].count(".cfg:"), 1) << "no other file is named";
      // The damaged file's tree stays as the program started; the others are restored.
      for (const QString& root : kStateFiles.mid(0, 6)) {
        const bool restored = Current().RootSlot(root)->get()->FindComponent("N" + root) != nullptr;
        EXPECT_EQ(restored, root != damaged) << root.toStdString();
      }
      EXPECT_EQ(Settings()->MNames().isEmpty(), damaged == QLatin1String("SETUP"));
      EXPECT_TRUE(Current().PollerRunning());
      // Nothing is renamed or written by reading.
      EXPECT_EQ(FileBytes(path), damagedBytes);

      // The next save keeps the damaged file aside, byte for byte, beside the new one.
      EXPECT_NO_FAULTS(SaveNetworkState(Current()));
      EXPECT_EQ(FileBytes(path + kAsideSuffix), damagedBytes);
      EXPECT_TRUE(ConfigFiles().contains(damaged + ".cfg" + kAsideSuffix))
          << ConfigFiles().join(" ").toStdString();
      EXPECT_TRUE(CompoundFile::IsStorageFile(path));
      EXPECT_NO_THROW(ReadTreeFile(path));
      EXPECT_FALSE(QFileInfo::exists(Dir->filePath("elsewhere"))) << "nothing written outside the folder";
      // Only once: the new file is ours.
      EXPECT_NO_FAULTS(SaveNetworkState(Current()));
      EXPECT_EQ(ConfigFiles().size(), kStateFiles.size() + 1) << ConfigFiles().join(" ").toStdString();

      // And the next start reads it without a word.
      StartAgain();
      EXPECT_TRUE(UnreadableMessages().isEmpty()) << Messages->Texts().join(" | ").toStdString();
    }
  }
}

TEST_F(UnreadableStateTest, SeveralDamagedFilesAreToldInOneMessage) {
  NewFolder("several");
  Damages()[0].Apply(Config("NET"), "NET");
  Damages()[3].Apply(Config("SETUP"), "SETUP");
  StartAgain();
  const QStringList told = UnreadableMessages();
  ASSERT_EQ(told.size(), 1) << Messages->Texts().join(" | ").toStdString();
  EXPECT_EQ(told[0].count(Config("SETUP")), 1) << "read twice, told once";
  EXPECT_TRUE(told[0].contains(Config("NET") + ": не составной файл"));
  EXPECT_EQ(Messages->Shown.back().Text, told[0]) << "after the port's messages";
  EXPECT_EQ(Messages->Shown.back().Icon, TMsgIcon::Error);
}

TEST_F(UnreadableStateTest, MissingFilesStaySilent) {
  NewFolder("missing");
  for (const QString& name : kStateFiles.mid(0, 6)) ASSERT_TRUE(QFile::remove(Config(name)));
  StartAgain();
  EXPECT_TRUE(UnreadableMessages().isEmpty()) << Messages->Texts().join(" | ").toStdString();
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  EXPECT_EQ(ConfigFiles().size(), kStateFiles.size());
}

TEST_F(UnreadableStateTest, AnEarlierAsideFileOfTheSameMinuteIsNotOverwritten) {
  NewFolder("aside");
  WriteBytes(Config("NET") + kAsideSuffix, "first");
  Damages()[0].Apply(Config("NET"), "NET");
  StartAgain();
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  EXPECT_EQ(FileBytes(Config("NET") + kAsideSuffix), "first");
  EXPECT_EQ(FileBytes(Config("NET") + kAsideSuffix + "-2"), "NET saved by hand\n");
}

TEST_F(UnreadableStateTest, AnAsideRenameThatFailsWritesNothing) {
  NewFolder("stuck");
  Damages()[0].Apply(Config("NET"), "NET");
  StartAgain();
  Net()->SetChanged(true);
  SetFileFault([](TFileStep step, const QString&) { return step == TFileStep::Rename ? EACCES : 0; });
  try {
    EXPECT_NO_FAULTS(SaveNetworkState(Current()));
    ADD_FAILURE() << "no error";
  } catch (const ESaveFailed& e) {
    EXPECT_TRUE(e.Message().contains(Config("NET"))) << e.what();
  }
  EXPECT_EQ(FileBytes(Config("NET")), "NET saved by hand\n");
  EXPECT_TRUE(Net()->Changed());
  SetFileFault(nullptr);
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  EXPECT_EQ(FileBytes(Config("NET") + kAsideSuffix), "NET saved by hand\n");
}

// A save that cannot write: the fault, the file's name and the reason told, the old file intact.
struct TWriteFault {
  const char* Name;
  TFileStep Step;
  int Error;
  const char* Reason;
};

TEST_F(UnreadableStateTest, SavesThatCannotWriteAreToldAndKeepTheOldFileAndChanged) {
  const TWriteFault faults[] = {
      {"unwritable folder", TFileStep::CreateTemporary, EACCES, "нет прав на запись"},
      {"read-only disk", TFileStep::CreateTemporary, EROFS, "диск доступен только для чтения"},
      {"full disk", TFileStep::Write, ENOSPC, "на диске нет места"},
      {"quota", TFileStep::Write, EDQUOT, "превышена дисковая квота"},
      {"rename refused", TFileStep::Rename, EIO, "ошибка ввода-вывода"},
  };
  int n = 0;
  for (const TWriteFault& fault : faults) {
    SCOPED_TRACE(fault.Name);
    NewFolder(QStringLiteral("fault%1").arg(++n));
    const QByteArray before = FileBytes(Config("NET"));
    Net()->SetComments(QStringLiteral("изменено %1").arg(n));  // a change to save
    ASSERT_TRUE(Net()->Changed());
    const QString netPath = Config("NET");
    SetFileFault([&fault, netPath](TFileStep step, const QString& path) {
      return step == fault.Step && path == netPath ? fault.Error : 0;
    });
    try {
      EXPECT_NO_FAULTS(SaveNetworkState(Current()));
      ADD_FAILURE() << "no error";
    } catch (const ESaveFailed& e) {
      EXPECT_TRUE(e.Message().contains(netPath)) << e.what();
      EXPECT_TRUE(e.Message().contains(fault.Reason)) << e.what();
      EXPECT_EQ(e.Message().count('\n'), 0) << "the other files were written";
    }
    EXPECT_TRUE(Net()->Changed());
    EXPECT_FALSE(Tasks()->Changed());
    EXPECT_EQ(FileBytes(netPath), before);
    EXPECT_EQ(ConfigFiles().size(), kStateFiles.size()) << "no temporary left behind";

    SetFileFault(nullptr);
    EXPECT_NO_THROW(SaveNetworkState(Current()));
    EXPECT_FALSE(Net()->Changed());
    EXPECT_NE(FileBytes(netPath), before);
  }
}

// The saves a window or a tick makes by itself are told too, but once per streak of failures of a
// file: a report rolling over every minute onto a full disk must not bury the operator in boxes.
TEST_F(UnreadableStateTest, SavesOfTicksAreToldOncePerStreakAndTheOperatorsOwnSaveEveryTime) {
  NewFolder("ticks");
  const QString tasksPath = Config("TASKS");
  const QString reportsPath = Config("REPORTS");
  const QByteArray tasksBefore = FileBytes(tasksPath);
  bool diskFull = true;
  SetFileFault([&](TFileStep step, const QString& path) {
    return diskFull && step == TFileStep::Write && (path == tasksPath || path == reportsPath) ? ENOSPC : 0;
  });
  auto runningProcess = [this](const QString& caption) {
    auto* process = new TRootNode(Tasks().get());
    process->SetName("P" + caption);
    process->SetCaption(caption);
    process->SetImageIndex(iiPLAY);
    process->SetEnabled(true);  // no command nodes: it stops, and is saved, on its first tick
  };
  auto saveFailures = [this] {
    QStringList found;
    for (const QString& text : Messages->Texts())
      if (text.startsWith(QStringLiteral("Ошибка сохранения: "))) found << text;
    return found;
  };

  runningProcess("first");
  Messages->Shown.clear();
  ShowFaults(ProcessTick(Current()));
  ASSERT_EQ(saveFailures().size(), 1);
  EXPECT_TRUE(saveFailures()[0].contains(tasksPath));
  EXPECT_TRUE(saveFailures()[0].contains(QStringLiteral("на диске нет места")));
  EXPECT_TRUE(Tasks()->Node(Tasks()->NodeCount() - 1)->Changed());
  EXPECT_EQ(FileBytes(tasksPath), tasksBefore);

  runningProcess("second");
  ShowFaults(ProcessTick(Current()));
  EXPECT_EQ(saveFailures().size(), 1) << "the same streak";
  EXPECT_FALSE(SaveTreeFileForOperator(Current(), *Tasks(), true).Empty())
      << "a save command is always answered";

  // A report that cannot run is stopped and saved by the report tick; its file's own streak.
  auto* report = new TReportNode(Reports().get());
  report->SetName("R1");
  report->SetCaption("Печь");
  report->SetLoggingIntervalIndex(99);
  report->SetImageIndex(iiPLAY);
  report->SetEnabled(true);
  ShowFaults(ReportTick(Current()));
  ASSERT_EQ(saveFailures().size(), 2);
  EXPECT_TRUE(saveFailures()[1].contains(reportsPath));

  // Once the disk has room the next save goes through; a new failure starts a new streak.
  diskFull = false;
  runningProcess("third");
  ShowFaults(ProcessTick(Current()));
  EXPECT_EQ(saveFailures().size(), 2);
  EXPECT_FALSE(Tasks()->Node(Tasks()->NodeCount() - 1)->Changed());
  LoadTreeFile(Current(), Tasks());
  ASSERT_EQ(Tasks()->NodeCount(), 4);
  for (int i = 0; i < Tasks()->NodeCount(); ++i) EXPECT_FALSE(Tasks()->Node(i)->Enabled()) << i;
  diskFull = true;
  runningProcess("fourth");
  ShowFaults(ProcessTick(Current()));
  EXPECT_EQ(saveFailures().size(), 3);
}

TEST_F(UnreadableStateTest, AFolderInTheWayOfAFileIsTold) {
  NewFolder("inTheWay");
  ASSERT_TRUE(QFile::remove(Config("TASKS")));
  ASSERT_TRUE(QDir().mkpath(Config("TASKS")));
  Tasks()->SetComments(QStringLiteral("изменено"));
  try {
    EXPECT_NO_FAULTS(SaveNetworkState(Current()));
    ADD_FAILURE() << "no error";
  } catch (const ESaveFailed& e) {
    EXPECT_TRUE(e.Message().contains(Config("TASKS"))) << e.what();
    EXPECT_TRUE(e.Message().contains("на месте файла папка")) << e.what();
  }
  EXPECT_TRUE(Tasks()->Changed());
  // Read, the folder is a file that cannot be read, and stays where it is.
  EXPECT_THROW(LoadTreeFile(Current(), Tasks()), EUnreadableFiles);
  EXPECT_TRUE(QFileInfo(Config("TASKS")).isDir());
}

// The richer state of a plant: every level of each tree a damage can hit.
void BuildLevels(TNetwork& network) {
  for (int d = 0; d < 2; ++d) {
    TRootNode& regulator = AddRegulatorNode(*network.Net(), d);
    for (int c = 0; c < 2; ++c) {
      TRootNode& channel = AddChannelNode(regulator, c);
      for (int r = 0; r < 2; ++r) {
        TRegisterNode& reg = AddRegisterNode(channel, r);
        if (r == 0) new TLabelDisplay(&reg);  // owned by its register
      }
    }
  }
  for (int p = 0; p < 2; ++p) {
    auto* process = new TRootNode(network.Tasks().get());
    process->SetName(QStringLiteral("P%1").arg(p));
    for (int c = 0; c < 2; ++c) new TCommandNode(process);
    process->Component(0)->SetName(QStringLiteral("D000C000R00%1").arg(p));
    process->Component(1)->SetName(QStringLiteral("D000C001R00%1").arg(p));
  }
  for (int r = 0; r < 2; ++r) {
    auto* report = new TReportNode(network.Reports().get());
    report->SetName(QStringLiteral("R%1").arg(r));
    for (int g = 0; g < 2; ++g) (new TRegisterNode(report))->SetName(QStringLiteral("D001C000R00%1").arg(g));
  }
}

// The node a storage path leads to.
const TComponent* NodeAt(const TComponent& root, const QString& storagePath) {
  const TComponent* node = &root;
  for (const QString& part : storagePath.split('/')) node = node->Component(part.toInt());
  return node;
}

// A part of a file that is there but cannot be read: what can be read is loaded, one message names
// the file and the part, and the next save keeps the file aside, byte for byte, before replacing it.
TEST_F(UnreadableStateTest, APartThatCannotBeReadIsToldTheRestLoadedAndTheFileKeptAside) {
  struct TLevelCase {
    const char* Level;
    const char* File;
    const char* Part;
  };
  const TLevelCase levels[] = {
      // Each tree's first child is the one NewFolder made.
      {"regulator", "NET", "002"},        {"channel", "NET", "001/001"},
      {"register", "NET", "001/000/001"}, {"label", "NET", "001/000/000/000"},
      {"process", "TASKS", "002"},        {"command node", "TASKS", "001/001"},
      {"report", "REPORTS", "002"},       {"report register", "REPORTS", "001/001"},
  };
  const std::pair<TPartDamage, const char*> damages[] = {
      {TPartDamage::Renumbered, "a gap in the numbering"},
      {TPartDamage::ObjectMisnamed, "the object stream misnamed"},
  };
  int n = 0;
  for (const TLevelCase& level : levels) {
    for (const auto& [damage, damageName] : damages) {
      SCOPED_TRACE(std::string(level.Level) + ", " + damageName);
      NewFolder(QStringLiteral("part%1").arg(++n));
      BuildLevels(Current());
      EXPECT_NO_FAULTS(SaveNetworkState(Current()));
      const QString file = QString::fromLatin1(level.File);
      const TComponent& root = *Current().RootSlot(file)->get();
      const int whole = ObjectCount(root);
      const int lost = damage == TPartDamage::Renumbered ? 0 : ObjectCount(*NodeAt(root, level.Part));
      const QString path = Config(file);
      ASSERT_TRUE(DamagePart(path, level.Part, damage));
      const QByteArray damagedBytes = FileBytes(path);

      StartAgain();

      const QStringList told = Messages->Texts().filter(QStringLiteral("Ошибка чтения состояния сети"));
      ASSERT_EQ(told.size(), 1) << Messages->Texts().join(" | ").toStdString();
      EXPECT_TRUE(told[0].startsWith(
          QStringLiteral("Ошибка чтения состояния сети: эти файлы повреждены, загружено то")))
          << told[0].toStdString();
      EXPECT_TRUE(told[0].contains(path + QStringLiteral(": повреждены части"))) << told[0].toStdString();
      // The gap is named where the level was, the skipped level by its own place.
      EXPECT_TRUE(told[0].contains(QStringLiteral("\n  ") + level.Part + " (в ")) << told[0].toStdString();
      EXPECT_EQ(ObjectCount(*Current().RootSlot(file)->get()), whole - lost);
      for (const QString& other : kStateFiles.mid(0, 6)) {
        if (other != file) {
          EXPECT_TRUE(Current().RootSlot(other)->get()->FindComponent("N" + other)) << other.toStdString();
        }
      }
      EXPECT_EQ(FileBytes(path), damagedBytes) << "reading writes nothing";

      EXPECT_NO_FAULTS(SaveNetworkState(Current()));
      EXPECT_EQ(FileBytes(path + kAsideSuffix), damagedBytes);
      EXPECT_NO_FAULTS(SaveNetworkState(Current()));
      EXPECT_EQ(ConfigFiles().size(), kStateFiles.size() + 1) << ConfigFiles().join(" ").toStdString();
      StartAgain();
      EXPECT_TRUE(Messages->Texts().filter(QStringLiteral("Ошибка чтения")).isEmpty())
          << Messages->Texts().join(" | ").toStdString();
      EXPECT_EQ(ObjectCount(*Current().RootSlot(file)->get()), whole - lost);
    }
  }
}

// With the restore off the program starts empty; its first save keeps every state file it did not
// read aside, so a saved network is never replaced by an empty one. The settings were read.
TEST_F(UnreadableStateTest, ASaveOverFilesThisRunDidNotReadKeepsThemAside) {
  NewFolder("restoreOff");
  Settings()->SetAutoLoadEnabled(false);
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  std::map<QString, QByteArray> before;
  for (const QString& root : kStateFiles) before[root] = FileBytes(Config(root));
  StartAgain();
  ASSERT_FALSE(Net()->FindComponent("NNET")) << "not restored";

  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  const QString replaced = QStringLiteral(".replaced-20261207-1200");
  for (const QString& root : kStateFiles) {
    SCOPED_TRACE(root.toStdString());
    if (root == QLatin1String("SETUP")) {
      EXPECT_FALSE(QFile::exists(Config(root) + replaced)) << "read at start-up: replaced plainly";
    } else {
      EXPECT_EQ(FileBytes(Config(root) + replaced), before[root]);
      EXPECT_NE(FileBytes(Config(root)), before[root]);
    }
  }
  // Once written by this run, a file is replaced plainly.
  Net()->SetComments(QStringLiteral("изменено"));
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  EXPECT_NO_FAULTS(SaveTreeFileForOperator(Current(), *Tasks()));
  EXPECT_EQ(ConfigFiles().size(), 2 * kStateFiles.size() - 1) << ConfigFiles().join(" ").toStdString();

  // A single tree saved by a window counts alike: the processes file of another run is kept.
  NewFolder("single");
  Settings()->SetAutoLoadEnabled(false);
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  const QByteArray tasks = FileBytes(Config("TASKS"));
  StartAgain();
  EXPECT_NO_FAULTS(SaveTreeFileForOperator(Current(), *Tasks()));
  EXPECT_EQ(FileBytes(Config("TASKS") + replaced), tasks);
  EXPECT_FALSE(QFile::exists(Config("NET") + replaced));
  EXPECT_TRUE(Messages->Texts().filter(QStringLiteral("Ошибка")).isEmpty())
      << Messages->Texts().join(" | ").toStdString();
  // Restored, the files are this run's: nothing goes aside.
  NewFolder("restored");
  StartAgain();
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  EXPECT_EQ(ConfigFiles().size(), kStateFiles.size()) << ConfigFiles().join(" ").toStdString();
}

}  // namespace
}  // namespace vexa::test
