// The bytes of the state files, pinned: a network saved, updated over a file with parts the program
// does not write, updated again and saved afresh gives, step by step, exactly the files the program
// wrote before its saves made the streams straight into the file (tests/storage/data/format-*.cfg),
// and those files load. Equal bytes both ways: files written now load with the earlier program, and
// its files load now. VEXA_WRITE_STATE_SAMPLES=1 rewrites the samples from the program's own writer.

#include <QDir>
#include <QFile>
#include <functional>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/CompoundFile.h"
#include "storage/StrHandlerUnit.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {
namespace {

const QString kSamples = QStringLiteral(VEXA_SOURCE_DIR "/tests/storage/data/");

// Every node of a tree as its stream, depth first, so two trees compare as stored.
QByteArrayList StreamsOf(const TComponent& c) {
  QByteArrayList out{WriteComponent(const_cast<TComponent&>(c))};
  for (int i = 0; i < c.ComponentCount(); ++i) out += StreamsOf(*c.Component(i));
  return out;
}

QStringList History(int entries, int offset = 0) {
  QStringList times;
  for (int k = offset; k < offset + entries; ++k)
    times << QString::asprintf("07.12.2026 %02d:%02d:%02d", 9 + k / 3600, k / 60 % 60, k % 60);
  return times;
}

QStringList Values(int entries) {
  QStringList values;
  for (int k = 0; k < entries; ++k) values << QString::number(100 + k % 50) + QStringLiteral(",5");
  return values;
}

TRootNode* Child(TComponent& parent, int index) {
  return static_cast<TRootNode*>(parent.Component(index));
}

TRegisterNode* Register(TRootNode& net, int d, int c, int r) {
  return static_cast<TRegisterNode*>(Child(*Child(*Child(net, d), c), r));
}

TRegisterNode* AddRegister(TRootNode& channel, int d, int c, int r) {
  auto* reg = new TRegisterNode(&channel);
  reg->SetName(TCustomRegister::RegisterName(d, c, r));
  reg->SetCaption(QStringLiteral("Параметр %1").arg(r));
  reg->SetRegisterType(r % 2 == 0 ? rtFLOAT : rtINT);
  reg->SetLastStringData(QStringLiteral("12,5"));
  return reg;
}

void AddDevice(TRootNode& net, int d) {
  auto* dev = new TRootNode(&net);
  dev->SetName(QStringLiteral("D%1").arg(d, 3, 10, QLatin1Char('0')));
  dev->SetCaption(QStringLiteral("Регулятор %1").arg(d));
  for (int c = 0; c < 2; ++c) {
    auto* ch = new TRootNode(dev);
    ch->SetName(dev->Name() + QStringLiteral("C%1").arg(c, 3, 10, QLatin1Char('0')));
    for (int r = 0; r < 3; ++r) {
      TRegisterNode* reg = AddRegister(*ch, d, c, r);
      if (r == 1) {
        reg->SetPoints(History(10));
        reg->SetDataList(Values(10));
      }
      if (r == 2) (new TLabelDisplay(reg))->SetPrefix(QStringLiteral("T ="));
    }
  }
}

// The steps, each a change of the network and how it is saved. One register's history is past
// the mini stream's cut-off from the start; later steps shorten streams (their old tails stay in
// an update), lengthen one past the cut-off, remove and add children (one beside a foreign part)
// and a whole regulator.
struct TStep {
  const char* Sample;
  std::function<void(TRootNode& net)> Change;
  bool Fresh;  // a new configuration: the file written afresh
};

const std::vector<TStep>& Steps() {
  static const std::vector<TStep> steps = {
      {"format-a-new.cfg",
       [](TRootNode& net) {
         net.SetCaption(QStringLiteral("Сеть котельной номер два"));
         for (int d = 0; d < 3; ++d) AddDevice(net, d);
         Register(net, 0, 0, 0)->SetPoints(History(300));
         Register(net, 0, 0, 0)->SetDataList(Values(300));
       },
       false},
      {"format-b-update.cfg",
       [](TRootNode& net) {
         net.SetCaption(QStringLiteral("Сеть"));
         Register(net, 0, 0, 0)->SetPoints(History(5));
         Register(net, 0, 0, 0)->SetDataList(Values(5));
         Register(net, 0, 1, 1)->SetPoints(History(400, 7));
         Register(net, 0, 1, 1)->SetDataList(Values(400));
         delete Register(net, 1, 1, 2);
         AddRegister(*Child(*Child(net, 2), 0), 2, 0, 3);
         // A channel whose storage comes after the foreign one in the file's order.
         auto* channel = new TRootNode(Child(net, 0));
         channel->SetName(QStringLiteral("D000C002"));
         AddRegister(*channel, 0, 2, 0);
         static_cast<TLabelDisplay*>(Register(net, 1, 0, 2)->Component(0))->SetPrefix(QStringLiteral("t"));
       },
       false},
      {"format-c-update.cfg",
       [](TRootNode& net) {
         delete Child(net, 2);
         AddDevice(net, 3);
         TRegisterNode* reg = Register(net, 0, 1, 1);
         reg->SetPoints(History(400, 8));
         reg->SetCaption(QStringLiteral("Т"));
       },
       false},
      {"format-d-new.cfg", [](TRootNode& net) { Register(net, 1, 0, 0)->SetLastStringData("7"); }, true},
  };
  return steps;
}

class StateFormatTest : public test::TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkpath("Config");
    Net()->DestroyComponents();
  }

  QString Path() const { return ConfigFilePath(Current().Dir(), QStringLiteral("NET")); }

  QByteArray Bytes() const {
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  // Parts the program never writes, which an update keeps: a storage below a regulator and a
  // stream beside the root's object, written into the file as another program would.
  void AddForeignParts() {
    auto file = CompoundFile::Open(Path());
    ASSERT_TRUE(file);
    CompoundStorage& extra = file->Root().OpenStorage("000")->CreateStorage("Extra");
    extra.CreateStream("Notes") = QByteArray("written by another program");
    file->Root().CreateStream("Comment") = QByteArray(5000, 'c');
    ASSERT_TRUE(file->Save(Path()));
  }

  static bool Writing() { return qEnvironmentVariableIsSet("VEXA_WRITE_STATE_SAMPLES"); }
};

