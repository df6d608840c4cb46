// vexa-cli print: an archive the program saved, drawn into a PDF file without a display, and read
// back with poppler's tools as any PDF reader would.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

constexpr double kStart = 46363.5;  // 07.12.2026 12:00:00

// Run with no display and the regional formats of a system without a locale (the Russian ones).
TRun RunWithoutDisplay(const QString& program, const QStringList& args) {
  TRunOptions options;
  options.Env = EnvironmentWithoutDisplay();
  options.Env->insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  return RunProgram(program, args, options);
}

class CliPrintTest : public TVexaTest {
 protected:
  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
      GTEST_SKIP() << "pdfinfo and pdftotext (poppler-utils) are not installed";
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
  }

  // A report run saved as the program archives it; its path.
  QString SaveReport(const QString& caption, int samples) {
    TReportNode report(nullptr);
    report.SetCaption(caption);
    report.SetStartPoint(kStart);
    report.SetLastPoint(kStart + 1.0 / 24);
    report.SetHeader({QStringLiteral("Сменный отчет")});
    for (const QString& name : {QStringLiteral("Температура"), QStringLiteral("Давление")}) {
      auto* reg = new TRegisterNode(&report);
      reg->SetName(TCustomRegister::RegisterName(0, 0, report.ComponentCount()));
      reg->SetCaption(name);
      QStringList points, data;
      for (int i = 0; i < samples; ++i) {
        points << DateTimeToStr(kStart + 12.0 * i / 86400);
        data << QString::number(i % 50);
      }
      reg->SetPoints(points);
      reg->SetDataList(data);
    }
    EXPECT_TRUE(SaveArchive(Current().Dir(), report));
    return ArchivePath(Current().Dir(), caption);
  }

  TRun Print(const QStringList& args) {
    return RunWithoutDisplay(QStringLiteral(VEXA_CLI_PATH), QStringList{"print"} + args);
  }
  static TRun Info(const QString& pdf) { return RunWithoutDisplay(QStringLiteral("pdfinfo"), {pdf}); }
  static int Pages(const QString& pdf) {
    static const QRegularExpression pages(QStringLiteral("Pages:\\s+(\\d+)"));
    return pages.match(Info(pdf).Out).captured(1).toInt();
  }
  static QString Text(const QString& pdf) {
    return RunWithoutDisplay(QStringLiteral("pdftotext"), {"-enc", "UTF-8", pdf, "-"}).Out;
  }
};

TEST_F(CliPrintTest, TheGraphIsOneLandscapePageWithTheRegistersAndTheTimeAxis) {
  const QString archive = SaveReport(QStringLiteral("Котел_1_07_12_2026_1200"), 300);
  const QString pdf = Dir->filePath("graph.pdf");
  const TRun run = Print({archive, "--pdf", pdf});
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
  EXPECT_TRUE(run.Out.contains(QStringLiteral(": страниц: 1\n"))) << run.Out.toStdString();
  EXPECT_EQ(Pages(pdf), 1);
  EXPECT_TRUE(Info(pdf).Out.contains(QRegularExpression("Page size:\\s+84[12](\\.\\d+)? x 595")))
      << Info(pdf).Out.toStdString();
  const QString text = Text(pdf);
  for (const char* expected : {"Сменный отчет", "Температура.Котел_1_07_12_2026_1200",
                               "Давление.Котел_1_07_12_2026_1200", "07.12.2026", "12:00:00", "12:50:00"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
  EXPECT_FALSE(text.contains("13:00:00")) << "no label under the last tick";
}

TEST_F(CliPrintTest, TheTableRunsOverPagesEachWithItsHeading) {
  const QString archive = SaveReport(QStringLiteral("Котел_1_07_12_2026_1200"), 300);
  const QString pdf = Dir->filePath("table.pdf");
  const TRun run = Print({archive, "--pdf", pdf, "--table", "--portrait"});
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
  const int pages = Pages(pdf);
  EXPECT_GT(pages, 1);
  EXPECT_TRUE(run.Out.contains(QStringLiteral(": страниц: %1\n").arg(pages))) << run.Out.toStdString();
  EXPECT_TRUE(Info(pdf).Out.contains(QRegularExpression("Page size:\\s+595(\\.\\d+)? x 84[12]")));
  const QString text = Text(pdf);
  EXPECT_EQ(text.count(QStringLiteral("Дата и время")), pages);
  EXPECT_EQ(text.count(QStringLiteral("Сменный отчет")), pages);
  // The first and the last sample, each once.
  EXPECT_EQ(text.count(DateTimeToStr(kStart)), 1);
  EXPECT_EQ(text.count(DateTimeToStr(kStart + 12.0 * 299 / 86400)), 1);
}

TEST_F(CliPrintTest, WhatIsNoPrintableArchiveIsRefused) {
  QFile notes(Dir->filePath("notes.txt"));
  ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
  notes.write("Дата и время\t1\r\n");
  notes.close();
  QDir(Dir->path()).mkpath("Config");
  Net()->SetCaption(QStringLiteral("Сеть"));
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  const QString empty = SaveReport(QStringLiteral("Пустой_07_12_2026_1200"), 0);
  const QString good = SaveReport(QStringLiteral("Котел_1_07_12_2026_1200"), 10);

  const struct {
    const char* Name;
    QStringList Args;
    int Code;
    const char* Says;
  } cases[] = {
      {"text file", {notes.fileName(), "--pdf", Dir->filePath("a.pdf")}, 1, "не архив отчёта"},
      {"network file",
       {ConfigFilePath(Current().Dir(), "NET"), "--pdf", Dir->filePath("b.pdf")},
       1,
       "не архив отчёта"},
      {"missing file", {Dir->filePath("nothing"), "--pdf", Dir->filePath("c.pdf")}, 1, "не архив отчёта"},
      {"empty report", {empty, "--pdf", Dir->filePath("d.pdf")}, 1, "Отчет пуст!"},
      {"unwritable PDF", {good, "--pdf", Dir->filePath("no/folder/e.pdf")}, 1, "не могу записать"},
      {"no --pdf", {good}, 2, "Usage: vexa-cli"},
      {"two files", {good, good, "--pdf", Dir->filePath("f.pdf")}, 2, "vexa-cli: лишний аргумент "},
      {"no value of --pdf", {good, "--pdf"}, 2, "vexa-cli: у параметра --pdf нет значения"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Print(c.Args);
    EXPECT_EQ(run.Code, c.Code);
    EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Says))) << run.Err.toStdString();
  }
  for (const char* pdf : {"a.pdf", "b.pdf", "c.pdf", "d.pdf", "f.pdf"})
    EXPECT_FALSE(QFile::exists(Dir->filePath(pdf))) << pdf;
}

