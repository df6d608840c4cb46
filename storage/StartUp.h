#pragma once
// The start-up work of the network settings window: folders, settings, the port, and the saved state
// when the settings ask for it.

#include <QString>
#include <functional>
#include <vector>

#include "storage/UnreadableFiles.h"

namespace vexa {

// Creates <ExeDir>/Config and <ExeDir>/Archives (one level, failures ignored), reads the settings,
// opens the port with the configured port and speed (the settings object reports a failure) and,
// when AutoLoadEnabled, restores the network state, telling progress the caption of each tree.
// Always returns: a file that cannot be read is reported to the operator and start-up goes on, so
// the caller can close its wait window in every case.
// Files that exist but cannot be read, or only in part, are told in one message listing each with
// its reason (for a file read in part, each part left out).
void RunSetupStartUp(const std::function<void(const QString& caption)>& progress);
// That message.
QString UnreadableStateMessage(const std::vector<TUnreadableFile>& files);

}  // namespace vexa
