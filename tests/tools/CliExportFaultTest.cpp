// vexa-cli's exports when the disk will not take the whole file: archive-to-txt and print --pdf run
// as real processes under a file size limit (the system then refuses the write part-way, as a full
// disk does) end with exit 1 and a message, and leave the earlier file as it was, or none.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "core/RegisterNode.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/TreeFiles.h"
#include "support/Cli.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// The limit, in the shell's blocks (512 or 1024 bytes): far below what the exports write.
constexpr int kLimitBlocks = 4;
constexpr qsizetype kLimitBytes = kLimitBlocks * 1024;

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Without a display, as on a server.
TRun CliWithoutDisplay(const QStringList& args) {
  return Cli(args, {.Env = EnvironmentWithoutDisplay()});
}

// The same, with files limited in size; the signal the limit raises is ignored, so the write fails
// with EFBIG instead of ending the process.
TRun CliOnAFullDisk(const QStringList& args) {
  TRunOptions options;
  options.Env = EnvironmentWithoutDisplay();
  return RunProgram(
      QStringLiteral("/bin/sh"),
      QStringList{"-c", QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(kLimitBlocks),
                  QStringLiteral(VEXA_CLI_PATH)} +
          args,
      options);
}

class CliExportFaultTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
  }
  // An archive of `samples` samples of two registers; its path.
  QString SaveReport(int samples) {
    TReportNode report(nullptr);
    report.SetCaption(QStringLiteral("Котел_1_07_12_2026_1200"));
    report.SetStartPoint(46363.5);
    report.SetLastPoint(46363.5 + 1.0 / 24);
    for (const QString& name : {QStringLiteral("Температура"), QStringLiteral("Давление")}) {
      auto* reg = new TRegisterNode(&report);
      reg->SetName(TCustomRegister::RegisterName(0, 0, report.ComponentCount()));
      reg->SetCaption(name);
      QStringList points, data;
      for (int i = 0; i < samples; ++i) {
        points << DateTimeToStr(46363.5 + 3.0 * i / 86400);
        data << QString::number(i % 50);
      }
      reg->SetPoints(points);
      reg->SetDataList(data);
    }
    EXPECT_TRUE(SaveArchive(Current().Dir(), report));
    return ArchivePath(Current().Dir(), report.Caption());
  }
  QStringList Files() const {
    return QDir(Dir->filePath(QStringLiteral("Archives"))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }
};

TEST_F(CliExportFaultTest, ArchiveToTxtKeepsTheEarlierTextWhenTheDiskIsFull) {
  const QString archive = SaveReport(100);
  ASSERT_EQ(CliWithoutDisplay({"archive-to-txt", archive}).Code, 0);
  const QByteArray earlier = Bytes(archive + ".txt");
  ASSERT_GT(earlier.size(), 0);

  // The archive has grown; its text no longer fits.
  SaveReport(1200);
  const TRun full = CliOnAFullDisk({"archive-to-txt", archive});
  EXPECT_EQ(full.Code, 1);
  EXPECT_TRUE(full.Err.contains(QStringLiteral("Не могу записать Котел_1_07_12_2026_1200.txt")))
      << full.Err.toStdString();
  EXPECT_TRUE(full.Err.contains(QStringLiteral("файл больше допустимого"))) << full.Err.toStdString();
  EXPECT_FALSE(full.Out.contains(QStringLiteral("преобразован"))) << full.Out.toStdString();
  EXPECT_EQ(Bytes(archive + ".txt"), earlier);
  EXPECT_EQ(Files(), (QStringList{"Котел_1_07_12_2026_1200", "Котел_1_07_12_2026_1200.txt"}));

  // With room, the whole text.
  const TRun room = CliWithoutDisplay({"archive-to-txt", archive});
  EXPECT_EQ(room.Code, 0) << room.Err.toStdString();
  EXPECT_GT(Bytes(archive + ".txt").size(), kLimitBytes * 2);
  EXPECT_EQ(FromCp1251(Bytes(archive + ".txt")).count(QStringLiteral("\r\n")), 1201);
}

TEST_F(CliExportFaultTest, PrintLeavesNoEmptyPdfAndKeepsTheEarlierOneWhenTheDiskIsFull) {
  const QString archive = SaveReport(1200);
  const QString pdf = Dir->filePath(QStringLiteral("table.pdf"));
  const TRun first = CliWithoutDisplay({"print", archive, "--pdf", pdf, "--table"});
  ASSERT_EQ(first.Code, 0) << first.Err.toStdString();
  const QByteArray earlier = Bytes(pdf);
  ASSERT_GT(earlier.size(), kLimitBytes * 2);

  const QString fresh = Dir->filePath(QStringLiteral("graph.pdf"));
  for (const QString& out : {pdf, fresh}) {
    SCOPED_TRACE(out.toStdString());
    const TRun full = CliOnAFullDisk({"print", archive, "--pdf", out, "--table"});
    EXPECT_EQ(full.Code, 1);
    EXPECT_TRUE(full.Err.contains(QStringLiteral("не могу записать %1").arg(out))) << full.Err.toStdString();
    EXPECT_TRUE(full.Err.contains(QStringLiteral("файл больше допустимого"))) << full.Err.toStdString();
    EXPECT_FALSE(full.Out.contains(QStringLiteral("страниц"))) << full.Out.toStdString();
  }
  EXPECT_EQ(Bytes(pdf), earlier);
  EXPECT_FALSE(QFile::exists(fresh));
  EXPECT_EQ(QDir(Dir->path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("table.pdf")});
}

}  // namespace
}  // namespace vexa::test
