#pragma once
// The start-up work of the network settings window: folders, settings, the port, and the saved state
// when the settings ask for it.

#include <QString>
#include <functional>
#include <vector>

#include "core/Faults.h"
#include "storage/UnreadableFiles.h"

namespace vexa {

class TNetwork;

// Creates Config/ and Archives/ in the network's folder (one level, failures ignored), reads the
// settings, opens the port with the configured port and speed and, when AutoLoadEnabled, restores
// the network state, telling progress the caption of each tree. Always returns, with what went
// wrong for the operator in order: a file that cannot be read does not end the start-up, so the
// caller can close its wait window in every case. Files that exist but cannot be read, or only in
// part, are one fault listing each with its reason (for a file read in part, each part left out).
TFaults RunSetupStartUp(TNetwork& network, const std::function<void(const QString& caption)>& progress);
// That message.
QString UnreadableStateMessage(const std::vector<TUnreadableFile>& files);

}  // namespace vexa
