#include "historian/HistoryStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cmath>

namespace vexa {

namespace {

// Each of our tables with the columns it cannot be without.
const char* const kTables[][2] = {{"registers", "id,name"},
                                  {"raw", "reg,t,v,ok"},
                                  {"m1", "reg,t,lo,mean,hi,good,failed"},
                                  {"h1", "reg,t,lo,mean,hi,good,failed"},
                                  {"marks", "key,value"}};

// The registers drive the loop and each seeks its own range of the primary key (reg, t): no index
// on time alone is kept, which would cost a raw row a third more.
const char kRollMinutes[] =
    "INSERT OR REPLACE INTO m1 (reg, t, lo, mean, hi, good, failed) "
    "SELECT r.reg, r.t - r.t % 60000, MIN(CASE WHEN r.ok THEN r.v END), AVG(CASE WHEN r.ok THEN r.v END), "
    "MAX(CASE WHEN r.ok THEN r.v END), SUM(r.ok), SUM(1 - r.ok) "
    "FROM registers g CROSS JOIN raw r ON r.reg = g.id WHERE r.t >= :from AND r.t < :to "
    "GROUP BY r.reg, r.t - r.t % 60000";
const char kRollHours[] =
    "INSERT OR REPLACE INTO h1 (reg, t, lo, mean, hi, good, failed) "
    "SELECT m.reg, m.t - m.t % 3600000, MIN(m.lo), "
    "SUM(m.mean * m.good) / NULLIF(SUM(CASE WHEN m.mean IS NOT NULL THEN m.good END), 0), MAX(m.hi), "
    "SUM(m.good), SUM(m.failed) "
    "FROM registers g CROSS JOIN m1 m ON m.reg = g.id WHERE m.t >= :from AND m.t < :to "
    "GROUP BY m.reg, m.t - m.t % 3600000";

}  // namespace

const char* HistoryTierTable(THistoryStep tier) {
  switch (tier) {
    case THistoryStep::Minute:
      return "m1";
    case THistoryStep::Hour:
      return "h1";
    default:
      return "raw";
  }
}

QString HistoryPath(const QString& folder) {
  return folder + QStringLiteral("/Archives/history.sqlite");
}

QString PgSpillBase(const QString& folder) {
  return folder + QStringLiteral("/Archives/history.postgresql");
}

bool IsHistoryFile(const QString& fileName) {
  for (const char* name : {"history.sqlite", "history.sqlite-wal", "history.sqlite-shm",
                           "history.sqlite-journal", "history.sqlite-spill", "history.postgresql-spill"})
    if (fileName == QLatin1String(name)) return true;
  return fileName.startsWith(QLatin1String("history.sqlite.damaged-"));
}

THistoryStep TierFor(const THistoryQuery& q, const THistoryTiers& tiers, int64_t now) {
  if (q.Step != THistoryStep::Auto) return q.Step;
  const int64_t span = q.Until - q.Since;
  if (span <= 6 * kHourMs && q.Since >= now - tiers.RawDays * kDayMs) return THistoryStep::Raw;
  if (span <= 4 * kDayMs && q.Since >= now - tiers.MinuteDays * kDayMs) return THistoryStep::Minute;
  return THistoryStep::Hour;
}

THistoryStore::THistoryStore() : connection_(NextConnectionName("vexa-history")) {}

THistoryStore::~THistoryStore() {
  Close();
}

void THistoryStore::Close() {
  insert_.reset();
  newName_.reset();
  ids_.clear();
  if (db_.isValid()) {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
  }
}

bool THistoryStore::IsOpen() const {
  return db_.isValid() && db_.isOpen();
}

bool THistoryStore::Fail(const QString& what, const QString& why, TJournalTrouble trouble) {
  error_ = QStringLiteral("Архив значений %1: %2: %3").arg(path_, what, why);
  trouble_ = trouble;
  return false;
}

bool THistoryStore::Fail(const QString& what, const QSqlError& error) {
  const TJournalTrouble trouble = SqliteTrouble(error.nativeErrorCode().toInt());
  return Fail(TroubleWords(trouble, what), error.text(), trouble);
}

bool THistoryStore::Exec(const QString& sql) {
  QSqlQuery query(db_);
  if (query.exec(sql)) return true;
  return Fail(QStringLiteral("ошибка базы данных"), query.lastError());
}

bool THistoryStore::Open(const QString& path, bool readOnly, int busyMs) {
  Close();
  path_ = path;
  error_.clear();
  trouble_ = TJournalTrouble::None;
  lateFrom_ = INT64_MAX;
  const QFileInfo info(path);
  if (readOnly && !info.exists()) return Fail(QStringLiteral("не найден"), path, TJournalTrouble::Missing);
  if (info.isDir())
    return Fail(QStringLiteral("повреждён"), QStringLiteral("на его месте папка"), TJournalTrouble::Damaged);
  if (!readOnly) QDir().mkpath(info.absolutePath());
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
  if (!db_.isValid()) return Fail(QStringLiteral("нет драйвера QSQLITE"), db_.lastError().text());
  db_.setDatabaseName(path);
  const QString busy = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs);
  db_.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;") + busy : busy);
  const auto failed = [this] {
    const QString why = error_;
    const TJournalTrouble trouble = trouble_;
    Close();
    error_ = why;
    trouble_ = trouble;
    return false;
  };
  if (!db_.open()) {
    Fail(QStringLiteral("не открывается"), db_.lastError());
    return failed();
  }
  if (!CheckLayout()) return failed();
  if (readOnly) return true;
  // WAL: a commit is an append to the log and a killed process keeps every commit; NORMAL syncs at
  // checkpoints, so a lost power may cost the last batches.
  if (!Exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
      !Exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS registers (id INTEGER PRIMARY KEY, name TEXT NOT NULL "
                           "UNIQUE)")) ||
      // A read is about 20 bytes: the name's id, the time, the value (a whole number in as few bytes
      // as it needs), the outcome in the record header alone.
      !Exec(
          QStringLiteral("CREATE TABLE IF NOT EXISTS raw (reg INTEGER NOT NULL, t INTEGER NOT NULL, v REAL, "
                         "ok INTEGER NOT NULL, PRIMARY KEY (reg, t)) WITHOUT ROWID")) ||
      !Exec(
          QStringLiteral("CREATE TABLE IF NOT EXISTS m1 (reg INTEGER NOT NULL, t INTEGER NOT NULL, lo REAL, "
                         "mean REAL, hi REAL, good INTEGER NOT NULL, failed INTEGER NOT NULL, "
                         "PRIMARY KEY (reg, t)) WITHOUT ROWID")) ||
      !Exec(
          QStringLiteral("CREATE TABLE IF NOT EXISTS h1 (reg INTEGER NOT NULL, t INTEGER NOT NULL, lo REAL, "
                         "mean REAL, hi REAL, good INTEGER NOT NULL, failed INTEGER NOT NULL, "
                         "PRIMARY KEY (reg, t)) WITHOUT ROWID")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS marks (key TEXT PRIMARY KEY, value INTEGER NOT NULL) "
                           "WITHOUT ROWID")))
    return failed();
  insert_ = std::make_unique<QSqlQuery>(db_);
  newName_ = std::make_unique<QSqlQuery>(db_);
  if (!insert_->prepare(QStringLiteral("INSERT OR IGNORE INTO raw (reg, t, v, ok) VALUES (?, ?, ?, ?)"))) {
    Fail(QStringLiteral("ошибка базы данных"), insert_->lastError());
    return failed();
  }
  if (!newName_->prepare(QStringLiteral("INSERT INTO registers (name) VALUES (?)"))) {
    Fail(QStringLiteral("ошибка базы данных"), newName_->lastError());
    return failed();
  }
  QSqlQuery names(db_);
  names.setForwardOnly(true);
  if (!names.exec(QStringLiteral("SELECT id, name FROM registers"))) {
    Fail(QStringLiteral("не читается"), names.lastError());
    return failed();
  }
  while (names.next()) ids_.insert(names.value(1).toString(), names.value(0).toInt());
  return true;
}

