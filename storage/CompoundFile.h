#pragma once
// Compound (OLE2 structured-storage) files as an in-memory tree of storages and streams. A file is
// read whole by Open, or its tree alone by OpenLazily with each stream's bytes read when asked
// for, and written whole by Save; Save replaces the target atomically (new file next to it,
// flushed, renamed over it), so an interrupted save leaves the old file or the new one.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vexa {

class CompoundStorage;

namespace compound {
struct TLazyFile;
class TCompoundWriter;
bool CheckWritable(const CompoundStorage& root, QString* why);
}  // namespace compound

// Misuse of the tree: a bad element name, a name clash, a stream that does not exist.
class ECompoundFileError : public std::runtime_error {
 public:
  explicit ECompoundFileError(const QString& message);
  QString Message() const { return QString::fromUtf8(what()); }
};

// Where the bytes of a file go as it is written, in order: handed over in pieces (Put), or made in
// room the sink lends (Room, then Commit), so that bytes made for the file are not copied on their
// way. False, or no room, stops the write.
class TByteSink {
 public:
  virtual ~TByteSink() = default;
  virtual bool Put(const char* data, qsizetype size) = 0;
  virtual char* Room(qsizetype size) = 0;
  virtual bool Commit(qsizetype size) = 0;
};

// A sink over memory with room for what it is given: lends its own bytes.
class TMemorySink final : public TByteSink {
 public:
  TMemorySink(char* into, qint64 size) : into_(into), size_(size) {}
  bool Put(const char* data, qsizetype n) override {
    if (n > size_ - at_) return false;
    if (n > 0) std::memcpy(into_ + at_, data, static_cast<size_t>(n));
    at_ += n;
    return true;
  }
  char* Room(qsizetype n) override { return n <= size_ - at_ ? into_ + at_ : nullptr; }
  bool Commit(qsizetype n) override {
    if (n > size_ - at_) return false;
    at_ += n;
    return true;
  }
  qint64 Filled() const { return at_; }

 private:
  char* into_;
  qint64 size_;
  qint64 at_ = 0;
};

// Makes the bytes of streams as their file is written, so that a save holds no stream of its own:
// one maker serves many streams, each naming what it makes of (item) and its length, known
// beforehand to lay the file out.
class TStreamMaker {
 public:
  virtual ~TStreamMaker() = default;
  // Gives sink the `length` bytes of item. False when the sink refused them, or when they could
  // not be made (item changed since its length was taken): then *why says why.
  virtual bool Make(void* item, qint64 length, TByteSink& sink, QString* why) const = 0;
};

// Bytes of a file opened lazily that could not be read when they were asked for (the file cut
// short or failing meanwhile): the file is at fault, not the tree it holds.
class ECompoundReadError : public ECompoundFileError {
 public:
  using ECompoundFileError::ECompoundFileError;
};

class CompoundStorage {
 public:
  // The format stores names as at most 31 UTF-16 code units.
  static constexpr int kMaxNameLength = 31;

  explicit CompoundStorage(QString name);
  CompoundStorage(const CompoundStorage&) = delete;
  CompoundStorage& operator=(const CompoundStorage&) = delete;
  ~CompoundStorage();

  const QString& Name() const { return name_; }

  // In file order for elements read from a file, in creation order for new ones.
  QStringList StorageNames() const;
  QStringList StreamNames() const;
  // The sub-storages in that order, without their names copied out.
  qsizetype StorageCount() const { return static_cast<qsizetype>(storages_.size()); }
  CompoundStorage& StorageAt(qsizetype i) { return *storages_[static_cast<size_t>(i)]; }
  const CompoundStorage& StorageAt(qsizetype i) const { return *storages_[static_cast<size_t>(i)]; }
  bool HasStorage(const QString& name) const { return FindStorage(name) != nullptr; }
  bool HasStream(const QString& name) const { return FindStream(name) != nullptr; }

  // Null when there is no such sub-storage.
  CompoundStorage* OpenStorage(const QString& name);
  const CompoundStorage* OpenStorage(const QString& name) const;
  // Create-or-replace: an existing sub-storage of that name is emptied and returned.
  CompoundStorage& CreateStorage(const QString& name);
  // False when there was no such element.
  bool RemoveStorage(const QString& name);
  bool RemoveStream(const QString& name);

