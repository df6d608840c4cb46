// The settings object is read by the poller thread. Reloading it (the diagram pages re-read it, the
// start-up work restores it) replaces the object; the poller must never read it meanwhile. Under
// ThreadSanitizer (scripts/test --tsan) a replacement with the poller running is reported as a race;
// in every build the poller must come back as it was.

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include "core/ExecuterUnit.h"
#include "core/Globals.h"
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
    Services().AutoSave = nullptr;
    SETUP->SetDemo(true);
    // The poller reads the automatic save settings at every rest.
    SETUP->SetAutoSaveEnabled(true);
    SETUP->SetAutoSaveInterval(60);
    QDir(ExeDir()).mkdir("Config");
    ASSERT_TRUE(SaveTreeFile(*SETUP));
  }
  void TearDown() override {
    StopPoller();
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
  StartPoller();
  for (int i = 0; i < 30; ++i) {
    const TSetupNode* before = SETUP.get();
    LoadTreeFile(SETUP);
    ASSERT_NE(SETUP.get(), nullptr);
    EXPECT_NE(SETUP.get(), before) << "the settings were not reloaded";
    EXPECT_TRUE(SETUP->AutoSaveEnabled());
    EXPECT_TRUE(PollerRunning()) << "reload " << i;
    RunFor(3);
  }
}

TEST_F(PollerSettingsTest, ReloadingTheSettingsWithThePollerStoppedDoesNotStartIt) {
  ASSERT_FALSE(PollerRunning());
  LoadTreeFile(SETUP);
  EXPECT_FALSE(PollerRunning());
}

TEST_F(PollerSettingsTest, TheStartUpWorkRestoresTheSettingsWhileThePollerRuns) {
  StartPoller();
  for (int i = 0; i < 10; ++i) {
    RunSetupStartUp(nullptr);
    EXPECT_TRUE(PollerRunning());
    RunFor(3);
  }
}

}  // namespace
}  // namespace vexa
