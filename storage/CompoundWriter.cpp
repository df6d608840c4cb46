#include "storage/CompoundWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace vexa::compound {

namespace {

// Files are written in version 3, whose sectors every reader knows.
constexpr int kSectorSize = 512;
constexpr int kIdsPerSector = kSectorSize / 4;

struct TShape {
  int Elements = 0;  // entries below the root
  int Depth = 0;     // longest line of links from the root
  qint64 Bytes = 0;  // in all streams
};

}  // namespace

// A storage's children are counted as one line of links below it, as some writers chain them;
// that bounds the shallower tree written here as well.
bool CheckWritable(const CompoundStorage& root, QString* why) {
  std::vector<std::pair<const CompoundStorage*, int>> todo{{&root, 1}};
  TShape shape{0, 1};
  while (!todo.empty()) {
    const auto [s, depth] = todo.back();
    todo.pop_back();
    const int count = static_cast<int>(s->storages_.size() + s->streams_.size());
    shape.Elements += count;
    shape.Depth = std::max(shape.Depth, depth + count);
    for (const auto& stream : s->streams_) shape.Bytes += stream->Size();
    if (count > CompoundFile::kMaxChildren || shape.Elements > CompoundFile::kMaxElements ||
        shape.Depth > CompoundFile::kMaxDirectoryDepth || shape.Bytes > CompoundFile::MaxFileSize()) {
      SetError(why, QStringLiteral("too many elements for one compound file"));
      return false;
    }
    for (const auto& storage : s->storages_) todo.emplace_back(storage.get(), depth + count);
  }
  return true;
}

thread_local std::vector<TCompoundWriter::TEntry> TCompoundWriter::spare_;

TCompoundWriter::TCompoundWriter(const CompoundStorage& root) {
  entries_.swap(spare_);
  entries_.clear();
  Collect(root);
  Layout();
}

TCompoundWriter::~TCompoundWriter() {
  entries_.clear();
  if (entries_.capacity() > spare_.capacity()) spare_.swap(entries_);
}

qint64 TCompoundWriter::Size() const {
  return kHeaderSize + static_cast<qint64>(totalSectors_) * kSectorSize;
}

namespace {

// Passes bytes on, counting them, and refuses any past the number announced; tells whether the
// sink behind it refused (the file's write failed) rather than the stream.
class TCountingSink final : public TSink {
 public:
  TCountingSink(TSink& to, qint64 limit) : to_(to), limit_(limit) {}
  bool Put(const char* data, qsizetype size) override {
    given_ += size;
    return given_ <= limit_ && Passed(to_.Put(data, size));
  }
  char* Room(qsizetype size) override {
    if (size > limit_ - given_) return nullptr;
    char* room = to_.Room(size);
    Passed(room != nullptr);
    return room;
  }
  bool Commit(qsizetype size) override {
    given_ += size;
    return given_ <= limit_ && Passed(to_.Commit(size));
  }
  qint64 Given() const { return given_; }
  bool Refused() const { return refused_; }

 private:
  bool Passed(bool ok) {
    refused_ = refused_ || !ok;
    return ok;
  }

  TSink& to_;
  qint64 limit_;
  qint64 given_ = 0;
  bool refused_ = false;
};

}  // namespace

// A stream's bytes as its entry announced them: a stream that gives other than its size fails
// the write rather than leaving a file whose layout does not hold. A write of the file that fails
// is the file's failure, told by the system's error.
bool TCompoundWriter::EmitStream(const TEntry& e, QByteArray& scratch, TSink& sink, QString* why) const {
  const auto size = static_cast<qint64>(e.Size);
  TCountingSink counted(sink, size);
  QString reason;
  const bool ok = e.Stream->Emit(scratch, counted, &reason);
  if (ok && counted.Given() == size) return true;
  if (counted.Refused()) return false;
  SetError(why,
           QStringLiteral("stream '%1': %2")
               .arg(e.Stream->Name,
                    reason.isEmpty() ? QStringLiteral("its size changed while it was written") : reason));
  return false;
}

