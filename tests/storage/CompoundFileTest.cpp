#include <fcntl.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <optional>

#include "storage/AtomicFile.h"
#include "storage/CompoundFile.h"

namespace vexa {
namespace {

// Every element of a tree by its path; a storage maps to nullopt, a stream to its bytes.
using TTreeMap = std::map<QString, std::optional<QByteArray>>;

void Describe(const CompoundStorage& s, const QString& prefix, TTreeMap& out) {
  for (const QString& name : s.StorageNames()) {
    out[prefix + name] = std::nullopt;
    Describe(*s.OpenStorage(name), prefix + name + QLatin1Char('/'), out);
  }
  for (const QString& name : s.StreamNames()) out[prefix + name] = s.Stream(name);
}

TTreeMap Describe(const CompoundFile& f) {
  TTreeMap out;
  Describe(f.Root(), QString(), out);
  return out;
}

QByteArray Pattern(int size, int seed) {
  QByteArray b(size, Qt::Uninitialized);
  for (int i = 0; i < size; ++i) b[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return b;
}

const QString kLongCyrillic = QStringLiteral("Длинное_имя_ровно_31_символ_абв");

// Nested storages; streams empty, in the mini stream, at and around the 4096-byte cut-off, and
// in big blocks; Cyrillic names up to the format's limit.
std::unique_ptr<CompoundFile> SampleFile() {
  auto f = CompoundFile::Create();
  CompoundStorage& root = f->Root();
  root.CreateStream(QStringLiteral("Object")) = Pattern(100, 1);
  root.CreateStream(QStringLiteral("Empty"));
  root.CreateStream(QStringLiteral("Big")) = Pattern(10000, 2);
  root.CreateStream(QStringLiteral("Edge4095")) = Pattern(4095, 3);
  root.CreateStream(QStringLiteral("Edge4096")) = Pattern(4096, 4);
  root.CreateStream(QStringLiteral("Edge4097")) = Pattern(4097, 5);
  CompoundStorage& child = root.CreateStorage(QStringLiteral("000"));
  child.CreateStream(QStringLiteral("Object")) = Pattern(300, 6);
  CompoundStorage& grandChild = child.CreateStorage(QStringLiteral("000"));
  grandChild.CreateStream(QStringLiteral("Object")) = Pattern(5000, 7);
  grandChild.CreateStorage(QStringLiteral("Пусто"));
  CompoundStorage& cyr = root.CreateStorage(QStringLiteral("Канал"));
  cyr.CreateStream(kLongCyrillic) = QStringLiteral("Значение").toUtf8();
  cyr.CreateStream(QStringLiteral("Объект")) = Pattern(20000, 8);
  return f;
}

// Why the independent reader cannot run here, or empty when it can.
QString OlefileMissing() {
  static const QString why = [] {
    if (!QFileInfo(QStringLiteral("/usr/bin/python3")).isExecutable())
      return QStringLiteral("/usr/bin/python3 is missing (scripts/deps installs it)");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QStringLiteral("import olefile")});
    if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0)
      return QStringLiteral(
          "python3 has no olefile module (Debian package python3-olefile, see scripts/deps)");
    return QString();
  }();
  return why;
}

