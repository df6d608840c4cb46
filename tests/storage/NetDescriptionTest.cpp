// The network description export: its exact bytes, its blank-line rules, and a write that fails.

#include <sys/resource.h>

#include <QFile>
#include <csignal>

#include "core/RegisterNode.h"
#include "storage/NetDescription.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

class NetDescriptionTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    root = std::make_unique<TRootNode>(nullptr);
    root->SetName("NET");
    root->SetCaption("Сеть");
  }

  TRootNode* AddRegulator(int address) {
    auto* node = new TRootNode(root.get());
    node->SetName(QString::asprintf("D%03d", address));
    node->SetCaption(QString::asprintf("Регулятор %03d", address));
    return node;
  }
  static TRootNode* AddChannel(TRootNode* regulator, int c, const QString& comments) {
    auto* node = new TRootNode(regulator);
    node->SetName(regulator->Name() + QString::asprintf("C%03d", c));
    node->SetCaption(QString::asprintf("Канал %03d", c));
    node->SetComments(comments);
    return node;
  }
  static TRegisterNode* AddRegister(TRootNode* channel, int r, TRegisterType type,
                                    const QString& caption = {}) {
    auto* reg = new TRegisterNode(channel);
    reg->SetName(channel->Name() + QString::asprintf("R%03d", r));
    reg->SetCaption(caption.isEmpty() ? QString::asprintf("Регистр %03d", r) : caption);
    reg->SetRegisterType(type);
    return reg;
  }
  // The worked example: one regulator at 5, one channel with its type register and one 16-bit one.
  void BuildExample() {
    TRootNode* channel = AddChannel(AddRegulator(5), 0, "Тип канала неизвестен.");
    AddRegister(channel, 0, rtBYTE);
    AddRegister(channel, 1, rtINT);
  }
  QByteArray SavedBytes() {
    const QString path = Dir->filePath("net.txt");
    EXPECT_NO_FAULTS(SaveNetworkDescription(path, *root));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
  }

  std::unique_ptr<TRootNode> root;
};

TEST_F(NetDescriptionTest, WorkedExampleByteForByte) {
  BuildExample();
  const QByteArray expected = QByteArray::fromHex(
      "d1e5f2fc0d0a0d0a09d0e5e3f3ebfff2eef03a2022d0e5e3f3ebfff2eef0203030352209d1e5f2e5e2eee920e0e4f0e5"
      "f13a203030350d0a0d0a0909cae0ede0eb3a2022cae0ede0eb203030302209d2e8ef3a20d2e8ef20eae0ede0ebe020ed"
      "e5e8e7e2e5f1f2e5ed2e0d0a0d0a090909d0e5e3e8f1f2f03a2022d0e5e3e8f1f2f020303031220909d2e8ef3a203136"
      "2de1e8f20d0a");
  EXPECT_EQ(SavedBytes(), expected);
  EXPECT_EQ(NetworkDescription(*root).split("\r\n").size(), 8);  // seven lines and the final ending
}

TEST_F(NetDescriptionTest, BlankLinesSeparateBlocksButNeverTrail) {
  TRootNode* d1 = AddRegulator(1);
  TRootNode* onlyType = AddChannel(d1, 0, "Аналоговый вход");
  AddRegister(onlyType, 0, rtBYTE);
  TRootNode* c1 = AddChannel(d1, 1, "Тип канала неизвестен.");
  AddRegister(c1, 0, rtBYTE);
  AddRegister(c1, 1, rtASCIIZ);
  AddRegister(c1, 2, rtUnknown);
  AddRegister(c1, 3, rtDOUBLE);
  TRootNode* d200 = AddRegulator(200);
  TRootNode* c0 = AddChannel(d200, 0, "");
  AddRegister(c0, 0, rtBYTE);
  AddRegister(c0, 1, rtBOOL);

  EXPECT_EQ(NetworkDescription(*root),
            "Сеть\r\n"
            "\r\n"
            "\tРегулятор: \"Регулятор 001\"\tСетевой адрес: 001\r\n"
            "\r\n"
            "\t\tКанал: \"Канал 000\"\tТип: Аналоговый вход\r\n"
            "\r\n"
            "\r\n"  // the type-only channel: its empty line, then the one between channels
            "\t\tКанал: \"Канал 001\"\tТип: Тип канала неизвестен.\r\n"
            "\r\n"
            "\t\t\tРегистр: \"Регистр 001\"\t\tТип: Текстовый\r\n"
            "\t\t\tРегистр: \"Регистр 002\"\t\tТип: Неизвестный тип\r\n"
            "\t\t\tРегистр: \"Регистр 003\"\t\tТип: Вещественный длинный\r\n"
            "\r\n"  // between regulators
            "\tРегулятор: \"Регулятор 200\"\tСетевой адрес: 200\r\n"
            "\r\n"
            "\t\tКанал: \"Канал 000\"\tТип: \r\n"
            "\r\n"
            "\t\t\tРегистр: \"Регистр 001\"\t\tТип: Логический\r\n");
}

