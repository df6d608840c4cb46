#include "storage/CompoundFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <utility>

namespace vexa {

namespace {

Q_LOGGING_CATEGORY(lcCompound, "vexa.storage.compound", QtWarningMsg)

// Of the longest line of sibling and child links below the root that a file may hold.
constexpr int kMaxDirectoryDepth = CompoundFile::kMaxDirectoryDepth;
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

struct TShape {
  int Elements = 0;  // entries below the root
  int Depth = 0;     // longest line of links from the root
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

// ---------------------------------------------------------------------------------------------
// Reader. Every count and link a file claims is checked before it is used: each sector and each
// mini sector is claimed by one chain at most and each directory entry is reached once, so a
// damaged file cannot make the reader loop, and the streams together may not claim more bytes
// than the file has, so it cannot make the reader allocate beyond the file's own size. The walks
// are iterative; kMaxDirectoryDepth only bounds their work lists.

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "tables are read into memory as they are stored");

constexpr quint32 kMaxRegularSector = 0xFFFFFFFAu;
constexpr quint64 kWholeChain = ~quint64{0};

// Where the reader gets a file's bytes: the file itself or an image already in memory.
class TSource {
 public:
  virtual ~TSource() = default;
  virtual qint64 Size() const = 0;
  // All of [offset, offset + size) or false.
  virtual bool ReadAt(qint64 offset, char* into, qint64 size) = 0;
};

class TMemorySource final : public TSource {
 public:
  explicit TMemorySource(const QByteArray& bytes) : bytes_(bytes) {}
  qint64 Size() const override { return bytes_.size(); }
  bool ReadAt(qint64 offset, char* into, qint64 size) override {
    if (offset < 0 || size < 0 || offset > bytes_.size() - size) return false;
    std::memcpy(into, bytes_.constData() + offset, static_cast<size_t>(size));
    return true;
  }

 private:
  const QByteArray& bytes_;
};

// Streams land in their own buffers straight from the file, never through an image of the whole
// file, so opening needs about the memory of the streams alone.
class TFileSource final : public TSource {
 public:
  TFileSource(int fd, qint64 size) : fd_(fd), size_(size) {}
  qint64 Size() const override { return size_; }
  bool ReadAt(qint64 offset, char* into, qint64 size) override {
    while (size > 0) {
      const ssize_t n = ::pread(fd_, into, static_cast<size_t>(size), static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // Another program shortening the file as we read it looks like this.
        failure_ = n < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                         : QStringLiteral("the file became shorter while it was read");
        return false;
      }
      into += n;
      offset += n;
      size -= n;
    }
    return true;
  }
  // Why a read failed: an error of the file system, not a damaged file.
  const QString& Failure() const { return failure_; }

 private:
  int fd_;
  qint64 size_;
  QString failure_;
};

quint64 Le64(const uchar* p) {
  return static_cast<quint64>(Le32(p)) | (static_cast<quint64>(Le32(p + 4)) << 32);
}

class TCompoundReader {
 public:
  TCompoundReader(TSource& source, CompoundStorage& root) : source_(source), root_(root) {}

  bool Read(QString* why) {
    why_ = why;
    uchar header[kHeaderSize] = {};
    if (source_.Size() >= kHeaderSize && !ReadBytes(0, reinterpret_cast<char*>(header), kHeaderSize))
      return false;
    const auto h = ReadHeader(header, source_.Size(), why);
    if (!h) return false;
    h_ = *h;
    major_ = Le16(header + 0x1A);
    miniFatStart_ = Le32(header + 0x3C);
    perSector_ = h_.SectorSize / 4;
    used_.assign(h_.NumSectors, false);
    try {
      return ReadFat(header) && ReadDirectory() && Walk() && ReadStreams();
    } catch (const ECompoundFileError& e) {
      return Fail(e.Message());
    } catch (const std::bad_alloc&) {
      return Fail(QStringLiteral("not enough memory"));
    } catch (const std::exception& e) {
      return Fail(QString::fromUtf8(e.what()));
    }
  }

