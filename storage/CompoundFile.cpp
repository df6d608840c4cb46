#include "storage/CompoundFile.h"

#include <fcntl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <utility>

namespace vexa {

namespace {

Q_LOGGING_CATEGORY(lcCompound, "vexa.storage.compound", QtWarningMsg)

// libgsf's directory reader recurses once per entry along sibling and child links, and its
// writer chains all siblings in one line, so this bounds the reader's recursion in files we
// write and in files made to look like them. Deep or large files are handled on a thread whose
// stack holds that recursion (and libgsf's stack buffer of 1/32 of the file); ordinary ones on
// the caller's.
constexpr int kMaxDirectoryDepth = CompoundFile::kMaxDirectoryDepth;
constexpr uint kWorkerStackSize = 64u * 1024 * 1024;
constexpr int kCallerStackDepth = 256;
constexpr qint64 kCallerStackFileSize = 8 * 1024 * 1024;
// Of a temporary file beside a target before a later save may take it for a killed save's.
constexpr int kStaleTempSeconds = 60;

constexpr quint32 kNoStream = 0xFFFFFFFFu;
constexpr quint32 kEndOfChain = 0xFFFFFFFEu;
constexpr int kHeaderSize = 512;
constexpr int kDirEntrySize = 128;
constexpr uchar kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uchar kTypeStorage = 1;
constexpr uchar kTypeStream = 2;
constexpr uchar kTypeRoot = 5;

void SetError(QString* error, const QString& text) {
  if (error) *error = text;
}

// libgsf complains on stderr about every damaged file (some complaints without a log domain);
// while our own calls into it run, its messages go to our debug log instead, since we report
// the failure ourselves.
thread_local bool tInsideGsf = false;

class TInsideGsf {
 public:
  TInsideGsf() : previous_(std::exchange(tInsideGsf, true)) {}
  ~TInsideGsf() { tInsideGsf = previous_; }
  TInsideGsf(const TInsideGsf&) = delete;
  TInsideGsf& operator=(const TInsideGsf&) = delete;

