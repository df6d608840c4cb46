// The report archive window's rules on real files: what the archive folder lists, the date sort,
// the delete question and the delete, opening an archive and its export as text.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <memory>

#include "core/RegisterNode.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/AtomicFile.h"
#include "storage/StgHandlerUnit.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "ui/model/ArchiveList.h"

namespace vexa {
namespace {

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
}

// An archive of `registers` registers with `points` readings each, saved as the reports window does.
void SaveReportArchive(const QString& folder, const QString& name, int registers, int points) {
  TReportNode report(nullptr);
  report.SetCaption(name);
  for (int r = 0; r < registers; ++r) {
    auto* reg = new TRegisterNode(&report);
    reg->SetCaption(QStringLiteral("Печь\\Зона %1").arg(r + 1));
    QStringList times, values;
    for (int k = 0; k < points; ++k) {
      times << QStringLiteral("07.12.2026 12:%1:00").arg(k, 2, 10, QLatin1Char('0'));
      values << QStringLiteral("%1,5").arg(r * 100 + k);
    }
    reg->SetPoints(times);
    reg->SetDataList(values);
  }
  ASSERT_TRUE(SaveArchive(folder, report));
}

class ArchiveListTest : public test::TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
  }
  QString Path(const QString& name) { return ArchivePath(Current().Dir(), name); }
  void Touch(const QString& name, qint64 seconds) {
    WriteFile(Path(name), "x");
    const timespec t[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(Path(name)).constData(), t, 0), 0);
  }
};

// The name the atomic file layer gives the temporary of a save of `target`, taken from a save that
// fails while its temporary exists.
QString TemporaryNameOfASave(const QString& target) {
  QString name;
  QString why;
  EXPECT_FALSE(ReplaceFileAtomically(
      target,
      [&name](int fd) {
        char link[PATH_MAX] = {};
        const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
        if (::readlink(proc.constData(), link, sizeof link - 1) > 0)
          name = QFileInfo(QFile::decodeName(link)).fileName();
        return false;
      },
      &why));
  return name;
}

TEST_F(ArchiveListTest, EveryFileAlphabeticallyButNeverTheTemporariesOfASave) {
  const QString temporary = TemporaryNameOfASave(Path(QStringLiteral("Oven_2_07_12_2026_0905")));
  ASSERT_FALSE(temporary.isEmpty());
  EXPECT_TRUE(IsReplaceTemporary(temporary)) << temporary.toStdString();
  EXPECT_FALSE(QFile::exists(Path(temporary)));
  // What a killed save leaves behind: the temporary of an archive and of a text export.
  WriteFile(Path(temporary), "half");
  WriteFile(Path(TemporaryNameOfASave(Path(QStringLiteral("b.txt")))), "half");
  // And the alarm journal's files, which are no report archives.
  for (const char* name :
       {"b", "A", "a_2", "Отжиг_07_12_2026_0905", "b.txt", ".hidden", ".b.tmp", "x.1a.tmp", ".b.ABC.tmp",
        ".b..tmp", "alarms.sqlite", "alarms.sqlite-wal", "alarms.sqlite-shm"})
    WriteFile(Path(QString::fromUtf8(name)), "x");
  ASSERT_TRUE(QDir(ArchiveFolder(Current().Dir())).mkdir(QStringLiteral("folder")));

  EXPECT_EQ(ListArchiveFiles(Current().Dir()),
            (QStringList{".b..tmp", ".b.ABC.tmp", ".b.tmp", ".hidden", "A", "a_2", "b", "b.txt", "x.1a.tmp",
                         "Отжиг_07_12_2026_0905"}));

  // Without the folder nothing is listed, whatever the current folder holds.
  const QString current = QDir::currentPath();
  ASSERT_TRUE(QDir(ArchiveFolder(Current().Dir())).removeRecursively());
  ASSERT_TRUE(QDir::setCurrent(Dir->path()));
  WriteFile(Dir->filePath(QStringLiteral("stray")), "x");
  EXPECT_EQ(ListArchiveFiles(Current().Dir()), QStringList());
  QDir::setCurrent(current);
}