 private:
  struct TStreamRef {
    QString Name;
    QByteArray* Data = nullptr;
    quint32 Start = kEndOfChain;
    qint64 Size = 0;
  };

  bool Fail(const QString& text) {
    SetError(why_, text);
    return false;
  }

  bool ReadBytes(qint64 offset, char* into, qint64 size) {
    return source_.ReadAt(offset, into, size) || Fail(QStringLiteral("cannot read the file"));
  }

  qint64 SectorOffset(quint32 id) const { return (static_cast<qint64>(id) + 1) * h_.SectorSize; }

  // Version 3 files may carry garbage in the high half of a size; only version 4 uses it.
  quint64 StreamSize(const uchar* entry) const {
    return major_ == 4 ? Le64(entry + 0x78) : Le32(entry + 0x78);
  }

  const uchar* Entry(quint32 e) const { return dir_.data() + static_cast<size_t>(e) * kDirEntrySize; }

  bool Claim(quint32 id, const QString& what) {
    if (id > kMaxRegularSector) return Fail(QStringLiteral("%1 is broken").arg(what));
    if (id >= h_.NumSectors) return Fail(QStringLiteral("%1 reaches past the end of the file").arg(what));
    // A sector claimed twice is a chain that loops or two chains that cross.
    if (used_[id]) return Fail(QStringLiteral("%1 loops or crosses another chain").arg(what));
    used_[id] = true;
    return true;
  }

  // The first `count` sectors of the chain from start, or all of it for kWholeChain.
  bool Chain(quint32 start, quint64 count, std::vector<quint32>& out, const QString& what) {
    out.clear();
    for (quint32 id = start; out.size() < count; id = fat_[id]) {
      if (id == kEndOfChain) return count == kWholeChain || Fail(QStringLiteral("%1 is cut short").arg(what));
      if (!Claim(id, what)) return false;
      out.push_back(id);
    }
    return true;
  }

  // The first `bytes` bytes of the chain's sectors, one read per run of consecutive sectors.
  bool ReadChain(const std::vector<quint32>& chain, qint64 bytes, char* into) {
    qint64 done = 0;
    for (size_t i = 0; done < bytes;) {
      size_t end = i + 1;
      while (end < chain.size() && chain[end] == chain[end - 1] + 1) ++end;
      const qint64 run = std::min(static_cast<qint64>(end - i) * h_.SectorSize, bytes - done);
      if (!ReadBytes(SectorOffset(chain[i]), into + done, run)) return false;
      done += run;
      i = end;
    }
    return true;
  }

  // A table of `entries` ids from its sectors: only the sectors those ids need are read, and ids
  // the table does not reach read as free.
  bool ReadTable(std::vector<quint32> sectors, size_t entries, std::vector<quint32>& table) {
    sectors.resize(std::min<size_t>(sectors.size(), SectorsFor(static_cast<qint64>(entries), perSector_)));
    table.assign(sectors.size() * perSector_, kFreeSector);
    if (!ReadChain(sectors, static_cast<qint64>(sectors.size()) * h_.SectorSize,
                   reinterpret_cast<char*>(table.data())))
      return false;
    table.resize(entries, kFreeSector);
    return true;
  }

  bool ReadFat(const uchar* header) {
    std::vector<quint32> fatSectors;
    fatSectors.reserve(h_.NumFat);
    for (int i = 0; i < kHeaderDifatIds && fatSectors.size() < h_.NumFat; ++i)
      fatSectors.push_back(Le32(header + 0x4C + 4 * i));
    std::vector<uchar> sector(h_.SectorSize);
    quint32 difat = h_.DifatStart;
    for (quint32 k = 0; k < h_.NumDifat && fatSectors.size() < h_.NumFat; ++k) {
      if (!Claim(difat, QStringLiteral("allocation table list")) ||
          !ReadBytes(SectorOffset(difat), reinterpret_cast<char*>(sector.data()), h_.SectorSize))
        return false;
      for (quint32 i = 0; i + 1 < perSector_ && fatSectors.size() < h_.NumFat; ++i)
        fatSectors.push_back(Le32(sector.data() + 4 * i));
      difat = Le32(sector.data() + 4 * (perSector_ - 1));
    }
    if (fatSectors.size() < h_.NumFat) return Fail(QStringLiteral("allocation table incomplete"));
    // Only the table sectors with ids of sectors the file has are used: libgsf's writer counts
    // too many for 4096-byte sectors and lists the extra ones past the end of the file.
    fatSectors.resize(std::min<size_t>(fatSectors.size(), SectorsFor(h_.NumSectors, perSector_)));
    for (quint32 id : fatSectors)
      if (!Claim(id, QStringLiteral("allocation table"))) return false;
    return ReadTable(std::move(fatSectors), h_.NumSectors, fat_);
  }

