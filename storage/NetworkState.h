#pragma once
// The network state: the five trees of the program, the alarm settings and the settings object, each in its
// configuration file, saved and restored together.

#include <QString>
#include <functional>
#include <stdexcept>

#include "core/Faults.h"

namespace vexa {

class TNetwork;

// Files that could not be written: a line for each, naming the file and why.
class ESaveFailed : public std::runtime_error {
 public:
  explicit ESaveFailed(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

// The files of the state, poller suspended; NewConfig is cleared afterwards, also when a save
// failed, and an error reaches the caller after the clean-up. A file that cannot be written keeps
// its old content and its tree Changed, the others are written all the same; then ESaveFailed
// names every such file. Returns the warnings of files written that near the size bound.
TFaults SaveNetworkState(TNetwork& network);
// The files of the state, poller stopped and started again afterwards. A file that cannot be
// read leaves its tree as it was and the others are read all the same; then one EUnreadableFiles
// names every such file.
void LoadNetworkState(TNetwork& network);
// As LoadNetworkState, telling progress the caption of each tree before it is read.
void LoadNetworkStateWithProgress(TNetwork& network,
                                  const std::function<void(const QString& caption)>& progress);

}  // namespace vexa
