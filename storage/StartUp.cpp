#include "storage/StartUp.h"

#include <QDir>
#include <exception>

#include "core/Globals.h"
#include "core/Services.h"
#include "storage/NetworkState.h"
#include "storage/TreeFiles.h"

namespace vexa {

namespace {

// Runs a load; an error becomes a message to the operator instead of ending the start-up.
template <class Load>
void Reported(const QString& prefix, Load load) {
  try {
    load();
  } catch (const std::exception& e) {
    ShowMessage(prefix + QString::fromUtf8(e.what()), TMsgIcon::Error);
  } catch (...) {
    ShowMessage(prefix + QStringLiteral("неизвестная ошибка"), TMsgIcon::Error);
  }
}

}  // namespace

void RunSetupStartUp(const std::function<void(const QString& caption)>& progress) {
  QDir exeDir(ExeDir());
  exeDir.mkdir(QStringLiteral("Config"));
  exeDir.mkdir(QStringLiteral("Archives"));

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
  Reported(QStringLiteral("Ошибка чтения параметров сети: "), collect([] { LoadTreeFile(SETUP); }));
  SETUP->SetPortIndex(SETUP->PortIndex());
  SETUP->SetBaudRateIndex(SETUP->BaudRateIndex());

  if (SETUP->AutoLoadEnabled())
    Reported(QStringLiteral("Ошибка чтения состояния сети: "),
             collect([&] { LoadNetworkStateWithProgress(progress); }));
  if (!unreadable.empty()) ShowMessage(UnreadableStateMessage(unreadable), TMsgIcon::Error);
}

QString UnreadableStateMessage(const std::vector<TUnreadableFile>& files) {
  return QStringLiteral("Ошибка чтения состояния сети: эти файлы не читаются, их данные не загружены.\n") +
         UnreadableFilesText(files) +
         QStringLiteral(
             "\nПеред следующим сохранением каждый из них будет переименован "
             "(имя.unreadable-ГГГГММДД-ЧЧММ) и оставлен рядом для восстановления.");
}

}  // namespace vexa