// The tree as the independent reader (Debian's python3-olefile) sees it.
TTreeMap ReadWithOlefile(const QString& path) {
  const QString script = QStringLiteral(
      "import sys, json, olefile\n"
      "ole = olefile.OleFileIO(sys.argv[1])\n"
      "out = {}\n"
      "for e in ole.listdir(streams=True, storages=True):\n"
      "    p = '/'.join(e)\n"
      "    out[p] = None if ole.get_type(e) == olefile.STGTY_STORAGE else ole.openstream(e).read().hex()\n"
      "print(json.dumps(out))\n");
  QProcess python;
  python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
  EXPECT_TRUE(python.waitForFinished(60000));
  EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  TTreeMap out;
  const QJsonObject o = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
  for (auto it = o.begin(); it != o.end(); ++it)
    out[it.key()] =
        it->isNull() ? std::nullopt : std::optional(QByteArray::fromHex(it->toString().toLatin1()));
  return out;
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

quint32 Le32(const QByteArray& b, qsizetype at) {
  quint32 v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uchar>(b[at + i]);
  return v;
}

void SetLe32(QByteArray& b, qsizetype at, quint32 v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void SetLe16(QByteArray& b, qsizetype at, quint16 v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

// Offset of a directory entry in a 512-byte-sector file whose directory is one run of sectors
// (true of the small files written here).
qsizetype EntryOffset(const QByteArray& b, int entry) {
  return (Le32(b, 0x30) + 1) * 512 + entry * 128;
}

int FindEntry(const QByteArray& b, const QString& name) {
  const QByteArray utf16(reinterpret_cast<const char*>(name.utf16()), name.size() * 2);
  for (int e = 0; EntryOffset(b, e) + 128 <= b.size(); ++e)
    if (b.mid(EntryOffset(b, e), utf16.size()) == utf16 && b[EntryOffset(b, e) + utf16.size()] == 0) return e;
  return -1;
}

// A hand-made file in the format: one FAT sector area, the directory, then stream sectors. Every
// entry is given by its links, so a test can build trees the library would never write. `place`,
// when given, puts the k-th stream sector (in entry order) in slot place[k] of the stream area, so
// that chains can jump back and forth.
struct THandEntry {
  QString Name;
  uchar Type = 2;
  quint32 Left = 0xFFFFFFFF, Right = 0xFFFFFFFF, Child = 0xFFFFFFFF;
  QByteArray Data;  // streams of 4096 bytes or more (big blocks), or empty
};

QByteArray BuildByHand(std::vector<THandEntry> entries, const std::vector<int>& place = {}) {
  const int dirSectors = static_cast<int>((entries.size() + 3) / 4);
  int dataSectors = 0;
  for (const auto& e : entries) dataSectors += static_cast<int>((e.Data.size() + 511) / 512);
  int fatSectors = 1;
  while (fatSectors * 128 < fatSectors + dirSectors + dataSectors) ++fatSectors;
  if (fatSectors > 109) return {};
  const int total = fatSectors + dirSectors + dataSectors;
  QByteArray file((1 + total) * 512, '\0');
  const char sig[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  file.replace(0, 8, QByteArray(sig, 8));
  SetLe16(file, 0x18, 0x3E);
  SetLe16(file, 0x1A, 3);
  SetLe16(file, 0x1C, 0xFFFE);
  SetLe16(file, 0x1E, 9);
  SetLe16(file, 0x20, 6);
  SetLe32(file, 0x2C, static_cast<quint32>(fatSectors));
  SetLe32(file, 0x30, static_cast<quint32>(fatSectors));
  SetLe32(file, 0x38, 4096);
  SetLe32(file, 0x3C, 0xFFFFFFFE);
  SetLe32(file, 0x44, 0xFFFFFFFE);
  for (int i = 0; i < 109; ++i)
    SetLe32(file, 0x4C + 4 * i, i < fatSectors ? static_cast<quint32>(i) : 0xFFFFFFFF);
  auto fat = [&](int sector, quint32 next) { SetLe32(file, 512 + sector * 4, next); };
  for (int i = 0; i < fatSectors * 128; ++i) fat(i, 0xFFFFFFFF);
  for (int i = 0; i < fatSectors; ++i) fat(i, 0xFFFFFFFD);
  for (int i = 0; i < dirSectors; ++i)
    fat(fatSectors + i, i + 1 < dirSectors ? fatSectors + i + 1 : 0xFFFFFFFE);
  auto slot = [&](int k) {
    return static_cast<quint32>(fatSectors + dirSectors +
                                (place.empty() ? k : place[static_cast<size_t>(k)]));
  };
  int logical = 0;
  for (size_t n = 0; n < entries.size(); ++n) {
    const THandEntry& e = entries[n];
    const qsizetype at = (1 + fatSectors) * 512 + static_cast<qsizetype>(n) * 128;
    const QByteArray name(reinterpret_cast<const char*>(e.Name.utf16()), e.Name.size() * 2);
    file.replace(at, name.size(), name);
    SetLe16(file, at + 0x40, static_cast<quint16>(name.size() + 2));
    file[at + 0x42] = static_cast<char>(e.Type);
    file[at + 0x43] = 1;
    SetLe32(file, at + 0x44, e.Left);
    SetLe32(file, at + 0x48, e.Right);
    SetLe32(file, at + 0x4C, e.Child);
    SetLe32(file, at + 0x74, e.Data.isEmpty() ? 0xFFFFFFFE : slot(logical));
    SetLe32(file, at + 0x78, static_cast<quint32>(e.Data.size()));
    const int sectors = static_cast<int>((e.Data.size() + 511) / 512);
    for (int k = 0; k < sectors; ++k) {
      const QByteArray piece = e.Data.mid(k * 512, 512);
      file.replace((1 + slot(logical + k)) * 512, piece.size(), piece);
      fat(static_cast<int>(slot(logical + k)), k + 1 < sectors ? slot(logical + k + 1) : 0xFFFFFFFE);
    }
    logical += sectors;
  }
  return file;
}

// A tree as libgsf's writer, an implementation independent of ours, writes it with the given
// sector size.
struct TGObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using TGPtr = std::unique_ptr<T, TGObjectUnref>;

void WriteGsfLevel(GsfOutfile* out, const CompoundStorage& s) {
  for (const QString& name : s.StorageNames()) {
    TGPtr<GsfOutput> child(gsf_outfile_new_child(out, name.toUtf8().constData(), TRUE));
    WriteGsfLevel(GSF_OUTFILE(child.get()), *s.OpenStorage(name));
    gsf_output_close(child.get());
  }
  for (const QString& name : s.StreamNames()) {
    TGPtr<GsfOutput> child(gsf_outfile_new_child(out, name.toUtf8().constData(), FALSE));
    const QByteArray& data = s.Stream(name);
    gsf_output_write(child.get(), static_cast<size_t>(data.size()),
                     reinterpret_cast<const guint8*>(data.constData()));
    gsf_output_close(child.get());
  }
}

QByteArray WriteWithGsf(const CompoundStorage& root, guint sectorSize) {
  static const bool initialised = (gsf_init(), true);
  Q_UNUSED(initialised);
  TGPtr<GsfOutput> sink(gsf_output_memory_new());
  {
    TGPtr<GsfOutfile> ole(gsf_outfile_msole_new_full(sink.get(), sectorSize, 64));
    if (!ole) return {};
    WriteGsfLevel(ole.get(), root);
    if (!gsf_output_close(GSF_OUTPUT(ole.get()))) return {};
  }
  const guint8* bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
  return QByteArray(reinterpret_cast<const char*>(bytes),
                    static_cast<qsizetype>(gsf_output_size(sink.get())));
}

// Offset of the directory entry named `name` in the first directory sector of a file.
qsizetype EntryInFirstDirectorySector(const QByteArray& b, const QString& name) {
  const qsizetype sectorSize = qsizetype{1} << (static_cast<uchar>(b[0x1E]));
  const qsizetype first = (Le32(b, 0x30) + 1) * sectorSize;
  const QByteArray utf16(reinterpret_cast<const char*>(name.utf16()), name.size() * 2);
  for (qsizetype at = first; at + 128 <= first + sectorSize && at + 128 <= b.size(); at += 128)
    if (b.mid(at, utf16.size()) == utf16 && b[at + utf16.size()] == 0) return at;
  return -1;
}

// Makes a folder refuse new files, also for root (through the immutable flag), while it lives.
// Saves with the process's file-size limit lowered to `limit` bytes, writes past it failing with
// EFBIG instead of a signal; the limit is put back before returning.
bool SaveUnderSizeLimit(CompoundFile& file, const QString& path, rlim_t limit, QString* error) {
  rlimit saved{};
  if (::getrlimit(RLIMIT_FSIZE, &saved) != 0) {
    ADD_FAILURE() << "getrlimit failed";
    return true;
  }
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = limit;
  bool written = true;
  if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
    ADD_FAILURE() << "setrlimit failed";
  else
    written = file.Save(path, error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  return written;
}

class TReadOnlyFolder {
 public:
  explicit TReadOnlyFolder(const QString& path) : path_(QFile::encodeName(path)) {
    ::chmod(path_.constData(), 0555);
    if (AcceptsNewFiles()) SetImmutable(true);
  }
  ~TReadOnlyFolder() {
    if (immutable_) SetImmutable(false);
    ::chmod(path_.constData(), 0755);
  }
  bool AcceptsNewFiles() const {
    const QByteArray probe = path_ + "/probe";
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
  }

 private:
  void SetImmutable(bool on) {
    const int fd = ::open(path_.constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0) immutable_ = on;
    }
    ::close(fd);
  }
  QByteArray path_;
  bool immutable_ = false;
};

QStringList FolderEntries(const QString& path) {
  return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

TEST(CompoundFileTest, RoundTripKeepsNestedStoragesAndStreams) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("NET.cfg"));
  const auto original = SampleFile();
  QString error;
  ASSERT_TRUE(original->Save(path, &error)) << error.toStdString();

  const auto loaded = CompoundFile::Open(path, &error);
  ASSERT_TRUE(loaded) << error.toStdString();
  EXPECT_EQ(Describe(*loaded), Describe(*original));
  EXPECT_EQ(loaded->Root().OpenStorage(QStringLiteral("Канал"))->Stream(kLongCyrillic),
            QStringLiteral("Значение").toUtf8());
  EXPECT_TRUE(loaded->Root()
                  .OpenStorage(QStringLiteral("000"))
                  ->OpenStorage(QStringLiteral("000"))
                  ->HasStorage(QStringLiteral("Пусто")));

  // A reloaded file saves to the same content again.
  const auto again = loaded->ToBytes();
  ASSERT_TRUE(again);
  const auto reloaded = CompoundFile::OpenBytes(*again);
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(Describe(*reloaded), Describe(*original));
}

TEST(CompoundFileTest, IndependentReaderSeesTheSameTree) {
  if (const QString why = OlefileMissing(); !why.isEmpty()) GTEST_SKIP() << why.toStdString();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("TASKS.cfg"));
  const auto original = SampleFile();
  ASSERT_TRUE(original->Save(path));
  EXPECT_EQ(ReadWithOlefile(path), Describe(*original));
}

TEST(CompoundFileTest, IndependentReaderFindsEveryOneOfManySiblings) {
  // 200 siblings: a sibling tree eight levels deep whose deepest level is red. The reader finds
  // a storage's children only by walking that tree, so a broken link loses some of them.
  if (const QString why = OlefileMissing(); !why.isEmpty()) GTEST_SKIP() << why.toStdString();
  auto f = CompoundFile::Create();
  for (int i = 0; i < 200; ++i) {
    const QString name = i % 2 ? QStringLiteral("Канал%1").arg(i * 37 % 1000) : QStringLiteral("r%1").arg(i);
    const int sizes[] = {0, 1, 63, 64, 4095, 4096, 9000};
    if (i % 10 == 3) {
      CompoundStorage& s = f->Root().CreateStorage(name);
      s.CreateStream(QStringLiteral("Object")) = Pattern(sizes[i % 7] + i, i);
    } else {
      f->Root().CreateStream(name) = Pattern(sizes[i % 7], i);
    }
  }
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("NET.cfg"));
  QString error;
  ASSERT_TRUE(f->Save(path, &error)) << error.toStdString();
  const TTreeMap seen = ReadWithOlefile(path);
  EXPECT_EQ(seen.size(), 220u);
  EXPECT_EQ(seen, Describe(*f));
}

TEST(CompoundFileTest, ReadsFilesNotWrittenByItself) {
  // Root -> storage "A" -> big stream "S", with a second stream "T" as A's left sibling: a
  // balanced-tree layout of the kind other writers produce.
  const QByteArray big = Pattern(5000, 9);
  const QByteArray file = BuildByHand({
      {QStringLiteral("Root Entry"), 5, 0xFFFFFFFF, 0xFFFFFFFF, 1, {}},
      {QStringLiteral("A"), 1, 3, 0xFFFFFFFF, 2, {}},
      {QStringLiteral("S"), 2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, big},
      {QStringLiteral("T"), 2, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, {}},
  });
  QString error;
  const auto f = CompoundFile::OpenBytes(file, &error);
  ASSERT_TRUE(f) << error.toStdString();
  const TTreeMap expected{
      {QStringLiteral("A"), std::nullopt}, {QStringLiteral("A/S"), big}, {QStringLiteral("T"), QByteArray()}};
  EXPECT_EQ(Describe(*f), expected);
}

TEST(CompoundFileTest, ChildrenJoinInTheOrderOfTheirSiblingTree) {
  // Entries stored out of name order. Below the root:      C           and below X:    2
  //                                                      B   DD                       1   10
  //                                                     A   X
  constexpr quint32 no = 0xFFFFFFFF;
  const QByteArray file = BuildByHand({
      {QStringLiteral("Root Entry"), 5, no, no, 3, {}},
      {QStringLiteral("B"), 2, 2, no, no, {}},
      {QStringLiteral("A"), 2, no, no, no, {}},
      {QStringLiteral("C"), 2, 1, 4, no, {}},
      {QStringLiteral("DD"), 2, 5, no, no, {}},
      {QStringLiteral("X"), 1, no, no, 6, {}},
      {QStringLiteral("2"), 1, 7, 8, no, {}},
      {QStringLiteral("1"), 1, no, no, no, {}},
      {QStringLiteral("10"), 1, no, no, no, {}},
  });
  QString error;
  const auto f = CompoundFile::OpenBytes(file, &error);
  ASSERT_TRUE(f) << error.toStdString();
  EXPECT_EQ(f->Root().StreamNames(), (QStringList{QStringLiteral("A"), QStringLiteral("B"),
                                                  QStringLiteral("C"), QStringLiteral("DD")}));
  EXPECT_EQ(f->Root().StorageNames(), QStringList{QStringLiteral("X")});
  EXPECT_EQ(f->Root().OpenStorage(QStringLiteral("X"))->StorageNames(),
            (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("10")}));
}