bool THistoryStore::CheckLayout() {
  QSqlQuery tables(db_);
  if (!tables.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
    return Fail(QStringLiteral("не читается"), tables.lastError());
  int ours = 0;
  bool others = false;
  QStringList present;
  while (tables.next()) {
    const QString name = tables.value(0).toString();
    bool known = false;
    for (const auto& [table, columns] : kTables) known = known || name == QLatin1String(table);
    if (known)
      present << name;
    else if (!name.startsWith(QLatin1String("sqlite_")))
      others = true;
  }
  ours = static_cast<int>(present.size());
  if (ours == 0 && others)
    return Fail(QStringLiteral("повреждён"), QStringLiteral("в файле нет таблиц архива"),
                TJournalTrouble::Damaged);
  for (const auto& [table, columns] : kTables) {
    if (!present.contains(QLatin1String(table))) continue;
    QSqlQuery info(db_);
    if (!info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(table))))
      return Fail(QStringLiteral("не читается"), info.lastError());
    QStringList have;
    while (info.next()) have << info.value(1).toString();
    for (const QString& column : QString::fromLatin1(columns).split(QLatin1Char(',')))
      if (!have.contains(column))
        return Fail(QStringLiteral("повреждён"),
                    QStringLiteral("в таблице %1 нет столбца %2").arg(QLatin1String(table), column),
                    TJournalTrouble::Damaged);
  }
  return true;
}