TEST_F(ArchiveListTest, TheDateSortIsTheSelectionSortNewestFirst) {
  const struct {
    const char* Case;
    QStringList Names;
    std::vector<TFileAge> Ages;
    QStringList Sorted;
  } cases[] = {
      {"equal ages: no exchange at any step", {"c", "a", "b"}, {5, 5, 5}, {"c", "a", "b"}},
      {"distinct ages", {"a", "b", "c", "d"}, {100, 300, 200, 50}, {"b", "c", "a", "d"}},
      // The first of two equal largest ages wins; an exchange may carry an age past an equal one.
      {"ties", {"a", "b", "c", "d"}, {100, 300, 200, 300}, {"b", "d", "c", "a"}},
      {"not stable", {"x", "y", "z"}, {1, 1, 2}, {"z", "y", "x"}},
      {"a missing file last", {"gone", "a"}, {kMissingFileAge, 0}, {"a", "gone"}},
      {"one file", {"a"}, {1}, {"a"}},
      {"none", {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    QStringList names = c.Names;
    std::vector<TFileAge> ages = c.Ages;
    int steps = 0;
    SortNewestFirst(names, ages, [&steps] { ++steps; });
    EXPECT_EQ(names, c.Sorted);
    EXPECT_TRUE(std::is_sorted(ages.rbegin(), ages.rend()));
    EXPECT_EQ(steps, std::max<int>(0, static_cast<int>(c.Names.size()) - 1));
  }
}

TEST_F(ArchiveListTest, FilesSortByTheirModificationTimes) {
  const qint64 base = 1796640000;
  Touch(QStringLiteral("a"), base + 60);
  Touch(QStringLiteral("b"), base + 180);
  Touch(QStringLiteral("c"), base + 120);
  Touch(QStringLiteral("d"), base + 180);
  EXPECT_EQ(ArchiveFileAge(Current().Dir(), QStringLiteral("b")), (base + 180) * 1000);
  EXPECT_EQ(ArchiveFileAge(Current().Dir(), QStringLiteral("gone")), kMissingFileAge);
  QStringList names = ListArchiveFiles(Current().Dir());
  names.insert(1, QStringLiteral("gone"));
  SortByDate(Current().Dir(), names);
  EXPECT_EQ(names, (QStringList{"b", "d", "c", "a", "gone"}));

  for (const char* name : {"a", "b", "c", "d"}) Touch(QString::fromLatin1(name), base);
  names = ListArchiveFiles(Current().Dir());
  SortByDate(Current().Dir(), names);
  EXPECT_EQ(names, (QStringList{"a", "b", "c", "d"}));
}

TEST_F(ArchiveListTest, TheDeleteQuestionFollowsTheLastDigitAndElevenToFourteen) {
  const struct {
    int Count;
    const char* Question;
  } cases[] = {
      {1, "Удалить 1 отчет?"},      {2, "Удалить 2 отчета?"},    {3, "Удалить 3 отчета?"},
      {4, "Удалить 4 отчета?"},     {5, "Удалить 5 отчетов?"},   {6, "Удалить 6 отчетов?"},
      {7, "Удалить 7 отчетов?"},    {8, "Удалить 8 отчетов?"},   {9, "Удалить 9 отчетов?"},
      {10, "Удалить 10 отчетов?"},  {11, "Удалить 11 отчетов?"}, {12, "Удалить 12 отчетов?"},
      {13, "Удалить 13 отчетов?"},  {14, "Удалить 14 отчетов?"}, {15, "Удалить 15 отчетов?"},
      {16, "Удалить 16 отчетов?"},  {17, "Удалить 17 отчетов?"}, {18, "Удалить 18 отчетов?"},
      {19, "Удалить 19 отчетов?"},  {20, "Удалить 20 отчетов?"}, {21, "Удалить 21 отчет?"},
      {22, "Удалить 22 отчета?"},   {23, "Удалить 23 отчета?"},  {24, "Удалить 24 отчета?"},
      {25, "Удалить 25 отчетов?"},  {101, "Удалить 101 отчет?"}, {111, "Удалить 111 отчет?"},
      {112, "Удалить 112 отчета?"}, {121, "Удалить 121 отчет?"},
  };
  for (const auto& c : cases) EXPECT_EQ(DeleteQuestion(c.Count), QString::fromUtf8(c.Question)) << c.Count;
}

TEST_F(ArchiveListTest, DeleteGoesOnPastAFileItCannotDelete) {
  for (const char* name : {"a", "b", "c"}) WriteFile(Path(QString::fromLatin1(name)), "x");
  ASSERT_TRUE(QDir(ArchiveFolder(Current().Dir())).mkdir(QStringLiteral("folder")));
  WriteFile(Dir->filePath(QStringLiteral("outside")), "x");

  const QStringList failures =
      DeleteArchiveFiles(Current().Dir(), {"a", "gone", "c", "folder", "../outside"});
  EXPECT_EQ(failures, (QStringList{"Не могу удалить gone\r\nФайл не существует или занят",
                                   "Не могу удалить folder\r\nФайл не существует или занят",
                                   "Не могу удалить ../outside\r\nФайл не существует или занят"}));
  EXPECT_EQ(ListArchiveFiles(Current().Dir()), QStringList{"b"});
  EXPECT_TRUE(QFileInfo(Path(QStringLiteral("folder"))).isDir());
  EXPECT_TRUE(QFile::exists(Dir->filePath(QStringLiteral("outside"))));
}

TEST_F(ArchiveListTest, AnOpenedArchiveIsTheStoredReportWithTheArchivePicture) {
  SaveReportArchive(Current().Dir(), QStringLiteral("Oven_2_07_12_2026_0905"), 3, 10);
  const std::unique_ptr<TReportNode> report =
      OpenArchive(Current().Dir(), QStringLiteral("Oven_2_07_12_2026_0905"));
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->Caption(), QStringLiteral("Oven_2_07_12_2026_0905"));
  EXPECT_EQ(report->ImageIndex(), 27);
  ASSERT_EQ(report->ComponentCount(), 3);
  const auto* last = dynamic_cast<const TRegisterNode*>(report->Component(2));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->DataList().at(9), QStringLiteral("209,5"));
  EXPECT_EQ(OpenArchive(Current().Dir(), QStringLiteral("gone")), nullptr);
}