TEST(CompoundFileTest, FragmentedChainsReadTheSameFromFileAndMemory) {
  // A and B alternate in runs of one, two and three sectors; C lies backwards in pairs. Every
  // chain jumps, and every run of neighbouring sectors ends where the next sector of another
  // stream begins.
  const QByteArray a = Pattern(9 * 512 + 17, 11);  // 10 sectors: 0..9
  const QByteArray b = Pattern(9 * 512, 12);       // 9 sectors: 10..18
  const QByteArray c = Pattern(12 * 512 - 1, 13);  // 12 sectors: 19..30
  std::vector<int> order;                          // the sector in each slot
  for (int ai = 0, bi = 0, run = 1; ai < 10 || bi < 9; run = run % 3 + 1) {
    for (int k = 0; k < run && ai < 10; ++k) order.push_back(ai++);
    for (int k = 0; k < run && bi < 9; ++k) order.push_back(10 + bi++);
  }
  for (int k = 10; k >= 0; k -= 2) order.insert(order.end(), {19 + k, 20 + k});
  std::vector<int> place(order.size());
  for (size_t slot = 0; slot < order.size(); ++slot)
    place[static_cast<size_t>(order[slot])] = static_cast<int>(slot);
  constexpr quint32 no = 0xFFFFFFFF;
  const QByteArray file = BuildByHand({{QStringLiteral("Root Entry"), 5, no, no, 2, {}},
                                       {QStringLiteral("A"), 2, no, no, no, a},
                                       {QStringLiteral("B"), 2, 1, 3, no, b},
                                       {QStringLiteral("C"), 2, no, no, no, c}},
                                      place);
  ASSERT_FALSE(file.isEmpty());
  const TTreeMap expected{{QStringLiteral("A"), a}, {QStringLiteral("B"), b}, {QStringLiteral("C"), c}};

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("FRAGMENTED.cfg"));
  WriteFile(path, file);
  QString error;
  const auto fromMemory = CompoundFile::OpenBytes(file, &error);
  ASSERT_TRUE(fromMemory) << error.toStdString();
  EXPECT_EQ(Describe(*fromMemory), expected);
  const auto fromFile = CompoundFile::Open(path, &error);
  ASSERT_TRUE(fromFile) << error.toStdString();
  EXPECT_EQ(Describe(*fromFile), expected);
}

