#include <cerrno>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// The network's port setters, their faults shown as the settings window shows them.
class SetupNodeTest : public TVexaTest {};

TEST_F(SetupNodeTest, Defaults) {
  EXPECT_EQ(Settings()->Name(), "SETUP");
  EXPECT_EQ(Settings()->Password(), "BrastLun");
  EXPECT_EQ(Settings()->PortIndex(), -1);
  EXPECT_EQ(Settings()->BaudRateIndex(), 3);
  EXPECT_FALSE(Settings()->AutoSaveEnabled());
  EXPECT_EQ(Settings()->AutoSaveInterval(), 5);
  EXPECT_TRUE(Settings()->AutoLoadEnabled());
  EXPECT_EQ(Settings()->TablesDir(), Current().Dir());
  EXPECT_FALSE(Settings()->NewConfig());
  EXPECT_FALSE(Settings()->Demo());
  EXPECT_TRUE(Settings()->MNames().isEmpty());
}

TEST_F(SetupNodeTest, FirstStartShowsBothMessages) {
  ShowFaults(Current().SetPortIndex(Settings()->PortIndex()));
  ShowFaults(Current().SetBaudRateIndex(Settings()->BaudRateIndex()));
  ASSERT_EQ(Messages->Shown.size(), 2u);
  EXPECT_EQ(Messages->Shown[0].Text, "Порт связи не установлен!");
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_EQ(Messages->Shown[1].Text, "Скорость обмена не установлена!");
  EXPECT_EQ(Messages->Shown[1].Icon, TMsgIcon::Error);
  EXPECT_EQ(Settings()->PortIndex(), -1);
  EXPECT_EQ(Settings()->BaudRateIndex(), 3);
  ShowFaults(Current().SetPortIndex(8));
  EXPECT_EQ(Settings()->PortIndex(), -1);
}

TEST_F(SetupNodeTest, ChoosingAPortOpensItAndDropsTheLines) {
  ShowFaults(Current().SetPortIndex(1));
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_TRUE(Port->Connected());
  EXPECT_EQ(Port->DeviceName(), "COM2");
  EXPECT_FALSE(Port->Rts);
  EXPECT_FALSE(Port->Dtr);
  EXPECT_EQ(Settings()->PortIndex(), 1);
  // The same port again while open: nothing to do.
  Port->Rts = true;
  ShowFaults(Current().SetPortIndex(1));
  EXPECT_TRUE(Port->Rts);
  // Speed: stored on the port, lines dropped again.
  ShowFaults(Current().SetBaudRateIndex(6));
  EXPECT_EQ(Port->BaudRate(), br115200);
  EXPECT_FALSE(Port->Rts);
  ShowFaults(Current().SetBaudRateIndex(9));  // unlisted: speed unchanged, index stored
  EXPECT_EQ(Port->BaudRate(), br115200);
  EXPECT_EQ(Settings()->BaudRateIndex(), 9);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(SetupNodeTest, FailedOpenStillStoresTheIndexAndRetriesLater) {
  Port->FailOpen = true;
  ShowFaults(Current().SetPortIndex(4));
  ASSERT_EQ(Messages->Texts(), QStringList{"Порт не существует или занят!"});
  EXPECT_EQ(Settings()->PortIndex(), 4);
  EXPECT_FALSE(Port->Connected());
  Port->FailOpen = false;
  ShowFaults(Current().SetPortIndex(4));  // same index, but the port is closed: open again
  EXPECT_TRUE(Port->Connected());
  EXPECT_EQ(Port->DeviceName(), "COM5");
}

TEST_F(SetupNodeTest, APortRefusedForPermissionsSaysWhyAnyOtherFailureStaysShort) {
  const QString denied = QStringLiteral("Нет прав на порт /dev/ttyUSB4 (crw-rw---- root dialout). ...");
  const struct {
    int Code;
    QString Shown;
  } cases[] = {
      {EACCES, denied},
      {EPERM, denied},
      {ENOENT, QStringLiteral("Порт не существует или занят!")},
      {EBUSY, QStringLiteral("Порт не существует или занят!")},
      {-1, QStringLiteral("Порт не существует или занят!")},
  };
  for (const auto& c : cases) {
    Messages->Shown.clear();
    Port->FailOpen = true;
    Port->FailOpenCode = c.Code;
    Port->FailOpenText =
        c.Code == EACCES || c.Code == EPERM ? denied : QStringLiteral("Error accessing specified device");
    ShowFaults(Current().SetPortIndex(4));
    EXPECT_EQ(Messages->Texts(), QStringList{c.Shown}) << c.Code;
    EXPECT_FALSE(Port->Connected());
  }
}

TEST_F(SetupNodeTest, StreamingStoresWithoutTouchingThePort) {
  Settings()->SetState(csReading | csLoading);
  Settings()->SetPortIndex(2);
  Settings()->SetBaudRateIndex(0);
  Settings()->SetPortIndex(99);
  Settings()->Loaded();
  Settings()->ClearState(csReading);
  EXPECT_EQ(Settings()->PortIndex(), 99);
  EXPECT_EQ(Settings()->BaudRateIndex(), 0);
  EXPECT_FALSE(Port->Connected());
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(SetupNodeTest, SimulationWorksWithoutAnyPort) {
  ReplaceNetwork(nullptr);
  Settings()->SetDemo(true);
  TRegisterNode reg(nullptr);
  reg.SetName("D001C000R005");
  EXPECT_EQ(reg.StringData(Line()), "250");
  ShowFaults(Current().SetPortIndex(0));
  EXPECT_EQ(Messages->Texts(), QStringList{"Порт не существует или занят!"});
}

}  // namespace
}  // namespace vexa::test
