#pragma once
// TStgHandler: one level of a component tree in a compound file. The node goes into the stream
// "Object" of the level, its i-th child into the sub-storage "%0.3d" of i. The file level holds the
// whole file in memory; a save writes it back (atomically) when the tree has been stored.

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "core/Component.h"

namespace vexa {

class CompoundFile;
class CompoundStorage;
class TRootNode;

class TStgHandler {
 public:
  // Write mode. Without a parent `name` is a file path: an existing compound file is updated; any
  // other file, and one a load found unreadable, is renamed aside when the tree is written (see
  // storage/UnreadableFiles.h) and a new one takes its place. With a parent it is a sub-storage name, opened
  // when the parent listed it, else created.
  static std::unique_ptr<TStgHandler> Create(const QString& name, TStgHandler* parent = nullptr);
  // Write mode on a file that is written afresh whatever the path holds now.
  static std::unique_ptr<TStgHandler> CreateNew(const QString& path);
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
  // The name an unreadable file was renamed to by the last save, if any.
  const QString& KeptAside() const { return keptAside_; }
  CompoundStorage* Storage() const { return storage_; }

  // Snapshot of the level's elements, taken when the handler was made.
  const QStringList& StorageNames() const { return storageNames_; }
  const QStringList& StreamNames() const { return streamNames_; }
  void ReadNames();

  // Stores node and its subtree at this level; tree nodes are left with Changed False. At the file
  // level the file is then written; false when it could not be (ErrorText tells why).
  bool SaveTree(TComponent& node);
  // Loads this level's node with its subtree into target, built completely before target is
  // replaced. An invalid handler or a level without "Object" leaves target alone; a malformed
  // stream raises EStreamError and leaves target alone too. The streams are released as they are
  // read, so a handler loads its tree once (a second LoadTree leaves target alone).
  void LoadTree(std::unique_ptr<TComponent>& target);

  // Name of the sub-storage of child i: "000", "009", "999", "1000".
  static QString ChildName(int index);

 private:
  TStgHandler() = default;
  void Build(std::unique_ptr<TComponent>& target, int depth);
  void Store(TComponent& node, std::vector<TRootNode*>& written);

  std::unique_ptr<CompoundFile> file_;  // file level only
  CompoundStorage* storage_ = nullptr;
  QString path_;
  bool writable_ = false;
  QString error_;
  QString readFailure_;
  bool keepAside_ = false;
  QString keptAside_;
  QStringList storageNames_;
  QStringList streamNames_;
};

}  // namespace vexa
