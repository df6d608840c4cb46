#include "storage/TreeFiles.h"

#include <QSet>
#include <exception>
#include <mutex>

#include "core/ExecuterUnit.h"
#include "core/Globals.h"
#include "core/Services.h"
#include "storage/CompoundFile.h"
#include "storage/UnreadableFiles.h"

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

bool SaveTreeFile(TComponent& root, QString* why) {
  const QString path = ConfigFilePath(root.Name());
  // A new configuration replaces the file as a whole; the write is atomic, so the old file stays
  // until the new one is complete.
  const bool fresh = SETUP && SETUP->NewConfig();
  auto handler = fresh ? TStgHandler::CreateNew(path) : TStgHandler::Create(path);
  const bool saved = handler->SaveTree(root);
  if (!saved && why) *why = handler->ErrorText();
  return saved;
}

namespace {

std::mutex gFailingMutex;
QSet<QString> gFailing;  // files whose last save for the operator failed and was told

}  // namespace

std::optional<QString> SaveTreeFileForOperator(TComponent& root, bool always) {
  const QString path = ConfigFilePath(root.Name());
  QString why;
  bool saved = false;
  try {
    saved = SaveTreeFile(root, &why);
  } catch (const std::exception& e) {
    why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(e.what()));
  }
  const std::lock_guard lock(gFailingMutex);
  if (saved) {
    gFailing.remove(path);
    return std::nullopt;
  }
  if (gFailing.contains(path) && !always) return std::nullopt;
  gFailing.insert(path);
  return QStringLiteral("Ошибка сохранения: %1").arg(why.isEmpty() ? path : why);
}

void SaveTreeFileOrTell(TComponent& root, bool always) {
  std::optional<QString> text;
  {
    TBusyCursor busy;
    text = SaveTreeFileForOperator(root, always);
  }
  if (text) ShowMessage(*text, TMsgIcon::Error);
}

std::unique_ptr<TComponent> ReadTreeFile(const QString& path) {
  const auto handler = TStgHandler::Open(path);
  if (!handler->ReadFailure().isEmpty()) RaiseUnreadable(path, handler->ReadFailure());
  if (!handler->Valid()) return nullptr;  // no such file
  std::unique_ptr<TComponent> loaded;
  try {
    handler->LoadTree(loaded);
  } catch (const EStreamError& e) {
    RaiseUnreadable(path, QStringLiteral("данные не разбираются (%1)").arg(e.Message()));
  } catch (const ECompoundFileError& e) {
    RaiseUnreadable(path, QStringLiteral("данные не разбираются (%1)").arg(e.Message()));
  }
  if (!loaded) RaiseUnreadable(path, QStringLiteral("в файле нет объекта"));
  ForgetUnreadable(path);
  return loaded;
}

void RaiseWrongClass(const QString& path, const QString& className, const QString& expected) {
  RaiseUnreadable(path, QStringLiteral("в файле %1 вместо %2").arg(className, expected));
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
