// vexa-cli dump and archive-to-txt, run as the operator runs them.

#include <QFile>
#include <QProcess>

#include "core/RegisterNode.h"
#include "reports/model/ReportNode.h"
#include "storage/StgHandlerUnit.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {
namespace {

using test::TRun;

TRun Cli(const QStringList& args) {
  return test::RunProgram(QStringLiteral(VEXA_CLI_PATH), args);
}

class CliPersistTest : public test::TVexaTest {};

TEST_F(CliPersistTest, ArchiveToTxtWritesTheExportBesideTheArchive) {
  TReportNode report(nullptr);
  for (int r = 0; r < 2; ++r) {
    auto* reg = new TRegisterNode(&report);
    reg->SetName(TCustomRegister::RegisterName(0, 0, r));
    reg->SetCaption(QStringLiteral("Сеть\\Регулятор\\Р%1").arg(r));
    reg->SetPoints({"07.12.2026 12:00:00", "07.12.2026 12:00:03"});
    reg->SetDataList({"1,5", r == 0 ? "2" : "***"});
  }
  const QString path = Dir->filePath("Oven_2_07_12_2026_0905");
  ASSERT_TRUE(TStgHandler::Create(path)->SaveTree(report));
  const TRun run = Cli({"archive-to-txt", path});
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  QFile txt(path + ".txt");
  ASSERT_TRUE(txt.open(QIODevice::ReadOnly));
  const QByteArray expected =
      "\xC4\xE0\xF2\xE0 \xE8 "
      "\xE2\xF0\xE5\xEC\xFF\t\xD1\xE5\xF2\xFC\\\xD0\xE5\xE3\xF3\xEB\xFF\xF2\xEE\xF0\\\xD0"
      "0\t\xD1\xE5\xF2\xFC\\\xD0\xE5\xE3\xF3\xEB\xFF\xF2\xEE\xF0\\\xD0"
      "1\r\n07.12.2026 12:00:00\t1,5\t1,5\r\n07.12.2026 12:00:03\t2\t***\r\n";
  EXPECT_EQ(txt.readAll(), expected);

  // The export is no archive itself: converting it is refused, and nothing is written.
  const TRun again = Cli({"archive-to-txt", path + ".txt"});
  EXPECT_EQ(again.Code, 1);
  EXPECT_TRUE(again.Err.contains(QStringLiteral("Не могу преобразовать в Excel.")));
  EXPECT_FALSE(QFile::exists(path + ".txt.txt"));
}

TEST_F(CliPersistTest, DumpShowsEveryLevelIndented) {
  TRootNode net(nullptr);
  net.SetName("NET");
  auto* d = new TRootNode(&net);
  d->SetName("D001");
  d->SetCaption(QStringLiteral("Печь"));
  auto* reg = new TRegisterNode(d);
  reg->SetName("D001C000R001");
  auto* label = new TLabelDisplay(reg);  // enables the register and clears its history
  label->Font().SetStyle(fsBold);
  reg->SetPoints({"a", "b"});
  const QString path = Dir->filePath("NET.cfg");
  ASSERT_TRUE(TStgHandler::Create(path)->SaveTree(net));
  const TRun run = Cli({"dump", path});
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  const QStringList lines = run.Out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << run.Out.toStdString();
  EXPECT_EQ(lines[0], "TRootNode NET Changed=True");
  EXPECT_EQ(lines[1], QStringLiteral("  TRootNode D001 Caption='Печь' Changed=True"));
  EXPECT_TRUE(lines[2].startsWith("    TRegisterNode D001C000R001 Enabled=True")) << lines[2].toStdString();
  EXPECT_TRUE(lines[2].contains("Points.Strings=('a', 'b')"));
  EXPECT_TRUE(lines[3].startsWith("      TLabelDisplay - Left=0")) << lines[3].toStdString();
  EXPECT_TRUE(lines[3].contains("Font.Style=[fsBold]"));

  const TRun bad = Cli({"dump", Dir->filePath("missing.cfg")});
  EXPECT_EQ(bad.Code, 1);
}

}  // namespace
}  // namespace vexa
