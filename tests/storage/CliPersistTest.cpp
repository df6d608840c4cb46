// vexa-cli dump and archive-to-txt, run as the operator runs them.

#include <QFile>
#include <QProcess>
#include <functional>

#include "core/RegisterNode.h"
#include "reports/model/ReportNode.h"
#include "storage/StgHandlerUnit.h"
#include "support/Cli.h"
#include "support/TestSupport.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {
namespace {

using test::TRun;

using test::Cli;

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

// An archive the program would not load whole is not converted: an earlier export stays as it was.
TEST_F(CliPersistTest, ArchiveToTxtRefusesADamagedArchiveAndKeepsTheOldText) {
  TReportNode report(nullptr);
  for (int r = 0; r < 4; ++r) {
    auto* reg = new TRegisterNode(&report);
    reg->SetName(TCustomRegister::RegisterName(0, 0, r));
    QStringList points, data;
    for (int i = 0; i < 300; ++i) {
      points << QStringLiteral("07.12.2026 12:%1:%2")
                    .arg(i / 60, 2, 10, QChar('0'))
                    .arg(i % 60, 2, 10, QChar('0'));
      data << QString::number(i);
    }
    reg->SetPoints(points);
    reg->SetDataList(data);
  }
  const QString sound = Dir->filePath("sound");
  ASSERT_TRUE(TStgHandler::Create(sound)->SaveTree(report));
  QFile soundFile(sound);
  ASSERT_TRUE(soundFile.open(QIODevice::ReadOnly));
  const QByteArray bytes = soundFile.readAll();
  ASSERT_GT(bytes.size(), 8192);

  struct TCase {
    const char* What;
    std::function<void(const QString& path)> Damage;
  };
  const auto write = [](const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
  };
  const TCase cases[] = {
      {"cut to nine tenths", [&](const QString& p) { write(p, bytes.left(bytes.size() * 9 / 10)); }},
      {"cut to a half", [&](const QString& p) { write(p, bytes.left(bytes.size() / 2)); }},
      {"cut after the first sectors", [&](const QString& p) { write(p, bytes.left(2048)); }},
      {"a register's object misnamed",
       [&](const QString& p) {
         write(p, bytes);
         ASSERT_TRUE(test::DamagePart(p, "002", test::TPartDamage::ObjectMisnamed));
       }},
      {"a gap among the registers",
       [&](const QString& p) {
         write(p, bytes);
         ASSERT_TRUE(test::DamagePart(p, "001", test::TPartDamage::Renumbered));
       }},
  };
  const QByteArray earlier = "an earlier export\r\n";
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const QString path = Dir->filePath(QStringLiteral("Oven_%1").arg(++n));
    c.Damage(path);
    write(path + ".txt", earlier);
    const TRun run = Cli({"archive-to-txt", path});
    EXPECT_EQ(run.Code, 1) << run.Out.toStdString();
    EXPECT_FALSE(run.Out.contains(QStringLiteral("преобразован"))) << run.Out.toStdString();
    EXPECT_FALSE(run.Err.isEmpty());
    QFile txt(path + ".txt");
    ASSERT_TRUE(txt.open(QIODevice::ReadOnly));
    EXPECT_EQ(txt.readAll(), earlier);
    EXPECT_NE(Cli({"dump", path}).Code, 0) << "dump refuses or marks it too";
  }
  EXPECT_EQ(Cli({"archive-to-txt", sound}).Code, 0);
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
