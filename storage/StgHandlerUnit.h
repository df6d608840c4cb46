#pragma once
// TStgHandler: one level of a component tree in a compound file. The node goes into the stream
// "Object" of the level, its i-th child into the sub-storage "%0.3d" of i. The file level holds the
// file's tree of storages, its streams' bytes left in the file until read; a save writes the file
// back (atomically) when the tree has been stored, making each node's stream as it writes it.

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "core/Component.h"
#include "storage/UnreadableFiles.h"

namespace vexa {

class CompoundFile;
class CompoundStorage;
class TRootNode;

// A part of a file that is there but could not be read, so the load went on without it.
struct TDamagedPart {
  QString Part;    // its storage path from the file level: "000/002", "000/Extra"
  QString Owner;   // the name of the object it belongs under, when that object was read
  QString Reason;  // in the operator's language
};
// "000/002 (в D000): нет объекта; …"
QString DamagedPartText(const TDamagedPart& part);

// An element of a storage level as a load takes it: a child's sub-storage to load (Fault empty), or
// what is amiss there (Name the element, or the first missing child of a gap in the numbering).
struct TLevelEntry {
  QString Name;
  QString Fault;
};

class TStgHandler {
 public:
  // Write mode. Without a parent `name` is a file path: an existing compound file is updated; any
  // other file, and one a load found unreadable, is renamed aside when the tree is written (see
  // storage/UnreadableFiles.h) and a new one takes its place. With a parent it is a sub-storage name, opened
  // when the parent listed it, else created.
  static std::unique_ptr<TStgHandler> Create(const QString& name, TStgHandler* parent = nullptr);
  // Write mode on a file that is written afresh whatever the path holds now.
  static std::unique_ptr<TStgHandler> CreateNew(const QString& path);
  // Write mode on a state file: as Create, or CreateNew when fresh; besides, an existing file this
  // run has neither read nor written (see NotedOurs) is kept aside (".replaced-…") when the tree is
  // written, so that a save never erases a state it did not load.
  static std::unique_ptr<TStgHandler> CreateStateFile(const QString& path, bool fresh);
  // Read mode, the same two forms.
  static std::unique_ptr<TStgHandler> Open(const QString& name, TStgHandler* parent = nullptr);
  // Read mode over the bytes of a compound file held in memory.
  static std::unique_ptr<TStgHandler> OpenImage(const QByteArray& bytes);

  ~TStgHandler();
  TStgHandler(const TStgHandler&) = delete;
  TStgHandler& operator=(const TStgHandler&) = delete;

  bool Valid() const { return storage_ != nullptr; }
  bool Writable() const { return writable_; }
  // The text of the failure that left the handler invalid, or of a failed file write.
  const QString& ErrorText() const { return error_; }
  // Read mode on a file that exists but cannot be read as a compound file: why, for the operator.
  const QString& ReadFailure() const { return readFailure_; }
  // The name an unreadable or replaced file was renamed to by the last save, if any.
  const QString& KeptAside() const { return keptAside_; }
  CompoundStorage* Storage() const { return storage_; }

  // Snapshot of the level's elements, taken when the handler was made.
  const QStringList& StorageNames() const { return storageNames_; }
  const QStringList& StreamNames() const { return streamNames_; }
  void ReadNames();

  // Stores node and its subtree at this level; tree nodes are left with Changed False. At the file
  // level the file is then written; false when it could not be (ErrorText tells why). The streams
  // are made straight into the file from the nodes, so a file-level handler writes once: afterwards
  // it holds no tree (Valid() is false).
  bool SaveTree(TComponent& node);
  // Loads this level's node with its subtree into target, built completely before target is
  // replaced. An invalid handler or a level without "Object" leaves target alone; a malformed
  // stream of this level raises EStreamError and leaves target alone too. Below it, a part that is
  // there but cannot be read (a level without its object or with one that does not parse, a gap in
  // the children's numbering, an element the program never writes) is left out and listed in
  // Damage(); the children after a gap are still loaded, in the order of their numbers. The
  // streams are released as they are read, so a handler loads its tree once (a second LoadTree
  // leaves target alone).
  void LoadTree(std::unique_ptr<TComponent>& target);
  const std::vector<TDamagedPart>& Damage() const { return damage_; }

  // The elements of a level in the order a load takes them: the children "000", "001", ... by their
  // numbers, a gap where numbers are missing, then the elements the program never writes. The
  // stream "Object" is not listed.
  static std::vector<TLevelEntry> LevelEntries(const CompoundStorage& level);
  // Why a level without its stream "Object" cannot be loaded, naming the streams it has instead.
  static QString MissingObjectText(const CompoundStorage& level);

  // Name of the sub-storage of child i: "000", "009", "999", "1000".
  static QString ChildName(int index);

  // Room the streams of the file are read into, one after another; shared by the handlers of a
  // file's levels.
  QByteArray& Scratch() { return top_ ? top_->scratch_ : scratch_; }

 private:
  TStgHandler() = default;
  // Write mode at the file level; `known` is the file's tree when it is known already.
  static std::unique_ptr<TStgHandler> CreateFile(const QString& path, std::unique_ptr<CompoundFile> known);
  void Build(std::unique_ptr<TComponent>& target, int depth, const QString& path, const QString& owner);

  std::unique_ptr<CompoundFile> file_;  // file level only
  TStgHandler* top_ = nullptr;          // the file level's handler, for a level below it
  QByteArray scratch_;
  CompoundStorage* storage_ = nullptr;
  QString path_;
  bool writable_ = false;
  QString error_;
  QString readFailure_;
  std::optional<TAside> aside_;  // why the file goes aside before it is written
  bool keep_ = false;            // a state file: its tree is kept once written (CompoundFile::Keep)
  QString keptAside_;
  std::vector<TDamagedPart> damage_;
  QStringList storageNames_;
  QStringList streamNames_;
};

}  // namespace vexa
