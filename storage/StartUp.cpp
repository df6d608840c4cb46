#include "storage/StartUp.h"

#include <QDir>
#include <exception>

#include "core/Network.h"
#include "core/Services.h"
#include "storage/NetworkState.h"
#include "storage/TreeFiles.h"

namespace vexa {

namespace {

// Runs a load; an error becomes a fault for the operator instead of ending the start-up.
template <class Load>
void Reported(TFaults& faults, const QString& prefix, Load load) {
  try {
    load();
  } catch (const std::exception& e) {
    faults.Add(prefix + QString::fromUtf8(e.what()));
  } catch (...) {
    faults.Add(prefix + QStringLiteral("неизвестная ошибка"));
  }
}

}  // namespace

TFaults RunSetupStartUp(TNetwork& network, const std::function<void(const QString& caption)>& progress) {
  TFaults faults;
  QDir exeDir(network.Dir());
  exeDir.mkdir(QStringLiteral("Config"));
  exeDir.mkdir(QStringLiteral("Archives"));

  // A run begins: no state file holds what it read until it reads it, so a save before that keeps
  // the file of an earlier run aside.
  for (const TRootInfo& root : Roots())
    ForgetOurs(ConfigFilePath(network.Dir(), QString::fromLatin1(root.Name)));
  ForgetOurs(ConfigFilePath(network.Dir(), QStringLiteral("SETUP")));

  // Files that exist but cannot be read are told once, together, at the end.
  std::vector<TUnreadableFile> unreadable;
  const auto collect = [&unreadable](const auto& load) {
    return [&unreadable, load] {
      try {
        load();
      } catch (const EUnreadableFiles& e) {
        MergeUnreadable(unreadable, e.Files());
      }
    };
  };
  Reported(faults, QStringLiteral("Ошибка чтения параметров сети: "),
           collect([&network] { LoadTreeFile(network, network.Setup()); }));
  faults.Add(network.SetPortIndex(network.Setup()->PortIndex()));
  faults.Add(network.SetBaudRateIndex(network.Setup()->BaudRateIndex()));

  if (network.Setup()->AutoLoadEnabled())
    Reported(faults, QStringLiteral("Ошибка чтения состояния сети: "),
             collect([&] { LoadNetworkStateWithProgress(network, progress); }));
  if (!unreadable.empty()) faults.Add(UnreadableStateMessage(unreadable));
  return faults;
}

QString UnreadableStateMessage(const std::vector<TUnreadableFile>& files) {
  std::vector<TUnreadableFile> unread, damaged;
  for (const TUnreadableFile& f : files) (f.Loaded ? damaged : unread).push_back(f);
  QString text = QStringLiteral("Ошибка чтения состояния сети: ");
  if (!unread.empty()) {
    text += QStringLiteral("эти файлы не читаются, их данные не загружены.\n") + UnreadableFilesText(unread);
    if (!damaged.empty()) text += QStringLiteral("\nЭти файлы ");
  } else {
    text += QStringLiteral("эти файлы ");
  }
  if (!damaged.empty())
    text += QStringLiteral("повреждены, загружено то, что в них читается.\n") + UnreadableFilesText(damaged);
  return text + QStringLiteral(
                    "\nПеред следующим сохранением каждый из них будет переименован "
                    "(имя.unreadable-ГГГГММДД-ЧЧММ) и оставлен рядом для восстановления.");
}

}  // namespace vexa
