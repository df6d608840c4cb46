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

  Reported(QStringLiteral("Ошибка чтения параметров сети: "), [] { LoadTreeFile(SETUP); });
  SETUP->SetPortIndex(SETUP->PortIndex());
  SETUP->SetBaudRateIndex(SETUP->BaudRateIndex());

  if (SETUP->AutoLoadEnabled())
    Reported(QStringLiteral("Ошибка чтения состояния сети: "),
             [&] { LoadNetworkStateWithProgress(progress); });
}

}  // namespace vexa
