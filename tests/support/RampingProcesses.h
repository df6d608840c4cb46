#pragma once
// The load the process tick is measured and tested with: processes of command nodes ramping
// registers of the simulated network (10 processes of 5 nodes write 50 values a tick).

#include <QStringList>

#include "core/ImageIndex.h"
#include "core/RootNode.h"
#include "processes/model/CommandNode.h"

namespace vexa::test {

// `processes` running processes under `tasks`, each of `nodes` started command nodes on integer
// registers of the simulated regulators 0 and 1, ramping 20 to 80 and back.
inline void AddRampingProcesses(TRootNode& tasks, int processes, int nodes) {
  for (int p = 0; p < processes; ++p) {
    auto* process = new TRootNode(&tasks);  // owned by TASKS
    process->SetName(QStringLiteral("P%1").arg(p));
    process->SetCaption(QStringLiteral("Процесс %1").arg(p));
    for (int n = 0; n < nodes; ++n) {
      auto* node = new TCommandNode(process);
      node->SetName(TCustomRegister::RegisterName(p % 2, n, 4 + p / 2));
      node->SetCaption(QStringLiteral("Узел %1").arg(n));
      node->SetRegisterType(rtINT);
      node->SetUserCanWRITE(true);
      node->SetDataList(QStringList{"20", "80", "80", "20"});
      node->SetPoints(QStringList{"0", "600", "3600", "600"});
      node->Reset();
    }
    process->SetImageIndex(iiPLAY);
    process->SetEnabled(true);
    for (int n = 0; n < nodes; ++n) static_cast<TCommandNode*>(process->Node(n))->Start();
  }
}

}  // namespace vexa::test
