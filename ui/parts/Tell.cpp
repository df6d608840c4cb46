#include "ui/parts/Tell.h"

#include <optional>

#include "core/Services.h"
#include "storage/TreeFiles.h"

namespace vexa {

void ShowFaults(const TFaults& faults) {
  for (const TFault& fault : faults.Items()) ShowMessage(fault.Text, fault.Icon);
}

void SaveTreeFileOrTell(TNetwork& network, TComponent& root, bool always) {
  std::optional<QString> text;
  {
    TBusyCursor busy;
    text = SaveTreeFileForOperator(network, root, always);
  }
  if (text) ShowMessage(*text, TMsgIcon::Error);
}

}  // namespace vexa
