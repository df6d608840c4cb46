#pragma once
// The windows' side of the model's outcomes: what an operation found wrong, told to the operator
// one message box at a time, after the operation has ended.

#include "core/Faults.h"
#include "core/Services.h"

namespace vexa {

class TComponent;
class TNetwork;

// A message box of the program (the services' message service), titled "Vexa"; the button chosen.
inline TMsgButton ShowMessage(const QString& text, TMsgIcon icon, unsigned buttons = mbOK,
                              TMsgButton def = mbOK) {
  return Services().Messages->Show(text, icon, buttons, def);
}

// One message each, in order, with the fault's icon.
void ShowFaults(const TFaults& faults);
// SaveTreeFileForOperator under the busy cursor, its failure told at once.
void SaveTreeFileOrTell(TNetwork& network, TComponent& root, bool always = false);

}  // namespace vexa