TEST_F(ArchiveListTest, TheExportWritesTabSeparatedLinesInCodePage1251) {
  const QString name = QStringLiteral("Oven_2_07_12_2026_0905");
  SaveReportArchive(Current().Dir(), name, 3, 10);
  const QByteArray archive = FileBytes(Path(name));
  WriteFile(Path(name + ".txt"), QByteArray(10000, 'z'));  // an older, longer export is replaced

  const TArchiveExport result = ExportArchiveText(Current().Dir(), name);
  EXPECT_TRUE(result.Written);
  EXPECT_EQ(result.Icon, TMsgIcon::Information);
  EXPECT_EQ(result.Message, QStringLiteral("Отчет\r\nOven_2_07_12_2026_0905\r\nпреобразован в\r\n"
                                           "Oven_2_07_12_2026_0905.txt"));
  const QByteArray text = FileBytes(Path(name + ".txt"));
  QList<QByteArray> lines = text.split('\n');
  ASSERT_EQ(lines.size(), 12);  // 11 lines, each ended by CR LF
  EXPECT_TRUE(lines.takeLast().isEmpty());
  for (const QByteArray& line : lines) {
    ASSERT_TRUE(line.endsWith('\r'));
    EXPECT_EQ(line.count('\t'), 3) << line.toStdString();
  }
  // "Дата и время", "Печь\Зона 1" ... in code page 1251.
  EXPECT_EQ(lines[0], QByteArray("\xC4\xE0\xF2\xE0 \xE8 \xE2\xF0\xE5\xEC\xFF\t"
                                 "\xCF\xE5\xF7\xFC\\\xC7\xEE\xED\xE0 1\t"
                                 "\xCF\xE5\xF7\xFC\\\xC7\xEE\xED\xE0 2\t"
                                 "\xCF\xE5\xF7\xFC\\\xC7\xEE\xED\xE0 3\r"));
  EXPECT_EQ(lines[1], QByteArray("07.12.2026 12:00:00\t0,5\t100,5\t200,5\r"));
  EXPECT_EQ(lines[10], QByteArray("07.12.2026 12:09:00\t9,5\t109,5\t209,5\r"));
  EXPECT_EQ(FileBytes(Path(name)), archive);
  EXPECT_EQ(ListArchiveFiles(Current().Dir()), (QStringList{name, name + ".txt"}));
}

