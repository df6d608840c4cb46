#pragma once
// The windows' side of the model's outcomes: what an operation found wrong, told to the operator
// one message box at a time, after the operation has ended.

#include "core/Faults.h"

namespace vexa {

class TComponent;
class TNetwork;

// One message each, in order, with the fault's icon.
void ShowFaults(const TFaults& faults);
// SaveTreeFileForOperator under the busy cursor, its failure told at once.
void SaveTreeFileOrTell(TNetwork& network, TComponent& root, bool always = false);

}  // namespace vexa
