#include "storage/NetworkState.h"

#include <QScopeGuard>

#include "core/Network.h"
#include "core/Services.h"
#include "storage/StreamFormat.h"
#include "storage/TreeFiles.h"

namespace vexa {

namespace {

void LoadState(TNetwork& network, const std::function<void(const QString&)>& progress) {
  TBusyCursor busy;
  network.StopPoller();
  ShowProgramState(kStateReading);
  const auto restart = qScopeGuard([&network] {
    ShowProgramState(kStateWorking);
    network.StartPoller();
  });
  // A file that cannot be read keeps its tree as it was; the files after it are still read, and
  // the failures are told together at the end.
  std::vector<TUnreadableFile> failures;
  const auto load = [&failures](const auto& read) {
    try {
      read();
    } catch (const EUnreadableFiles& e) {
      MergeUnreadable(failures, e.Files());
    }
  };
  for (const TRootInfo& root : Roots()) {
    if (!root.InNetworkState) continue;
    if (progress && root.LoadingText) progress(QString::fromUtf8(root.LoadingText));
    load([&] { LoadTreeFile(network, network.Root(root.Id)); });
  }
  if (progress) progress(QString::fromUtf8(kSetupLoadingText));
  load([&network] { LoadTreeFile(network, network.Setup()); });
  if (!failures.empty()) throw EUnreadableFiles(std::move(failures));
}

}  // namespace

TFaults SaveNetworkState(TNetwork& network) {
  TBusyCursor busy;
  network.SuspendPoller();
  ShowProgramState(kStateSaving);
  const auto resume = qScopeGuard([&network] {
    if (network.Setup()) network.Setup()->SetNewConfig(false);
    ShowProgramState(kStateWorking);
    network.ResumePoller();
  });
  // A file that cannot be written keeps its old content and its tree stays Changed; the others are
  // written all the same, and the failures are told together at the end.
  QStringList failures;
  TFaults warnings;
  const auto save = [&failures, &warnings, &network](TComponent& tree) {
    QString why;
    QString warning;
    if (!SaveTreeFile(network, tree, &why, &warning)) failures << why;
    warnings.Add(warning, TMsgIcon::Warning);
  };
  for (const TRootInfo& root : Roots())
    if (root.InNetworkState && network.Root(root.Id)) save(*network.Root(root.Id));
  if (network.Setup()) save(*network.Setup());
  if (!failures.isEmpty()) throw ESaveFailed((failures + warnings.Texts()).join(QLatin1Char('\n')));
  return warnings;
}

void LoadNetworkState(TNetwork& network) {
  LoadState(network, nullptr);
}

void LoadNetworkStateWithProgress(TNetwork& network,
                                  const std::function<void(const QString& caption)>& progress) {
  LoadState(network, progress);
}

}  // namespace vexa
