#include "storage/NetworkState.h"

#include <QScopeGuard>

#include "core/ExecuterUnit.h"
#include "core/Globals.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"

namespace vexa {

namespace {

void LoadState(const std::function<void(const QString&)>& progress) {
  TBusyCursor busy;
  StopPoller();
  ShowProgramState(kStateReading);
  const auto restart = qScopeGuard([] {
    ShowProgramState(kStateWorking);
    StartPoller();
  });
  for (const TRootInfo& root : Roots()) {
    if (!root.InNetworkState) continue;
    if (progress) progress(QString::fromUtf8(root.LoadingText));
    LoadTreeFile(*root.Slot);
  }
  if (progress) progress(QString::fromUtf8(kSetupLoadingText));
  LoadTreeFile(SETUP);
}

}  // namespace

void SaveNetworkState() {
  TBusyCursor busy;
  SuspendPoller();
  ShowProgramState(kStateSaving);
  const auto resume = qScopeGuard([] {
    if (SETUP) SETUP->SetNewConfig(false);
    ShowProgramState(kStateWorking);
    ResumePoller();
  });
  for (const TRootInfo& root : Roots())
    if (root.InNetworkState && *root.Slot) SaveTreeFile(**root.Slot);
  if (SETUP) SaveTreeFile(*SETUP);
}

void LoadNetworkState() {
  LoadState(nullptr);
}

void LoadNetworkStateWithProgress(const std::function<void(const QString& caption)>& progress) {
  LoadState(progress);
}

}  // namespace vexa
