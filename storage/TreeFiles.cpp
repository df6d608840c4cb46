#include "storage/TreeFiles.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <exception>
#include <mutex>

#include "core/Network.h"
#include "core/Services.h"
#include "storage/CompoundFile.h"
#include "storage/StreamParser.h"
#include "storage/UnreadableFiles.h"

namespace vexa {

namespace {

// The parts a load left out, for the operator; a long list is cut after a screenful.
QString DamageText(const std::vector<TDamagedPart>& damage) {
  constexpr size_t kShown = 20;
  QString text = QStringLiteral("повреждены части, остальное загружено:");
  for (size_t i = 0; i < damage.size() && i < kShown; ++i)
    text += QStringLiteral("\n  ") + DamagedPartText(damage[i]);
  if (damage.size() > kShown) text += QStringLiteral("\n  … и ещё %1").arg(damage.size() - kShown);
  return text;
}

}  // namespace

QString ConfigFilePath(const QString& folder, const QString& rootName) {
  return folder + QStringLiteral("/Config/") + rootName + QStringLiteral(".cfg");
}

QString ArchivePath(const QString& folder, const QString& caption) {
  return folder + QStringLiteral("/Archives/") + caption;
}

bool IsStateFileName(const QString& name) {
  if (name == QLatin1String("SETUP")) return true;
  for (const TRootInfo& r : Roots())
    if (name == QLatin1String(r.Name)) return true;
  return false;
}

QString StateFileName(TNetwork& network, const TComponent* tree) {
  if (tree == nullptr) return QString();
  if (tree == network.Setup().get()) return QStringLiteral("SETUP");
  for (const TRootInfo& r : Roots())
    if (tree == network.Root(r.Id).get()) return QString::fromLatin1(r.Name);
  const QString& name = tree->Name();
  return IsStateFileName(name) ? name : QString();
}

QString StateRootOfFile(const QString& fileName) {
  const QString file = QFileInfo(fileName).fileName();
  if (!file.endsWith(QLatin1String(".cfg"))) return QString();
  const QString name = file.chopped(4);
  return IsStateFileName(name) ? name : QString();
}

QString StateRootClass(const QString& name) {
  return name == QLatin1String("SETUP") ? TSetupNode::StaticClassInfo().Name
                                        : TRootNode::StaticClassInfo().Name;
}

TRootFault CheckStateRoot(const QString& name, const TComponent& root) {
  const bool ofClass = name == QLatin1String("SETUP") ? dynamic_cast<const TSetupNode*>(&root) != nullptr
                                                      : dynamic_cast<const TRootNode*>(&root) != nullptr;
  if (!ofClass) return TRootFault::WrongClass;
  return root.Name() == name ? TRootFault::None : TRootFault::WrongName;
}

bool IsPlainFileName(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

namespace {

// The file a save of the tree writes, for its messages too.
QString SavePath(TNetwork& network, const TComponent& root) {
  const QString name = StateFileName(network, &root);
  return ConfigFilePath(network.Dir(), name.isEmpty() ? root.Name() : name);
}

}  // namespace

QString FileSizeWarning(const QString& path, qint64 size) {
  if (size <= CompoundFile::WarningFileSize()) return {};
  return QStringLiteral(
             "Файл %1 занимает %2 из допустимых %3; когда он дорастёт до предела, сохранить его "
             "будет нельзя. Сократите истории регистров (число точек) или разделите сеть.")
      .arg(path, FileSizeText(size), FileSizeText(CompoundFile::MaxFileSize()));
}

bool SaveTreeFile(TNetwork& network, TComponent& root, QString* why, QString* warning) {
  const QString name = StateFileName(network, &root);
  if (name.isEmpty()) {
    if (why) *why = QStringLiteral("'%1': у этого дерева нет своего файла").arg(root.Name());
    return false;
  }
  const QString path = ConfigFilePath(network.Dir(), name);
  // A new configuration replaces the file as a whole; the write is atomic, so the old file stays
  // until the new one is complete.
  const bool fresh = network.Setup() && network.Setup()->NewConfig();
  auto handler = TStgHandler::CreateStateFile(path, fresh);
  const bool saved = handler->SaveTree(root);
  if (saved) {
    NoteOurs(path);
    if (warning) *warning = FileSizeWarning(path, QFileInfo(path).size());
  } else if (why) {
    *why = handler->ErrorText();
  }
  return saved;
}

namespace {

std::mutex gFailingMutex;
QSet<QString> gFailing;  // files whose last save for the operator failed and was told
QSet<QString> gWarned;   // files told to be near the size bound, until a save finds them smaller

}  // namespace

TFaults SaveTreeFileForOperator(TNetwork& network, TComponent& root, bool always) {
  const QString path = SavePath(network, root);
  QString why;
  QString warning;
  bool saved = false;
  try {
    saved = SaveTreeFile(network, root, &why, &warning);
  } catch (const std::exception& e) {
    why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(e.what()));
  }
  const std::lock_guard lock(gFailingMutex);
  if (saved) {
    gFailing.remove(path);
    if (warning.isEmpty()) {
      gWarned.remove(path);
      return {};
    }
    if (gWarned.contains(path) && !always) return {};
    gWarned.insert(path);
    return TFaults(warning, TMsgIcon::Warning);
  }
  if (gFailing.contains(path) && !always) return {};
  gFailing.insert(path);
  return TFaults(QStringLiteral("Ошибка сохранения: %1").arg(why.isEmpty() ? path : why));
}

std::unique_ptr<TComponent> ReadTreeFile(const QString& path, std::vector<TDamagedPart>* damage) {
  const auto handler = TStgHandler::Open(path);
  if (!handler->ReadFailure().isEmpty()) RaiseUnreadable(path, handler->ReadFailure());
  if (!handler->Valid()) return nullptr;  // no such file
  std::unique_ptr<TComponent> loaded;
  try {
    handler->LoadTree(loaded);
  } catch (const EStreamError& e) {
    RaiseUnreadable(path, QStringLiteral("данные не разбираются (%1)").arg(e.Message()));
  } catch (const ECompoundReadError& e) {
    // The streams are read as the tree is built: a file failing meanwhile fails as when it is opened.
    RaiseUnreadable(path, QStringLiteral("структура файла нарушена (%1)").arg(e.Message()));
  } catch (const ECompoundFileError& e) {
    RaiseUnreadable(path, QStringLiteral("данные не разбираются (%1)").arg(e.Message()));
  }
  if (!loaded) RaiseUnreadable(path, QStringLiteral("в файле нет объекта"));
  if (handler->Damage().empty()) {
    ForgetUnreadable(path);
  } else if (damage == nullptr) {
    RaiseUnreadable(path, DamageText(handler->Damage()));
  } else {
    NoteUnreadable(path);
    *damage = handler->Damage();
  }
  return loaded;
}

void RaiseWrongClass(const QString& path, const QString& className, const QString& expected) {
  RaiseUnreadable(path, QStringLiteral("в файле %1 вместо %2").arg(className, expected));
}

void RaiseWrongRoot(const QString& path, const QString& name, const QString& expected) {
  RaiseUnreadable(
      path, name.isEmpty()
                ? QStringLiteral("корневой объект без имени вместо %1").arg(expected)
                : QStringLiteral("корневой объект назван %1 вместо %2").arg(QuotedText(name), expected));
}

void RaiseDamaged(const QString& path, const std::vector<TDamagedPart>& damage) {
  NoteUnreadable(path);
  throw EUnreadableFiles({{path, DamageText(damage), true}});
}

namespace {

// A state file read into the slot of the tree it belongs to; a file read whole is this run's.
template <class T>
void LoadStateFile(const QString& folder, std::unique_ptr<T>& slot, const QString& name) {
  const QString path = ConfigFilePath(folder, name);
  if (LoadTreeInto(slot, path, name)) NoteOurs(path);
}

}  // namespace

void LoadTreeFile(TNetwork& network, std::unique_ptr<TRootNode>& root) {
  const QString name = StateFileName(network, root.get());
  if (!name.isEmpty()) LoadStateFile(network.Dir(), root, name);
}

void LoadTreeFile(TNetwork& network, std::unique_ptr<TSetupNode>& setup) {
  const bool pollerWasRunning = network.PollerRunning();
  if (pollerWasRunning) network.StopPoller();
  const auto restart = qScopeGuard([&network, pollerWasRunning] {
    if (pollerWasRunning) network.StartPoller();
  });
  const QString name = setup ? StateFileName(network, setup.get()) : QStringLiteral("SETUP");
  if (!name.isEmpty()) LoadStateFile(network.Dir(), setup, name);
}

}  // namespace vexa
