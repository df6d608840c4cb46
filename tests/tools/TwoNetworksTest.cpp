// Two networks in one process, each on its own line and in its own folder: polled at once, and
// nothing of one reaches the other (frames, values, files).

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>
#include <memory>

#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/NetworkState.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// One network on a vexa-sim line that answers only `address`; its tree holds a register of
// regulator 0 and one of regulator 1, so a crossed line would give it the other one's value.
struct TPlant {
  explicit TPlant(int address)
      : Sim({QStringLiteral("--addresses"), QString::number(address), QStringLiteral("--seed"),
             QString::number(address + 1)}) {
    auto port = std::make_unique<TComm>(Dir.path());
    port->SetDeviceName(Sim.Link());
    port->Open();
    Network = std::make_unique<TNetwork>(Dir.path(), std::move(port));
    Network->Line().Trace = [this](const QString& line) {
      if (line.startsWith(QLatin1String("> "))) Requests << line.mid(2, 2);  // the address byte
    };
    for (const char* name : {"D000C000R001", "D001C000R001"}) {
      auto* reg = new TRegisterNode(Network->Net().get());  // owned by NET
      reg->SetName(QString::fromLatin1(name));
      reg->SetLoggingInterval(1);
      reg->SetEnabled(true);
    }
  }
  TRegisterNode* Reg(const char* name) const {
    return dynamic_cast<TRegisterNode*>(FindNode(Network->Net().get(), QString::fromLatin1(name)));
  }

  QTemporaryDir Dir;
  TSimLine Sim;
  std::unique_ptr<TNetwork> Network;
  QStringList Requests;  // written by the poller thread with the line held; read once it is stopped
};

class TwoNetworksTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Services().Clock = std::make_unique<TClock>();  // real lines need real time
  }
};

TEST_F(TwoNetworksTest, TwoPlantsArePolledAtOnceAndNothingCrosses) {
  TPlant first(0);
  TPlant second(1);
  first.Network->StartPoller();
  second.Network->StartPoller();
  const auto answered = [](const TPlant& plant, const char* name) {
    return plant.Reg(name)->Count() > 0 && plant.Reg(name)->LastIOResult() == iorOK;
  };
  // Both polled at the same time: each has its own regulator's value within a few seconds.
  ASSERT_TRUE(RunEventsUntil(
      [&] { return answered(first, "D000C000R001") && answered(second, "D001C000R001"); }, 15000));
  ASSERT_TRUE(RunEventsUntil(
      [&] { return first.Reg("D001C000R001")->Count() > 0 && second.Reg("D000C000R001")->Count() > 0; },
      15000));
  first.Network->StopPoller();
  second.Network->StopPoller();

  // The other regulator is silent on each line: had a request crossed, it would have answered.
  EXPECT_EQ(first.Reg("D001C000R001")->LastStringData(), kFailedText);
  EXPECT_EQ(second.Reg("D000C000R001")->LastStringData(), kFailedText);
  // Each line carried its own network's requests, for both of its registers.
  EXPECT_TRUE(first.Requests.contains("00") && first.Requests.contains("01"))
      << first.Requests.join(' ').toStdString();
  EXPECT_TRUE(second.Requests.contains("00") && second.Requests.contains("01"))
      << second.Requests.join(' ').toStdString();

  // Each state goes to its own folder, and reads back as that network's.
  for (TPlant* plant : {&first, &second}) {
    ASSERT_TRUE(QDir(plant->Dir.path()).mkpath(QStringLiteral("Config")));
    EXPECT_NO_FAULTS(SaveNetworkState(*plant->Network));
  }
  for (TPlant* plant : {&first, &second}) {
    TNetwork reread(plant->Dir.path(), nullptr);
    LoadTreeFile(reread, reread.Net());
    for (const char* name : {"D000C000R001", "D001C000R001"}) {
      auto* reg = dynamic_cast<TRegisterNode*>(FindNode(reread.Net().get(), QString::fromLatin1(name)));
      ASSERT_NE(reg, nullptr) << name;
      EXPECT_EQ(reg->LastStringData(), plant->Reg(name)->LastStringData()) << name;
    }
  }
  EXPECT_NE(QDir(first.Dir.path()).absolutePath(), QDir(second.Dir.path()).absolutePath());
}

}  // namespace
}  // namespace vexa::test