int THistoryStore::RegisterId(const QString& name) {
  if (const auto it = ids_.constFind(name); it != ids_.constEnd()) return *it;
  newName_->bindValue(0, name);
  if (!newName_->exec()) {
    Fail(QStringLiteral("чтение не записано"), newName_->lastError());
    return -1;
  }
  const int id = newName_->lastInsertId().toInt();
  ids_.insert(name, id);
  return id;
}

int64_t THistoryStore::Mark(const char* key) {
  QSqlQuery query(db_);
  query.prepare(QStringLiteral("SELECT value FROM marks WHERE key = ?"));
  query.bindValue(0, QLatin1String(key));
  if (query.exec() && query.next()) return query.value(0).toLongLong();
  return 0;
}

bool THistoryStore::SetMark(const char* key, int64_t value) {
  QSqlQuery query(db_);
  query.prepare(QStringLiteral("INSERT OR REPLACE INTO marks (key, value) VALUES (?, ?)"));
  query.bindValue(0, QLatin1String(key));
  query.bindValue(1, static_cast<qlonglong>(value));
  if (query.exec()) return true;
  return Fail(QStringLiteral("ошибка базы данных"), query.lastError());
}

bool THistoryStore::Write(const std::vector<THistorySample>& samples) {
  if (!insert_) return Fail(QStringLiteral("не открыт"), path_);
  if (samples.empty()) return true;
  if (!db_.transaction()) return Fail(QStringLiteral("чтения не записаны"), db_.lastError());
  const int64_t rolled = Mark("m1");
  int64_t late = INT64_MAX;
  const auto rollback = [this] {
    const QString why = error_;
    const TJournalTrouble trouble = trouble_;
    db_.rollback();
    ids_.clear();  // the names added in this transaction are gone with it
    QSqlQuery names(db_);
    if (names.exec(QStringLiteral("SELECT id, name FROM registers")))
      while (names.next()) ids_.insert(names.value(1).toString(), names.value(0).toInt());
    error_ = why;
    trouble_ = trouble;
    return false;
  };
  for (const THistorySample& s : samples) {
    const int id = RegisterId(s.Name);
    if (id < 0) return rollback();
    insert_->bindValue(0, id);
    insert_->bindValue(1, static_cast<qlonglong>(s.At));
    insert_->bindValue(2, std::isfinite(s.Value) ? QVariant(s.Value) : QVariant());
    insert_->bindValue(3, s.Ok ? 1 : 0);
    if (!insert_->exec()) {
      Fail(QStringLiteral("чтения не записаны"), insert_->lastError());
      return rollback();
    }
    if (s.At < rolled) late = std::min(late, FloorTo(s.At, kMinuteMs));
  }
  // COMMIT as a statement: QSqlDatabase::commit drops the engine's code, and a full disk would be
  // told as any failure.
  if (!Exec(QStringLiteral("COMMIT"))) return rollback();
  lateFrom_ = std::min(lateFrom_, late);
  return true;
}

bool THistoryStore::Roll(const QString& sql, int64_t from, int64_t to) {
  QSqlQuery query(db_);
  query.prepare(sql);
  query.bindValue(QStringLiteral(":from"), static_cast<qlonglong>(from));
  query.bindValue(QStringLiteral(":to"), static_cast<qlonglong>(to));
  if (query.exec()) return true;
  return Fail(QStringLiteral("итоги не записаны"), query.lastError());
}