// Each step's file has the bytes the earlier program wrote, and its sample loads as the network
// that was saved; the foreign parts are told as parts the program does not know, the rest loaded,
// until a new configuration leaves them out.
TEST_F(StateFormatTest, SavesGiveTheBytesEarlierVersionsGaveAndTheirFilesLoad) {
  const QString copy = Dir->filePath("sample.cfg");
  for (size_t i = 0; i < Steps().size(); ++i) {
    const TStep& step = Steps()[i];
    step.Change(*Net());
    Settings()->SetNewConfig(step.Fresh);
    QString why;
    ASSERT_TRUE(SaveTreeFile(Current(), *Net(), &why)) << why.toStdString();
    Settings()->SetNewConfig(false);
    // As saved, and then not Changed, as a tree that was just loaded is not.
    const QByteArrayList saved = StreamsOf(*Net());
    if (i == 0) AddForeignParts();
    if (Writing()) {
      QDir().mkpath(kSamples);
      QFile out(kSamples + step.Sample);
      ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
      out.write(Bytes());
      continue;
    }
    QFile sample(kSamples + step.Sample);
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly)) << step.Sample;
    EXPECT_TRUE(Bytes() == sample.readAll()) << step.Sample;

    QFile::remove(copy);
    ASSERT_TRUE(QFile::copy(kSamples + step.Sample, copy));
    std::vector<TDamagedPart> damage;
    const std::unique_ptr<TComponent> loaded = ReadTreeFile(copy, &damage);
    ASSERT_TRUE(loaded) << step.Sample;
    const QByteArrayList back = StreamsOf(*loaded);
    ASSERT_EQ(back.size(), saved.size()) << step.Sample;
    for (qsizetype n = 0; n < back.size(); ++n)
      EXPECT_EQ(back[n].toHex(' ').toStdString(), saved[n].toHex(' ').toStdString())
          << step.Sample << " node " << n;
    QStringList parts;
    for (const TDamagedPart& part : damage) parts << part.Part;
    EXPECT_EQ(parts, step.Fresh ? QStringList() : QStringList({"000/Extra", "Comment"})) << step.Sample;
  }
}

}  // namespace
}  // namespace vexa
