#include "processes/model/ProcessTick.h"

#include <QStringList>
#include <algorithm>
#include <optional>

#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/Services.h"
#include "processes/model/CommandNode.h"
#include "storage/TreeFiles.h"

namespace vexa {

QString ProcessFaultText(const QString& processCaption, const QString& nodeCaption, const QString& fault) {
  return QStringLiteral("Процесс '%1' остановлен:\r\n'%2' - %3").arg(processCaption, nodeCaption, fault);
}

TFaults ProcessTick(TNetwork& network, const TProcessTickHooks& hooks) {
  TRootNode& tasks = *network.Tasks();
  const TLineContext line = network.LineContext();
  TFaults faults;
  auto stop = [&](TRootNode& process) {
    process.SetImageIndex(iiSTOP);
    // Disabled before the save, so that a restored file does not hold it running.
    process.SetEnabled(false);
    if (hooks.ShowStopped) hooks.ShowStopped(process);
    faults.Add(SaveTreeFileForOperator(network, tasks));
  };

  for (int i = 0; i < tasks.ComponentCount(); ++i) {
    auto* process = dynamic_cast<TRootNode*>(tasks.Component(i));
    if (process == nullptr || !process->Enabled()) continue;
    int done = 100;
    std::optional<QString> fault;
    for (int j = 0; j < process->ComponentCount() && !fault; ++j) {
      auto* node = dynamic_cast<TCommandNode*>(process->Component(j));
      if (node == nullptr) continue;
      try {
        node->Step(line, network.Net().get());
      } catch (const ECyclogramError& e) {
        fault = e.Message();
      }
      if (!fault) {
        try {
          done = std::min(done, node->Done());
        } catch (const ECyclogramError& e) {
          fault = e.Message();
        }
      }
      if (fault) faults.Add(ProcessFaultText(process->Caption(), node->Caption(), *fault));
    }
    if (fault) {
      stop(*process);
      continue;
    }
    if (done == 100) stop(*process);
    if (hooks.ShowProgress) hooks.ShowProgress(*process, done);
  }
  return faults;
}

int ProcessProgress(const TRootNode& process) {
  int done = 100;
  bool finished = true;
  for (int j = 0; j < process.ComponentCount(); ++j) {
    const auto* node = dynamic_cast<const TCommandNode*>(process.Component(j));
    if (node == nullptr) continue;
    finished = finished && (node->Finished() || node->Count() == 0);
    if (!process.Enabled()) continue;
    try {
      done = std::min(done, node->Done());
    } catch (const ECyclogramError&) {
      return 0;
    }
  }
  if (process.Enabled()) return std::max(done, 0);
  // A stopped node's progress would count the time it stands still: only the end is sure.
  return finished ? 100 : 0;
}

}  // namespace vexa