TEST(CompoundFileTest, MissingForeignAndDamagedFilesGiveAnError) {
  QTemporaryDir dir;
  QString error;
  EXPECT_FALSE(CompoundFile::Open(dir.filePath(QStringLiteral("none.cfg")), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("does not exist")));
  EXPECT_FALSE(CompoundFile::Open(dir.path(), &error));

  const QString text = dir.filePath(QStringLiteral("text.cfg"));
  WriteFile(text, "object NET: TRootNode\r\nend\r\n");
  error.clear();
  EXPECT_FALSE(CompoundFile::Open(text, &error));
  EXPECT_FALSE(error.isEmpty());

  const QByteArray valid = *SampleFile()->ToBytes();
  auto expectRefused = [&](const QByteArray& bytes, const char* what) {
    QString why;
    EXPECT_FALSE(CompoundFile::OpenBytes(bytes, &why)) << what;
    EXPECT_FALSE(why.isEmpty()) << what;
  };
  expectRefused(QByteArray(), "empty");
  expectRefused(valid.left(512), "header only");
  expectRefused(valid.left(valid.size() / 2), "half");

  QByteArray lie = valid;
  SetLe32(lie, 0x2C, 0xFFFFFFFF);  // allocation table sectors
  expectRefused(lie, "allocation table larger than the file");
  lie = valid;
  SetLe32(lie, 0x30, 0x7FFFFFF0);  // directory start
  expectRefused(lie, "directory outside the file");

  const int big = FindEntry(valid, QStringLiteral("Big"));
  ASSERT_GT(big, 0);
  lie = valid;
  SetLe32(lie, EntryOffset(lie, big) + 0x78, static_cast<quint32>(lie.size()));
  expectRefused(lie, "stream longer than its chain");
  lie = valid;
  SetLe32(lie, EntryOffset(lie, big) + 0x78, 0xFFFFFFF0);
  expectRefused(lie, "stream size beyond the file");
  lie = valid;
  const quint32 start = Le32(lie, EntryOffset(lie, big) + 0x74);
  SetLe32(lie, (Le32(lie, 0x4C) + 1) * 512 + 4 * start, start);
  expectRefused(lie, "stream chain loops");
  lie = valid;
  SetLe32(lie, EntryOffset(lie, big) + 0x44, 0);  // links back to the root
  expectRefused(lie, "directory cycle");
  lie = valid;
  SetLe32(lie, EntryOffset(lie, big) + 0x44, static_cast<quint32>(big));
  expectRefused(lie, "entry links to itself");

  // Cut anywhere: an error or, should the cut miss everything, the same tree, never other data.
  const TTreeMap whole = Describe(*CompoundFile::OpenBytes(valid));
  int refused = 0;
  for (qsizetype cut = 0; cut < valid.size(); cut += 61) {
    QString why;
    const auto f = CompoundFile::OpenBytes(valid.left(cut), &why);
    if (f) {
      EXPECT_EQ(Describe(*f), whole) << cut;
    } else {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);

  // Noise, with and without a sound header in front: never a crash.
  QRandomGenerator random(7);
  for (int i = 0; i < 200; ++i) {
    QByteArray noise(static_cast<qsizetype>(random.bounded(4096)), Qt::Uninitialized);
    for (auto& c : noise) c = static_cast<char>(random.bounded(256));
    if (i % 2) noise = valid.left(512) + noise;
    QString why;
    if (!CompoundFile::OpenBytes(noise, &why)) {
      EXPECT_FALSE(why.isEmpty());
    }
  }
}

TEST(CompoundFileTest, DamagedChainsAndEntriesAreRefused) {
  auto expectRefused = [&](const QByteArray& bytes, const char* what) {
    QString why;
    EXPECT_FALSE(CompoundFile::OpenBytes(bytes, &why)) << what;
    EXPECT_FALSE(why.isEmpty()) << what;
  };
  const QByteArray valid = *SampleFile()->ToBytes();
  ASSERT_TRUE(CompoundFile::OpenBytes(valid));
  const qsizetype root = EntryOffset(valid, 0);
  const qsizetype big = EntryOffset(valid, FindEntry(valid, QStringLiteral("Big")));
  const qsizetype small = EntryOffset(valid, FindEntry(valid, QStringLiteral("Edge4095")));
  auto fatAt = [&](quint32 sector) { return 512 + 4 * static_cast<qsizetype>(sector); };  // one FAT sector
  auto miniFatAt = [&](quint32 mini) {
    return (Le32(valid, 0x3C) + 1) * 512 + 4 * static_cast<qsizetype>(mini);
  };
  const quint32 bigStart = Le32(valid, big + 0x74);
  const quint32 smallStart = Le32(valid, small + 0x74);
  ASSERT_EQ(Le32(valid, 0x2C), 1u);

  QByteArray lie = valid;
  SetLe32(lie, fatAt(bigStart + 2), 0xFFFFFFFF);
  expectRefused(lie, "stream chain runs into a free sector");
  lie = valid;
  SetLe32(lie, fatAt(bigStart + 2), static_cast<quint32>(valid.size() / 512));
  expectRefused(lie, "stream chain past the end of the file");
  lie = valid;
  SetLe32(lie, fatAt(bigStart + 5), bigStart + 1);
  expectRefused(lie, "stream chain loops back");

  // The mini stream: its own chain, the small streams' chains in the mini table, its size.
  lie = valid;
  SetLe32(lie, miniFatAt(smallStart + 3), smallStart + 1);
  expectRefused(lie, "mini chain loops");
  lie = valid;
  SetLe32(lie, miniFatAt(smallStart + 3), 0xFFFFFFFE);
  expectRefused(lie, "mini chain cut short");
  lie = valid;
  SetLe32(lie, small + 0x74, 0x00FFFFFF);
  expectRefused(lie, "small stream starts beyond the mini stream");
  lie = valid;
  SetLe32(lie, root + 0x78, 64);
  expectRefused(lie, "mini stream smaller than its streams");
  lie = valid;
  SetLe32(lie, root + 0x78, static_cast<quint32>(valid.size() - 1));
  expectRefused(lie, "mini stream longer than its chain");
  lie = valid;
  SetLe32(lie, 0x3C, 0xFFFFFFFE);
  expectRefused(lie, "no mini allocation table");

  // Entries: names, types and links.
  for (quint16 length : {0, 7, 66, 64}) {
    lie = valid;
    SetLe16(lie, big + 0x40, length);
    expectRefused(lie, qPrintable(QStringLiteral("name length %1").arg(length)));
  }
  lie = valid;
  SetLe16(lie, big + 2, '/');
  expectRefused(lie, "name with a slash");
  for (const QString& clash : {QStringLiteral("Empty"), QStringLiteral("EMPTY")}) {
    lie = valid;
    lie.replace(big, clash.size() * 2, reinterpret_cast<const char*>(clash.utf16()), clash.size() * 2);
    SetLe16(lie, big + 0x40, static_cast<quint16>(clash.size() * 2 + 2));
    expectRefused(lie, qPrintable(QStringLiteral("two siblings named %1 and Empty").arg(clash)));
  }
  for (uchar type : {0, 3, 4, 5, 6}) {
    lie = valid;
    lie[big + 0x42] = static_cast<char>(type);
    expectRefused(lie, qPrintable(QStringLiteral("entry type %1").arg(type)));
  }
  lie = valid;
  SetLe32(lie, big + 0x4C, 1);
  expectRefused(lie, "stream with children");
  lie = valid;
  SetLe32(lie, big + 0x48, 100000);
  expectRefused(lie, "sibling link out of range");

  // Streams that each fit in the file, but share one chain and together claim more than it has.
  constexpr quint32 no = 0xFFFFFFFF;
  QByteArray shared = BuildByHand({{QStringLiteral("Root Entry"), 5, no, no, 1, {}},
                                   {QStringLiteral("S"), 2, no, 2, no, Pattern(5000, 1)},
                                   {QStringLiteral("T"), 2, no, 3, no, {}},
                                   {QStringLiteral("U"), 2, no, no, no, {}}});
  ASSERT_TRUE(CompoundFile::OpenBytes(shared));
  for (int e : {2, 3}) {
    SetLe32(shared, EntryOffset(shared, e) + 0x74, Le32(shared, EntryOffset(shared, 1) + 0x74));
    SetLe32(shared, EntryOffset(shared, e) + 0x78, 5000);
  }
  expectRefused(shared, "stream sizes together past the file");

  // Two chains that cross, with sizes that still fit: T starts inside S's chain.
  QByteArray crossing = BuildByHand({{QStringLiteral("Root Entry"), 5, no, no, 1, {}},
                                     {QStringLiteral("S"), 2, no, 2, no, Pattern(5000, 1)},
                                     {QStringLiteral("T"), 2, no, 3, no, {}},
                                     {QStringLiteral("W"), 2, no, no, no, Pattern(40000, 2)}});
  SetLe32(crossing, EntryOffset(crossing, 1) + 0x78, 4096);
  SetLe32(crossing, EntryOffset(crossing, 3) + 0x78, 30000);
  ASSERT_TRUE(CompoundFile::OpenBytes(crossing));
  SetLe32(crossing, EntryOffset(crossing, 2) + 0x74, Le32(crossing, EntryOffset(crossing, 1) + 0x74) + 2);
  SetLe32(crossing, EntryOffset(crossing, 2) + 0x78, 4096);
  expectRefused(crossing, "chains cross");

  // One storage with a child too many, in a shallow tree, so that only the count is wrong.
  for (quint32 count : {CompoundFile::kMaxChildren, CompoundFile::kMaxChildren + 1}) {
    std::vector<THandEntry> wide(count + 1);
    std::function<quint32(quint32, quint32)> balance = [&](quint32 lo, quint32 hi) {
      if (lo >= hi) return no;
      const quint32 mid = lo + (hi - lo) / 2;
      wide[mid] = {QString::number(mid), 2, balance(lo, mid), balance(mid + 1, hi), no, {}};
      return mid;
    };
    wide[0] = {QStringLiteral("Root Entry"), 5, no, no, balance(1, count + 1), {}};
    QString why;
    const auto f = CompoundFile::OpenBytes(BuildByHand(wide), &why);
    EXPECT_EQ(f != nullptr, count == static_cast<quint32>(CompoundFile::kMaxChildren))
        << count << why.toStdString();
  }
}

TEST(CompoundFileTest, HugeDirectoryIsRefusedQuickly) {
  // 50000 siblings in one line: past the number of children one storage may have and the depth
  // of links a file may have, so refused early rather than read at length.
  std::vector<THandEntry> entries(50001);
  entries[0] = {QStringLiteral("Root Entry"), 5, 0xFFFFFFFF, 0xFFFFFFFF, 1, {}};
  for (quint32 i = 1; i < entries.size(); ++i)
    entries[i] = {QString::number(i), 2, 0xFFFFFFFF, i + 1 < entries.size() ? i + 1 : 0xFFFFFFFF,
                  0xFFFFFFFF,         {}};
  // 2000 steps down one line of nested storages, each holding ten siblings before the next.
  std::vector<THandEntry> deep(1);
  deep[0] = {QStringLiteral("Root Entry"), 5, 0xFFFFFFFF, 0xFFFFFFFF, 1, {}};
  for (quint32 level = 0; level < 2000; ++level) {
    const quint32 first = static_cast<quint32>(deep.size());
    for (quint32 k = 0; k < 10; ++k)
      deep.push_back({QString::number(k),
                      static_cast<uchar>(k == 9 ? 1 : 2),
                      0xFFFFFFFF,
                      k < 9 ? first + k + 1 : 0xFFFFFFFF,
                      k == 9 && level < 1999 ? first + 10 : 0xFFFFFFFF,
                      {}});
  }
  for (const auto& tree : {entries, deep}) {
    const QByteArray file = BuildByHand(tree);
    ASSERT_FALSE(file.isEmpty());
    const auto started = std::chrono::steady_clock::now();
    QString why;
    EXPECT_FALSE(CompoundFile::OpenBytes(file, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
}

TEST(CompoundFileTest, SaveReplacesAnExistingFileWhole) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("NET.cfg"));
  ASSERT_TRUE(SampleFile()->Save(path));
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

  auto smaller = CompoundFile::Create();
  smaller->Root().CreateStream(QStringLiteral("Object")) = "new";
  ASSERT_TRUE(smaller->Save(path));
  const auto loaded = CompoundFile::Open(path);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Describe(*loaded), Describe(*smaller));
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("NET.cfg")});

  // A file that is not a compound file is replaced too; a link keeps pointing at the new file.
  const QString foreign = dir.filePath(QStringLiteral("SETUP.cfg"));
  WriteFile(foreign, "not a compound file");
  const QString link = dir.filePath(QStringLiteral("link.cfg"));
  ASSERT_TRUE(QFile::link(foreign, link));
  ASSERT_TRUE(smaller->Save(link));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_TRUE(CompoundFile::IsStorageFile(foreign));
}

TEST(CompoundFileTest, FailedSaveLeavesTheOldFileAndNoTemporary) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("REPORTS.cfg"));
  auto old = CompoundFile::Create();
  old->Root().CreateStream(QStringLiteral("Object")) = "old";
  ASSERT_TRUE(old->Save(path));
  const QByteArray before = ReadFile(path);
  const auto bigger = SampleFile();
  QString error;

  // A write cut short (here by a file-size limit) is the same as a crash in the middle of a save.
  EXPECT_FALSE(SaveUnderSizeLimit(*bigger, path, 4096, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("REPORTS.cfg")});

  EXPECT_FALSE(bigger->Save(dir.path(), &error));  // onto a folder
  EXPECT_FALSE(bigger->Save(dir.filePath(QStringLiteral("no/such/folder.cfg")), &error));

  TReadOnlyFolder readOnly(dir.path());
  if (readOnly.AcceptsNewFiles()) GTEST_SKIP() << "cannot make a folder read-only here";
  error.clear();
  EXPECT_FALSE(bigger->Save(path, &error));
  EXPECT_TRUE(error.contains(dir.path())) << error.toStdString();
  EXPECT_EQ(ReadFile(path), before);
}

TEST(CompoundFileTest, IsStorageFileChecksTheHeader) {
  QTemporaryDir dir;
  const QString good = dir.filePath(QStringLiteral("good.cfg"));
  ASSERT_TRUE(SampleFile()->Save(good));
  EXPECT_TRUE(CompoundFile::IsStorageFile(good));
  EXPECT_FALSE(CompoundFile::IsStorageFile(QStringLiteral("/dev/null")));
  EXPECT_FALSE(CompoundFile::IsStorageFile(dir.filePath(QStringLiteral("none.cfg"))));
  EXPECT_FALSE(CompoundFile::IsStorageFile(dir.path()));

  const QByteArray bytes = ReadFile(good);
  auto check = [&](const QByteArray& content) {
    const QString p = dir.filePath(QStringLiteral("probe.cfg"));
    WriteFile(p, content);
    return CompoundFile::IsStorageFile(p);
  };
  EXPECT_FALSE(check(QByteArray()));
  EXPECT_FALSE(check(bytes.left(512)));  // a header with nothing behind it
  QByteArray wrong = bytes;
  wrong[0] = 'X';
  EXPECT_FALSE(check(wrong));
  wrong = bytes;
  SetLe16(wrong, 0x1E, 7);  // sector size not allowed for the version
  EXPECT_FALSE(check(wrong));
  EXPECT_TRUE(check(bytes));
}

