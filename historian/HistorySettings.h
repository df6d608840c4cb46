#pragma once
// The historian's settings: Config/HISTORY.ini beside the state files. Every key is checked on
// load; what cannot be taken is named in FileProblems and keeps its default.
//
//   [History]
//   Enabled=true          recording on (the default, from the first start)
//   Backend=sqlite        sqlite (Archives/history.sqlite) or postgresql
//   Url=                  postgresql://user@host[:port]/db, for the postgresql backend
//   RawDays=31            raw reads kept
//   MinuteDays=731        one-minute buckets kept
//   HourDays=7305         one-hour buckets kept

#include <QString>
#include <QStringList>

#include "core/Faults.h"

namespace vexa {

inline constexpr int kMaxHistoryDays = 36525;  // a century

enum class THistoryBackend { Sqlite, Postgresql };

// How long each tier keeps its rows, in days.
struct THistoryTiers {
  int RawDays = 31;
  int MinuteDays = 731;
  int HourDays = 7305;
};

struct THistorySettings {
  bool Enabled = true;
  THistoryBackend Backend = THistoryBackend::Sqlite;
  QString Url;
  THistoryTiers Tiers;
  QStringList FileProblems;

  // The file's problems, then what is wrong with the fields together; empty when usable.
  QStringList Problems() const;
  // The same settings, whatever the file said of them.
  bool SameAs(const THistorySettings& other) const;
};

QString HistorySettingsPath(const QString& programFolder);
// A missing file gives the defaults.
THistorySettings LoadHistorySettings(const QString& programFolder);
// Writes the file (the settings window's page "История"); its fault names the file and why.
TFaults SaveHistorySettings(const QString& programFolder, const THistorySettings& settings);

}  // namespace vexa