  // The stream's bytes, for reading and writing. A stream whose bytes are still in the file it was
  // read from (OpenLazily), or are made when written (SetStreamMade), gets them now and holds them
  // from then on. The reference stays valid until the stream is removed or this storage is
  // destroyed. Raises ECompoundFileError when there is no such stream, ECompoundReadError when its
  // bytes cannot be read.
  QByteArray& Stream(const QString& name);
  const QByteArray& Stream(const QString& name) const;
  // Create-or-replace: an existing stream of that name is emptied and returned.
  QByteArray& CreateStream(const QString& name);
  // Create-or-keep a stream whose bytes the maker makes for item when the file is written:
  // `length` of them, then, when the stream held more before, the rest of what it held, as a
  // stream written over in place keeps its tail. Maker and item must last until the file is
  // written (SaveAndKeep lets them go; after Save they are still needed for the next write).
  void SetStreamMade(const QString& name, const TStreamMaker* maker, void* item, qint64 length);
  qint64 StreamSize(const QString& name) const;
  // The stream's bytes into `into`, resized to them (room it has already is reused), without the
  // tree keeping them. Raises as Stream does.
  void ReadStream(const QString& name, QByteArray& into) const;
  // For the lazy reader: a new stream of `size` bytes lying in `file` from sector (below the mini
  // stream cut-off, mini sector) `start`.
  void CreateStreamInFile(const QString& name, const compound::TLazyFile* file, quint32 start, qint64 size);

  // Names are compared exactly, but the format forbids two siblings whose names differ only in
  // letter case, so creating such a sibling (or a stream and a storage of one name) is refused.
  // Create* raise ECompoundFileError for a name that fails this check.
  static bool IsValidName(const QString& name, QString* why = nullptr);

 private:
  friend class CompoundFile;
  friend class compound::TCompoundWriter;
  friend bool compound::CheckWritable(const CompoundStorage& root, QString* why);
  // A stream's bytes are held (Data) or lie in the file the tree was read from or last written to
  // (File, from Start, Stored of them); a maker may be set to make them anew over those.
  struct TStreamEntry {
    explicit TStreamEntry(QString name) : Name(std::move(name)) {}

    QString Name;
    QByteArray Data;
    const compound::TLazyFile* File = nullptr;
    quint32 Start = 0;
    qint64 Stored = 0;
    const TStreamMaker* Maker = nullptr;
    void* Item = nullptr;
    qint64 Made = 0;

    qint64 OldSize() const { return File ? Stored : Data.size(); }
    qint64 Size() const { return Maker && Made > OldSize() ? Made : OldSize(); }
    // The bytes: made, then what the stream held past them; scratch is room to read them in.
    bool Emit(QByteArray& scratch, TByteSink& sink, QString* why) const;
    // All the bytes into `into`, which has room for them; raises ECompoundReadError.
    void CopyTo(char* into) const;
    // Holds its bytes from now on.
    void Settle();
  };

  // The child whose name equals name when letter case is ignored (at most one exists).
  struct TChildRef {
    CompoundStorage* Storage = nullptr;
    TStreamEntry* Stream = nullptr;
  };

  TChildRef FindFolded(const QString& name) const;
  void AddChild(const QString& name, TChildRef child);
  void RemoveChild(const QString& name);
  CompoundStorage* FindStorage(const QString& name) const;
  TStreamEntry* FindStream(const QString& name) const;
  // Raises when there is no such stream.
  TStreamEntry& ExistingStream(const QString& name) const;
  // Raises when name is invalid or clashes with a sibling other than `same`.
  void CheckNewName(const QString& name, const void* same) const;
  void Clear();

  QString name_;
  std::vector<std::unique_ptr<CompoundStorage>> storages_;
  // Entries live on the heap so that references handed out by Stream() survive later insertions.
  std::vector<std::unique_ptr<TStreamEntry>> streams_;
  // Every child by its case-folded name: lookups and clash checks without a scan. The smallest
  // hash takes about 2 KiB and most storages hold a few elements, so up to kFewChildren of them
  // are kept in a short list instead, and the hash is built when one more arrives.
  static constexpr size_t kFewChildren = 16;
  std::vector<std::pair<QString, TChildRef>> few_;
  QHash<QString, TChildRef> children_;
};

