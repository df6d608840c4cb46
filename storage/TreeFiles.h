#pragma once
// Where the tree files live, and one tree saved to or loaded from its file: a configuration file per
// root in <folder>/Config, a report archive per report run in <folder>/Archives.

#include <QString>
#include <memory>
#include <vector>

#include "core/Faults.h"
#include "core/RootNode.h"
#include "core/SetupNode.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"
#include "storage/UnreadableFiles.h"

namespace vexa {

class TNetwork;

// <folder>/Config/<name>.cfg and <folder>/Archives/<caption>, in a network's program folder.
QString ConfigFilePath(const QString& folder, const QString& rootName);

// The state files: each of the roots (ALARMS too) and the settings object has its fixed file, and the file
// holds that one root, whatever a tree's name says.
// The name (NET, ..., REGISTRY, SETUP) of the file of a tree: the network's root or settings object
// it is, else the one its own name is; empty for any other tree, which has no file.
QString StateFileName(TNetwork& network, const TComponent* tree);
// Whether `name` is one of the state files' (NET, ..., REGISTRY, SETUP).
bool IsStateFileName(const QString& name);
// The root a file holds by the file's name: NET for .../NET.cfg, SETUP for .../SETUP.cfg; empty
// for any other file.
QString StateRootOfFile(const QString& fileName);
// Whether the root read for the state file of `name` is that file's: its class, then its name.
enum class TRootFault { None, WrongClass, WrongName };
TRootFault CheckStateRoot(const QString& name, const TComponent& root);
// The class the state file of `name` holds: TSetupNode for SETUP, else TRootNode.
QString StateRootClass(const QString& name);
QString ArchivePath(const QString& folder, const QString& caption);
// A name that stays a file inside its folder: not empty, no separators, not "." or "..".
bool IsPlainFileName(const QString& name);

// Writes the root's file (StateFileName); with the settings' NewConfig set, a fresh file replaces
// the old one instead of updating it. A file this run has neither read nor written is kept aside
// first (".replaced-…"). False when nothing could be written, with *why naming the file and the
// reason; the old file is then as it was.
// A file written that passed CompoundFile::WarningFileSize() sets *warning, naming the file, its
// size and the bound: the operator is told while saves still succeed.
bool SaveTreeFile(TNetwork& network, TComponent& root, QString* why = nullptr, QString* warning = nullptr);
// The warning for a file of `size` bytes just written at path; empty while it is small enough.
QString FileSizeWarning(const QString& path, qint64 size);
// A save for a window or a tick: no faults when the file was written; otherwise an error naming the
// file and the reason; unless `always` (the operator's own save command), the first time only until
// a save of that file succeeds again, since a tick may save every minute onto a full disk. The tree
// stays Changed, so the next save tries again. A file grown past the warning size is a warning,
// told likewise (once until it is smaller again, unless `always`), its save done.
TFaults SaveTreeFileForOperator(TNetwork& network, TComponent& root, bool always = false);
// Replaces the root by the tree read from its file (StateFileName). A missing file leaves it as it
// was; a file that exists but cannot be read (not a compound file, a broken structure, a malformed
// stream, no object, another kind of object, a root of another name) raises EUnreadableFiles and
// leaves it as it was too. A file damaged in part is loaded without the parts that cannot be read,
// and then raises EUnreadableFiles with the file marked Loaded, naming each part.
void LoadTreeFile(TNetwork& network, std::unique_ptr<TRootNode>& root);
// The settings object likewise. The poller reads the settings; a running one is stopped while the
// object is replaced and started again afterwards.
void LoadTreeFile(TNetwork& network, std::unique_ptr<TSetupNode>& setup);

// The tree of the file at path; null when there is no such file. A file that exists but cannot be
// read raises EUnreadableFiles (and is noted, so that a save keeps it aside). Parts that cannot be
// read go to *damage with the rest of the tree returned (the file noted as for an unreadable one);
// without damage they raise as an unreadable file.
std::unique_ptr<TComponent> ReadTreeFile(const QString& path, std::vector<TDamagedPart>* damage = nullptr);
// Raise EUnreadableFiles: the file at path holds a className, not an expected; a root named
// `name`, not `expected`; parts that could not be read, the rest loaded.
[[noreturn]] void RaiseWrongClass(const QString& path, const QString& className, const QString& expected);
[[noreturn]] void RaiseWrongRoot(const QString& path, const QString& name, const QString& expected);
[[noreturn]] void RaiseDamaged(const QString& path, const std::vector<TDamagedPart>& damage);

// Reads the tree of the file at path into slot when the file holds an object of slot's class (and,
// given rootName, of that name); raises EUnreadableFiles when it cannot be read or holds another
// one. A file damaged in part is loaded and then raises (see LoadTreeFile). True when slot was
// replaced without a fault.
template <class T>
bool LoadTreeInto(std::unique_ptr<T>& slot, const QString& path, const QString& rootName = QString()) {
  std::vector<TDamagedPart> damage;
  std::unique_ptr<TComponent> loaded = ReadTreeFile(path, &damage);
  if (!loaded) return false;
  if (dynamic_cast<T*>(loaded.get()) == nullptr)
    RaiseWrongClass(path, loaded->ClassName(), T::StaticClassInfo().Name);
  if (!rootName.isEmpty() && loaded->Name() != rootName) RaiseWrongRoot(path, loaded->Name(), rootName);
  slot.reset(static_cast<T*>(loaded.release()));
  if (!damage.empty()) RaiseDamaged(path, damage);
  return true;
}

}  // namespace vexa
