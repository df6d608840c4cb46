#include "storage/NetworkState.h"

#include <QScopeGuard>

#include "core/ExecuterUnit.h"
#include "core/Globals.h"
#include "core/Services.h"
#include "storage/StreamFormat.h"
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
  // A file that cannot be read keeps its tree as it was; the files after it are still read, and
  // the failures are told together at the end.
  QStringList failures;
  const auto load = [&failures](const QString& name, const auto& read) {
    try {
      read();
    } catch (const EStreamError& e) {
      failures << QStringLiteral("%1: %2").arg(ConfigFilePath(name), e.Message());
    }
  };
  for (const TRootInfo& root : Roots()) {
    if (!root.InNetworkState) continue;
    if (progress) progress(QString::fromUtf8(root.LoadingText));
    load(QString::fromUtf8(root.Name), [&root] { LoadTreeFile(*root.Slot); });
  }
  if (progress) progress(QString::fromUtf8(kSetupLoadingText));
  load(QStringLiteral("SETUP"), [] { LoadTreeFile(SETUP); });
  if (!failures.isEmpty()) throw EStreamError(failures.join(QLatin1Char('\n')));
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