 private:
  bool previous_;
};

void LogFromGsf(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
  if (tInsideGsf)
    qCDebug(lcCompound) << (domain ? domain : "") << message;
  else
    g_log_default_handler(domain, level, message, nullptr);
}

void InitGsf() {
  static const bool done = [] {
    gsf_init();
    const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_RECURSION);
    for (const char* domain : {"libgsf:msole", "libgsf", static_cast<const char*>(nullptr)})
      g_log_set_handler(domain, levels, LogFromGsf, nullptr);
    return true;
  }();
  Q_UNUSED(done);
}

struct TGObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using TGsfPtr = std::unique_ptr<T, TGObjectUnref>;

// Runs work to completion, on a thread with a large stack when asked; exceptions become errors.
bool RunGuarded(const std::function<void()>& work, bool largeStack, QString* error) {
  bool ran = false;
  QString failure;
  auto guarded = [&] {
    try {
      work();
    } catch (const std::exception& e) {
      failure = QString::fromUtf8(e.what());
    } catch (...) {
      failure = QStringLiteral("unexpected failure");
    }
    ran = true;
  };
  if (largeStack) {
    std::unique_ptr<QThread> thread(QThread::create(guarded));
    thread->setStackSize(kWorkerStackSize);
    thread->start();
    thread->wait();
  } else {
    guarded();
  }
  if (!ran) {
    SetError(error, QStringLiteral("cannot start a worker thread"));
    return false;
  }
  if (!failure.isEmpty()) {
    SetError(error, failure);
    return false;
  }
  return true;
}

struct TShape {
  int Elements = 0;  // entries below the root
  int Depth = 0;     // of libgsf's recursion over the directory
  qint64 Bytes = 0;  // in all streams
};

quint16 Le16(const uchar* p) {
  return static_cast<quint16>(p[0] | (p[1] << 8));
}
quint32 Le32(const uchar* p) {
  return static_cast<quint32>(p[0]) | (static_cast<quint32>(p[1]) << 8) | (static_cast<quint32>(p[2]) << 16) |
         (static_cast<quint32>(p[3]) << 24);
}

struct THeader {
  quint32 SectorSize = 0;
  quint32 NumSectors = 0;  // whole sectors after the header
  quint32 NumFat = 0;
  quint32 DirStart = 0;
  quint32 DifatStart = 0;
  quint32 NumDifat = 0;
};

// The fixed header fields every sound file has; counts are checked against the file's size so
// that nothing later allocates more than the file can back.
std::optional<THeader> ReadHeader(const uchar* p, qint64 fileSize, QString* why) {
  if (fileSize < kHeaderSize || std::memcmp(p, kSignature, sizeof kSignature) != 0) {
    SetError(why, QStringLiteral("no compound-file signature"));
    return std::nullopt;
  }
  const quint16 major = Le16(p + 0x1A);
  const quint16 sectorShift = Le16(p + 0x1E);
  if (Le16(p + 0x1C) != 0xFFFE || !((major == 3 && sectorShift == 9) || (major == 4 && sectorShift == 12)) ||
      Le16(p + 0x20) != 6 || Le32(p + 0x38) != 4096) {
    SetError(why, QStringLiteral("unsupported header"));
    return std::nullopt;
  }
  THeader h;
  h.SectorSize = 1u << sectorShift;
  if (fileSize < 2 * static_cast<qint64>(h.SectorSize)) {
    SetError(why, QStringLiteral("file too short"));
    return std::nullopt;
  }
  const qint64 sectors = (fileSize - h.SectorSize) / h.SectorSize;
  if (sectors >= kEndOfChain) {
    SetError(why, QStringLiteral("file too large"));
    return std::nullopt;
  }
  h.NumSectors = static_cast<quint32>(sectors);
  h.NumFat = Le32(p + 0x2C);
  h.DirStart = Le32(p + 0x30);
  h.DifatStart = Le32(p + 0x44);
  h.NumDifat = Le32(p + 0x48);
  if (h.NumFat == 0 || h.NumFat > h.NumSectors || h.NumDifat > h.NumSectors) {
    SetError(why, QStringLiteral("allocation table larger than the file"));
    return std::nullopt;
  }
  return h;
}

// Walks the allocation table and the directory the way libgsf will, iteratively, and refuses
// what would make libgsf recurse too deep, loop or take quadratic time on a huge directory, and
// what libgsf would silently leave out of the tree.
bool CheckStructure(const QByteArray& bytes, TShape& shape, QString* why) {
  const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
  const auto header = ReadHeader(data, bytes.size(), why);
  if (!header) return false;
  const THeader& h = *header;
  const quint32 perSector = h.SectorSize / 4;
  auto sector = [&](quint32 id) { return data + static_cast<qint64>(id + 1) * h.SectorSize; };
  auto damaged = [&](const char* text) {
    SetError(why, QString::fromLatin1(text));
    return false;
  };

  std::vector<quint32> fatSectors;
  fatSectors.reserve(h.NumFat);
  for (int i = 0; i < 109 && fatSectors.size() < h.NumFat; ++i)
    fatSectors.push_back(Le32(data + 0x4C + 4 * i));
  quint32 difat = h.DifatStart;
  for (quint32 k = 0; k < h.NumDifat && fatSectors.size() < h.NumFat; ++k) {
    if (difat >= h.NumSectors) return damaged("allocation table index out of range");
    const uchar* s = sector(difat);
    for (quint32 i = 0; i + 1 < perSector && fatSectors.size() < h.NumFat; ++i)
      fatSectors.push_back(Le32(s + 4 * i));
    difat = Le32(s + 4 * (perSector - 1));
  }
  if (fatSectors.size() < h.NumFat) return damaged("allocation table incomplete");

  std::vector<quint32> fat;
  fat.reserve(static_cast<size_t>(h.NumFat) * perSector);
  for (quint32 id : fatSectors) {
    if (id >= h.NumSectors) return damaged("allocation table sector out of range");
    const uchar* s = sector(id);
    for (quint32 i = 0; i < perSector; ++i) fat.push_back(Le32(s + 4 * i));
  }

  std::vector<quint32> dirChain;
  std::vector<bool> used(h.NumSectors, false);
  for (quint32 id = h.DirStart; id != kEndOfChain; id = fat[id]) {
    if (id >= h.NumSectors || id >= fat.size() || used[id]) return damaged("directory chain broken");
    used[id] = true;
    dirChain.push_back(id);
  }
  if (dirChain.empty()) return damaged("no directory");

  const quint32 perDirSector = h.SectorSize / kDirEntrySize;
  const quint64 entryCount = static_cast<quint64>(dirChain.size()) * perDirSector;
  auto entry = [&](quint32 e) {
    return sector(dirChain[e / perDirSector]) + static_cast<qint64>(e % perDirSector) * kDirEntrySize;
  };
  const uchar* root = entry(0);
  if (root[0x42] != kTypeRoot || Le32(root + 0x44) != kNoStream || Le32(root + 0x48) != kNoStream)
    return damaged("no root entry");

  struct TItem {
    quint32 Entry;
    int Depth;
    quint32 Parent;
  };
  std::vector<bool> seen(entryCount, false);
  std::vector<int> children(entryCount, 0);
  std::vector<TItem> todo;
  seen[0] = true;
  if (Le32(root + 0x4C) != kNoStream) todo.push_back({Le32(root + 0x4C), 2, 0});
  shape = {0, 1};
  while (!todo.empty()) {
    const TItem item = todo.back();
    todo.pop_back();
    if (item.Entry >= entryCount) return damaged("directory link out of range");
    if (seen[item.Entry]) return damaged("directory entry linked twice");
    seen[item.Entry] = true;
    if (++shape.Elements > CompoundFile::kMaxElements) return damaged("too many elements");
    if (item.Depth > kMaxDirectoryDepth) return damaged("directory too deep");
    shape.Depth = std::max(shape.Depth, item.Depth);
    if (++children[item.Parent] > CompoundFile::kMaxChildren)
      return damaged("too many elements in one storage");
    const uchar* e = entry(item.Entry);
    const uchar type = e[0x42];
    if (type != kTypeStorage && type != kTypeStream) return damaged("bad directory entry");
    if (type == kTypeStream && Le32(e + 0x78) > static_cast<quint64>(bytes.size()))
      return damaged("stream larger than the file");
    for (quint32 link : {Le32(e + 0x44), Le32(e + 0x48)})
      if (link != kNoStream) todo.push_back({link, item.Depth + 1, item.Parent});
    const quint32 child = Le32(e + 0x4C);
    if (child != kNoStream) {
      if (type != kTypeStorage) return damaged("stream with children");
      todo.push_back({child, item.Depth + 1, item.Entry});
    }
  }
  return true;
}

struct TLoadBudget {
  qint64 Bytes = 0;  // the streams together cannot hold more than the file
  int Elements = 0;
};

bool LoadLevel(GsfInfile* dir, CompoundStorage& into, TLoadBudget& budget, QString* why) {
  const int count = gsf_infile_num_children(dir);
  for (int i = 0; i < count; ++i) {
    ++budget.Elements;
    const char* raw = gsf_infile_name_by_index(dir, i);
    const QString name = raw ? QString::fromUtf8(raw) : QString();
    if (into.HasStorage(name) || into.HasStream(name)) {
      SetError(why, QStringLiteral("two elements named '%1'").arg(name));
      return false;
    }
    TGsfPtr<GsfInput> child(gsf_infile_child_by_index(dir, i));
    if (!child) {
      SetError(why, QStringLiteral("element '%1' is unreadable").arg(name));
      return false;
    }
    auto* sub = GSF_IS_INFILE(child.get()) ? GSF_INFILE(child.get()) : nullptr;
    try {
      if (sub && gsf_infile_num_children(sub) >= 0) {
        if (!LoadLevel(sub, into.CreateStorage(name), budget, why)) return false;
        continue;
      }
      const gsf_off_t size = gsf_input_size(child.get());
      // A larger claim is a lie that would otherwise make us allocate for it.
      if (size < 0 || size > budget.Bytes) {
        SetError(why, QStringLiteral("stream '%1' is larger than the file").arg(name));
        return false;
      }
      budget.Bytes -= size;
      QByteArray& data = into.CreateStream(name);
      data.resize(static_cast<qsizetype>(size));
      if (size > 0 &&
          !gsf_input_read(child.get(), static_cast<size_t>(size), reinterpret_cast<guint8*>(data.data()))) {
        SetError(why, QStringLiteral("stream '%1' is cut short").arg(name));
        return false;
      }
    } catch (const ECompoundFileError& e) {
      SetError(why, e.Message());
      return false;
    }
  }
  return true;
}

// Refuses what the reader would refuse. The writer chains siblings in one line, so a storage's
// children are at most its own depth plus their count deep.
bool CheckWritable(const CompoundStorage& root, TShape& shape, QString* why) {
  std::vector<std::pair<const CompoundStorage*, int>> todo{{&root, 1}};
  shape = {0, 1};
  while (!todo.empty()) {
    const auto [s, depth] = todo.back();
    todo.pop_back();
    const QStringList storages = s->StorageNames();
    const QStringList streams = s->StreamNames();
    const int count = static_cast<int>(storages.size() + streams.size());
    shape.Elements += count;
    shape.Depth = std::max(shape.Depth, depth + count);
    for (const QString& name : streams) shape.Bytes += s->Stream(name).size();
    if (count > CompoundFile::kMaxChildren || shape.Elements > CompoundFile::kMaxElements ||
        shape.Depth > kMaxDirectoryDepth || shape.Bytes > CompoundFile::kMaxFileSize) {
      SetError(why, QStringLiteral("too many elements for one compound file"));
      return false;
    }
    for (const QString& name : storages) todo.emplace_back(s->OpenStorage(name), depth + count);
  }
  return true;
}

// Our own writer: libgsf's copies every stream into its own buffers and builds the file in
// memory before it can be written. Ours lays the file out first, so its size is known, and then
// emits it in order, the stream bytes straight from the tree. The layout is plain: allocation
// table, directory, mini allocation table, mini stream, then each big stream in one run. The
// children of a storage form a balanced tree, all black, so no reader recurses deeply over them.
constexpr int kSectorSize = 512;
constexpr int kMiniSectorSize = 64;
constexpr qint64 kMiniStreamCutoff = 4096;
constexpr quint32 kFreeSector = 0xFFFFFFFFu;
constexpr quint32 kFatSector = 0xFFFFFFFDu;
constexpr quint32 kDifatSector = 0xFFFFFFFCu;
constexpr int kIdsPerSector = kSectorSize / 4;
constexpr int kHeaderDifatIds = 109;

void PutLe16(uchar* p, quint16 v) {
  p[0] = static_cast<uchar>(v);
  p[1] = static_cast<uchar>(v >> 8);
}
void PutLe32(uchar* p, quint32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uchar>(v >> (8 * i));
}

qint64 SectorsFor(qint64 bytes, qint64 unit) {
  return (bytes + unit - 1) / unit;
}

// Sibling order of the format: shorter names first, then by upper-cased code units.
bool NameLess(const QString& a, const QString& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (qsizetype i = 0; i < a.size(); ++i) {
    const char16_t x = QChar::toUpper(a[i].unicode());
    const char16_t y = QChar::toUpper(b[i].unicode());
    if (x != y) return x < y;
  }
  return false;
}

// Writes emitted pieces somewhere; false stops the write.
using TSink = std::function<bool(const char* data, qsizetype size)>;

class TCompoundWriter {
 public:
  explicit TCompoundWriter(const CompoundStorage& root) {
    Collect(root);
    Layout();
  }

