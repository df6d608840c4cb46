#pragma once
// Compound (OLE2 structured-storage) files as an in-memory tree of storages and streams. A file is
// read whole by Open and written whole by Save; Save replaces the target atomically (new file next
// to it, flushed, renamed over it), so an interrupted save leaves the old file or the new one.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vexa {

// Misuse of the tree: a bad element name, a name clash, a stream that does not exist.
class ECompoundFileError : public std::runtime_error {
 public:
  explicit ECompoundFileError(const QString& message);
  QString Message() const { return QString::fromUtf8(what()); }
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

  // The stream's bytes, for reading and writing. The reference stays valid until the stream is
  // removed or this storage is destroyed. Raises ECompoundFileError when there is no such stream.
  QByteArray& Stream(const QString& name);
  const QByteArray& Stream(const QString& name) const;
  // Create-or-replace: an existing stream of that name is emptied and returned.
  QByteArray& CreateStream(const QString& name);

  // Names are compared exactly, but the format forbids two siblings whose names differ only in
  // letter case, so creating such a sibling (or a stream and a storage of one name) is refused.
  // Create* raise ECompoundFileError for a name that fails this check.
  static bool IsValidName(const QString& name, QString* why = nullptr);

 private:
  friend class CompoundFile;
  struct TStreamEntry {
    QString Name;
    QByteArray Data;
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
  static constexpr qint64 kMaxFileSize = 256LL * 1024 * 1024;
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
  static std::unique_ptr<CompoundFile> OpenBytes(const QByteArray& bytes, QString* error = nullptr);

  CompoundStorage& Root() { return *root_; }
  const CompoundStorage& Root() const { return *root_; }

  // The file image; nullopt with a reason when the tree cannot be written.
  std::optional<QByteArray> ToBytes(QString* error = nullptr) const;
  // Writes the file and renames it over path; on failure path is left as it was.
  bool Save(const QString& path, QString* error = nullptr) const;

 private:
  CompoundFile();
  std::unique_ptr<CompoundStorage> root_;
};

}  // namespace vexa