TEST(CompoundFileTest, NamesFollowTheFormat) {
  auto f = CompoundFile::Create();
  CompoundStorage& root = f->Root();
  EXPECT_NO_THROW(root.CreateStream(kLongCyrillic));
  EXPECT_THROW(root.CreateStream(kLongCyrillic + QLatin1Char('x')), ECompoundFileError);
  EXPECT_THROW(root.CreateStorage(QString(32, QLatin1Char('a'))), ECompoundFileError);
  EXPECT_THROW(root.CreateStream(QString()), ECompoundFileError);
  for (const char* bad : {"a/b", "a\\b", "a:b", "a!b"})
    EXPECT_THROW(root.CreateStream(QString::fromLatin1(bad)), ECompoundFileError) << bad;

  // Names are looked up exactly, but siblings may not differ in letter case alone, nor may a
  // stream and a storage share a name: the file would hold two entries readers cannot tell apart.
  root.CreateStream(QStringLiteral("Object")) = "x";
  EXPECT_FALSE(root.HasStream(QStringLiteral("OBJECT")));
  EXPECT_THROW(root.CreateStream(QStringLiteral("OBJECT")), ECompoundFileError);
  EXPECT_THROW(root.CreateStorage(QStringLiteral("Object")), ECompoundFileError);
  root.CreateStorage(QStringLiteral("канал"));
  EXPECT_THROW(root.CreateStream(QStringLiteral("КАНАЛ")), ECompoundFileError);
  EXPECT_EQ(root.StreamNames(), (QStringList{kLongCyrillic, QStringLiteral("Object")}));
  EXPECT_EQ(root.Stream(QStringLiteral("Object")), "x");
}

TEST(CompoundFileTest, StoragesAreEditedInPlace) {
  auto f = CompoundFile::Create();
  CompoundStorage& root = f->Root();
  QByteArray& first = root.CreateStream(QStringLiteral("000"));
  first = "first";
  for (int i = 1; i < 200; ++i) root.CreateStream(QString::number(i));
  EXPECT_EQ(first, "first");  // references survive later insertions
  QByteArray& again = root.CreateStream(QStringLiteral("000"));
  EXPECT_EQ(&again, &first);
  EXPECT_TRUE(again.isEmpty());
  EXPECT_EQ(root.StreamNames().first(), QStringLiteral("000"));

  CompoundStorage& a = root.CreateStorage(QStringLiteral("A"));
  a.CreateStorage(QStringLiteral("B")).CreateStream(QStringLiteral("Object")) = "b";
  a.CreateStream(QStringLiteral("Object")) = "a";
  CompoundStorage& replaced = root.CreateStorage(QStringLiteral("A"));
  EXPECT_EQ(&replaced, &a);
  EXPECT_TRUE(replaced.StorageNames().isEmpty());
  EXPECT_TRUE(replaced.StreamNames().isEmpty());

  EXPECT_TRUE(root.RemoveStream(QStringLiteral("5")));
  EXPECT_FALSE(root.RemoveStream(QStringLiteral("5")));
  EXPECT_FALSE(root.RemoveStorage(QStringLiteral("6")));  // a stream, not a storage
  EXPECT_TRUE(root.RemoveStorage(QStringLiteral("A")));
  EXPECT_EQ(root.OpenStorage(QStringLiteral("A")), nullptr);
  EXPECT_THROW(root.Stream(QStringLiteral("5")), ECompoundFileError);
  EXPECT_EQ(root.StreamNames().size(), 199);
}

TEST(CompoundFileTest, NameLookupsHoldForFewAndManyChildren) {
  // A storage keeps its first children in a short list and moves them to a hash when more
  // arrive: lookups, clash checks and removal work the same on both sides of that step.
  auto f = CompoundFile::Create();
  CompoundStorage& root = f->Root();
  auto name = [](int i) { return QStringLiteral("Канал%1").arg(i); };
  auto checkAll = [&](int count, const char* when) {
    for (int k = 0; k < count; ++k) {
      EXPECT_TRUE(k % 2 ? root.HasStorage(name(k)) : root.HasStream(name(k))) << when << k;
      EXPECT_FALSE(k % 2 ? root.HasStream(name(k)) : root.HasStorage(name(k))) << when << k;
      EXPECT_THROW(root.CreateStream(name(k).toUpper()), ECompoundFileError) << when << k;
    }
    EXPECT_FALSE(root.HasStream(name(count))) << when;
  };
  for (int i = 0; i < 40; ++i) {
    if (i % 2)
      root.CreateStorage(name(i));
    else
      root.CreateStream(name(i)) = QByteArray::number(i);
    checkAll(i + 1, "growing");
  }
  for (int i = 39; i >= 0; --i) {
    EXPECT_TRUE(i % 2 ? root.RemoveStorage(name(i)) : root.RemoveStream(name(i)));
    EXPECT_FALSE(root.HasStorage(name(i)) || root.HasStream(name(i)));
    root.CreateStream(name(i).toUpper());  // the removed name is free again
    EXPECT_TRUE(root.RemoveStream(name(i).toUpper()));
    checkAll(i, "shrinking");
  }
  for (int i = 0; i < 20; ++i) root.CreateStream(name(2 * i));
  checkAll(1, "grown again");
  EXPECT_EQ(root.StreamNames().size(), 20);
  EXPECT_EQ(root.Stream(name(38)), QByteArray());
}

