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
    if (progress) progress(QString::fromUtf8(root.LoadingText));
    load([&root] { LoadTreeFile(*root.Slot); });
  }
  if (progress) progress(QString::fromUtf8(kSetupLoadingText));
  load([] { LoadTreeFile(SETUP); });
  if (!failures.empty()) throw EUnreadableFiles(std::move(failures));
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
  // A file that cannot be written keeps its old content and its tree stays Changed; the others are
  // written all the same, and the failures are told together at the end.
  QStringList failures;
  const auto save = [&failures](TComponent& tree) {
    QString why;
    if (!SaveTreeFile(tree, &why)) failures << why;
  };
  for (const TRootInfo& root : Roots())
    if (root.InNetworkState && *root.Slot) save(**root.Slot);
  if (SETUP) save(*SETUP);
  if (!failures.isEmpty()) throw ESaveFailed(failures.join(QLatin1Char('\n')));
}

void LoadNetworkState() {
  LoadState(nullptr);
}

void LoadNetworkStateWithProgress(const std::function<void(const QString& caption)>& progress) {
  LoadState(progress);
}

}  // namespace vexa