  bool ReadDirectory() {
    std::vector<quint32> chain;
    if (!Chain(h_.DirStart, kWholeChain, chain, QStringLiteral("directory chain"))) return false;
    if (chain.empty()) return Fail(QStringLiteral("no directory"));
    dir_.resize(chain.size() * h_.SectorSize);
    if (!ReadChain(chain, static_cast<qint64>(dir_.size()), reinterpret_cast<char*>(dir_.data())))
      return false;
    entryCount_ = static_cast<quint32>(dir_.size() / kDirEntrySize);
    const uchar* root = Entry(0);
    if (root[0x42] != kTypeRoot || Le32(root + 0x44) != kNoStream || Le32(root + 0x48) != kNoStream)
      return Fail(QStringLiteral("no root entry"));
    return true;
  }

  // Depth counts links from the root, sibling links as well as child links.
  bool Enter(quint32 e, int depth) {
    if (e >= entryCount_) return Fail(QStringLiteral("directory link out of range"));
    if (seen_[e]) return Fail(QStringLiteral("directory entry linked twice"));
    seen_[e] = true;
    if (++elements_ > CompoundFile::kMaxElements) return Fail(QStringLiteral("too many elements"));
    if (depth > kMaxDirectoryDepth) return Fail(QStringLiteral("directory too deep"));
    return true;
  }

  // Each storage's children form a binary tree ordered by name; walked left, self, right they
  // join the storage in the format's order.
  bool Walk() {
    struct TLevel {
      quint32 First;
      CompoundStorage* Into;
      int Depth;
    };
    seen_.assign(entryCount_, false);
    seen_[0] = true;
    std::vector<TLevel> levels;
    if (const quint32 child = Le32(Entry(0) + 0x4C); child != kNoStream) levels.push_back({child, &root_, 2});
    std::vector<std::pair<quint32, int>> path;
    qint64 total = 0;
    while (!levels.empty()) {
      const TLevel level = levels.back();
      levels.pop_back();
      int children = 0;
      quint32 next = level.First;
      int depth = level.Depth;
      path.clear();
      for (;;) {
        for (; next != kNoStream; next = Le32(Entry(next) + 0x44), ++depth) {
          if (!Enter(next, depth)) return false;
          path.emplace_back(next, depth);
        }
        if (path.empty()) break;
        const auto [e, at] = path.back();
        path.pop_back();
        if (++children > CompoundFile::kMaxChildren)
          return Fail(QStringLiteral("too many elements in one storage"));
        const uchar* p = Entry(e);
        const quint16 nameBytes = Le16(p + 0x40);
        if (nameBytes > 64 || nameBytes % 2 != 0) return Fail(QStringLiteral("bad name length"));
        QString name(std::max(nameBytes / 2 - 1, 0), Qt::Uninitialized);
        for (qsizetype k = 0; k < name.size(); ++k) name[k] = QChar(Le16(p + 2 * k));
        QString bad;
        if (!CompoundStorage::IsValidName(name, &bad)) return Fail(bad);
        if (level.Into->HasStorage(name) || level.Into->HasStream(name))
          return Fail(QStringLiteral("two elements named '%1'").arg(name));
        const quint32 child = Le32(p + 0x4C);
        if (p[0x42] == kTypeStorage) {
          CompoundStorage& storage = level.Into->CreateStorage(name);
          if (child != kNoStream) levels.push_back({child, &storage, at + 1});
        } else if (p[0x42] == kTypeStream) {
          if (child != kNoStream) return Fail(QStringLiteral("stream '%1' with children").arg(name));
          const quint64 size = StreamSize(p);
          if (size > static_cast<quint64>(source_.Size()))
            return Fail(QStringLiteral("stream '%1' is larger than the file").arg(name));
          // Chains that share sectors could otherwise make a small file fill memory.
          total += static_cast<qint64>(size);
          if (total > source_.Size()) return Fail(QStringLiteral("streams larger than the file"));
          streams_.push_back(
              {name, &level.Into->CreateStream(name), Le32(p + 0x74), static_cast<qint64>(size)});
        } else {
          return Fail(QStringLiteral("bad directory entry"));
        }
        next = Le32(p + 0x48);
        depth = at + 1;
      }
    }
    return true;
  }