TEST(CompoundFileTest, LargeStoragesRoundTripUpToTheLimit) {
  // 1001 children, the last named "1000", come back complete.
  auto f = CompoundFile::Create();
  for (int i = 0; i <= 1000; ++i)
    f->Root()
        .CreateStorage(QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')))
        .CreateStream(QStringLiteral("Object")) = QByteArray::number(i);
  const auto bytes = f->ToBytes();
  ASSERT_TRUE(bytes);
  const auto loaded = CompoundFile::OpenBytes(*bytes);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Describe(*loaded), Describe(*f));
  EXPECT_EQ(loaded->Root().OpenStorage(QStringLiteral("1000"))->Stream(QStringLiteral("Object")), "1000");

  // A storage with as many children as a file may hold is written and read back; one more is
  // refused rather than written into a file that could not be opened again.
  auto wide = CompoundFile::Create();
  for (int i = 0; i < CompoundFile::kMaxChildren; ++i) wide->Root().CreateStream(QString::number(i));
  const auto wideBytes = wide->ToBytes();
  ASSERT_TRUE(wideBytes);
  const auto wideLoaded = CompoundFile::OpenBytes(*wideBytes);
  ASSERT_TRUE(wideLoaded);
  EXPECT_EQ(wideLoaded->Root().StreamNames().size(), CompoundFile::kMaxChildren);
  wide->Root().CreateStream(QStringLiteral("one more"));
  QString error;
  EXPECT_FALSE(wide->ToBytes(&error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(CompoundFileTest, DeepestWritableTreeReadsBack) {
  // One storage per level: every level adds one step to the reader's recursion.
  auto f = CompoundFile::Create();
  CompoundStorage* s = &f->Root();
  for (int level = 0; level < CompoundFile::kMaxDirectoryDepth - 2; ++level)
    s = &s->CreateStorage(QStringLiteral("000"));
  s->CreateStream(QStringLiteral("Object")) = "deep";
  QString error;
  const auto bytes = f->ToBytes(&error);
  ASSERT_TRUE(bytes) << error.toStdString();
  const auto loaded = CompoundFile::OpenBytes(*bytes, &error);
  ASSERT_TRUE(loaded) << error.toStdString();
  const CompoundStorage* t = &loaded->Root();
  int levels = 0;
  while (const CompoundStorage* next = t->OpenStorage(QStringLiteral("000"))) {
    t = next;
    ++levels;
  }
  EXPECT_EQ(levels, CompoundFile::kMaxDirectoryDepth - 2);
  EXPECT_EQ(t->Stream(QStringLiteral("Object")), "deep");
  s->CreateStorage(QStringLiteral("000"));
  EXPECT_FALSE(f->ToBytes());
}

TEST(CompoundFileTest, FilesWrittenByLibgsfReadTheSame) {
  // The sample tree, a thousand and one siblings (which libgsf links in one line) and a stream of
  // many sectors; written with both sector sizes of the format.
  auto f = SampleFile();
  CompoundStorage& many = f->Root().CreateStorage(QStringLiteral("Каналы"));
  QStringList order;
  for (int i = 0; i <= 1000; ++i) {
    order << QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
    many.CreateStorage(order.back()).CreateStream(QStringLiteral("Object")) = Pattern(i % 7 * 700, i);
  }
  f->Root().CreateStream(QStringLiteral("Huge")) = Pattern(3 * 1024 * 1024 + 5, 99);
  const TTreeMap expected = Describe(*f);
  QTemporaryDir dir;
  for (guint sectorSize : {512u, 4096u}) {
    SCOPED_TRACE(sectorSize);
    const QByteArray bytes = WriteWithGsf(f->Root(), sectorSize);
    ASSERT_GT(bytes.size(), 3 * 1024 * 1024);
    EXPECT_EQ(static_cast<uchar>(bytes[0x1A]), sectorSize == 512 ? 3 : 4);
    const QString path = dir.filePath(QStringLiteral("GSF%1.cfg").arg(sectorSize));
    WriteFile(path, bytes);
    QString error;
    for (const auto& loaded : {CompoundFile::OpenBytes(bytes, &error), CompoundFile::Open(path, &error)}) {
      ASSERT_TRUE(loaded) << error.toStdString();
      EXPECT_EQ(Describe(*loaded), expected);
      EXPECT_EQ(loaded->Root().OpenStorage(QStringLiteral("Каналы"))->StorageNames(), order);
    }
  }
}

TEST(CompoundFileTest, HighHalfOfAStreamSizeCountsInVersion4Only) {
  // Old writers of 512-byte-sector files left garbage there; 4096-byte-sector files use it.
  auto f = CompoundFile::Create();
  f->Root().CreateStream(QStringLiteral("Big")) = Pattern(10000, 1);
  f->Root().CreateStream(QStringLiteral("Small")) = Pattern(100, 2);
  for (guint sectorSize : {512u, 4096u}) {
    SCOPED_TRACE(sectorSize);
    QByteArray bytes = WriteWithGsf(f->Root(), sectorSize);
    for (const QString& name : {QStringLiteral("Big"), QStringLiteral("Small")}) {
      const qsizetype at = EntryInFirstDirectorySector(bytes, name);
      ASSERT_GT(at, 0);
      SetLe32(bytes, at + 0x7C, 1);
    }
    const auto loaded = CompoundFile::OpenBytes(bytes);
    if (sectorSize == 512) {
      ASSERT_TRUE(loaded);
      EXPECT_EQ(Describe(*loaded), Describe(*f));
    } else {
      EXPECT_FALSE(loaded);
    }
  }
}

TEST(CompoundFileTest, LargeFileWithExtendedAllocationTableReadsBack) {
  // Over 109 allocation-table sectors (7 MiB) the table's own list continues outside the header;
  // mini and big streams, and empty ones, are mixed in every storage.
  auto f = CompoundFile::Create();
  for (int i = 0; i < 40; ++i) {
    CompoundStorage& s = f->Root().CreateStorage(QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')));
    s.CreateStream(QStringLiteral("Object")) = Pattern(200 * 1024 + i * 13, i);
    s.CreateStream(QStringLiteral("Small")) = Pattern(i * 97 % 4096, i + 1);
    s.CreateStream(QStringLiteral("Empty"));
  }
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("BIG.cfg"));
  QString error;
  ASSERT_TRUE(f->Save(path, &error)) << error.toStdString();
  const QByteArray bytes = ReadFile(path);
  EXPECT_GT(Le32(bytes, 0x2C), 109u);
  EXPECT_EQ(Le32(bytes, 0x48), 1u);
  EXPECT_EQ(bytes, f->ToBytes().value_or(QByteArray()));
  const auto loaded = CompoundFile::Open(path, &error);
  ASSERT_TRUE(loaded) << error.toStdString();
  EXPECT_EQ(Describe(*loaded), Describe(*f));
  if (const QString why = OlefileMissing(); !why.isEmpty()) GTEST_SKIP() << why.toStdString();
  EXPECT_EQ(ReadWithOlefile(path), Describe(*f));
}

TEST(CompoundFileTest, DamagedExtendedAllocationTableIsRefused) {
  auto f = CompoundFile::Create();
  f->Root().CreateStream(QStringLiteral("Object")) = Pattern(7600 * 1024, 1);
  const QByteArray valid = *f->ToBytes();
  ASSERT_EQ(Le32(valid, 0x48), 1u);
  ASSERT_TRUE(CompoundFile::OpenBytes(valid));
  const quint32 difat = Le32(valid, 0x44);
  const qsizetype difatAt = (difat + 1) * 512;
  auto expectRefused = [&](const QByteArray& bytes, const char* what) {
    QString why;
    EXPECT_FALSE(CompoundFile::OpenBytes(bytes, &why)) << what;
    EXPECT_FALSE(why.isEmpty()) << what;
  };

  QByteArray lie = valid;
  // A second list sector is needed, and the first names itself as the next.
  SetLe32(lie, 0x2C, Le32(valid, 0x2C) + 127);
  SetLe32(lie, 0x48, 2);
  SetLe32(lie, difatAt + 127 * 4, difat);
  expectRefused(lie, "allocation table list loops");
  lie = valid;
  SetLe32(lie, 0x44, 0x7FFFFFF0);
  expectRefused(lie, "allocation table list past the end");
  lie = valid;
  SetLe32(lie, 0x44, 0xFFFFFFFE);
  expectRefused(lie, "allocation table list missing");
  lie = valid;
  SetLe32(lie, difatAt, Le32(valid, 0x4C));
  expectRefused(lie, "one allocation table sector listed twice");
  lie = valid;
  SetLe32(lie, difatAt, Le32(valid, 0x30));
  expectRefused(lie, "the directory listed as an allocation table sector");
}

// Temporaries of earlier versions name no process: those a minute old, of any file of the folder,
// are taken for killed saves' (StaleTemporariesTest has those that name their process).
TEST(CompoundFileTest, SaveRemovesStaleTemporariesOfItsFolder) {
  QTemporaryDir dir;
  const auto age = [&](const QString& name, int seconds) {
    const QString path = dir.filePath(name);
    WriteFile(path, "left by a killed save");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-seconds),
                                 QFileDevice::FileModificationTime));
  };
  age(QStringLiteral(".NET.cfg.k3j9x0a1b2.tmp"), 3600);
  age(QStringLiteral(".NET.cfg.zz.tmp"), 120);              // shorter than the random part we made
  age(QStringLiteral(".NET.cfg.fresh1.tmp"), 5);            // maybe a save running elsewhere
  age(QStringLiteral(".TASKS.cfg.k3j9x0a1b2c.tmp"), 3600);  // another file's
  age(QStringLiteral(".NET.cfg.my.notes.tmp"), 3600);       // not a name we make
  age(QStringLiteral("NET.cfg.k3j9x0a1b2.tmp"), 3600);
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral(".NET.cfg.dir0.tmp")));
  const QStringList kept = {QStringLiteral(".NET.cfg.fresh1.tmp"), QStringLiteral(".NET.cfg.my.notes.tmp"),
                            QStringLiteral(".NET.cfg.zz.tmp"), QStringLiteral("NET.cfg"),
                            QStringLiteral("NET.cfg.k3j9x0a1b2.tmp")};

  // A failed save leaves them all.
  const auto f = SampleFile();
  const QStringList before = FolderEntries(dir.path());
  EXPECT_FALSE(f->Save(dir.filePath(QStringLiteral(".NET.cfg.dir0.tmp"))));
  EXPECT_EQ(FolderEntries(dir.path()), before);

  ASSERT_TRUE(f->Save(dir.filePath(QStringLiteral("NET.cfg"))));
  EXPECT_EQ(FolderEntries(dir.path()), kept);
  EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral(".NET.cfg.dir0.tmp"))).isDir());
}

