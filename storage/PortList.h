#pragma once
// The settings window's list of serial ports COM1..COM8, each marked busy or missing from a probe of
// its device.

#include <QString>
#include <vector>

namespace vexa {

enum class TPortState { Free, Busy, Missing, Configured };

struct TPortEntry {
  QString Text;        // "COM3", "COM3 (занят)", "COM3 (не существует)"
  QString DevicePath;  // what the entry opens, shown after its name
  TPortState State = TPortState::Free;
};

// The eight entries, each resolved and probed afresh; `current` (PortIndex, 0-based) is the
// configured port: while the program holds it (`currentHeld`) it is not probed and stays unmarked;
// once its device went away it is probed like the others.
std::vector<TPortEntry> FillPortList(const QString& folder, int current, bool currentHeld = true);

}  // namespace vexa
