#pragma once
// The network state: the five trees of the program and the settings object, each in its
// configuration file, saved and restored together.

#include <QString>
#include <functional>

namespace vexa {

// The six files of the state, poller suspended; NewConfig is cleared afterwards, also when a save
// failed, and an error reaches the caller after the clean-up.
void SaveNetworkState();
// The six files of the state, poller stopped and started again afterwards. A file that cannot be
// read leaves its tree as it was and the others are read all the same; then one EStreamError names
// every such file.
void LoadNetworkState();
// As LoadNetworkState, telling progress the caption of each tree before it is read.
void LoadNetworkStateWithProgress(const std::function<void(const QString& caption)>& progress);

}  // namespace vexa
