// Every file of the persistence fuzz corpora goes through the fuzz targets' own bodies.
// VEXA_WRITE_FUZZ_SEEDS=1 rewrites the seed files from the program's own writer.

#include <QDir>
#include <QFile>

#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "fuzz/PersistFuzzBodies.h"
#include "reports/model/ReportNode.h"
#include "storage/CompoundFile.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {
namespace {

const QString kCorpus = QStringLiteral(VEXA_SOURCE_DIR "/tests/fuzz/corpus/");

int RunCorpus(const QString& folder, int (*body)(const uint8_t*, size_t)) {
  int files = 0;
  const QDir dir(kCorpus + folder);
  for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QByteArray bytes = f.readAll();
    body(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    ++files;
  }
  return files;
}

class FuzzCorpusTest : public test::TVexaTest {
 protected:
  // A small network: regulator, channel, two registers, one of them with a label and a history.
  static std::unique_ptr<TRootNode> SampleNet() {
    auto net = std::make_unique<TRootNode>(nullptr);
    net->SetName("NET");
    auto* d = new TRootNode(net.get());
    d->SetName("D001");
    auto* c = new TRootNode(d);
    c->SetName("D001C000");
    for (int r = 0; r < 2; ++r) {
      auto* reg = new TRegisterNode(c);
      reg->SetName(TCustomRegister::RegisterName(1, 0, r));
      reg->SetRegisterType(r == 0 ? rtINT : rtFLOAT);
      if (r == 1) {
        auto* label = new TLabelDisplay(reg);
        label->SetPrefix("T =");
        label->Font().SetStyle(fsBold);
        reg->SetPoints({"07.12.2026 12:00:00", "07.12.2026 12:00:03"});
        reg->SetDataList({"1,5", "***"});
      }
    }
    return net;
  }
};

TEST_F(FuzzCorpusTest, EveryCorpusFileRunsCleanly) {
  EXPECT_GT(RunCorpus("stream", &fuzz::ComponentStreamOne), 0);
  EXPECT_GT(RunCorpus("tree", &fuzz::CompoundLoadOne), 0);
  EXPECT_GT(RunCorpus("text", &fuzz::ConfigTextOne), 0);
}

TEST_F(FuzzCorpusTest, WriteSeeds) {
  if (!qEnvironmentVariableIsSet("VEXA_WRITE_FUZZ_SEEDS"))
    GTEST_SKIP() << "set VEXA_WRITE_FUZZ_SEEDS=1 to rewrite";
  QDir().mkpath(kCorpus + "stream");
  QDir().mkpath(kCorpus + "tree");
  auto put = [](const QString& path, const QByteArray& bytes) {
    QFile f(kCorpus + path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  };
  auto net = SampleNet();
  put("stream/root", WriteComponent(*net));
  TComponent* reg = FindNode(net.get(), TCustomRegister::RegisterName(1, 0, 1));
  put("stream/register", WriteComponent(*reg));
  put("stream/label", WriteComponent(*reg->Component(0)));
  TSetupNode setup(nullptr);
  setup.SetName("SETUP");
  setup.SetMNames({"a", "b"});
  put("stream/setup", WriteComponent(setup));
  TReportNode report(nullptr);
  report.SetHeader({"h"});
  put("stream/report", WriteComponent(report));

  auto file = CompoundFile::Create();
  const QString path = Dir->filePath("NET.cfg");
  ASSERT_TRUE(TStgHandler::Create(path)->SaveTree(*net));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  put("tree/net", f.readAll());
  f.close();
  auto* r = new TRegisterNode(&report);
  r->SetPoints({"x"});
  const QString archive = Dir->filePath("archive");
  ASSERT_TRUE(TStgHandler::Create(archive)->SaveTree(report));
  QFile a(archive);
  ASSERT_TRUE(a.open(QIODevice::ReadOnly));
  put("tree/archive", a.readAll());
}

}  // namespace
}  // namespace vexa
