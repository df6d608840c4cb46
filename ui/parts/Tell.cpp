#include "ui/parts/Tell.h"

#include "core/Services.h"
#include "storage/TreeFiles.h"

namespace vexa {

void ShowFaults(const TFaults& faults) {
  for (const TFault& fault : faults.Items()) ShowMessage(fault.Text, fault.Icon);
}

void SaveTreeFileOrTell(TNetwork& network, TComponent& root, bool always) {
  TFaults faults;
  {
    TBusyCursor busy;
    faults = SaveTreeFileForOperator(network, root, always);
  }
  ShowFaults(faults);
}

}  // namespace vexa
