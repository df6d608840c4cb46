#pragma once
// The compound-file reader: from a file or an image in memory into a tree. Private to
// storage/Compound*.

#include <QByteArray>
#include <QString>
#include <optional>

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

}  // namespace vexa::compound