// The seed corpus of the fuzz target: valid files must keep opening, broken ones keep failing.
// VEXA_WRITE_FUZZ_SEEDS=1 rewrites it from this code.
TEST(CompoundFileTest, FuzzSeedsStillBehave) {
  const QString corpus = QStringLiteral(VEXA_SOURCE_DIR "/tests/fuzz/corpus/compound");
  if (qEnvironmentVariableIntValue("VEXA_WRITE_FUZZ_SEEDS") == 1) {
    QDir().mkpath(corpus);
    ASSERT_TRUE(SampleFile()->Save(corpus + QStringLiteral("/valid-sample.cfg")));
    auto empty = CompoundFile::Create();
    ASSERT_TRUE(empty->Save(corpus + QStringLiteral("/valid-empty.cfg")));
    auto small = CompoundFile::Create();
    small->Root().CreateStream(QStringLiteral("Object")) = Pattern(40, 2);
    small->Root().CreateStorage(QStringLiteral("000")).CreateStream(QStringLiteral("Object")) =
        Pattern(64, 3);
    ASSERT_TRUE(small->Save(corpus + QStringLiteral("/valid-small.cfg")));
    const QByteArray valid = *small->ToBytes();
    WriteFile(corpus + QStringLiteral("/broken-truncated.cfg"), valid.left(valid.size() - 200));
    QByteArray cycle = valid;
    SetLe32(cycle, EntryOffset(cycle, 1) + 0x44, 0);
    WriteFile(corpus + QStringLiteral("/broken-cycle.cfg"), cycle);
    QByteArray lie = valid;
    SetLe32(lie, 0x2C, 0xFFFFFFFF);
    WriteFile(corpus + QStringLiteral("/broken-fat-count.cfg"), lie);
    WriteFile(corpus + QStringLiteral("/broken-text.cfg"), "object NET: TRootNode\r\nend\r\n");
    // 4096-byte sectors, and big streams whose chains jump back and forth.
    small->Root().CreateStream(QStringLiteral("Big")) = Pattern(5000, 4);
    WriteFile(corpus + QStringLiteral("/valid-gsf-4096.cfg"), WriteWithGsf(small->Root(), 4096));
    constexpr quint32 no = 0xFFFFFFFF;
    WriteFile(corpus + QStringLiteral("/valid-fragmented.cfg"),
              BuildByHand({{QStringLiteral("Root Entry"), 5, no, no, 1, {}},
                           {QStringLiteral("A"), 2, no, 2, no, Pattern(4096, 5)},
                           {QStringLiteral("B"), 2, no, no, no, Pattern(4097, 6)}},
                          {0, 9, 2, 7, 4, 5, 6, 3, 8, 1, 10, 11, 12, 16, 14, 15, 13}));
  }
  const QStringList files = QDir(corpus).entryList(QDir::Files);
  ASSERT_FALSE(files.isEmpty());
  for (const QString& name : files) {
    QString error;
    const auto f = CompoundFile::Open(corpus + QLatin1Char('/') + name, &error);
    if (name.startsWith(QLatin1String("valid-"))) {
      ASSERT_TRUE(f) << name.toStdString() << ": " << error.toStdString();
      const auto again = CompoundFile::OpenBytes(*f->ToBytes());
      ASSERT_TRUE(again) << name.toStdString();
      EXPECT_EQ(Describe(*again), Describe(*f)) << name.toStdString();
    } else if (name.startsWith(QLatin1String("broken-"))) {
      EXPECT_FALSE(f) << name.toStdString();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Lazy opening, streams made as the file is written, kept trees

// The files a save and a load meet: ours of every shape, libgsf's of both sector sizes, chains
// that jump back and forth, and the fuzz corpus's files, sound and broken.
std::vector<std::pair<QString, QByteArray>> FilesOfEveryShape() {
  std::vector<std::pair<QString, QByteArray>> files;
  const auto sample = SampleFile();
  files.emplace_back("sample", *sample->ToBytes());
  files.emplace_back("empty", *CompoundFile::Create()->ToBytes());
  files.emplace_back("libgsf 512", WriteWithGsf(sample->Root(), 512));
  files.emplace_back("libgsf 4096", WriteWithGsf(sample->Root(), 4096));
  constexpr quint32 no = 0xFFFFFFFF;
  files.emplace_back("fragmented", BuildByHand({{QStringLiteral("Root Entry"), 5, no, no, 1, {}},
                                                {QStringLiteral("A"), 2, no, 2, no, Pattern(4096, 5)},
                                                {QStringLiteral("B"), 2, no, no, no, Pattern(9000, 6)}},
                                               {0,  9,  2,  7,  4,  5,  6,  3,  8,  1,  10, 11, 12,
                                                16, 14, 15, 13, 17, 20, 19, 18, 21, 22, 24, 23, 25}));
  const QDir corpus(QStringLiteral(VEXA_SOURCE_DIR "/tests/fuzz/corpus/compound"));
  for (const QString& name : corpus.entryList(QDir::Files))
    files.emplace_back(name, ReadFile(corpus.filePath(name)));
  return files;
}

// A file opened lazily is the file read whole: the same tree, the same bytes in every stream
// whether read into a buffer or held, the same sizes; and it refuses what a whole read refuses,
// with the same reason. Both ways of reading small streams (where each lies, or the mini stream
// at once) give the same.
TEST(CompoundFileTest, LazyOpeningGivesWhatAWholeReadGives) {
  QTemporaryDir dir;
  int refused = 0;
  for (const auto& [name, bytes] : FilesOfEveryShape()) {
    ASSERT_FALSE(bytes.isEmpty()) << name.toStdString();
    const QString path = dir.filePath(QStringLiteral("file.cfg"));
    WriteFile(path, bytes);
    QString wholeWhy;
    const auto whole = CompoundFile::Open(path, &wholeWhy);
    for (const auto use : {CompoundFile::TStreamUse::Some, CompoundFile::TStreamUse::Every}) {
      const std::string what =
          name.toStdString() + (use == CompoundFile::TStreamUse::Some ? " some" : " every");
      QString lazyWhy;
      const auto lazy = CompoundFile::OpenLazily(path, &lazyWhy, use);
      ASSERT_EQ(lazy != nullptr, whole != nullptr) << what << ": " << lazyWhy.toStdString();
      if (!whole) {
        EXPECT_EQ(lazyWhy, wholeWhy) << what;
        ++refused;
        continue;
      }
      std::vector<std::pair<const CompoundStorage*, const CompoundStorage*>> todo{
          {&whole->Root(), &lazy->Root()}};
      QByteArray buffer(3, 'x');
      while (!todo.empty()) {
        const auto [w, l] = todo.back();
        todo.pop_back();
        ASSERT_EQ(l->StorageNames(), w->StorageNames()) << what;
        ASSERT_EQ(l->StreamNames(), w->StreamNames()) << what;
        for (const QString& stream : w->StreamNames()) {
          EXPECT_EQ(l->StreamSize(stream), w->Stream(stream).size()) << what;
          l->ReadStream(stream, buffer);
          EXPECT_TRUE(buffer == w->Stream(stream)) << what << " " << stream.toStdString();
        }
        for (const QString& storage : w->StorageNames())
          todo.emplace_back(w->OpenStorage(storage), l->OpenStorage(storage));
      }
      EXPECT_EQ(Describe(*lazy), Describe(*whole)) << what;  // the streams now held
    }
  }
  EXPECT_GE(refused, 4);
}

// The streams of a lazily opened file are read when asked for: a file cut short meanwhile is
// told then, as a file that cannot be read, not as a tree that is damaged.
TEST(CompoundFileTest, StreamsOfALazyFileCutShortAreToldWhenAskedFor) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("cut.cfg"));
  WriteFile(path, *SampleFile()->ToBytes());
  for (const auto use : {CompoundFile::TStreamUse::Some, CompoundFile::TStreamUse::Every}) {
    auto lazy = CompoundFile::OpenLazily(path, nullptr, use);
    ASSERT_TRUE(lazy);
    QFile file(path);
    ASSERT_TRUE(file.resize(1024));
    for (const char* stream : {"Object", "Big"}) {
      QByteArray into;
      try {
        lazy->Root().ReadStream(QString::fromLatin1(stream), into);
        ADD_FAILURE() << stream << " was read";
      } catch (const ECompoundReadError& e) {
        EXPECT_TRUE(e.Message().contains(path)) << e.what();
      }
      EXPECT_THROW(lazy->Root().Stream(QString::fromLatin1(stream)), ECompoundReadError) << stream;
    }
    EXPECT_EQ(lazy->Root().StreamSize(QStringLiteral("Big")), 10000) << "its size is the tree's";
    WriteFile(path, *SampleFile()->ToBytes());
  }
}

// Makes `length` bytes of a pattern seeded by the item's number, in room the sink lends; `lie`
// makes one byte more or less than it said.
class TPatternMaker final : public TStreamMaker {
 public:
  explicit TPatternMaker(int lie = 0) : lie_(lie) {}
  bool Make(void* item, qint64 length, TByteSink& sink, QString* why) const override {
    const QByteArray bytes =
        Pattern(static_cast<int>(length + lie_), static_cast<int>(reinterpret_cast<quintptr>(item)));
    char* room = sink.Room(bytes.size());
    if (room == nullptr) {
      if (why) *why = QStringLiteral("no room");
      return false;
    }
    std::memcpy(room, bytes.constData(), static_cast<size_t>(bytes.size()));
    return sink.Commit(bytes.size());
  }

 private:
  int lie_;
};

// A stream made as the file is written is in the file as the bytes it would have held: made over
// a stream held in memory or lying in the file, shorter (the old tail stays) or longer, crossing
// the mini stream's cut-off either way, or new; the file is the one the same tree with those
// bytes held gives.
TEST(CompoundFileTest, MadeStreamsAreTheBytesTheyWouldHaveHeld) {
  struct TCase {
    const char* Name;
    int Old;   // bytes the stream held before; -1 for no stream
    int Made;  // bytes made
    bool InFile;
  };
  const std::vector<TCase> cases = {
      {"new small", -1, 300, false},
      {"new big", -1, 9000, false},
      {"over a shorter one", 100, 300, false},
      {"over a longer one", 300, 100, false},
      {"over a longer one in the file", 300, 100, true},
      {"over a longer big one in the file", 9000, 50, true},
      {"small to big in the file", 200, 5000, true},
      {"big over a longer big one", 12000, 5000, true},
      {"at the cut-off", 4095, 4096, true},
      {"nothing made over a stream", 700, 0, true},
  };
  QTemporaryDir dir;
  const TPatternMaker maker;
  for (const TCase& c : cases) {
    const QString path = dir.filePath(QStringLiteral("made.cfg"));
    const QByteArray old = c.Old < 0 ? QByteArray() : Pattern(c.Old, 1);
    auto built = SampleFile();
    if (c.Old >= 0) built->Root().OpenStorage("000")->CreateStream("Made") = old;
    std::unique_ptr<CompoundFile> tree = std::move(built);
    // What the bytes held give: the same tree, the file read back whole where the stream lies in it.
    std::unique_ptr<CompoundFile> expected = SampleFile();
    if (c.InFile) {
      ASSERT_TRUE(tree->Save(path));
      tree = CompoundFile::OpenLazily(path);
      ASSERT_TRUE(tree) << c.Name;
      expected = CompoundFile::Open(path);
    }
    expected->Root().OpenStorage("000")->CreateStream("Made") = Pattern(c.Made, 9) + old.mid(c.Made);
    tree->Root().OpenStorage("000")->SetStreamMade("Made", &maker, reinterpret_cast<void*>(quintptr{9}),
                                                   c.Made);
    EXPECT_EQ(tree->Root().OpenStorage("000")->StreamSize("Made"), std::max(c.Made, c.Old)) << c.Name;

    const auto bytes = tree->ToBytes();
    ASSERT_TRUE(bytes) << c.Name;
    EXPECT_TRUE(*bytes == *expected->ToBytes()) << c.Name;
    ASSERT_TRUE(tree->Save(path)) << c.Name;
    EXPECT_TRUE(ReadFile(path) == *expected->ToBytes()) << c.Name;
    QByteArray read;
    tree->Root().OpenStorage("000")->ReadStream("Made", read);
    EXPECT_TRUE(read == Pattern(c.Made, 9) + old.mid(c.Made)) << c.Name;
    QFile::remove(path);
  }
}

// A maker that makes another length than it announced fails the write: the old file stays as it
// was, and the reason names the stream.
TEST(CompoundFileTest, AMadeStreamOfAnotherLengthFailsTheSave) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("lie.cfg"));
  ASSERT_TRUE(SampleFile()->Save(path));
  const QByteArray before = ReadFile(path);
  for (int lie : {-1, 1}) {
    const TPatternMaker maker(lie);
    auto tree = SampleFile();
    tree->Root().SetStreamMade("Object", &maker, nullptr, 500);
    QString why;
    EXPECT_FALSE(tree->Save(path, &why)) << lie;
    EXPECT_TRUE(why.contains("Object")) << why.toStdString();
    EXPECT_FALSE(tree->ToBytes()) << lie;
    EXPECT_TRUE(ReadFile(path) == before) << lie;
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{"lie.cfg"}) << "no temporary left";
  }
}