// A file named on the command line lies in the folder --dir gives when its path is relative, wherever
// the command runs from; an absolute path stays as given; without --dir the current folder counts.
TEST_F(CliPrintTest, RelativeFilesLieInTheFolderOfDir) {
  QDir(Dir->path()).mkpath("Config");
  Net()->SetCaption(QStringLiteral("Сеть"));
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  SaveReport(QStringLiteral("Котел_07_12_2026_1200"), 10);
  const QString archive = QStringLiteral("Archives/Котел_07_12_2026_1200");
  const QString dir = Dir->path();
  QTemporaryDir elsewhere;  // the current folder, which holds none of them
  const auto run = [](const QString& from, const QStringList& args, const QByteArray& input = {}) {
    TRunOptions options;
    options.Env = EnvironmentWithoutDisplay();
    options.WorkDir = from;
    options.Input = input;
    return RunProgram(QStringLiteral(VEXA_CLI_PATH), args, options);
  };
  const TRun dump = run(elsewhere.path(), {"--dir", dir, "dump", "Config/NET.cfg"});
  ASSERT_EQ(dump.Code, 0) << dump.Err.toStdString();
  ASSERT_TRUE(dump.Out.startsWith("TRootNode NET")) << dump.Out.toStdString();
  QFile text(Dir->filePath("net.txt"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write(dump.Out.toUtf8());
  text.close();

  const struct {
    const char* Name;
    QString From;
    QStringList Args;
    int Code;
    QString Made;  // in DIR
    QString Says;
  } cases[] = {
      {"dump", elsewhere.path(), {"--dir", dir, "dump", "Config/NET.cfg"}, 0, "", "TRootNode NET"},
      {"dump, absolute",
       elsewhere.path(),
       {"--dir", elsewhere.path(), "dump", dir + "/Config/NET.cfg"},
       0,
       "",
       "TRootNode NET"},
      {"dump without --dir", dir, {"dump", "Config/NET.cfg"}, 0, "", "TRootNode NET"},
      {"dump without --dir elsewhere",
       elsewhere.path(),
       {"dump", "Config/NET.cfg"},
       1,
       "",
       elsewhere.path() + "/Config/NET.cfg — не файл конфигурации или архива: файл не существует"},
      {"load",
       elsewhere.path(),
       {"--dir", dir, "load", "net.txt", "Config/COPY.cfg"},
       0,
       "Config/COPY.cfg",
       ""},
      {"archive-to-txt",
       elsewhere.path(),
       {"--dir", dir, "archive-to-txt", archive},
       0,
       archive + ".txt",
       "преобразован"},
      {"print",
       elsewhere.path(),
       {"--dir", dir, "print", archive, "--pdf", "graph.pdf"},
       0,
       "graph.pdf",
       "graph.pdf: страниц: 1"},
      {"a missing one named where it was looked for",
       elsewhere.path(),
       {"--dir", dir, "dump", "Config/NONE.cfg"},
       1,
       "",
       dir + "/Config/NONE.cfg — не файл конфигурации или архива: файл не существует"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun r = run(c.From, c.Args);
    EXPECT_EQ(r.Code, c.Code) << r.Err.toStdString();
    EXPECT_TRUE((r.Out + r.Err).contains(c.Says)) << r.Out.toStdString() << r.Err.toStdString();
    if (!c.Made.isEmpty()) {
      EXPECT_TRUE(QFile::exists(Dir->filePath(c.Made))) << c.Made.toStdString();
    }
  }
  EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList())
      << "nothing made in the current folder";
}

}  // namespace
}  // namespace vexa::test
