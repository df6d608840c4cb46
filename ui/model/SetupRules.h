#pragma once
// Rules of the network settings window that need no window: the diagram list the operator edits,
// what confirming the window stores, and how a port entry reads.

#include <QString>
#include <QStringList>
#include <vector>

#include "core/Faults.h"
#include "storage/PortList.h"

namespace vexa {

class TNetwork;

inline constexpr int kAutoSaveIntervalMin = 1;  // minutes
inline constexpr int kAutoSaveIntervalMax = 120;
inline const QString kNewDiagramName = QStringLiteral("Новая мнемосхема");

struct TDiagram {
  QString Name;
  QString File;
  bool operator==(const TDiagram&) const = default;
};

// The diagram pages as the window lists them. Every operation that alters the list marks it
// changed, since the pages are built only when the program starts. Row arguments out of range do
// nothing; the operations return the row to select afterwards (-1: none).
class TDiagramList {
 public:
  // From MNames and MFiles; a name without a file gets an empty one.
  void Load(const QStringList& names, const QStringList& files);

  int Count() const { return static_cast<int>(rows_.size()); }
  const TDiagram& Row(int row) const { return rows_.at(static_cast<size_t>(row)); }
  QStringList Names() const;
  QStringList Files() const;
  bool Changed() const { return changed_; }
  // OK needs at least one page: the main window has nothing to show without one.
  bool CanConfirm() const { return !rows_.empty(); }

  int Add(const QString& file);
  int ChangeFile(int row, const QString& file);
  // Selects the first row afterwards, if any is left.
  int Remove(int row);
  int MoveUp(int row);
  int MoveDown(int row);
  void Rename(int row, const QString& name);

 private:
  bool Valid(int row) const { return row >= 0 && row < Count(); }

  std::vector<TDiagram> rows_;
  bool changed_ = false;
};

// What "ОК" takes from the fields of the first page.
struct TSetupFields {
  QString Password;
  int AutoSaveInterval = 5;
  bool AutoSaveEnabled = false;
  bool AutoLoadEnabled = true;
  bool Demo = false;
};

// What confirming did: whether the program must restart for the diagram pages to change, and a
// settings file that could not be written (the settings are kept in memory all the same).
struct TSetupConfirmed {
  bool Restart = false;
  TFaults Faults;
};

// Stores the fields and the diagram list into the settings and saves the settings file.
TSetupConfirmed ConfirmSetup(TNetwork& network, const TSetupFields& fields, const TDiagramList& diagrams);

// "COM3 (занят) — /dev/ttyUSB2": the entry's text and the device it really opens (a link in the
// program's Ports folder resolved to its target).
QString PortEntryCaption(const TPortEntry& entry);

}  // namespace vexa