  qint64 Size() const { return kHeaderSize + static_cast<qint64>(totalSectors_) * kSectorSize; }

  bool Emit(const TSink& sink) const {
    const QByteArray header = Header();
    if (!sink(header.constData(), header.size())) return false;
    if (!sink(reinterpret_cast<const char*>(fat_.data()), static_cast<qsizetype>(fat_.size() * 4)))
      return false;
    const QByteArray difat = Difat();
    if (!sink(difat.constData(), difat.size())) return false;
    const QByteArray dir = Directory();
    if (!sink(dir.constData(), dir.size())) return false;
    if (!sink(reinterpret_cast<const char*>(miniFat_.data()), static_cast<qsizetype>(miniFat_.size() * 4)))
      return false;
    static const char zeros[kSectorSize] = {};
    qint64 miniBytes = 0;
    for (const TEntry& e : entries_) {
      if (!e.Data || !e.InMini || e.Data->isEmpty()) continue;
      const qint64 padded = SectorsFor(e.Data->size(), kMiniSectorSize) * kMiniSectorSize;
      if (!sink(e.Data->constData(), e.Data->size()) || !sink(zeros, padded - e.Data->size())) return false;
      miniBytes += padded;
    }
    const qint64 miniPadded = SectorsFor(miniBytes, kSectorSize) * kSectorSize;
    if (!sink(zeros, miniPadded - miniBytes)) return false;
    for (const TEntry& e : entries_) {
      if (!e.Data || e.InMini) continue;
      const qint64 padded = SectorsFor(e.Data->size(), kSectorSize) * kSectorSize;
      if (!sink(e.Data->constData(), e.Data->size()) || !sink(zeros, padded - e.Data->size())) return false;
    }
    return true;
  }

