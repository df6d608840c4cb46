#pragma once
// Where the tree files live, and one tree saved to or loaded from its file: a configuration file per
// root in <ExeDir>/Config, a report archive per report run in <ExeDir>/Archives.

#include <QString>
#include <memory>
#include <optional>

#include "core/RootNode.h"
#include "core/SetupNode.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"
#include "storage/UnreadableFiles.h"

namespace vexa {

// <ExeDir>/Config/<name>.cfg and <ExeDir>/Archives/<caption>.
QString ConfigFilePath(const QString& rootName);
QString ArchivePath(const QString& caption);
// A name that stays a file inside its folder: not empty, no separators, not "." or "..".
bool IsPlainFileName(const QString& name);

// Writes the root's file; with the settings' NewConfig set, a fresh file replaces the old one
// instead of updating it. False when nothing could be written, with *why naming the file and the
// reason; the old file is then as it was.
bool SaveTreeFile(TComponent& root, QString* why = nullptr);
// A save for a window or a tick: nothing when the file was written; otherwise the operator's text,
// naming the file and the reason; unless `always` (the operator's own save command), the first time
// only until a save of that file succeeds again, since a tick may save every minute onto a full disk.
// The tree stays Changed, so the next save tries again.
std::optional<QString> SaveTreeFileForOperator(TComponent& root, bool always = false);
// The same under the busy cursor, the text told at once through the message service.
void SaveTreeFileOrTell(TComponent& root, bool always = false);
// Replaces the root by the tree read from its file. A missing file leaves it as it was; a file that
// exists but cannot be read (not a compound file, a broken structure, a malformed stream, no object
// or another kind of object) raises EUnreadableFiles and leaves it as it was too.
void LoadTreeFile(std::unique_ptr<TRootNode>& root);
// The settings object likewise. The poller reads the settings; a running one is stopped while the
// object is replaced and started again afterwards.
void LoadTreeFile(std::unique_ptr<TSetupNode>& setup);

// The tree of the file at path; null when there is no such file. A file that exists but cannot be
// read raises EUnreadableFiles (and is noted, so that a save keeps it aside).
std::unique_ptr<TComponent> ReadTreeFile(const QString& path);
// Raises EUnreadableFiles: the file at path holds a className, not an expected.
[[noreturn]] void RaiseWrongClass(const QString& path, const QString& className, const QString& expected);

// Reads the tree of the file at path into slot when the file holds an object of slot's class;
// raises EUnreadableFiles when it cannot be read or holds another one.
template <class T>
void LoadTreeInto(std::unique_ptr<T>& slot, const QString& path) {
  std::unique_ptr<TComponent> loaded = ReadTreeFile(path);
  if (!loaded) return;
  auto* typed = dynamic_cast<T*>(loaded.get());
  if (typed == nullptr) RaiseWrongClass(path, loaded->ClassName(), T::StaticClassInfo().Name);
  loaded.release();
  slot.reset(typed);
}

}  // namespace vexa