  // The mini stream is the root entry's stream; the small streams are cut from it along the
  // mini allocation table.
  bool ReadMini() {
    const uchar* root = Entry(0);
    const quint64 size = StreamSize(root);
    if (size > static_cast<quint64>(source_.Size()))
      return Fail(QStringLiteral("mini stream larger than the file"));
    std::vector<quint32> chain;
    if (!Chain(Le32(root + 0x74), SectorsFor(static_cast<qint64>(size), h_.SectorSize), chain,
               QStringLiteral("mini stream")))
      return false;
    mini_.resize(chain.size() * h_.SectorSize);
    if (!ReadChain(chain, static_cast<qint64>(mini_.size()), mini_.data())) return false;
    const auto miniSectors = static_cast<size_t>(SectorsFor(static_cast<qint64>(size), kMiniSectorSize));
    if (!Chain(miniFatStart_, kWholeChain, chain, QStringLiteral("mini allocation table")) ||
        !ReadTable(std::move(chain), miniSectors, miniFat_))
      return false;
    miniUsed_.assign(miniSectors, false);
    return true;
  }

  // Exactly the stream's size: resize() would round the buffer up for growth, and the tree keeps
  // these buffers as long as the file is open.
  static void Allocate(const TStreamRef& s) { *s.Data = QByteArray(s.Size, Qt::Uninitialized); }

  bool ReadSmall(const TStreamRef& s) {
    Allocate(s);
    quint32 id = s.Start;
    for (qint64 at = 0; at < s.Size; at += kMiniSectorSize, id = miniFat_[id]) {
      if (id == kEndOfChain) return Fail(QStringLiteral("stream '%1' is cut short").arg(s.Name));
      if (id > kMaxRegularSector) return Fail(QStringLiteral("stream '%1' is broken").arg(s.Name));
      if (id >= miniFat_.size())
        return Fail(QStringLiteral("stream '%1' lies beyond the mini stream").arg(s.Name));
      if (miniUsed_[id])
        return Fail(QStringLiteral("stream '%1' loops or crosses another chain").arg(s.Name));
      miniUsed_[id] = true;
      std::memcpy(s.Data->data() + at, mini_.constData() + static_cast<qint64>(id) * kMiniSectorSize,
                  static_cast<size_t>(std::min<qint64>(kMiniSectorSize, s.Size - at)));
    }
    return true;
  }

  bool ReadBig(const TStreamRef& s, std::vector<quint32>& chain) {
    if (!Chain(s.Start, SectorsFor(s.Size, h_.SectorSize), chain, QStringLiteral("stream '%1'").arg(s.Name)))
      return false;
    Allocate(s);
    return ReadChain(chain, s.Size, s.Data->data());
  }

