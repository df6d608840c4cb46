// The report's PDF file is replaced whole: a disk that fills up, or a rename that fails, leaves the
// earlier file as it was (or no file at all), never an empty or a cut one, and says so.

#include <QDir>
#include <QFile>
#include <cerrno>

#include "paper/PaperFixture.h"
#include "storage/AtomicFile.h"

namespace vexa::test {
namespace {

class TReportPdfFileTest : public TPaperTest {
 protected:
  void SetUp() override {
    TPaperTest::SetUp();
    NewReport(60);
    FillSamples(AddRegister(QStringLiteral("Температура")), 200, [](int i) { return i % 50; });
  }
  void TearDown() override {
    SetFileFault({});
    TPaperTest::TearDown();
  }
  QByteArray Bytes(const QString& path) const {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
};

TEST_F(TReportPdfFileTest, AFailedWriteLeavesTheEarlierFileOrNone) {
  const QString pdf = Dir->filePath(QStringLiteral("report.pdf"));
  QString error;
  ASSERT_GT(RenderReportPdf(*report, pdf, QPageLayout::Portrait, TPrintView::Table, &error), 0)
      << error.toStdString();
  const QByteArray earlier = Bytes(pdf);
  ASSERT_TRUE(earlier.startsWith("%PDF-"));
  ASSERT_TRUE(earlier.trimmed().endsWith("%%EOF"));

  const struct {
    const char* Name;
    TFileStep Step;
    int Error;
    const char* Says;
  } cases[] = {
      {"a full disk", TFileStep::Write, ENOSPC, "на диске нет места"},
      {"a quota", TFileStep::Write, EDQUOT, "превышена дисковая квота"},
      {"no room for the temporary", TFileStep::CreateTemporary, ENOSPC, "на диске нет места"},
      {"a failed rename", TFileStep::Rename, EIO, "ошибка ввода-вывода"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    SetFileFault([&c](TFileStep step, const QString&) { return step == c.Step ? c.Error : 0; });
    for (const QString& path : {pdf, Dir->filePath(QStringLiteral("new.pdf"))}) {
      error.clear();
      EXPECT_EQ(RenderReportPdf(*report, path, QPageLayout::Landscape, TPrintView::Graph, &error), -1);
      EXPECT_TRUE(error.contains(QString::fromUtf8(c.Says))) << error.toStdString();
      EXPECT_TRUE(error.contains(path)) << error.toStdString();
    }
    SetFileFault({});
    EXPECT_EQ(Bytes(pdf), earlier);
    EXPECT_FALSE(QFile::exists(Dir->filePath(QStringLiteral("new.pdf"))));
    // Nothing else beside it: no temporary left behind.
    EXPECT_EQ(QDir(Dir->path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("report.pdf")});
  }

  // Once the disk has room again, the file is replaced.
  EXPECT_EQ(RenderReportPdf(*report, pdf, QPageLayout::Landscape, TPrintView::Graph, &error), 1);
  EXPECT_NE(Bytes(pdf), earlier);
  EXPECT_TRUE(Bytes(pdf).startsWith("%PDF-"));
}

}  // namespace
}  // namespace vexa::test