 private:
  struct TEntry {
    QString Name;
    uchar Type = kTypeStorage;
    const QByteArray* Data = nullptr;  // streams only
    bool InMini = false;
    quint32 Left = kNoStream, Right = kNoStream, Child = kNoStream;
    quint32 Start = kEndOfChain;
    quint64 Size = 0;
  };

  // Root of a balanced tree over ids[lo, hi), sorted.
  quint32 Balance(const std::vector<quint32>& ids, size_t lo, size_t hi) {
    if (lo >= hi) return kNoStream;
    const size_t mid = lo + (hi - lo) / 2;
    TEntry& e = entries_[ids[mid]];
    e.Left = Balance(ids, lo, mid);
    e.Right = Balance(ids, mid + 1, hi);
    return ids[mid];
  }

  void Collect(const CompoundStorage& root) {
    entries_.push_back({root.Name(), kTypeRoot});
    // Iterative: storages may nest thousands deep.
    std::vector<std::pair<const CompoundStorage*, quint32>> todo{{&root, 0}};
    std::vector<quint32> ids;
    while (!todo.empty()) {
      const auto [s, parent] = todo.back();
      todo.pop_back();
      ids.clear();
      for (const QString& name : s->StorageNames()) {
        ids.push_back(static_cast<quint32>(entries_.size()));
        entries_.push_back({name, kTypeStorage});
        todo.emplace_back(s->OpenStorage(name), ids.back());
      }
      for (const QString& name : s->StreamNames()) {
        ids.push_back(static_cast<quint32>(entries_.size()));
        const QByteArray& data = s->Stream(name);
        TEntry e{name, kTypeStream, &data};
        e.InMini = data.size() < kMiniStreamCutoff;
        e.Size = static_cast<quint64>(data.size());
        entries_.push_back(std::move(e));
      }
      std::stable_sort(ids.begin(), ids.end(),
                       [&](quint32 a, quint32 b) { return NameLess(entries_[a].Name, entries_[b].Name); });
      entries_[parent].Child = Balance(ids, 0, ids.size());
    }
  }

