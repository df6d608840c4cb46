#include "storage/TreeFiles.h"

#include "core/ExecuterUnit.h"
#include "core/Globals.h"
#include "core/Services.h"

namespace vexa {

QString ConfigFilePath(const QString& rootName) {
  return ExeDir() + QStringLiteral("/Config/") + rootName + QStringLiteral(".cfg");
}

QString ArchivePath(const QString& caption) {
  return ExeDir() + QStringLiteral("/Archives/") + caption;
}

bool IsPlainFileName(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool SaveTreeFile(TComponent& root) {
  const QString path = ConfigFilePath(root.Name());
  // A new configuration replaces the file as a whole; the write is atomic, so the old file stays
  // until the new one is complete.
  const bool fresh = SETUP && SETUP->NewConfig();
  auto handler = fresh ? TStgHandler::CreateNew(path) : TStgHandler::Create(path);
  return handler->SaveTree(root);
}

void LoadTreeFile(std::unique_ptr<TRootNode>& root) {
  if (root) LoadTreeInto(root, ConfigFilePath(root->Name()));
}

void LoadTreeFile(std::unique_ptr<TSetupNode>& setup) {
  const bool pollerWasRunning = PollerRunning();
  if (pollerWasRunning) StopPoller();
  const auto restart = qScopeGuard([pollerWasRunning] {
    if (pollerWasRunning) StartPoller();
  });
  LoadTreeInto(setup, ConfigFilePath(setup ? setup->Name() : QStringLiteral("SETUP")));
}

}  // namespace vexa