TEST_F(NetDescriptionTest, EdgeShapes) {
  EXPECT_EQ(NetworkDescription(*root), "Сеть\r\n\r\n");
  TRootNode* d = AddRegulator(3);
  d->SetCaption("Печь \"№2\"\tцех");
  TRootNode* c = AddChannel(d, 0, "тип\t\"7\"");
  AddRegister(c, 0, rtBYTE);
  AddRegister(c, 1, rtUINT, "Вход \"А\"\t1");
  const QString text = NetworkDescription(*root);
  EXPECT_TRUE(text.contains("\tРегулятор: \"Печь \"№2\"\tцех\"\tСетевой адрес: 003\r\n"))
      << text.toStdString();
  EXPECT_TRUE(text.contains("\t\tКанал: \"Канал 000\"\tТип: тип\t\"7\"\r\n"));
  EXPECT_TRUE(text.endsWith("\t\t\tРегистр: \"Вход \"А\"\t1\"\t\tТип: 16-бит беззнаковый\r\n"));
  // A channel whose only child is its type register lists no register; the file ends after its
  // empty line.
  TComponent* reg = FindNode(root.get(), "D003C000R001");
  reg->Owner()->RemoveComponent(reg);
  EXPECT_TRUE(NetworkDescription(*root).endsWith("\t\tКанал: \"Канал 000\"\tТип: тип\t\"7\"\r\n\r\n"));
}

TEST_F(NetDescriptionTest, FullNameJoinsUpToTwoOwners) {
  BuildExample();
  EXPECT_EQ(NodeFullName(*FindNode(root.get(), "D005C000R001")), "Регистр 001.Канал 000.Регулятор 005");
  EXPECT_EQ(NodeFullName(*FindNode(root.get(), "D005C000")), "Канал 000.Регулятор 005.Сеть");
  EXPECT_EQ(NodeFullName(*FindNode(root.get(), "D005")), "Регулятор 005.Сеть");
  EXPECT_EQ(NodeFullName(*root), "Сеть");
}

TEST_F(NetDescriptionTest, AFailedWriteIsReportedAndKeepsWhatWasWritten) {
  BuildExample();
  const QString missing = Dir->filePath("нет такой папки/net.txt");
  const QStringList error = SaveNetworkDescription(missing, *root).Texts();
  ASSERT_EQ(error.size(), 1);
  EXPECT_TRUE(error[0].contains(missing)) << error[0].toStdString();
  EXPECT_FALSE(SaveNetworkDescription("/dev/full", *root).Empty());

  // A file size limit stops the write part-way, as a full disk would.
  const QString path = Dir->filePath("cut.txt");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit cut = old;
  cut.rlim_cur = 40;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &cut), 0);
  const bool saved = SaveNetworkDescription(path, *root).Empty();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray kept = f.readAll();
  EXPECT_GE(kept.size(), 8);  // the caption line and the empty line at least
  EXPECT_LE(kept.size(), 40);
  EXPECT_TRUE(ToCp1251(NetworkDescription(*root)).startsWith(kept));
}

}  // namespace
}  // namespace vexa::test