bool THistoryStore::RollUp(int64_t now, const THistoryTiers& tiers, int64_t graceMs) {
  if (!insert_) return Fail(QStringLiteral("не открыт"), path_);
  if (!db_.transaction()) return Fail(QStringLiteral("итоги не записаны"), db_.lastError());
  // The error that made the transaction fail stays the one told.
  const auto rollback = [this] {
    db_.rollback();
    return false;
  };
  const int64_t rawBound = FloorTo(now - tiers.RawDays * kDayMs, kMinuteMs);
  // A minute whose raw reads are gone is never made again from what is left of them.
  const int64_t m1Mark = Mark("m1");
  const int64_t m1From = std::max(std::min(m1Mark, lateFrom_), rawBound);
  const int64_t m1To = std::max(m1Mark, FloorTo(now - graceMs, kMinuteMs));
  if (m1To > m1From && !Roll(QLatin1String(kRollMinutes), m1From, m1To)) return rollback();
  if (m1To != m1Mark && !SetMark("m1", m1To)) return rollback();
  const int64_t h1Mark = Mark("h1");
  const int64_t h1From =
      std::max(FloorTo(std::min(h1Mark, m1From), kHourMs), FloorTo(now - tiers.MinuteDays * kDayMs, kHourMs));
  const int64_t h1To = std::max(h1Mark, FloorTo(m1To, kHourMs));
  if (h1To > h1From && !Roll(QLatin1String(kRollHours), h1From, h1To)) return rollback();
  if (h1To != h1Mark && !SetMark("h1", h1To)) return rollback();
  // The bounds once an hour: a day's raw rows go in 24 pieces, none of them long.
  const int64_t swept = Mark("swept");
  if (FloorTo(now, kHourMs) != swept) {
    const struct {
      const char* table;
      int days;
    } bounds[] = {{"raw", tiers.RawDays}, {"m1", tiers.MinuteDays}, {"h1", tiers.HourDays}};
    for (const auto& b : bounds) {
      QSqlQuery query(db_);
      query.prepare(QStringLiteral("DELETE FROM %1 WHERE reg IN (SELECT id FROM registers) AND t < ?")
                        .arg(QLatin1String(b.table)));
      query.bindValue(0, static_cast<qlonglong>(FloorTo(now - b.days * kDayMs, kHourMs)));
      if (!query.exec()) {
        Fail(QStringLiteral("старые значения не удалены"), query.lastError());
        return rollback();
      }
    }
    if (!SetMark("swept", FloorTo(now, kHourMs))) return rollback();
  }
  if (!Exec(QStringLiteral("COMMIT"))) return rollback();
  lateFrom_ = INT64_MAX;
  return true;
}

std::vector<THistoryRow> THistoryStore::Query(const THistoryQuery& q, const THistoryTiers& tiers, int64_t now,
                                              THistoryStep* used) {
  std::vector<THistoryRow> rows;
  const THistoryStep tier = TierFor(q, tiers, now);
  if (used != nullptr) *used = tier;
  if (!IsOpen()) return rows;
  error_.clear();
  trouble_ = TJournalTrouble::None;
  QSqlQuery query(db_);
  query.setForwardOnly(true);
  const bool raw = tier == THistoryStep::Raw;
  const QString columns = raw ? QStringLiteral("t, v, ok") : QStringLiteral("t, lo, mean, hi, good, failed");
  if (!query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE reg = (SELECT id FROM registers WHERE name = ?) "
                                    "AND t >= ? AND t < ? ORDER BY t")
                         .arg(columns, QLatin1String(HistoryTierTable(tier))))) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    return rows;
  }
  query.bindValue(0, q.Register);
  query.bindValue(1, static_cast<qlonglong>(q.Since));
  query.bindValue(2, static_cast<qlonglong>(q.Until));
  if (!query.exec()) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    return rows;
  }
  while (query.next()) rows.push_back(HistoryRowOf(query, raw));
  // A read cut short by damage or a lock is no answer.
  if (query.lastError().isValid()) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    rows.clear();
  }
  return rows;
}

THistoryRow HistoryRowOf(const QSqlQuery& query, bool raw) {
  const auto number = [&query](int column) {
    const QVariant v = query.value(column);
    return v.isNull() ? std::nan("") : v.toDouble();
  };
  THistoryRow r;
  r.Time = query.value(0).toLongLong();
  if (raw) {
    r.Min = r.Mean = r.Max = number(1);
    const bool ok = query.value(2).toBool();  // SQLite's 0/1 and PostgreSQL's boolean alike
    r.Good = ok ? 1 : 0;
    r.Failed = ok ? 0 : 1;
  } else {
    r.Min = number(1);
    r.Mean = number(2);
    r.Max = number(3);
    r.Good = query.value(4).toLongLong();
    r.Failed = query.value(5).toLongLong();
  }
  return r;
}

long long THistoryStore::Count(THistoryStep tier) {
  QSqlQuery query(db_);
  if (!IsOpen() ||
      !query.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(HistoryTierTable(tier)))) ||
      !query.next())
    return 0;
  return query.value(0).toLongLong();
}

long long THistoryStore::UsedBytes() {
  QSqlQuery query(db_);
  if (!IsOpen() ||
      !query.exec(QStringLiteral("SELECT (SELECT page_count FROM pragma_page_count()) - "
                                 "(SELECT freelist_count FROM pragma_freelist_count()), "
                                 "(SELECT page_size FROM pragma_page_size())")) ||
      !query.next())
    return 0;
  return query.value(0).toLongLong() * query.value(1).toLongLong();
}

}  // namespace vexa