// A file whose write fails while streams are made in it is told by the system's error, as any
// other failed write, not as a stream that changed; the old file stays.
TEST(CompoundFileTest, AFailedWriteOfMadeStreamsIsToldAsTheFilesFailure) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("limit.cfg"));
  ASSERT_TRUE(SampleFile()->Save(path));
  const QByteArray before = ReadFile(path);
  const TPatternMaker maker;
  auto tree = SampleFile();
  for (int i = 0; i < 40; ++i)
    tree->Root()
        .CreateStorage(QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')))
        .SetStreamMade("Object", &maker, nullptr, 30000);
  QString why;
  EXPECT_FALSE(SaveUnderSizeLimit(*tree, path, 300000, &why));
  EXPECT_TRUE(why.contains(SystemErrorText(EFBIG))) << why.toStdString();
  EXPECT_FALSE(why.contains("Object")) << why.toStdString();
  EXPECT_TRUE(ReadFile(path) == before);
}

// After SaveAndKeep the tree is what opening the new file lazily gives (its elements in the
// file's order, its bytes), and stands for it while the file is untouched: any change of the
// file, even one back to the same bytes, makes it stand for nothing.
TEST(CompoundFileTest, AKeptTreeStandsForItsFileUntilTheFileChanges) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("kept.cfg"));
  const auto build = [] {
    auto tree = SampleFile();
    // Created out of the format's order: a reader meets them sorted.
    tree->Root().CreateStorage("Zeta").CreateStream("b") = Pattern(70, 3);
    tree->Root().CreateStorage("001").CreateStream("Object") = Pattern(5000, 4);
    tree->Root().CreateStream("A") = Pattern(10, 5);
    return tree;
  };
  struct TChange {
    const char* Name;
    std::function<void()> Apply;
  };
  const std::vector<TChange> changes = {
      {"nothing", [] {}},
      {"the same bytes written again",
       [&] { ASSERT_TRUE(WriteFileAtomically(path, ReadFile(path), nullptr)); }},
      // The file system's clock moves in ticks of some milliseconds: a change in place is seen
      // once a tick has passed since the file was written.
      {"the same bytes written in place",
       [&] {
         QThread::msleep(30);
         const QByteArray bytes = ReadFile(path);
         QFile f(path);
         ASSERT_TRUE(f.open(QIODevice::ReadWrite));
         f.write(bytes);
       }},
      {"a time of change set back",
       [&] {
         QThread::msleep(30);
         struct stat st {};
         ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
         QFile f(path);
         ASSERT_TRUE(f.open(QIODevice::ReadWrite));
         f.write(ReadFile(path).left(1));
         f.close();
         const timespec times[2] = {st.st_atim, st.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
       }},
      {"a byte more", [&] { WriteFile(path, ReadFile(path) + "x"); }},
      {"removed", [&] { QFile::remove(path); }},
      {"saved through another tree", [&] { ASSERT_TRUE(build()->Save(path)); }},
  };
  for (const TChange& change : changes) {
    auto tree = build();
    ASSERT_TRUE(tree->SaveAndKeep(path)) << change.Name;
    auto opened = CompoundFile::OpenLazily(path);
    ASSERT_TRUE(opened);
    EXPECT_EQ(tree->Root().StorageNames(), opened->Root().StorageNames()) << change.Name;
    EXPECT_EQ(tree->Root().StreamNames(), opened->Root().StreamNames()) << change.Name;
    const TTreeMap written = Describe(*opened);
    EXPECT_THROW(Describe(*tree), ECompoundReadError) << change.Name << ": the file was let go";
    CompoundFile::Keep(path, std::move(tree));
    change.Apply();
    auto again = CompoundFile::TakeKept(path);
    EXPECT_EQ(again != nullptr, std::string(change.Name) == "nothing") << change.Name;
    if (again) {
      EXPECT_EQ(Describe(*again), written) << change.Name;
    }
    EXPECT_FALSE(CompoundFile::TakeKept(path)) << change.Name << ": taken once";
    QFile::remove(path);
  }
}

// A few trees are kept, the latest: one more lets the oldest go, and a tree kept again for a path
// replaces the one kept for it.
TEST(CompoundFileTest, OnlyTheLatestTreesAreKept) {
  QTemporaryDir dir;
  const auto path = [&](int i) { return dir.filePath(QStringLiteral("f%1.cfg").arg(i)); };
  for (int i = 0; i < 17; ++i) {
    auto tree = CompoundFile::Create();
    tree->Root().CreateStream("Object") = Pattern(10 + i, i);
    ASSERT_TRUE(tree->SaveAndKeep(path(i)));
    CompoundFile::Keep(path(i), std::move(tree));
  }
  EXPECT_FALSE(CompoundFile::TakeKept(path(0)));
  for (int i = 1; i < 17; ++i) {
    auto tree = CompoundFile::TakeKept(path(i));
    ASSERT_TRUE(tree) << i;
    EXPECT_TRUE(tree->Root().Stream("Object") == Pattern(10 + i, i)) << i;
  }
}

// Room lent by the file writer and bytes put through it land in the file in their order, whether
// they fit its buffer or not; a commit without room lent, or past it, is refused.
TEST(CompoundFileTest, FileWriterLendsRoomInItsBuffer) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("room.bin"));
  QByteArray expected;
  ASSERT_TRUE(ReplaceFileAtomically(
      path,
      [&](int fd) {
        TFdWriter out(fd);
        EXPECT_FALSE(out.Commit(1)) << "nothing lent";
        for (int size : {10, 300000, 5, 262144, 70000, 0}) {
          const QByteArray piece = Pattern(size, size % 7);
          char* room = out.Room(size);
          EXPECT_NE(room, nullptr);
          std::memcpy(room, piece.constData(), static_cast<size_t>(size));
          EXPECT_FALSE(out.Commit(size + 1)) << "past the room";
          EXPECT_TRUE(out.Commit(size));
          expected += piece;
          const QByteArray put = Pattern(size / 3, 2);
          EXPECT_TRUE(out.Put(put.constData(), put.size()));
          expected += put;
        }
        char* room = out.Room(100);
        std::memset(room, 'r', 100);
        EXPECT_TRUE(out.Commit(40)) << "less than lent";
        expected += QByteArray(40, 'r');
        return out.Flush();
      },
      nullptr));
  EXPECT_TRUE(ReadFile(path) == expected);
}

}  // namespace
}  // namespace vexa
