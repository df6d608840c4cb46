#pragma once
// Where the tree files live, and one tree saved to or loaded from its file: a configuration file per
// root in <ExeDir>/Config, a report archive per report run in <ExeDir>/Archives.

#include <QString>
#include <memory>

#include "core/RootNode.h"
#include "core/SetupNode.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"

namespace vexa {

// <ExeDir>/Config/<name>.cfg and <ExeDir>/Archives/<caption>.
QString ConfigFilePath(const QString& rootName);
QString ArchivePath(const QString& caption);
// A name that stays a file inside its folder: not empty, no separators, not "." or "..".
bool IsPlainFileName(const QString& name);

// Writes the root's file; with the settings' NewConfig set, a fresh file replaces the old one
// instead of updating it. False when nothing could be written (the reason is dropped).
bool SaveTreeFile(TComponent& root);
// Replaces the root by the tree read from its file. A missing or unreadable file leaves it as it
// was; a malformed stream, or a file holding another kind of object, raises EStreamError and
// leaves it as it was too.
void LoadTreeFile(std::unique_ptr<TRootNode>& root);
// The settings object likewise. The poller reads the settings; a running one is stopped while the
// object is replaced and started again afterwards.
void LoadTreeFile(std::unique_ptr<TSetupNode>& setup);

// Reads the tree of the file at path into slot when the file holds an object of slot's class;
// raises EStreamError when it holds another one.
template <class T>
void LoadTreeInto(std::unique_ptr<T>& slot, const QString& path) {
  std::unique_ptr<TComponent> loaded;
  TStgHandler::Open(path)->LoadTree(loaded);
  if (!loaded) return;
  auto* typed = dynamic_cast<T*>(loaded.get());
  if (typed == nullptr)
    throw EStreamError(QStringLiteral("The file %1 holds a %2, not a %3")
                           .arg(path, loaded->ClassName(), T::StaticClassInfo().Name));
  loaded.release();
  slot.reset(typed);
}

}  // namespace vexa