  void Layout() {
    quint32 miniSectors = 0;
    quint32 bigSectors = 0;
    for (TEntry& e : entries_) {
      if (!e.Data || e.Data->isEmpty()) continue;
      if (e.InMini) {
        e.Start = miniSectors;
        miniSectors += static_cast<quint32>(SectorsFor(e.Data->size(), kMiniSectorSize));
      } else {
        bigSectors += static_cast<quint32>(SectorsFor(e.Data->size(), kSectorSize));
      }
    }
    const auto dirSectors = static_cast<quint32>(SectorsFor(static_cast<qint64>(entries_.size()), 4));
    const auto miniFatSectors = static_cast<quint32>(SectorsFor(miniSectors, kIdsPerSector));
    const auto miniStreamSectors =
        static_cast<quint32>(SectorsFor(static_cast<qint64>(miniSectors) * kMiniSectorSize, kSectorSize));
    const quint32 data = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;
    // The allocation table covers its own sectors and those of the table of its sectors.
    numFat_ = 1;
    numDifat_ = 0;
    while (static_cast<quint64>(numFat_) * kIdsPerSector < data + numFat_ + numDifat_) {
      ++numFat_;
      numDifat_ = numFat_ > kHeaderDifatIds
                      ? static_cast<quint32>(SectorsFor(numFat_ - kHeaderDifatIds, kIdsPerSector - 1))
                      : 0;
    }
    totalSectors_ = numFat_ + numDifat_ + data;

    fat_.assign(static_cast<size_t>(numFat_) * kIdsPerSector, kFreeSector);
    quint32 next = 0;
    auto mark = [&](quint32 count, quint32 value) {
      for (quint32 i = 0; i < count; ++i) fat_[next++] = value;
    };
    auto chain = [&](quint32 count) {
      const quint32 start = count ? next : kEndOfChain;
      for (quint32 i = 0; i < count; ++i, ++next) fat_[next] = i + 1 < count ? next + 1 : kEndOfChain;
      return start;
    };
    mark(numFat_, kFatSector);
    difatStart_ = numDifat_ ? next : kEndOfChain;
    mark(numDifat_, kDifatSector);
    dirStart_ = chain(dirSectors);
    miniFatStart_ = chain(miniFatSectors);
    entries_[0].Start = chain(miniStreamSectors);
    entries_[0].Size = static_cast<quint64>(miniSectors) * kMiniSectorSize;
    for (TEntry& e : entries_)
      if (e.Data && !e.InMini) e.Start = chain(static_cast<quint32>(SectorsFor(e.Data->size(), kSectorSize)));

    miniFat_.assign(static_cast<size_t>(miniFatSectors) * kIdsPerSector, kFreeSector);
    for (const TEntry& e : entries_) {
      if (!e.Data || !e.InMini || e.Data->isEmpty()) continue;
      const auto count = static_cast<quint32>(SectorsFor(e.Data->size(), kMiniSectorSize));
      for (quint32 i = 0; i < count; ++i)
        miniFat_[e.Start + i] = i + 1 < count ? e.Start + i + 1 : kEndOfChain;
    }
    // The tables are emitted as they are held.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
  }

  QByteArray Header() const {
    QByteArray bytes(kHeaderSize, '\0');
    auto* p = reinterpret_cast<uchar*>(bytes.data());
    std::memcpy(p, kSignature, sizeof kSignature);
    PutLe16(p + 0x18, 0x3E);
    PutLe16(p + 0x1A, 3);
    PutLe16(p + 0x1C, 0xFFFE);
    PutLe16(p + 0x1E, 9);
    PutLe16(p + 0x20, 6);
    PutLe32(p + 0x2C, numFat_);
    PutLe32(p + 0x30, dirStart_);
    PutLe32(p + 0x38, static_cast<quint32>(kMiniStreamCutoff));
    PutLe32(p + 0x3C, miniFatStart_);
    PutLe32(p + 0x40, static_cast<quint32>(miniFat_.size() / kIdsPerSector));
    PutLe32(p + 0x44, difatStart_);
    PutLe32(p + 0x48, numDifat_);
    for (quint32 i = 0; i < kHeaderDifatIds; ++i) PutLe32(p + 0x4C + 4 * i, i < numFat_ ? i : kFreeSector);
    return bytes;
  }

  QByteArray Difat() const {
    QByteArray bytes(static_cast<qsizetype>(numDifat_) * kSectorSize, '\0');
    auto* p = reinterpret_cast<uchar*>(bytes.data());
    quint32 fatId = kHeaderDifatIds;
    for (quint32 k = 0; k < numDifat_; ++k) {
      uchar* s = p + static_cast<qint64>(k) * kSectorSize;
      for (int i = 0; i < kIdsPerSector - 1; ++i, ++fatId)
        PutLe32(s + 4 * i, fatId < numFat_ ? fatId : kFreeSector);
      PutLe32(s + 4 * (kIdsPerSector - 1), k + 1 < numDifat_ ? difatStart_ + k + 1 : kEndOfChain);
    }
    return bytes;
  }