TEST_F(ArchiveListTest, FilesThatAreNoArchivesAreNamedAndNothingIsWritten) {
  SaveReportArchive(Current().Dir(), QStringLiteral("good"), 2, 3);
  const QByteArray good = FileBytes(Path(QStringLiteral("good")));
  WriteFile(Path(QStringLiteral("notes.txt")), "Дата и время\r\n");
  // A compound file holding another kind of tree: a configuration file put among the archives.
  TRootNode net(nullptr);
  net.SetName(QStringLiteral("NET"));
  ASSERT_TRUE(TStgHandler::Create(Path(QStringLiteral("NET.cfg")))->SaveTree(net));
  // A sound header over garbled sectors.
  QByteArray damaged = good;
  std::fill(damaged.begin() + 512, damaged.end(), '\xEE');
  WriteFile(Path(QStringLiteral("damaged")), damaged);
  // Archives damaged in part: a register's object misnamed, a file cut short. Their export would
  // hold less than the archive.
  SaveReportArchive(Current().Dir(), QStringLiteral("part"), 3, 50);
  ASSERT_TRUE(test::DamagePart(Path(QStringLiteral("part")), QStringLiteral("001"),
                               test::TPartDamage::ObjectMisnamed));
  SaveReportArchive(Current().Dir(), QStringLiteral("short"), 3, 200);
  {
    const QByteArray whole = FileBytes(Path(QStringLiteral("short")));
    WriteFile(Path(QStringLiteral("short")), whole.left(whole.size() * 3 / 4));
  }

  const struct {
    const char* Name;
    bool StorageFile;
  } cases[] = {
      {"notes.txt", false}, {"gone", false}, {"NET.cfg", true},
      {"damaged", true},    {"part", true},  {"short", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString name = QString::fromLatin1(c.Name);
    // Only a file without an archive's form is passed over quietly; a damaged archive is told.
    EXPECT_EQ(IsReportArchive(Current().Dir(), name), c.StorageFile);
    EXPECT_EQ(OpenArchive(Current().Dir(), name), nullptr);
    const TArchiveExport result = ExportArchiveText(Current().Dir(), name);
    EXPECT_FALSE(result.Written);
    if (c.StorageFile) {
      EXPECT_EQ(result.Message, "Файл " + name + "\r\nне является файлом отчета или поврежден!");
      EXPECT_EQ(result.Icon, TMsgIcon::Warning);
    } else {
      EXPECT_EQ(result.Message, QStringLiteral("Не могу преобразовать в Excel.\r\nДанный файл не является "
                                               "файлом отчета, не существует или поврежден!"));
      EXPECT_EQ(result.Icon, TMsgIcon::Information);
    }
    EXPECT_FALSE(QFile::exists(Path(name + ".txt")));
  }
  // The foreign files do not stop the archive among them; its export is no archive itself.
  EXPECT_TRUE(IsReportArchive(Current().Dir(), QStringLiteral("good")));
  EXPECT_TRUE(ExportArchiveText(Current().Dir(), QStringLiteral("good")).Written);
  EXPECT_FALSE(IsReportArchive(Current().Dir(), QStringLiteral("good.txt")));
  // A name that reaches out of the folder is never one, whatever it names.
  for (const char* name : {"../Archives/good", "", "."})
    EXPECT_FALSE(IsReportArchive(Current().Dir(), QString::fromLatin1(name))) << name;
  EXPECT_EQ(FileBytes(Path(QStringLiteral("good"))), good);
}

TEST_F(ArchiveListTest, AnExportThatCannotBeWrittenSaysWhyAndLeavesTheArchive) {
  SaveReportArchive(Current().Dir(), QStringLiteral("a"), 1, 2);
  const QByteArray archive = FileBytes(Path(QStringLiteral("a")));
  ASSERT_TRUE(QDir(ArchiveFolder(Current().Dir())).mkdir(QStringLiteral("a.txt")));
  const TArchiveExport result = ExportArchiveText(Current().Dir(), QStringLiteral("a"));
  EXPECT_FALSE(result.Written);
  EXPECT_EQ(result.Icon, TMsgIcon::Error);
  EXPECT_TRUE(result.Message.startsWith(QStringLiteral("Не могу записать a.txt\r\n")))
      << result.Message.toStdString();
  EXPECT_GT(result.Message.size(), QStringLiteral("Не могу записать a.txt\r\n").size());
  EXPECT_EQ(FileBytes(Path(QStringLiteral("a"))), archive);
  EXPECT_EQ(ListArchiveFiles(Current().Dir()), QStringList{"a"});
}

}  // namespace
}  // namespace vexa
