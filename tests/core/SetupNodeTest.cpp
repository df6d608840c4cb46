#include <cerrno>

#include "core/Globals.h"
#include "core/RegisterNode.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

class SetupNodeTest : public TVexaTest {};

TEST_F(SetupNodeTest, Defaults) {
  EXPECT_EQ(SETUP->Name(), "SETUP");
  EXPECT_EQ(SETUP->Password(), "BrastLun");
  EXPECT_EQ(SETUP->PortIndex(), -1);
  EXPECT_EQ(SETUP->BaudRateIndex(), 3);
  EXPECT_FALSE(SETUP->AutoSaveEnabled());
  EXPECT_EQ(SETUP->AutoSaveInterval(), 5);
  EXPECT_TRUE(SETUP->AutoLoadEnabled());
  EXPECT_EQ(SETUP->TablesDir(), ExeDir());
  EXPECT_FALSE(SETUP->NewConfig());
  EXPECT_FALSE(SETUP->Demo());
  EXPECT_TRUE(SETUP->MNames().isEmpty());
}

TEST_F(SetupNodeTest, FirstStartShowsBothMessages) {
  SETUP->SetPortIndex(SETUP->PortIndex());
  SETUP->SetBaudRateIndex(SETUP->BaudRateIndex());
  ASSERT_EQ(Messages->Shown.size(), 2u);
  EXPECT_EQ(Messages->Shown[0].Text, "Порт связи не установлен!");
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
  EXPECT_EQ(Messages->Shown[1].Text, "Скорость обмена не установлена!");
  EXPECT_EQ(Messages->Shown[1].Icon, TMsgIcon::Error);
  EXPECT_EQ(SETUP->PortIndex(), -1);
  EXPECT_EQ(SETUP->BaudRateIndex(), 3);
  SETUP->SetPortIndex(8);
  EXPECT_EQ(SETUP->PortIndex(), -1);
}

TEST_F(SetupNodeTest, ChoosingAPortOpensItAndDropsTheLines) {
  SETUP->SetPortIndex(1);
  EXPECT_TRUE(Messages->Shown.empty());
  EXPECT_TRUE(Port->Connected());
  EXPECT_EQ(Port->DeviceName(), "COM2");
  EXPECT_FALSE(Port->Rts);
  EXPECT_FALSE(Port->Dtr);
  EXPECT_EQ(SETUP->PortIndex(), 1);
  // The same port again while open: nothing to do.
  Port->Rts = true;
  SETUP->SetPortIndex(1);
  EXPECT_TRUE(Port->Rts);
  // Speed: stored on the port, lines dropped again.
  SETUP->SetBaudRateIndex(6);
  EXPECT_EQ(Port->BaudRate(), br115200);
  EXPECT_FALSE(Port->Rts);
  SETUP->SetBaudRateIndex(9);  // unlisted: speed unchanged, index stored
  EXPECT_EQ(Port->BaudRate(), br115200);
  EXPECT_EQ(SETUP->BaudRateIndex(), 9);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(SetupNodeTest, FailedOpenStillStoresTheIndexAndRetriesLater) {
  Port->FailOpen = true;
  SETUP->SetPortIndex(4);
  ASSERT_EQ(Messages->Texts(), QStringList{"Порт не существует или занят!"});
  EXPECT_EQ(SETUP->PortIndex(), 4);
  EXPECT_FALSE(Port->Connected());
  Port->FailOpen = false;
  SETUP->SetPortIndex(4);  // same index, but the port is closed: open again
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
    SETUP->SetPortIndex(4);
    EXPECT_EQ(Messages->Texts(), QStringList{c.Shown}) << c.Code;
    EXPECT_FALSE(Port->Connected());
  }
}

TEST_F(SetupNodeTest, StreamingStoresWithoutTouchingThePort) {
  SETUP->SetState(csReading | csLoading);
  SETUP->SetPortIndex(2);
  SETUP->SetBaudRateIndex(0);
  SETUP->SetPortIndex(99);
  SETUP->Loaded();
  SETUP->ClearState(csReading);
  EXPECT_EQ(SETUP->PortIndex(), 99);
  EXPECT_EQ(SETUP->BaudRateIndex(), 0);
  EXPECT_FALSE(Port->Connected());
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(SetupNodeTest, SimulationWorksWithoutAnyPort) {
  Comm.reset();
  SETUP->SetDemo(true);
  TRegisterNode reg(nullptr);
  reg.SetName("D001C000R005");
  EXPECT_EQ(reg.StringData(), "250");
  SETUP->SetPortIndex(0);
  EXPECT_EQ(Messages->Texts(), QStringList{"Порт не существует или занят!"});
}

}  // namespace
}  // namespace vexa::test
