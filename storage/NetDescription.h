#pragma once
// The network tree as a printable, tab-separated text: regulators, their channels and the channels'
// registers with addresses and types. Also the full caption of a node as printouts show it.

#include <QString>

#include "core/Faults.h"

namespace vexa {

class TComponent;
class TRootNode;

// The node's caption, then the captions of its owner and its owner's owner, joined by full stops:
// "Регистр 003.Канал 001.Регулятор 005".
QString NodeFullName(const TComponent& node);

// The description of the tree under root, lines ended by CR LF.
QString NetworkDescription(const TRootNode& root);

// Writes the description in code page 1251, replacing the file. On the first failed write the
// export ends, what was written stays, and the fault names the file and the reason.
TFaults SaveNetworkDescription(const QString& path, const TRootNode& root);

}  // namespace vexa
