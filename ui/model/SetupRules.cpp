#include "ui/model/SetupRules.h"

#include <QFileInfo>
#include <algorithm>

#include "core/Network.h"
#include "storage/TreeFiles.h"

namespace vexa {

void TDiagramList::Load(const QStringList& names, const QStringList& files) {
  rows_.clear();
  for (qsizetype i = 0; i < names.size(); ++i) rows_.push_back({names[i], files.value(i)});
  changed_ = false;
}

QStringList TDiagramList::Names() const {
  QStringList names;
  for (const TDiagram& d : rows_) names << d.Name;
  return names;
}

QStringList TDiagramList::Files() const {
  QStringList files;
  for (const TDiagram& d : rows_) files << d.File;
  return files;
}

int TDiagramList::Add(const QString& file) {
  rows_.push_back({kNewDiagramName, file});
  changed_ = true;
  return Count() - 1;
}

int TDiagramList::ChangeFile(int row, const QString& file) {
  if (!Valid(row)) return -1;
  rows_[static_cast<size_t>(row)].File = file;
  changed_ = true;
  return row;
}

int TDiagramList::Remove(int row) {
  if (!Valid(row)) return rows_.empty() ? -1 : 0;
  rows_.erase(rows_.begin() + row);
  changed_ = true;
  return rows_.empty() ? -1 : 0;
}

int TDiagramList::MoveUp(int row) {
  if (!Valid(row) || row == 0) return row;
  std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row - 1)]);
  changed_ = true;
  return row - 1;
}

int TDiagramList::MoveDown(int row) {
  if (!Valid(row) || row == Count() - 1) return row;
  std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row) + 1]);
  changed_ = true;
  return row + 1;
}

void TDiagramList::Rename(int row, const QString& name) {
  if (!Valid(row) || rows_[static_cast<size_t>(row)].Name == name) return;
  rows_[static_cast<size_t>(row)].Name = name;
  changed_ = true;
}

TSetupConfirmed ConfirmSetup(TNetwork& network, const TSetupFields& fields, const TDiagramList& diagrams) {
  TSetupNode& setup = *network.Setup();
  setup.SetPassword(fields.Password);
  setup.SetAutoSaveInterval(std::clamp(fields.AutoSaveInterval, kAutoSaveIntervalMin, kAutoSaveIntervalMax));
  setup.SetAutoSaveEnabled(fields.AutoSaveEnabled);
  setup.SetAutoLoadEnabled(fields.AutoLoadEnabled);
  setup.SetDemo(fields.Demo);
  setup.SetMNames(diagrams.Names());
  setup.SetMFiles(diagrams.Files());
  TSetupConfirmed confirmed;
  confirmed.Restart = diagrams.Changed();
  confirmed.Faults.Add(SaveTreeFileForOperator(network, setup));
  return confirmed;
}

QString PortEntryCaption(const TPortEntry& entry) {
  const QString real = QFileInfo(entry.DevicePath).canonicalFilePath();
  return entry.Text + QStringLiteral(" — ") + (real.isEmpty() ? entry.DevicePath : real);
}

}  // namespace vexa