class CompoundFile {
 public:
  // Limits that keep reading bounded in time and memory whatever a file claims; Save refuses a
  // tree that a later Open would refuse.
  // The largest file: the state of 20,000 polled registers with full 1,200-entry histories
  // (about 40 KB each, see StateFilesTest) and half as much again, below the 2 GiB where
  // 32-bit file offsets end. The format itself (512-byte sectors, 32-bit sector ids, allocation
  // table sectors listed in a chain) holds far more.
  static constexpr qint64 kMaxFileSize = 1536LL * 1024 * 1024;
  // The bound in force: kMaxFileSize unless a test lowered it.
  static qint64 MaxFileSize();
  // A save whose file passes four fifths of the bound is told as a warning, while there is room.
  static qint64 WarningFileSize() { return MaxFileSize() / 5 * 4; }
  // Lowers the bound while it lives, so that tests reach it without writing a GiB.
  class TLowerSizeBound {
   public:
    explicit TLowerSizeBound(qint64 bound);
    ~TLowerSizeBound();
    TLowerSizeBound(const TLowerSizeBound&) = delete;
    TLowerSizeBound& operator=(const TLowerSizeBound&) = delete;

   private:
    qint64 previous_;
  };
  static constexpr int kMaxElements = 200000;
  static constexpr int kMaxChildren = 4096;
  // The longest line of sibling and child links below the root a file may hold.
  static constexpr int kMaxDirectoryDepth = 20000;

  // True for a readable file that starts with a sound compound-file header.
  static bool IsStorageFile(const QString& path);
  // An empty file: the root storage alone.
  static std::unique_ptr<CompoundFile> Create();
  // Reads the whole file; null with a reason in *error for a missing, unreadable, foreign or
  // damaged file.
  static std::unique_ptr<CompoundFile> Open(const QString& path, QString* error = nullptr);
  // How the streams of a file opened lazily will be read: Some when few will (a save updating the
  // file reads only what it keeps of the old one), Every when all will, one after another (a load):
  // the small streams are then read together, at the first.
  enum class TStreamUse { Some, Every };
  // The tree of the file, checked as Open checks it, its streams' bytes left in the file (kept
  // open) until asked for; refuses what Open refuses. A read that fails later (the file cut
  // short meanwhile) raises ECompoundReadError where the bytes were asked for.
  static std::unique_ptr<CompoundFile> OpenLazily(const QString& path, QString* error = nullptr,
                                                  TStreamUse use = TStreamUse::Some);
  static std::unique_ptr<CompoundFile> OpenBytes(const QByteArray& bytes, QString* error = nullptr);

  ~CompoundFile();
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  CompoundStorage& Root() { return *root_; }
  const CompoundStorage& Root() const { return *root_; }

  // The file image; nullopt with a reason when the tree cannot be written.
  std::optional<QByteArray> ToBytes(QString* error = nullptr) const;
  // Writes the file and renames it over path; on failure path is left as it was.
  bool Save(const QString& path, QString* error = nullptr) const;
  // Writes as Save does; once written, the tree stands for the new file as OpenLazily of it would
  // give it (its elements in the file's order, every stream read from the file when asked for;
  // makers and held bytes let go) and then lets the file go, so that a later save can start from
  // the tree instead of reading the file again (see Reattach). On failure the tree holds what it
  // held.
  bool SaveAndKeep(const QString& path, QString* error = nullptr);
  // Whether path holds the very file SaveAndKeep wrote, unchanged since (the same file, size and
  // times of its last change): then the tree's streams read from it again and true; else false,
  // and the tree must not be used for that file. A change that keeps the size, made within the
  // file system's clock tick after the save, is not seen; one writer per program folder
  // (storage/FolderLock.h) leaves only this process to make one.
  bool Reattach(const QString& path);

  // Trees SaveAndKeep wrote, kept by path (a few, the latest) to stand for their files in a later
  // save. TakeKept hands the tree of path back when Reattach holds for it, else nothing; any save
  // through this class to a path lets its kept tree go.
  static void Keep(const QString& path, std::unique_ptr<CompoundFile> tree);
  static std::unique_ptr<CompoundFile> TakeKept(const QString& path);

 private:
  CompoundFile();
  struct TWritten;  // what identifies the file SaveAndKeep wrote
  std::unique_ptr<CompoundStorage> root_;
  // The file the tree's streams lie in (opened lazily or written by SaveAndKeep), if any.
  std::shared_ptr<compound::TLazyFile> file_;
  std::unique_ptr<TWritten> written_;
};

}  // namespace vexa
