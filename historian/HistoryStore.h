#pragma once
// The historian's database: every read of every recorded register in an SQLite file (Qt SQL,
// QSQLITE), by default <folder>/Archives/history.sqlite, in WAL mode. Three tiers:
//   raw  (reg, t, v, ok)                         one row a read
//   m1   (reg, t, lo, mean, hi, good, failed)    one row a register and minute
//   h1   the same, a register and hour
// t is the start of the read or bucket in Unix epoch milliseconds, UTC; reg the id of the register's
// name in `registers`. The buckets are made from the tier below as time passes (RollUp), never at
// query time, and each tier loses its rows past its age bound. The mean is that of the good reads
// with a number; lo and hi are their least and greatest.
//
// One connection per object, used on the thread that opened it: the historian's writer thread
// writes, a reader (vexa-cli history, a window) opens its own, read-only.

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "historian/HistorySettings.h"
#include "storage/DatabaseFiles.h"

class QSqlError;
class QSqlQuery;

namespace vexa {

QString HistoryPath(const QString& folder);
// The name a PostgreSQL historian's spill file is made from (it has no file of its own).
QString PgSpillBase(const QString& folder);
// Whether a file of the archive folder is the historian's: never a report archive.
bool IsHistoryFile(const QString& fileName);

inline constexpr int64_t kMinuteMs = 60 * 1000;
inline constexpr int64_t kHourMs = 60 * kMinuteMs;
inline constexpr int64_t kDayMs = 24 * kHourMs;

// t rounded down to a multiple of step, before 1970 too.
inline int64_t FloorTo(int64_t t, int64_t step) {
  return t - ((t % step) + step) % step;
}

// One read as the historian keeps it.
struct THistorySample {
  QString Name;
  int64_t At = 0;    // UTC epoch ms
  double Value = 0;  // NaN when the read failed or its text is no number
  bool Ok = false;
};

enum class THistoryStep { Raw, Minute, Hour, Auto };

// A tier's table: raw, m1, h1 (both backends).
const char* HistoryTierTable(THistoryStep tier);

struct THistoryQuery {
  QString Register;
  int64_t Since = 0;  // inclusive, UTC epoch ms
  int64_t Until = 0;  // exclusive
  THistoryStep Step = THistoryStep::Auto;
};

// A raw row has Min = Mean = Max = its value, Good 1 and Failed 0 (or the other way round).
struct THistoryRow {
  int64_t Time = 0;
  double Min = 0;
  double Mean = 0;
  double Max = 0;
  int64_t Good = 0;
  int64_t Failed = 0;
};

// The tier a query reads: Auto takes the finest whose rows still cover `since` (by the tiers'
// bounds, counted from `now`) and give at most about 5000 rows at a read every 3 s.
THistoryStep TierFor(const THistoryQuery& query, const THistoryTiers& tiers, int64_t now);

// What the writer and the readers ask of a historian database, whichever keeps it: the SQLite file
// (THistoryStore) or a PostgreSQL server (historian/PgHistoryStore). One connection per object, used
// on the thread that opened it.
// One row of a tier's query (time, then value and ok for raw reads, or least, mean, greatest, good
// and failed for buckets), as both backends select them.
THistoryRow HistoryRowOf(const QSqlQuery& query, bool raw);

class THistoryDatabase {
 public:
  THistoryDatabase() = default;
  virtual ~THistoryDatabase() = default;
  THistoryDatabase(const THistoryDatabase&) = delete;
  THistoryDatabase& operator=(const THistoryDatabase&) = delete;

  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual const QString& ErrorText() const = 0;
  virtual TJournalTrouble Trouble() const = 0;
  // The reads in one transaction, all or none; a read already there (replayed after a crash) is
  // kept once.
  virtual bool Write(const std::vector<THistorySample>& samples) = 0;
  // Makes the minute buckets of every minute ended before now - graceMs and the hour buckets of
  // every hour whose minutes are made, again for those a late read changed, and removes what is
  // past each tier's bound. False on failure (the work is done again at the next call).
  virtual bool RollUp(int64_t now, const THistoryTiers& tiers, int64_t graceMs) = 0;
  bool RollUp(int64_t now, const THistoryTiers& tiers) { return RollUp(now, tiers, kRollUpGraceMs); }
  // Oldest first; the tier read in *used.
  virtual std::vector<THistoryRow> Query(const THistoryQuery& query, const THistoryTiers& tiers, int64_t now,
                                         THistoryStep* used) = 0;
  std::vector<THistoryRow> Query(const THistoryQuery& query, const THistoryTiers& tiers, int64_t now) {
    return Query(query, tiers, now, nullptr);
  }
  virtual long long Count(THistoryStep tier) = 0;

  static constexpr int64_t kRollUpGraceMs = 10000;
};

class THistoryStore : public THistoryDatabase {
 public:
  static constexpr int kDefaultBusyMs = 5000;

  THistoryStore();
  ~THistoryStore() override;
  THistoryStore(const THistoryStore&) = delete;
  THistoryStore& operator=(const THistoryStore&) = delete;

  // Opens (a writer creates the file and its folder) the database at path. A file that holds
  // other tables, or our tables without their columns, or is no database, is Damaged.
  bool Open(const QString& path, bool readOnly = false, int busyMs = kDefaultBusyMs);
  void Close() override;
  bool IsOpen() const override;
  const QString& Path() const { return path_; }
  const QString& ErrorText() const override { return error_; }
  TJournalTrouble Trouble() const override { return trouble_; }

  bool Write(const std::vector<THistorySample>& samples) override;
  using THistoryDatabase::RollUp;
  bool RollUp(int64_t now, const THistoryTiers& tiers, int64_t graceMs) override;
  using THistoryDatabase::Query;
  std::vector<THistoryRow> Query(const THistoryQuery& query, const THistoryTiers& tiers, int64_t now,
                                 THistoryStep* used) override;
  long long Count(THistoryStep tier) override;
  // The database's pages in use, in bytes (free pages left out).
  long long UsedBytes();

  // Moves a damaged database aside (storage/DatabaseFiles).
  static QString SetAside(const QString& path, QString* why) { return SetDatabaseAside(path, why); }

 private:
  bool Fail(const QString& what, const QString& why, TJournalTrouble trouble = TJournalTrouble::Failed);
  bool Fail(const QString& what, const QSqlError& error);
  bool Exec(const QString& sql);
  bool CheckLayout();
  int RegisterId(const QString& name);
  int64_t Mark(const char* key);
  bool SetMark(const char* key, int64_t value);
  bool Roll(const QString& sql, int64_t from, int64_t to);

  QString connection_;
  QString path_;
  QString error_;
  TJournalTrouble trouble_ = TJournalTrouble::None;
  QSqlDatabase db_;
  std::unique_ptr<QSqlQuery> insert_;
  std::unique_ptr<QSqlQuery> newName_;
  QHash<QString, int> ids_;
  // The earliest minute a read came into after its minute was made; INT64_MAX when none.
  int64_t lateFrom_ = INT64_MAX;
};

}  // namespace vexa