bool TCompoundWriter::Emit(TSink& sink, QString* why) const {
  QByteArray scratch;
  const QByteArray header = Header();
  if (!sink.Put(header.constData(), header.size())) return false;
  if (!sink.Put(reinterpret_cast<const char*>(fat_.data()), static_cast<qsizetype>(fat_.size()) * 4))
    return false;
  const QByteArray difat = Difat();
  if (!sink.Put(difat.constData(), difat.size())) return false;
  if (!EmitDirectory(sink)) return false;
  if (!sink.Put(reinterpret_cast<const char*>(miniFat_.data()), static_cast<qsizetype>(miniFat_.size()) * 4))
    return false;
  static const char zeros[kSectorSize] = {};
  qint64 miniBytes = 0;
  for (const TEntry& e : entries_) {
    if (!e.Stream || !e.InMini || e.Size == 0) continue;
    const auto size = static_cast<qint64>(e.Size);
    const qint64 padded = SectorsFor(size, kMiniSectorSize) * kMiniSectorSize;
    if (!EmitStream(e, scratch, sink, why) || !sink.Put(zeros, padded - size)) return false;
    miniBytes += padded;
  }
  const qint64 miniPadded = SectorsFor(miniBytes, kSectorSize) * kSectorSize;
  if (!sink.Put(zeros, miniPadded - miniBytes)) return false;
  for (const TEntry& e : entries_) {
    if (!e.Stream || e.InMini) continue;
    const auto size = static_cast<qint64>(e.Size);
    const qint64 padded = SectorsFor(size, kSectorSize) * kSectorSize;
    if (!EmitStream(e, scratch, sink, why) || !sink.Put(zeros, padded - size)) return false;
  }
  return true;
}

// Root of a balanced tree over ids[lo, hi), sorted, on the given level (the top is level 1). The
// halves of every range differ by one entry at most, so all levels but the deepest are full and
// every path from the top ends on the deepest level or the one above it: with the deepest level
// alone red, every path holds the same number of black entries and no red entry has a red child.
quint32 TCompoundWriter::Balance(const std::vector<quint32>& ids, size_t lo, size_t hi, int level,
                                 int redLevel) {
  if (lo >= hi) return kNoStream;
  const size_t mid = lo + (hi - lo) / 2;
  TEntry& e = entries_[ids[mid]];
  e.Colour = level == redLevel ? kRed : kBlack;
  e.Left = Balance(ids, lo, mid, level + 1, redLevel);
  e.Right = Balance(ids, mid + 1, hi, level + 1, redLevel);
  return ids[mid];
}

void TCompoundWriter::Collect(const CompoundStorage& root) {
  size_t count = 1;
  std::vector<const CompoundStorage*> all{&root};
  for (size_t i = 0; i < all.size(); ++i) {
    count += all[i]->storages_.size() + all[i]->streams_.size();
    for (const auto& storage : all[i]->storages_) all.push_back(storage.get());
  }
  entries_.reserve(count);
  TEntry top;
  top.Name = &root.Name();
  top.Type = kTypeRoot;
  entries_.push_back(top);
  // Iterative: storages may nest thousands deep.
  std::vector<std::pair<const CompoundStorage*, quint32>> todo{{&root, 0}};
  std::vector<quint32> ids;
  while (!todo.empty()) {
    const auto [s, parent] = todo.back();
    todo.pop_back();
    ids.clear();
    for (const auto& storage : s->storages_) {
      ids.push_back(static_cast<quint32>(entries_.size()));
      TEntry e;
      e.Name = &storage->Name();
      entries_.push_back(e);
      todo.emplace_back(storage.get(), ids.back());
    }
    for (const auto& stream : s->streams_) {
      ids.push_back(static_cast<quint32>(entries_.size()));
      TEntry e;
      e.Name = &stream->Name;
      e.Type = kTypeStream;
      e.Stream = stream.get();
      const qint64 size = stream->Size();
      e.InMini = size < kMiniStreamCutoff;
      e.Size = static_cast<quint64>(size);
      entries_.push_back(e);
    }
    // A tree written before is in this order already, storages ("000") before the stream "Object".
    const auto less = [&](quint32 a, quint32 b) { return NameLess(*entries_[a].Name, *entries_[b].Name); };
    if (!std::is_sorted(ids.begin(), ids.end(), less)) std::stable_sort(ids.begin(), ids.end(), less);
    // n entries fill bit_width(n) levels. A full deepest level stays black: its paths are all
    // equally long, and a lone entry, the top, must be black.
    const size_t n = ids.size();
    const int redLevel = std::has_single_bit(n + 1) ? 0 : static_cast<int>(std::bit_width(n));
    entries_[parent].Child = Balance(ids, 0, n, 1, redLevel);
  }
}

