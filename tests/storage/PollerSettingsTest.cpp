// The settings object is read by the poller thread. Reloading it (the diagram pages re-read it, the
// start-up work restores it) replaces the object; the poller must never read it meanwhile. Under
// ThreadSanitizer (scripts/test --tsan) a replacement with the poller running is reported as a race;
// in every build the poller must come back as it was.

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "storage/StartUp.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa {
namespace {

class PollerSettingsTest : public test::TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    // The poller thread reads the clock: the test's fake clock is not made for another thread.
    fakeClock_ = std::move(Services().Clock);
    Services().Clock = std::make_unique<TClock>();
    Current().AutoSave = nullptr;
    Settings()->SetDemo(true);
    // The poller reads the automatic save settings at every rest.
    Settings()->SetAutoSaveEnabled(true);
    Settings()->SetAutoSaveInterval(60);
    QDir(Current().Dir()).mkdir("Config");
    ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
  }
  void TearDown() override {
    Current().StopPoller();
    TVexaTest::TearDown();
  }
  static void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }

 private:
  std::unique_ptr<TClock> fakeClock_;
};

TEST_F(PollerSettingsTest, ReloadingTheSettingsWhileThePollerRunsLeavesItRunning) {
  Current().StartPoller();
  for (int i = 0; i < 30; ++i) {
    const TSetupNode* before = Settings().get();
    LoadTreeFile(Current(), Settings());
    ASSERT_NE(Settings().get(), nullptr);
    EXPECT_NE(Settings().get(), before) << "the settings were not reloaded";
    EXPECT_TRUE(Settings()->AutoSaveEnabled());
    EXPECT_TRUE(Current().PollerRunning()) << "reload " << i;
    RunFor(3);
  }
}

TEST_F(PollerSettingsTest, ReloadingTheSettingsWithThePollerStoppedDoesNotStartIt) {
  ASSERT_FALSE(Current().PollerRunning());
  LoadTreeFile(Current(), Settings());
  EXPECT_FALSE(Current().PollerRunning());
}

TEST_F(PollerSettingsTest, TheStartUpWorkRestoresTheSettingsWhileThePollerRuns) {
  Current().StartPoller();
  for (int i = 0; i < 10; ++i) {
    ShowFaults(RunSetupStartUp(Current(), nullptr));
    EXPECT_TRUE(Current().PollerRunning());
    RunFor(3);
  }
}

}  // namespace
}  // namespace vexa