  QByteArray Directory() const {
    const qint64 sectors = SectorsFor(static_cast<qint64>(entries_.size()), 4);
    QByteArray bytes(sectors * kSectorSize, '\0');
    auto* p = reinterpret_cast<uchar*>(bytes.data());
    for (qint64 i = 0; i < sectors * 4; ++i) {
      uchar* d = p + i * kDirEntrySize;
      if (i >= static_cast<qint64>(entries_.size())) {
        for (int at : {0x44, 0x48, 0x4C}) PutLe32(d + at, kNoStream);
        continue;
      }
      const TEntry& e = entries_[static_cast<size_t>(i)];
      for (qsizetype k = 0; k < e.Name.size(); ++k) PutLe16(d + 2 * k, e.Name[k].unicode());
      PutLe16(d + 0x40, static_cast<quint16>(2 * (e.Name.size() + 1)));
      d[0x42] = e.Type;
      d[0x43] = 1;  // black
      PutLe32(d + 0x44, e.Left);
      PutLe32(d + 0x48, e.Right);
      PutLe32(d + 0x4C, e.Child);
      if (e.Type != kTypeStorage) {
        PutLe32(d + 0x74, e.Start);
        PutLe32(d + 0x78, static_cast<quint32>(e.Size));
      }
    }
    return bytes;
  }

  std::vector<TEntry> entries_;
  std::vector<quint32> fat_;
  std::vector<quint32> miniFat_;
  quint32 numFat_ = 0;
  quint32 numDifat_ = 0;
  quint32 totalSectors_ = 0;
  quint32 difatStart_ = kEndOfChain;
  quint32 dirStart_ = kEndOfChain;
  quint32 miniFatStart_ = kEndOfChain;
};

QString ErrnoText(int error, const QString& what, const QString& path) {
  return QStringLiteral("%1 '%2': %3").arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

// Closes and deletes the temporary file unless released after the rename.
class TTempFile {
 public:
  ~TTempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.isEmpty()) ::unlink(path_.constData());
  }
  bool Create(const QString& folder, const QString& targetName) {
    // Hidden and unique; the target's name is kept short enough for the folder's name limit.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const QString name = QStringLiteral("%1/.%2.%3.tmp")
                               .arg(folder, targetName.left(64),
                                    QString::number(QRandomGenerator::global()->generate64(), 36));
      const QByteArray encoded = QFile::encodeName(name);
      fd_ = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        path_ = encoded;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  int Fd() const { return fd_; }
  const QByteArray& Path() const { return path_; }
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }
  void Release() { path_.clear(); }

 private:
  int fd_ = -1;
  QByteArray path_;
};

bool WriteAll(int fd, const char* p, qsizetype left) {
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= n;
  }
  return true;
}

// Gathers the writer's small pieces into few system calls; big streams go straight through.
class TFdSink {
 public:
  explicit TFdSink(int fd) : fd_(fd) { buffer_.reserve(kCapacity); }
  bool Put(const char* data, qsizetype size) {
    if (buffer_.size() + size > kCapacity && !Flush()) return false;
    if (size >= kCapacity) return WriteAll(fd_, data, size);
    buffer_.append(data, size);
    return true;
  }
  bool Flush() {
    const bool ok = WriteAll(fd_, buffer_.constData(), buffer_.size());
    buffer_.resize(0);
    return ok;
  }

 private:
  static constexpr qsizetype kCapacity = 256 * 1024;
  int fd_;
  QByteArray buffer_;
};

// Leftovers of saves of the same target that were killed part-way: ".NAME.<random>.tmp". Only
// old ones go, since a fresh one may belong to a save still running in another process.
void RemoveStaleTemps(const QString& folder, const QString& targetName) {
  const QString prefix = QLatin1Char('.') + targetName.left(64) + QLatin1Char('.');
  const QString suffix = QStringLiteral(".tmp");
  const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-kStaleTempSeconds);
  const QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (!name.startsWith(prefix) || !name.endsWith(suffix)) continue;
    const QStringView random =
        QStringView(name).mid(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (random.isEmpty() || random.size() > 13 || !std::all_of(random.begin(), random.end(), [](QChar c) {
          return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z');
        }))
      continue;
    const QString path = dir.filePath(name);
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.lastModified().toUTC() > limit) continue;
    ::unlink(QFile::encodeName(path).constData());
  }
}

