// The settings window's start-up work: folders, settings and port, the restored state, and damaged
// files that must not stop the program from starting.

#include <QDir>
#include <QFile>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "storage/NetworkState.h"
#include "storage/StartUp.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

const QStringList kCaptions = {"Загрузка структуры сети...", "Загрузка шаблонов процессов...",
                               "Загрузка процессов...",      "Загрузка шаблонов отчетов...",
                               "Загрузка отчетов...",        "Загрузка параметров сети..."};

class StartUpTest : public TVexaTest {
 protected:
  void TearDown() override {
    Current().StopPoller();
    TVexaTest::TearDown();
  }

  void Run() {
    ShowFaults(RunSetupStartUp(Current(), [this](const QString& caption) { captions << caption; }));
  }

  // Settings saved as a file, without touching the port while they are set.
  void SaveSettings(int port, int speed, bool autoLoad) {
    QDir(Current().Dir()).mkdir("Config");
    TSetupNode settings(nullptr);
    settings.SetState(csLoading);
    settings.SetPortIndex(port);
    settings.SetBaudRateIndex(speed);
    settings.ClearState(csLoading);
    settings.SetAutoLoadEnabled(autoLoad);
    settings.SetPassword("секрет");
    ASSERT_TRUE(SaveTreeFile(Current(), settings));
  }

  QStringList captions;
};

TEST_F(StartUpTest, FirstStartMakesTheFoldersAndSaysThePortIsNotSet) {
  Run();
  EXPECT_TRUE(QFileInfo(Dir->filePath("Config")).isDir());
  EXPECT_TRUE(QFileInfo(Dir->filePath("Archives")).isDir());
  EXPECT_EQ(Messages->Texts(), QStringList({"Порт связи не установлен!", "Скорость обмена не установлена!"}));
  // Restoring is on by default; with no files every tree stays as it is.
  EXPECT_EQ(captions, kCaptions);
  EXPECT_EQ(Net()->NodeCount(), 0);
  EXPECT_TRUE(Current().PollerRunning());
}

TEST_F(StartUpTest, FoldersThatCannotBeMadeAreSkipped) {
  QFile blocker(Dir->filePath("Archives"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Run();
  EXPECT_TRUE(QFileInfo(Dir->filePath("Config")).isDir());
  EXPECT_TRUE(QFileInfo(Dir->filePath("Archives")).isFile());

  // Only one level is made: a program folder that is gone stays gone.
  NewNetwork(Dir->filePath("gone"));
  Run();
  EXPECT_FALSE(QFileInfo::exists(Dir->filePath("gone")));
}

TEST_F(StartUpTest, SavedSettingsOpenThePortWithoutRestoringTheState) {
  SaveSettings(2, 5, false);
  TRootNode* regulator = &AddRegulatorNode(*Net(), 1);

  Run();

  EXPECT_EQ(Settings()->Password(), "секрет");
  EXPECT_EQ(Settings()->PortIndex(), 2);
  EXPECT_TRUE(Port->Connected());
  EXPECT_EQ(Port->DeviceName(), "COM3");
  EXPECT_EQ(Port->BaudRate(), br57600);
  EXPECT_FALSE(Port->Rts);
  EXPECT_FALSE(Port->Dtr);
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_TRUE(captions.isEmpty());
  EXPECT_EQ(Net()->FindComponent("D001"), regulator);
  EXPECT_FALSE(Current().PollerRunning());
}

TEST_F(StartUpTest, APortThatWillNotOpenIsReportedByTheSettings) {
  SaveSettings(0, 3, false);
  Port->FailOpen = true;
  Run();
  ASSERT_FALSE(Messages->Shown.empty());
  EXPECT_EQ(Messages->Shown[0].Text, "Порт не существует или занят!");
  EXPECT_EQ(Settings()->PortIndex(), 0);
}

TEST_F(StartUpTest, SavedStateIsRestoredWithACaptionPerTree) {
  QDir(Current().Dir()).mkdir("Config");
  AddRegulatorNode(*Net(), 4, QStringLiteral("Регулятор 004"));
  auto* process = new TRootNode(Tasks().get());
  process->SetName("T1");
  Settings()->SetState(csLoading);
  EXPECT_NO_FAULTS(Current().SetPortIndex(1));
  Settings()->ClearState(csLoading);
  Settings()->SetAutoLoadEnabled(true);
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  Current().RecreateRoot("NET");
  Current().RecreateRoot("TASKS");

  Run();

  EXPECT_EQ(captions, kCaptions);
  const auto* restored = dynamic_cast<TRootNode*>(Net()->FindComponent("D004"));
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(restored->Caption(), "Регулятор 004");
  EXPECT_NE(Tasks()->FindComponent("T1"), nullptr);
  EXPECT_EQ(Port->DeviceName(), "COM2");
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_TRUE(Current().PollerRunning());
}

TEST_F(StartUpTest, DamagedFilesAreReportedAndStartUpStillEnds) {
  SaveSettings(0, 3, true);
  // A network file that holds something else than a network.
  TSetupNode stranger(nullptr);
  stranger.SetName("NET");
  ASSERT_TRUE(SaveTreeFile(Current(), stranger));

  ASSERT_NO_THROW(Run());
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_TRUE(Messages->Shown[0].Text.startsWith("Ошибка чтения состояния сети: "))
      << Messages->Shown[0].Text.toStdString();
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_EQ(captions, kCaptions) << "the trees after the damaged one are read all the same";
  EXPECT_TRUE(Current().PollerRunning());  // the poller is back although the restore failed
  EXPECT_TRUE(Port->Connected());

  // A damaged settings file: reported, the defaults stay, and the rest of the start-up goes on.
  TRootNode notSettings(nullptr);
  notSettings.SetName("SETUP");
  ASSERT_TRUE(SaveTreeFile(Current(), notSettings));
  QFile::remove(ConfigFilePath(Current().Dir(), "NET"));
  Port->Close();
  Messages->Shown.clear();
  captions.clear();
  Current().StopPoller();  // the poller reads the settings object being replaced
  Settings() = std::make_unique<TSetupNode>(nullptr);
  ASSERT_NO_THROW(Run());
  const QStringList texts = Messages->Texts();
  ASSERT_EQ(texts.size(), 3);
  EXPECT_EQ(texts[0], "Порт связи не установлен!");
  EXPECT_EQ(texts[1], "Скорость обмена не установлена!");
  // Read twice (the settings, then last of the state), told once.
  EXPECT_TRUE(texts[2].startsWith("Ошибка чтения состояния сети: ")) << texts[2].toStdString();
  EXPECT_EQ(texts[2].count(ConfigFilePath(Current().Dir(), "SETUP")), 1) << texts[2].toStdString();
  EXPECT_EQ(captions, kCaptions);
}

}  // namespace
}  // namespace vexa::test
