#pragma once
// The historian's settings: Config/HISTORY.ini beside the state files. Every key is checked on
// load; what cannot be taken is named in FileProblems and keeps its default.
//
//   [History]
//   Enabled=true          recording on (the default, from the first start)
//   Backend=sqlite        sqlite (Archives/history.sqlite) or postgresql
//   Url=                  postgresql://user@host[:port]/db, for the postgresql backend; the password
//                         from PGPASSWORD or ~/.pgpass, never here
//   Source=               the line's name in a shared database; the program folder's name when empty
//   RawDays=31            raw reads kept
//   MinuteDays=731        one-minute buckets kept
//   HourDays=7305         one-hour buckets kept

#include <QString>
#include <QStringList>
#include <optional>

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

// A PostgreSQL server as a URL names it: postgresql://user@host[:port]/db.
struct TPgTarget {
  QString User;
  QString Host;
  int Port = 5432;
  QString Database;
};
// Null, with *why, for anything else: another scheme, a password, options, a missing part.
std::optional<TPgTarget> PgTargetOf(const QString& url, QString* why);

inline constexpr int kMaxSourceLength = 64;

struct THistorySettings {
  bool Enabled = true;
  THistoryBackend Backend = THistoryBackend::Sqlite;
  QString Url;
  QString Source;
  THistoryTiers Tiers;
  QStringList FileProblems;

  // The file's problems, then what is wrong with the fields together; empty when usable.
  QStringList Problems() const;
  // The same settings, whatever the file said of them.
  bool SameAs(const THistorySettings& other) const;
};

QString HistorySettingsPath(const QString& programFolder);
// The name a line's reads go under in a shared database: Source=, else the folder's name.
QString HistorySourceOf(const THistorySettings& settings, const QString& programFolder);
// A missing file gives the defaults.
THistorySettings LoadHistorySettings(const QString& programFolder);
// Writes the file (the settings window's page "История"); its fault names the file and why.
TFaults SaveHistorySettings(const QString& programFolder, const THistorySettings& settings);

}  // namespace vexa