bool ReplaceFile(const QString& path, const TCompoundWriter& writer, QString* why) {
  const QFileInfo info(path);
  QString target = info.absoluteFilePath();
  // Saving through a link updates the file it points at and keeps the link.
  if (info.isSymLink() && !info.canonicalFilePath().isEmpty()) target = info.canonicalFilePath();
  const QFileInfo targetInfo(target);
  if (targetInfo.isDir()) {
    SetError(why, QStringLiteral("'%1' is a folder").arg(target));
    return false;
  }
  const QString folder = targetInfo.absolutePath();
  const QByteArray targetPath = QFile::encodeName(target);

  TTempFile temp;
  if (!temp.Create(folder, targetInfo.fileName())) {
    SetError(why, ErrnoText(errno, QStringLiteral("cannot create a file in"), folder));
    return false;
  }
  struct stat old {};
  if (::stat(targetPath.constData(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(temp.Fd(), old.st_mode & 07777);
  TFdSink sink(temp.Fd());
  const bool written =
      writer.Emit([&](const char* data, qsizetype size) { return sink.Put(data, size); }) && sink.Flush();
  if (!written || ::fsync(temp.Fd()) != 0 || !temp.Close()) {
    SetError(why, ErrnoText(errno, QStringLiteral("cannot write"), QFile::decodeName(temp.Path())));
    return false;
  }
  if (::rename(temp.Path().constData(), targetPath.constData()) != 0) {
    SetError(why, ErrnoText(errno, QStringLiteral("cannot replace"), target));
    return false;
  }
  temp.Release();
  // Makes the rename itself durable; some file systems refuse this, and the file is in place.
  const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    if (::fsync(dirFd) != 0)
      qCWarning(lcCompound) << "fsync of" << folder << "failed:" << std::strerror(errno);
    ::close(dirFd);
  }
  RemoveStaleTemps(folder, targetInfo.fileName());
  return true;
}

}  // namespace

ECompoundFileError::ECompoundFileError(const QString& message) : std::runtime_error(message.toStdString()) {}

// ---------------------------------------------------------------------------------------------
// CompoundStorage

CompoundStorage::CompoundStorage(QString name) : name_(std::move(name)) {}

CompoundStorage::~CompoundStorage() = default;

QStringList CompoundStorage::StorageNames() const {
  QStringList names;
  names.reserve(static_cast<qsizetype>(storages_.size()));
  for (const auto& s : storages_) names << s->name_;
  return names;
}

QStringList CompoundStorage::StreamNames() const {
  QStringList names;
  names.reserve(static_cast<qsizetype>(streams_.size()));
  for (const auto& s : streams_) names << s->Name;
  return names;
}

CompoundStorage* CompoundStorage::FindStorage(const QString& name) const {
  CompoundStorage* s = FindFolded(name).Storage;
  return s && s->name_ == name ? s : nullptr;
}

CompoundStorage::TStreamEntry* CompoundStorage::FindStream(const QString& name) const {
  TStreamEntry* s = FindFolded(name).Stream;
  return s && s->Name == name ? s : nullptr;
}

CompoundStorage* CompoundStorage::OpenStorage(const QString& name) {
  return FindStorage(name);
}

const CompoundStorage* CompoundStorage::OpenStorage(const QString& name) const {
  return FindStorage(name);
}

bool CompoundStorage::IsValidName(const QString& name, QString* why) {
  if (name.isEmpty()) {
    SetError(why, QStringLiteral("empty element name"));
    return false;
  }
  if (name.size() > kMaxNameLength) {
    SetError(why,
             QStringLiteral("element name '%1' is longer than %2 characters").arg(name).arg(kMaxNameLength));
    return false;
  }
  if (!name.isValidUtf16() || name.contains(QChar(0))) {
    SetError(why, QStringLiteral("element name '%1' is not valid text").arg(name));
    return false;
  }
  for (QChar c : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':'), QLatin1Char('!')}) {
    if (name.contains(c)) {
      SetError(why, QStringLiteral("element name '%1' contains '%2'").arg(name, c));
      return false;
    }
  }
  return true;
}

void CompoundStorage::CheckNewName(const QString& name, const void* same) const {
  QString why;
  if (!IsValidName(name, &why)) throw ECompoundFileError(why);
  const TChildRef other = FindFolded(name);
  if (other.Storage && other.Storage != same)
    throw ECompoundFileError(
        QStringLiteral("'%1' clashes with storage '%2'").arg(name, other.Storage->name_));
  if (other.Stream && other.Stream != same)
    throw ECompoundFileError(QStringLiteral("'%1' clashes with stream '%2'").arg(name, other.Stream->Name));
}

void CompoundStorage::Clear() {
  storages_.clear();
  streams_.clear();
  children_.clear();
}

CompoundStorage& CompoundStorage::CreateStorage(const QString& name) {
  CompoundStorage* existing = FindStorage(name);
  CheckNewName(name, existing);
  if (existing) {
    existing->Clear();
    return *existing;
  }
  storages_.push_back(std::make_unique<CompoundStorage>(name));
  children_.insert(name.toCaseFolded(), {storages_.back().get(), nullptr});
  return *storages_.back();
}

QByteArray& CompoundStorage::CreateStream(const QString& name) {
  TStreamEntry* existing = FindStream(name);
  CheckNewName(name, existing);
  if (existing) {
    existing->Data.clear();
    return existing->Data;
  }
  streams_.push_back(std::make_unique<TStreamEntry>(TStreamEntry{name, {}}));
  children_.insert(name.toCaseFolded(), {nullptr, streams_.back().get()});
  return streams_.back()->Data;
}

bool CompoundStorage::RemoveStorage(const QString& name) {
  const CompoundStorage* s = FindStorage(name);
  if (!s) return false;
  children_.remove(name.toCaseFolded());
  std::erase_if(storages_, [&](const auto& p) { return p.get() == s; });
  return true;
}

bool CompoundStorage::RemoveStream(const QString& name) {
  const TStreamEntry* s = FindStream(name);
  if (!s) return false;
  children_.remove(name.toCaseFolded());
  std::erase_if(streams_, [&](const auto& p) { return p.get() == s; });
  return true;
}

