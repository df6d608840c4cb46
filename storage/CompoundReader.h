#pragma once
// The compound-file reader: from a file or an image in memory into a tree. Private to
// storage/Compound*.

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "core/FileDescriptor.h"
#include "storage/CompoundFile.h"

namespace vexa::compound {

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
  bool ReadAt(qint64 offset, char* into, qint64 size) override;

 private:
  const QByteArray& bytes_;
};

// Streams land in their own buffers straight from the file, never through an image of the whole
// file, so opening needs about the memory of the streams alone.
class TFileSource final : public TSource {
 public:
  TFileSource(int fd, qint64 size) : fd_(fd), size_(size) {}
  qint64 Size() const override { return size_; }
  bool ReadAt(qint64 offset, char* into, qint64 size) override;
  // Why a read failed: an error of the file system, not a damaged file.
  const QString& Failure() const { return failure_; }

 private:
  int fd_;
  qint64 size_;
  QString failure_;
};

struct THeader {
  quint32 SectorSize = 0;
  quint32 NumSectors = 0;  // whole sectors after the header
  quint32 NumFat = 0;
  quint32 DirStart = 0;
  quint32 DifatStart = 0;
  quint32 NumDifat = 0;
};

// The fixed header fields every sound file has; p holds the first 512 bytes of a file of fileSize.
std::optional<THeader> ReadHeader(const uchar* p, qint64 fileSize, QString* why);

// Fills root, which must be empty, with the file's tree; false with a reason when the file is
// damaged or cannot be read.
bool ReadCompound(TSource& source, CompoundStorage& root, QString* why);

// A file whose streams are read when asked for: it stays open, with the allocation tables that
// lead to their sectors. Its tables were checked when it was opened, so every chain it follows is
// known sound.
struct TLazyFile {
  QString Path;  // for messages
  TFileDescriptor Fd;
  qint64 SectorSize = 512;
  std::vector<quint32> Fat;
  std::vector<quint32> MiniFat;
  std::vector<quint32> MiniChain;  // the sectors of the mini stream
  // Whether the mini stream is read whole at the first small stream (every stream will be read)
  // rather than each small stream where it lies.
  bool WholeMini = false;

  // `size` bytes of a stream from `from` into `into`; false with *why when the file cannot be read.
  bool Read(bool small, quint32 start, qint64 from, char* into, qint64 size, QString* why) const;

 private:
  bool ReadRuns(const std::vector<std::pair<qint64, qint64>>& runs, char* into, QString* why) const;
  mutable QByteArray mini_;
  mutable bool miniRead_ = false;
};

// The tree of a file opened lazily: root, which must be empty, gets the tree, its streams left
// in `file` (whose tables are filled in here), after every check ReadCompound makes but the reads
// of the streams' own bytes.
bool ReadCompoundLazily(TFileSource& source, CompoundStorage& root, const std::shared_ptr<TLazyFile>& file,
                        QString* why);

}  // namespace vexa::compound
