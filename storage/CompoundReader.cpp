#include "storage/CompoundReader.h"

#include <unistd.h>

#include <QHash>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "storage/CompoundFormat.h"

namespace vexa::compound {

// Every count and link a file claims is checked before it is used: each sector and each mini
// sector is claimed by one chain at most and each directory entry is reached once, so a damaged
// file cannot make the reader loop, and the streams together may not claim more bytes than the
// file has, so it cannot make the reader allocate beyond the file's own size. The walks are
// iterative; kMaxDirectoryDepth only bounds their work lists.

bool TMemorySource::ReadAt(qint64 offset, char* into, qint64 size) {
  if (offset < 0 || size < 0 || offset > bytes_.size() - size) return false;
  std::memcpy(into, bytes_.constData() + offset, static_cast<size_t>(size));
  return true;
}

bool TFileSource::ReadAt(qint64 offset, char* into, qint64 size) {
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

namespace {

constexpr int kMaxDirectoryDepth = CompoundFile::kMaxDirectoryDepth;
constexpr quint64 kWholeChain = ~quint64{0};

class TCompoundReader {
 public:
  // With a lazy file, the streams' bytes are left in the file and read through it later.
  TCompoundReader(TSource& source, CompoundStorage& root, std::shared_ptr<TLazyFile> lazy = nullptr)
      : source_(source), root_(root), lazy_(std::move(lazy)) {}

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
      if (!(ReadFat(header) && ReadDirectory() && Walk() && ReadStreams())) return false;
      if (lazy_) {
        lazy_->SectorSize = h_.SectorSize;
        lazy_->Fat = std::move(fat_);
        lazy_->MiniFat = std::move(miniFat_);
      }
      return true;
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

  const uchar* Entry(quint32 e) const { return dir_.get() + static_cast<size_t>(e) * kDirEntrySize; }

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
    // Read over at once: not filled beforehand.
    const size_t size = chain.size() * h_.SectorSize;
    dir_ = std::make_unique_for_overwrite<uchar[]>(size);
    if (!ReadChain(chain, static_cast<qint64>(size), reinterpret_cast<char*>(dir_.get()))) return false;
    entryCount_ = static_cast<quint32>(size / kDirEntrySize);
    const uchar* root = Entry(0);
    if (root[0x42] != kTypeRoot || Le32(root + 0x44) != kNoStream || Le32(root + 0x48) != kNoStream)
      return Fail(QStringLiteral("no root entry"));
    return true;
  }

  // A name as the entry at p holds it. Names repeat from level to level ("Object", "000"): each is
  // made once and shared.
  QString NameOf(const uchar* p, int length) {
    const QByteArray raw = QByteArray::fromRawData(reinterpret_cast<const char*>(p), 2 * length);
    if (const auto known = names_.constFind(raw); known != names_.cend()) return *known;
    QString name(length, Qt::Uninitialized);
    for (qsizetype k = 0; k < length; ++k) name[k] = QChar(Le16(p + 2 * k));
    names_.insert(raw, name);  // the key points into dir_, which outlives the table
    return name;
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
        const QString name = NameOf(p, std::max(nameBytes / 2 - 1, 0));
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
          const quint32 start = Le32(p + 0x74);
          QByteArray* data = nullptr;
          if (!lazy_)
            data = &level.Into->CreateStream(name);
          else if (size == 0)
            level.Into->CreateStream(name);
          else
            level.Into->CreateStreamInFile(name, lazy_.get(), start, static_cast<qint64>(size));
          streams_.push_back({name, data, start, static_cast<qint64>(size)});
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
    if (lazy_) {
      lazy_->MiniChain = chain;
    } else {
      mini_.resize(chain.size() * h_.SectorSize);
      if (!ReadChain(chain, static_cast<qint64>(mini_.size()), mini_.data())) return false;
    }
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

  // A lazy file's stream is only followed along its chain here.
  bool ReadSmall(const TStreamRef& s) {
    if (!lazy_) Allocate(s);
    quint32 id = s.Start;
    for (qint64 at = 0; at < s.Size; at += kMiniSectorSize, id = miniFat_[id]) {
      if (id == kEndOfChain) return Fail(QStringLiteral("stream '%1' is cut short").arg(s.Name));
      if (id > kMaxRegularSector) return Fail(QStringLiteral("stream '%1' is broken").arg(s.Name));
      if (id >= miniFat_.size())
        return Fail(QStringLiteral("stream '%1' lies beyond the mini stream").arg(s.Name));
      if (miniUsed_[id])
        return Fail(QStringLiteral("stream '%1' loops or crosses another chain").arg(s.Name));
      miniUsed_[id] = true;
      if (lazy_) continue;
      std::memcpy(s.Data->data() + at, mini_.constData() + static_cast<qint64>(id) * kMiniSectorSize,
                  static_cast<size_t>(std::min<qint64>(kMiniSectorSize, s.Size - at)));
    }
    return true;
  }

  bool ReadBig(const TStreamRef& s, std::vector<quint32>& chain) {
    if (!Chain(s.Start, SectorsFor(s.Size, h_.SectorSize), chain, QStringLiteral("stream '%1'").arg(s.Name)))
      return false;
    if (lazy_) return true;
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
      if (!lazy_) miniFat_ = {};
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
  std::shared_ptr<TLazyFile> lazy_;
  QString* why_ = nullptr;
  THeader h_;
  quint16 major_ = 3;
  quint32 miniFatStart_ = kEndOfChain;
  quint32 perSector_ = 0;
  std::vector<bool> used_;
  std::vector<quint32> fat_;
  std::unique_ptr<uchar[]> dir_;
  QHash<QByteArray, QString> names_;
  quint32 entryCount_ = 0;
  std::vector<bool> seen_;
  int elements_ = 0;
  std::vector<TStreamRef> streams_;
  QByteArray mini_;
  std::vector<quint32> miniFat_;
  std::vector<bool> miniUsed_;
};

}  // namespace

bool ReadCompound(TSource& source, CompoundStorage& root, QString* why) {
  return TCompoundReader(source, root).Read(why);
}

bool ReadCompoundLazily(TFileSource& source, CompoundStorage& root, const std::shared_ptr<TLazyFile>& file,
                        QString* why) {
  return TCompoundReader(source, root, file).Read(why);
}

bool TLazyFile::ReadRuns(const std::vector<std::pair<qint64, qint64>>& runs, char* into, QString* why) const {
  TFileSource source(Fd.Get(), std::numeric_limits<qint64>::max());
  for (const auto& [offset, size] : runs) {
    if (!source.ReadAt(offset, into, size)) {
      SetError(why, QStringLiteral("cannot read '%1': %2").arg(Path, source.Failure()));
      return false;
    }
    into += size;
  }
  return true;
}

bool TLazyFile::Read(bool small, quint32 start, qint64 from, char* into, qint64 size, QString* why) const {
  if (size <= 0) return true;
  // Runs of the file to read, neighbours joined: one read for a stream laid out in one piece.
  std::vector<std::pair<qint64, qint64>> runs;
  const auto add = [&runs](qint64 offset, qint64 n) {
    if (!runs.empty() && runs.back().first + runs.back().second == offset)
      runs.back().second += n;
    else
      runs.emplace_back(offset, n);
  };
  const auto broken = [this, why] {
    SetError(why, QStringLiteral("cannot read '%1': the file changed while it was read").arg(Path));
    return false;
  };
  const qint64 unit = small ? kMiniSectorSize : SectorSize;
  const std::vector<quint32>& table = small ? MiniFat : Fat;
  quint32 id = start;
  for (qint64 skip = from / unit; skip > 0; --skip) {
    if (id >= table.size()) return broken();
    id = table[id];
  }
  if (small && WholeMini && !miniRead_) {
    std::vector<std::pair<qint64, qint64>> whole;
    for (quint32 sector : MiniChain) {
      const qint64 offset = (static_cast<qint64>(sector) + 1) * SectorSize;
      if (!whole.empty() && whole.back().first + whole.back().second == offset)
        whole.back().second += SectorSize;
      else
        whole.emplace_back(offset, SectorSize);
    }
    QByteArray bytes(static_cast<qsizetype>(MiniChain.size()) * SectorSize, Qt::Uninitialized);
    if (!ReadRuns(whole, bytes.data(), why)) return false;
    mini_ = std::move(bytes);
    miniRead_ = true;
  }
  qint64 within = from % unit;
  for (qint64 done = 0; done < size; id = table[id]) {
    if (id >= table.size()) return broken();
    const qint64 n = std::min(unit - within, size - done);
    if (!small) {
      add((static_cast<qint64>(id) + 1) * SectorSize + within, n);
    } else {
      const qint64 at = static_cast<qint64>(id) * kMiniSectorSize + within;
      if (miniRead_) {
        if (at + n > mini_.size()) return broken();
        std::memcpy(into + done, mini_.constData() + at, static_cast<size_t>(n));
      } else {
        const auto sector = static_cast<size_t>(at / SectorSize);
        if (sector >= MiniChain.size()) return broken();
        add((static_cast<qint64>(MiniChain[sector]) + 1) * SectorSize + at % SectorSize, n);
      }
    }
    done += n;
    within = 0;
    if (done == size) break;
  }
  return runs.empty() || ReadRuns(runs, into, why);
}

}  // namespace vexa::compound