QByteArray& CompoundStorage::Stream(const QString& name) {
  return const_cast<QByteArray&>(std::as_const(*this).Stream(name));
}

const QByteArray& CompoundStorage::Stream(const QString& name) const {
  if (TStreamEntry* s = FindStream(name)) return s->Data;
  throw ECompoundFileError(QStringLiteral("no stream '%1' in storage '%2'").arg(name, name_));
}

// ---------------------------------------------------------------------------------------------
// CompoundFile

CompoundFile::CompoundFile() : root_(std::make_unique<CompoundStorage>(QStringLiteral("Root Entry"))) {}

std::unique_ptr<CompoundFile> CompoundFile::Create() {
  return std::unique_ptr<CompoundFile>(new CompoundFile);
}

bool CompoundFile::IsStorageFile(const QString& path) {
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return false;
  const QByteArray header = file.read(kHeaderSize);
  if (header.size() < kHeaderSize) return false;
  return ReadHeader(reinterpret_cast<const uchar*>(header.constData()), file.size(), nullptr).has_value();
}

std::unique_ptr<CompoundFile> CompoundFile::Open(const QString& path, QString* error) {
  const QFileInfo info(path);
  if (!info.exists()) {
    SetError(error, QStringLiteral("file '%1' does not exist").arg(path));
    return nullptr;
  }
  QFile file(path);
  if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
    SetError(error, QStringLiteral("cannot open '%1'").arg(path));
    return nullptr;
  }
  if (file.size() > kMaxFileSize) {
    SetError(error, QStringLiteral("'%1' is too large for a compound file").arg(path));
    return nullptr;
  }
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    SetError(error, QStringLiteral("cannot read '%1': %2").arg(path, file.errorString()));
    return nullptr;
  }
  QString why;
  auto result = OpenBytes(bytes, &why);
  if (!result) SetError(error, QStringLiteral("'%1' is not a sound compound file: %2").arg(path, why));
  return result;
}

std::unique_ptr<CompoundFile> CompoundFile::OpenBytes(const QByteArray& bytes, QString* error) {
  if (bytes.size() > kMaxFileSize) {
    SetError(error, QStringLiteral("file too large"));
    return nullptr;
  }
  InitGsf();
  QString why;
  TShape shape;
  if (!CheckStructure(bytes, shape, &why)) {
    SetError(error, why);
    return nullptr;
  }
  std::unique_ptr<CompoundFile> result;
  auto parse = [&] {
    const TInsideGsf inside;
    TGsfPtr<GsfInput> input(
        gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.constData()), bytes.size(), FALSE));
    GError* gerror = nullptr;
    TGsfPtr<GsfInfile> ole(input ? gsf_infile_msole_new(input.get(), &gerror) : nullptr);
    if (!ole) {
      why = gerror && gerror->message ? QString::fromUtf8(gerror->message) : QStringLiteral("unreadable");
      g_clear_error(&gerror);
      return;
    }
    auto file = Create();
    TLoadBudget budget{bytes.size(), 0};
    if (!LoadLevel(ole.get(), file->Root(), budget, &why)) return;
    // libgsf skips entries it dislikes instead of failing; a file missing some is damaged.
    if (budget.Elements != shape.Elements) {
      why = QStringLiteral("%1 of %2 elements unreadable")
                .arg(shape.Elements - budget.Elements)
                .arg(shape.Elements);
      return;
    }
    result = std::move(file);
  };
  const bool largeStack = shape.Depth > kCallerStackDepth || bytes.size() > kCallerStackFileSize;
  if (!RunGuarded(parse, largeStack, &why) || !result) {
    SetError(error, why);
    return nullptr;
  }
  return result;
}

std::optional<QByteArray> CompoundFile::ToBytes(QString* error) const {
  QString why;
  TShape shape;
  if (!CheckWritable(*root_, shape, &why)) {
    SetError(error, why);
    return std::nullopt;
  }
  const TCompoundWriter writer(*root_);
  if (writer.Size() > kMaxFileSize) {
    SetError(error, QStringLiteral("too large for one compound file"));
    return std::nullopt;
  }
  QByteArray bytes;
  bytes.reserve(static_cast<qsizetype>(writer.Size()));
  writer.Emit([&](const char* data, qsizetype size) {
    bytes.append(data, size);
    return true;
  });
  return bytes;
}

bool CompoundFile::Save(const QString& path, QString* error) const {
  QString why;
  TShape shape;
  bool ok = CheckWritable(*root_, shape, &why);
  if (ok) {
    const TCompoundWriter writer(*root_);
    if (writer.Size() > kMaxFileSize) {
      why = QStringLiteral("too large for one compound file");
      ok = false;
    } else {
      ok = ReplaceFile(path, writer, &why);
    }
  }
  if (!ok) SetError(error, QStringLiteral("cannot save '%1': %2").arg(path, why));
  return ok;
}

}  // namespace vexa
