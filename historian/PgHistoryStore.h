#pragma once
// The historian's database on a PostgreSQL server (Qt SQL, QPSQL), shared by the line services of a
// plant: each writes under its own source name, and a register is known by (source, name). In the
// schema vexa_history:
//   registers (id, source, name)              the names, unique per source
//   raw, m1, h1                               the three tiers, as in the SQLite file, partitioned by
//                                             month on t (raw_YYYYMM, ...), a BRIN index on t
//   marks (source, key, value)                each source's roll-up marks
//   sources (source, raw_days, ...)           each source's tier bounds
// Partitions are made ahead of the reads (make_partitions) and dropped once every source is past
// them (drop_partitions); both run as the schema's owner (SECURITY DEFINER), so a line's login
// role needs no more than INSERT, SELECT, UPDATE and DELETE on the tables. A source that keeps a
// tier shorter than another deletes its own rows past its bound.
//
// The schema is made at the first opening for writing by a role that may create it (the owner);
// the password comes from PGPASSWORD or ~/.pgpass, as libpq looks for it.

#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QString>

#include "historian/HistoryStore.h"

namespace vexa {

inline constexpr char kPgHistorySchema[] = "vexa_history";
// The group role the schema's owner grants the line services' rights to, when it exists.
inline constexpr char kPgHistoryWriterRole[] = "vexa_history_writer";

class TPgHistoryStore : public THistoryDatabase {
 public:
  TPgHistoryStore();
  ~TPgHistoryStore() override;
  TPgHistoryStore(const TPgHistoryStore&) = delete;
  TPgHistoryStore& operator=(const TPgHistoryStore&) = delete;

  // Connects to url (postgresql://user@host[:port]/db) as source; a writer makes the schema when
  // it is missing. A reader finds a missing schema Missing.
  bool Open(const QString& url, const QString& source, bool readOnly = false);
  void Close() override;
  bool IsOpen() const override;
  const QString& ErrorText() const override { return error_; }
  TJournalTrouble Trouble() const override { return trouble_; }
  const QString& Source() const { return source_; }

  bool Write(const std::vector<THistorySample>& samples) override;
  using THistoryDatabase::RollUp;
  bool RollUp(int64_t now, const THistoryTiers& tiers, int64_t graceMs) override;
  using THistoryDatabase::Query;
  std::vector<THistoryRow> Query(const THistoryQuery& query, const THistoryTiers& tiers, int64_t now,
                                 THistoryStep* used) override;
  // This source's rows of a tier.
  long long Count(THistoryStep tier) override;
  // The partitions of a tier, oldest first (raw_202612, ...).
  QStringList Partitions(THistoryStep tier);

 private:
  bool Fail(const QString& what, const QString& why, TJournalTrouble trouble = TJournalTrouble::Failed);
  bool Fail(const QString& what, const QSqlError& error);
  bool Exec(const QString& sql);
  bool MakeSchema();
  bool CheckLayout();
  bool MakePartitions(int64_t at);
  bool AddNames(const std::vector<THistorySample>& samples);
  bool SetMark(const QString& key, int64_t value);
  bool Sweep(int64_t now, const THistoryTiers& tiers);

  QString connection_;
  QString url_;
  QString source_;
  QString error_;
  TJournalTrouble trouble_ = TJournalTrouble::None;
  QSqlDatabase db_;
  QHash<QString, int> ids_;
  QHash<QString, int64_t> marks_;
  QSet<int64_t> months_;  // the month starts whose partitions are known to be there
  bool boundsTold_ = false;
  THistoryTiers toldTiers_;
  int64_t lateFrom_ = INT64_MAX;
};

}  // namespace vexa