void TCompoundWriter::Layout() {
  quint32 miniSectors = 0;
  quint32 bigSectors = 0;
  for (TEntry& e : entries_) {
    if (!e.Stream || e.Size == 0) continue;
    const auto size = static_cast<qint64>(e.Size);
    if (e.InMini) {
      e.Start = miniSectors;
      miniSectors += static_cast<quint32>(SectorsFor(size, kMiniSectorSize));
    } else {
      bigSectors += static_cast<quint32>(SectorsFor(size, kSectorSize));
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
    if (e.Stream && !e.InMini)
      e.Start = chain(static_cast<quint32>(SectorsFor(static_cast<qint64>(e.Size), kSectorSize)));

  miniFat_.assign(static_cast<size_t>(miniFatSectors) * kIdsPerSector, kFreeSector);
  for (const TEntry& e : entries_) {
    if (!e.Stream || !e.InMini || e.Size == 0) continue;
    const auto count = static_cast<quint32>(SectorsFor(static_cast<qint64>(e.Size), kMiniSectorSize));
    for (quint32 i = 0; i < count; ++i) miniFat_[e.Start + i] = i + 1 < count ? e.Start + i + 1 : kEndOfChain;
  }
}

QByteArray TCompoundWriter::Header() const {
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

QByteArray TCompoundWriter::Difat() const {
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

void TCompoundWriter::MoveStreamsTo(const std::shared_ptr<TLazyFile>& file) {
  file->SectorSize = kSectorSize;
  file->Fat = std::move(fat_);
  file->MiniFat = std::move(miniFat_);
  file->MiniChain.clear();
  const auto miniStreamSectors =
      static_cast<quint32>(SectorsFor(static_cast<qint64>(entries_[0].Size), kSectorSize));
  for (quint32 i = 0; i < miniStreamSectors; ++i) file->MiniChain.push_back(entries_[0].Start + i);
  for (const TEntry& e : entries_) {
    if (!e.Stream) continue;
    *e.Stream = CompoundStorage::TStreamEntry(e.Stream->Name);
    if (e.Size == 0) continue;
    e.Stream->File = file.get();
    e.Stream->Start = e.Start;
    e.Stream->Stored = static_cast<qint64>(e.Size);
  }
}

// In pieces of a few sectors: a directory of many thousand entries is never held whole.
// In pieces of a few sectors, made in room the sink lends: a directory of many thousand entries
// is never held whole.
bool TCompoundWriter::EmitDirectory(TSink& sink) const {
  constexpr qint64 kPieceEntries = 128;
  const qint64 count = SectorsFor(static_cast<qint64>(entries_.size()), 4) * 4;
  for (qint64 first = 0; first < count; first += kPieceEntries) {
    const qint64 n = std::min(kPieceEntries, count - first);
    char* room = sink.Room(n * kDirEntrySize);
    if (room == nullptr) return false;
    std::memset(room, 0, static_cast<size_t>(n * kDirEntrySize));
    for (qint64 k = 0; k < n; ++k) {
      const qint64 i = first + k;
      uchar* d = reinterpret_cast<uchar*>(room) + k * kDirEntrySize;
      if (i >= static_cast<qint64>(entries_.size())) {
        for (int at : {0x44, 0x48, 0x4C}) PutLe32(d + at, kNoStream);
        continue;
      }
      const TEntry& e = entries_[static_cast<size_t>(i)];
      const QString& name = *e.Name;
      for (qsizetype c = 0; c < name.size(); ++c) PutLe16(d + 2 * c, name[c].unicode());
      PutLe16(d + 0x40, static_cast<quint16>(2 * (name.size() + 1)));
      d[0x42] = e.Type;
      d[0x43] = e.Colour;
      PutLe32(d + 0x44, e.Left);
      PutLe32(d + 0x48, e.Right);
      PutLe32(d + 0x4C, e.Child);
      if (e.Type != kTypeStorage) {
        PutLe32(d + 0x74, e.Start);
        PutLe32(d + 0x78, static_cast<quint32>(e.Size));
      }
    }
    if (!sink.Commit(n * kDirEntrySize)) return false;
  }
  return true;
}

}  // namespace vexa::compound