  bool ReadStreams() {
    auto small = [](const TStreamRef& s) { return s.Size > 0 && s.Size < kMiniStreamCutoff; };
    if (std::any_of(streams_.begin(), streams_.end(), small)) {
      if (!ReadMini()) return false;
      for (const TStreamRef& s : streams_)
        if (small(s) && !ReadSmall(s)) return false;
      mini_ = QByteArray();
      miniFat_ = {};
    }
    // In the order of the file, so that reading moves forwards through it.
    std::sort(streams_.begin(), streams_.end(),
              [](const TStreamRef& a, const TStreamRef& b) { return a.Start < b.Start; });
    std::vector<quint32> chain;
    for (const TStreamRef& s : streams_)
      if (s.Size >= kMiniStreamCutoff && !ReadBig(s, chain)) return false;
    return true;
  }

  TSource& source_;
  CompoundStorage& root_;
  QString* why_ = nullptr;
  THeader h_;
  quint16 major_ = 3;
  quint32 miniFatStart_ = kEndOfChain;
  quint32 perSector_ = 0;
  std::vector<bool> used_;
  std::vector<quint32> fat_;
  std::vector<uchar> dir_;
  quint32 entryCount_ = 0;
  std::vector<bool> seen_;
  int elements_ = 0;
  std::vector<TStreamRef> streams_;
  QByteArray mini_;
  std::vector<quint32> miniFat_;
  std::vector<bool> miniUsed_;
};

std::unique_ptr<CompoundFile> ReadCompound(TSource& source, QString* why) {
  auto file = CompoundFile::Create();
  if (!TCompoundReader(source, file->Root()).Read(why)) return nullptr;
  return file;
}

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

CompoundStorage::TChildRef CompoundStorage::FindFolded(const QString& name) const {
  const QString key = name.toCaseFolded();
  if (!children_.isEmpty()) return children_.value(key);
  for (const auto& [folded, child] : few_)
    if (folded == key) return child;
  return {};
}

void CompoundStorage::AddChild(const QString& name, TChildRef child) {
  QString key = name.toCaseFolded();
  if (children_.isEmpty() && few_.size() < kFewChildren) {
    few_.emplace_back(std::move(key), child);
    return;
  }
  if (children_.isEmpty()) {
    children_.reserve(static_cast<qsizetype>(2 * kFewChildren));
    for (auto& [folded, other] : few_) children_.insert(std::move(folded), other);
    std::vector<std::pair<QString, TChildRef>>().swap(few_);
  }
  children_.insert(std::move(key), child);
}

void CompoundStorage::RemoveChild(const QString& name) {
  const QString key = name.toCaseFolded();
  children_.remove(key);
  std::erase_if(few_, [&](const auto& entry) { return entry.first == key; });
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
  few_.clear();
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
  AddChild(name, {storages_.back().get(), nullptr});
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
  AddChild(name, {nullptr, streams_.back().get()});
  return streams_.back()->Data;
}

bool CompoundStorage::RemoveStorage(const QString& name) {
  const CompoundStorage* s = FindStorage(name);
  if (!s) return false;
  RemoveChild(name);
  std::erase_if(storages_, [&](const auto& p) { return p.get() == s; });
  return true;
}

bool CompoundStorage::RemoveStream(const QString& name) {
  const TStreamEntry* s = FindStream(name);
  if (!s) return false;
  RemoveChild(name);
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
  if (!info.isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    SetError(error, QStringLiteral("cannot open '%1'").arg(path));
    return nullptr;
  }
  if (file.size() > kMaxFileSize) {
    SetError(error, QStringLiteral("'%1' is too large for a compound file").arg(path));
    return nullptr;
  }
  TFileSource source(file.handle(), file.size());
  QString why;
  auto result = ReadCompound(source, &why);
  if (!result && !source.Failure().isEmpty())
    SetError(error, QStringLiteral("cannot read '%1': %2").arg(path, source.Failure()));
  else if (!result)
    SetError(error, QStringLiteral("'%1' is not a sound compound file: %2").arg(path, why));
  return result;
}

std::unique_ptr<CompoundFile> CompoundFile::OpenBytes(const QByteArray& bytes, QString* error) {
  if (bytes.size() > kMaxFileSize) {
    SetError(error, QStringLiteral("file too large"));
    return nullptr;
  }
  TMemorySource source(bytes);
  return ReadCompound(source, error);
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
