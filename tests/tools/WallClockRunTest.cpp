// vexa-cli run on the real clock with the wall clock faked by libfaketime (the monotonic clock left
// real) against the same run with the clock untouched, side by side: the requests on the line go on
// at their intervals through the end of summer time and through a step back.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <cmath>
#include <optional>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/RootNode.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

const QString kFakeTime = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1");
constexpr int kRunSeconds = 12;
constexpr int kStepAfterSeconds = 4;

class WallClockRunTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QFileInfo::exists(kFakeTime)) << "scripts/deps installs faketime";
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), 0), 0);
    for (int r = 1; r <= 4; ++r) AddRegisterNode(channel, r, {.Enabled = true, .LoggingInterval = 1});
    for (TRootNode* root : {Net().get(), Tasks().get(), Reports().get()})
      ASSERT_TRUE(SaveTreeFile(Current(), *root));
    ASSERT_TRUE(QDir(other_.path()).mkpath(QStringLiteral("Config")));
    for (const QString& name : QDir(Dir->filePath("Config")).entryList(QDir::Files))
      ASSERT_TRUE(QFile::copy(Dir->filePath("Config/" + name), other_.filePath("Config/" + name)));
  }

  // The requests each run wrote: the untouched one in the test's folder, the faked one (with its
  // environment's additions) in the other, both at once.
  std::pair<int, int> Requests(const QStringList& fakedEnv) {
    const QStringList run = {"--demo", "--trace", "run", "--seconds", QString::number(kRunSeconds)};
    TChildProcess plain(QStringLiteral(VEXA_CLI_PATH), QStringList{"--dir", Dir->path()} + run);
    TChildProcess faked(QStringLiteral("/usr/bin/env"),
                        QStringList{"LD_PRELOAD=" + kFakeTime, "FAKETIME_DONT_FAKE_MONOTONIC=1",
                                    // A sanitizer build's runtime would refuse to come after it.
                                    "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"} +
                            fakedEnv + QStringList{QStringLiteral(VEXA_CLI_PATH), "--dir", other_.path()} +
                            run);
    const int waitMs = (kRunSeconds + 20) * 1000;
    EXPECT_TRUE(plain.Wait(waitMs));
    EXPECT_TRUE(faked.Wait(waitMs));
    EXPECT_EQ(plain.Code(), 0) << plain.Err().right(2000).toStdString();
    EXPECT_EQ(faked.Code(), 0) << faked.Err().right(2000).toStdString();
    const auto count = [](const QString& trace) {
      int n = 0;
      for (const QString& line : trace.split('\n'))
        if (line.startsWith(QLatin1String("> "))) ++n;
      return n;
    };
    return {count(plain.Err()), count(faked.Err())};
  }

  // The faked run against the plain one: at least 90 % of its requests, and its register's history
  // going back by `backSeconds` once, as the faked wall clock did.
  void Check(const QStringList& fakedEnv, int backSeconds) {
    const auto [plain, faked] = Requests(fakedEnv);
    EXPECT_GE(plain, 4 * (kRunSeconds - 3)) << "four registers a second, less the start-up's share";
    EXPECT_GE(faked * 10, plain * 9) << faked << " requests against " << plain;

    NewNetwork(other_.path());
    LoadTreeFile(Current(), Net());
    const auto* reg =
        dynamic_cast<const TRegisterNode*>(FindNode(Net().get(), TCustomRegister::RegisterName(0, 0, 1)));
    ASSERT_NE(reg, nullptr);
    QList<int> backs;
    std::optional<double> last;
    for (const QString& text : reg->Points().ToStringList()) {
      const std::optional<double> t = StrToDateTime(text);
      ASSERT_TRUE(t.has_value()) << text.toStdString();
      if (last && *t < *last) backs << static_cast<int>(std::lround((*last - *t) * kSecondsPerDay));
      last = t;
    }
    ASSERT_EQ(backs.size(), 1) << "the history keeps the order of the reads";
    EXPECT_NEAR(backs[0], backSeconds - 1, 1);
  }

  QTemporaryDir other_;
};

TEST_F(WallClockRunTest, ReadsGoOnThroughTheEndOfSummerTime) {
  // Central European summer time ends kStepAfterSeconds into the run: 3:00 CEST is 2:00 CET.
  const QDateTime change(QDate(2026, 10, 25), QTime(1, 0), QTimeZone::utc());
  const qint64 offset = QDateTime::currentDateTimeUtc().secsTo(change) - kStepAfterSeconds;
  Check({"TZ=Europe/Berlin", QStringLiteral("FAKETIME=%1%2").arg(offset < 0 ? "" : "+").arg(offset)}, 3600);
}

TEST_F(WallClockRunTest, ReadsGoOnThroughAStepBack) {
  Check({"FAKETIME=-45", QStringLiteral("FAKETIME_START_AFTER_SECONDS=%1").arg(kStepAfterSeconds)}, 45);
}

}  // namespace
}  // namespace vexa::test
