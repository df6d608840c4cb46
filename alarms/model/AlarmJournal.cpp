#include "alarms/model/AlarmJournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cmath>

#include "core/Services.h"
#include "storage/DatabaseFiles.h"

namespace vexa {

namespace {

// PRAGMA user_version of a journal whose instants are UTC epoch milliseconds.
constexpr int kUtcLayout = 1;
// From 30.12.1899 to 1.1.1970, in days: the first layout counted local milliseconds from the former.
constexpr qint64 kEpochDays = 25569;

qint64 FirstLayoutMs(double dateTime) {
  return std::llround(dateTime * static_cast<double>(kMsPerDay));
}

const char kFirstColumns[] = "at, name, caption, condition, event, state, value, who, priority, until";
// The columns the first journals were made without (the writes asked from outside), with their types.
const char* const kLaterColumns[][2] = {{"asked", "TEXT"}, {"outcome", "TEXT"}, {"key", "TEXT"}};
// What no journal is without: a table of that name lacking one is another program's.
const char* const kNeededColumns[] = {"at", "name", "condition", "event", "state"};

TJournalTrouble TroubleOf(const QSqlError& error) {
  return SqliteTrouble(error.nativeErrorCode().toInt());
}

}  // namespace

qint64 UtcMsOfLocal(double dateTime) {
  const QDateTime now = QDateTime::currentDateTime();
  const qint64 localMs = FirstLayoutMs(dateTime) - kEpochDays * kMsPerDay;
  // The offset in force now is the right one for an instant near now, in either pass of a repeated
  // hour; one far from now takes the zone's rules for its own date.
  const qint64 nowLocalMs = FirstLayoutMs(DateTimeFromQt(now)) - kEpochDays * kMsPerDay;
  if (std::llabs(localMs - nowLocalMs) < 60 * 1000)
    return localMs - static_cast<qint64>(now.offsetFromUtc()) * 1000;
  return DateTimeToQt(dateTime).toMSecsSinceEpoch();
}

double LocalOfUtcMs(qint64 ms) {
  return DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(ms));
}

QString AlarmJournalPath(const QString& folder) {
  return folder + QStringLiteral("/Archives/alarms.sqlite");
}

bool IsAlarmJournalFile(const QString& fileName) {
  for (const char* name : {"alarms.sqlite", "alarms.sqlite-wal", "alarms.sqlite-shm", "alarms.sqlite-journal",
                           "alarms.sqlite-spill"})
    if (fileName == QLatin1String(name)) return true;
  return fileName.startsWith(QLatin1String("alarms.sqlite.damaged-"));
}

TAlarmJournal::TAlarmJournal() : connection_(NextConnectionName("vexa-alarm-journal")) {}

TAlarmJournal::~TAlarmJournal() {
  Close();
}

void TAlarmJournal::Close() {
  insert_.reset();
  if (db_.isValid()) {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
  }
}

bool TAlarmJournal::IsOpen() const {
  return db_.isValid() && db_.isOpen();
}

bool TAlarmJournal::Fail(const QString& what, const QString& why, TJournalTrouble trouble) {
  error_ = QStringLiteral("Журнал тревог %1: %2: %3").arg(path_, what, why);
  trouble_ = trouble;
  return false;
}

bool TAlarmJournal::Fail(const QString& what, const QSqlError& error) {
  const TJournalTrouble trouble = TroubleOf(error);
  return Fail(TroubleWords(trouble, what), error.text(), trouble);
}

bool TAlarmJournal::Exec(const QString& sql) {
  QSqlQuery query(db_);
  if (query.exec(sql)) return true;
  return Fail(QStringLiteral("ошибка базы данных"), query.lastError());
}

bool TAlarmJournal::Open(const QString& path, bool readOnly, int busyMs, bool checkWhole) {
  Close();
  path_ = path;
  error_.clear();
  trouble_ = TJournalTrouble::None;
  const QFileInfo info(path);
  if (readOnly && !info.exists()) return Fail(QStringLiteral("не найден"), path, TJournalTrouble::Missing);
  if (info.isDir())
    return Fail(QStringLiteral("повреждён"), QStringLiteral("на его месте папка"), TJournalTrouble::Damaged);
  if (!readOnly) QDir().mkpath(info.absolutePath());
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
  if (!db_.isValid()) return Fail(QStringLiteral("нет драйвера QSQLITE"), db_.lastError().text());
  db_.setDatabaseName(path);
  // A reader waits out a writer's commit instead of failing at once.
  const QString busy = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs);
  db_.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;") + busy : busy);
  if (!db_.open()) {
    const QSqlError error = db_.lastError();
    Close();
    return Fail(QStringLiteral("не открывается"), error);
  }
  const auto failed = [this] {
    const QString why = error_;
    const TJournalTrouble trouble = trouble_;
    Close();
    error_ = why;
    trouble_ = trouble;
    return false;
  };
  if (readOnly) return CheckLayout(false) && ReadLayout() ? true : failed();
  // WAL: a commit is an append to the log, readers go on while it is written, and a process that
  // dies keeps every commit. NORMAL syncs at checkpoints: a lost power may cost the last events,
  // a killed process none.
  if (!CheckLayout(checkWhole) || !Exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
      !Exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, at INTEGER NOT NULL, "
                           "name TEXT NOT NULL, caption TEXT, condition TEXT NOT NULL, event TEXT NOT NULL, "
                           "state TEXT NOT NULL, value REAL, who TEXT, priority INTEGER, until INTEGER, "
                           "asked TEXT, outcome TEXT, key TEXT)")) ||
      !AddMissingColumns() || !ConvertFirstLayout() ||
      !Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS events_at ON events (at)")) ||
      !Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS events_alarm ON events (name, condition, id)")) ||
      !Exec(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS events_key ON events (key)")) || !ReadLayout())
    return failed();
  hasEvents_ = true;
  insert_ = std::make_unique<QSqlQuery>(db_);
  // An event replayed from the spill file after a crash that came between its commit and the
  // file's removal is there already: kept once.
  if (!insert_->prepare(QStringLiteral("INSERT INTO events (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                       "?) ON CONFLICT (key) DO NOTHING")
                            .arg(columns_))) {
    Fail(QStringLiteral("ошибка базы данных"), insert_->lastError());
    return failed();
  }
  return true;
}

// A file that holds tables but no journal's, a journal's table without its columns, or pages that
// do not read back, is damaged: it is no journal to add to.
bool TAlarmJournal::CheckLayout(bool checkWhole) {
  QSqlQuery tables(db_);
  if (!tables.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
    return Fail(QStringLiteral("не читается"), tables.lastError());
  bool& events = hasEvents_;
  events = false;
  bool others = false;
  while (tables.next()) {
    const QString name = tables.value(0).toString();
    if (name == QLatin1String("events"))
      events = true;
    else if (!name.startsWith(QLatin1String("sqlite_")))
      others = true;
  }
  if (!events && others)
    return Fail(QStringLiteral("повреждён"), QStringLiteral("в файле нет таблицы событий"),
                TJournalTrouble::Damaged);
  if (events)
    for (const char* column : kNeededColumns)
      if (!HasColumn(QLatin1String(column)))
        return Fail(QStringLiteral("повреждён"),
                    QStringLiteral("в таблице событий нет столбца %1").arg(column), TJournalTrouble::Damaged);
  if (!checkWhole) return true;
  QSqlQuery check(db_);
  if (!check.exec(QStringLiteral("PRAGMA quick_check")))
    return Fail(QStringLiteral("не читается"), check.lastError());
  if (!check.next() || check.value(0).toString() != QLatin1String("ok"))
    return Fail(QStringLiteral("повреждён"), check.value(0).toString(), TJournalTrouble::Damaged);
  return true;
}

// The first layout's local milliseconds from 30.12.1899 become UTC epoch milliseconds, by the zone
// rules of the date each row names; every row, in one transaction, or none.
bool TAlarmJournal::ConvertFirstLayout() {
  QSqlQuery version(db_);
  if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next())
    return Fail(QStringLiteral("не читается"), version.lastError());
  if (version.value(0).toInt() >= kUtcLayout) return true;
  const auto utc = [](const char* column) {
    return QStringLiteral(
               "CAST(strftime('%s', %1 / 1000 - %2, 'unixepoch', 'utc') AS INTEGER) * 1000 + %1 % 1000")
        .arg(QLatin1String(column))
        .arg(kEpochDays * 86400);
  };
  if (!db_.transaction()) return Fail(QStringLiteral("не преобразован"), db_.lastError());
  if (Exec(QStringLiteral("UPDATE events SET at = %1, until = CASE WHEN until IS NULL THEN NULL ELSE %2 END")
               .arg(utc("at"), utc("until"))) &&
      Exec(QStringLiteral("PRAGMA user_version = %1").arg(kUtcLayout)) && db_.commit())
    return true;
  const QString why = error_.isEmpty() ? db_.lastError().text() : error_;
  const TJournalTrouble trouble = trouble_ == TJournalTrouble::None ? TroubleOf(db_.lastError()) : trouble_;
  db_.rollback();
  error_ = why;
  trouble_ = trouble;
  return false;
}

bool TAlarmJournal::ReadLayout() {
  QSqlQuery version(db_);
  if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next())
    return Fail(QStringLiteral("не читается"), version.lastError());
  utc_ = version.value(0).toInt() >= kUtcLayout;
  // A reader leaves a journal made before the later columns as it is: they read as empty.
  columns_ = QLatin1String(kFirstColumns);
  for (const auto& [column, type] : kLaterColumns)
    columns_ += QStringLiteral(", ") +
                (HasColumn(QLatin1String(column)) ? QLatin1String(column) : QLatin1String("NULL"));
  return true;
}

qint64 TAlarmJournal::Stored(double dateTime) const {
  return utc_ ? UtcMsOfLocal(dateTime) : FirstLayoutMs(dateTime);
}

double TAlarmJournal::Local(qint64 stored) const {
  return utc_ ? LocalOfUtcMs(stored) : static_cast<double>(stored) / static_cast<double>(kMsPerDay);
}

bool TAlarmJournal::HasColumn(const QString& column) {
  QSqlQuery query(db_);
  if (!query.exec(QStringLiteral("PRAGMA table_info(events)"))) return false;
  while (query.next())
    if (query.value(1).toString() == column) return true;
  return false;
}

bool TAlarmJournal::AddMissingColumns() {
  for (const auto& [column, type] : kLaterColumns)
    if (!HasColumn(QLatin1String(column)) && !Exec(QStringLiteral("ALTER TABLE events ADD COLUMN %1 %2")
                                                       .arg(QLatin1String(column), QLatin1String(type))))
      return false;
  return true;
}

bool TAlarmJournal::Append(const TAlarmEvent& e) {
  if (!insert_) return Fail(QStringLiteral("не открыт"), path_);
  // A write belongs to no alarm: no condition, state or priority, which keeps it out of the
  // alarms' last events (start-up, the age bound) and of a query by state.
  const bool alarm = e.IsAlarm();
  insert_->bindValue(0, e.At != 0 ? e.At : UtcMsOfLocal(e.Time));
  insert_->bindValue(1, e.Name);
  insert_->bindValue(2, e.Caption);
  insert_->bindValue(3, alarm ? ConditionCode(e.Condition) : QStringLiteral(""));
  insert_->bindValue(4, EventWord(e.Kind));
  insert_->bindValue(5, alarm ? StateWord(e.State) : QStringLiteral(""));
  insert_->bindValue(6, std::isnan(e.Value) ? QVariant() : QVariant(e.Value));
  insert_->bindValue(7, e.Who);
  insert_->bindValue(8, alarm ? QVariant(e.Priority) : QVariant());
  insert_->bindValue(9, e.ShelvedUntil > 0 ? QVariant(UtcMsOfLocal(e.ShelvedUntil)) : QVariant());
  insert_->bindValue(10, alarm ? QVariant() : QVariant(e.Asked));
  insert_->bindValue(11, alarm ? QVariant() : QVariant(e.Outcome));
  insert_->bindValue(12, e.Key.isEmpty() ? QVariant() : QVariant(e.Key));
  if (insert_->exec()) return true;
  return Fail(QStringLiteral("событие не записано"), insert_->lastError());
}

bool TAlarmJournal::Append(const std::vector<TAlarmEvent>& events) {
  if (!insert_) return Fail(QStringLiteral("не открыт"), path_);
  if (!db_.transaction()) return Fail(QStringLiteral("события не записаны"), db_.lastError());
  // The error that made the transaction fail stays the one told.
  const auto rollback = [this] {
    db_.rollback();
    return false;
  };
  for (const TAlarmEvent& e : events)
    if (!Append(e)) return rollback();
  // COMMIT as a statement: QSqlDatabase::commit drops the engine's code, and a full disk would be
  // told as any failure.
  return Exec(QStringLiteral("COMMIT")) || rollback();
}

std::vector<TAlarmEvent> TAlarmJournal::Fetch(QSqlQuery& query) {
  std::vector<TAlarmEvent> events;
  if (!query.exec()) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    return events;
  }
  while (query.next()) {
    TAlarmEvent e;
    const qint64 at = query.value(0).toLongLong();
    e.Time = Local(at);
    e.At = utc_ ? at : UtcMsOfLocal(e.Time);
    e.Name = query.value(1).toString();
    e.Caption = query.value(2).toString();
    // A row another program wrote with words this one does not know is left out.
    const auto kind = EventOfWord(query.value(4).toString());
    if (!kind) continue;
    e.Kind = *kind;
    if (e.IsAlarm()) {
      const auto condition = ConditionOfCode(query.value(3).toString());
      const auto state = StateOfWord(query.value(5).toString());
      if (!condition || !state) continue;
      e.Condition = *condition;
      e.State = *state;
      e.Priority = query.value(8).toInt();
    } else {
      e.Priority = 0;
      e.Asked = query.value(10).toString();
      e.Outcome = query.value(11).toString();
    }
    e.Value = query.value(6).isNull() ? kNoValue : query.value(6).toDouble();
    e.Who = query.value(7).toString();
    e.ShelvedUntil = query.value(9).isNull() ? 0 : Local(query.value(9).toLongLong());
    events.push_back(std::move(e));
  }
  // A read cut short by damage or a lock is no answer.
  if (query.lastError().isValid()) Fail(QStringLiteral("ошибка запроса"), query.lastError());
  return events;
}

std::vector<TAlarmEvent> TAlarmJournal::Query(const TJournalQuery& q) {
  if (!IsOpen() || !hasEvents_) return {};
  error_.clear();
  trouble_ = TJournalTrouble::None;
  // A writer may have converted the layout since this connection was opened.
  if (!ReadLayout()) return {};
  QStringList where;
  if (q.From) where << QStringLiteral("at >= :from");
  if (q.To) where << QStringLiteral("at <= :to");
  if (!q.Name.isEmpty()) where << QStringLiteral("name = :name");
  if (q.State) where << QStringLiteral("state = :state");
  QString sql = QStringLiteral("SELECT %1 FROM events").arg(columns_);
  if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
  if (q.Limit > 0)
    sql = QStringLiteral("SELECT * FROM (%1, id FROM events%2 ORDER BY id DESC LIMIT %3) ORDER BY id")
              .arg(QStringLiteral("SELECT ") + columns_,
                   where.isEmpty() ? QString()
                                   : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND ")))
              .arg(q.Limit);
  else
    sql += QStringLiteral(" ORDER BY id");
  QSqlQuery query(db_);
  query.setForwardOnly(true);
  if (!query.prepare(sql)) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    return {};
  }
  if (q.From) query.bindValue(QStringLiteral(":from"), Stored(*q.From));
  if (q.To) query.bindValue(QStringLiteral(":to"), Stored(*q.To));
  if (!q.Name.isEmpty()) query.bindValue(QStringLiteral(":name"), q.Name);
  if (q.State) query.bindValue(QStringLiteral(":state"), StateWord(*q.State));
  return Fetch(query);
}

std::vector<TAlarmEvent> TAlarmJournal::Outstanding(double now) {
  if (!IsOpen() || !hasEvents_) return {};
  error_.clear();
  trouble_ = TJournalTrouble::None;
  if (!ReadLayout()) return {};
  QSqlQuery query(db_);
  query.setForwardOnly(true);
  // Writes have no condition: they are no alarm's last event.
  if (!query.prepare(
          QStringLiteral("SELECT %1 FROM events WHERE id IN (SELECT MAX(id) FROM events WHERE condition "
                         "<> '' GROUP BY name, condition) AND (state <> 'normal' OR (until IS NOT NULL "
                         "AND until > :now)) ORDER BY id")
              .arg(columns_))) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    return {};
  }
  query.bindValue(QStringLiteral(":now"), Stored(now));
  return Fetch(query);
}

int TAlarmJournal::RemoveBefore(double before) {
  if (!IsOpen()) return -1;
  QSqlQuery query(db_);
  query.prepare(
      QStringLiteral("DELETE FROM events WHERE at < :before AND id NOT IN (SELECT MAX(id) FROM events WHERE "
                     "condition <> '' GROUP BY name, condition)"));
  query.bindValue(QStringLiteral(":before"), Stored(before));
  if (!query.exec()) {
    Fail(QStringLiteral("старые события не удалены"), query.lastError());
    return -1;
  }
  return query.numRowsAffected();
}

long long TAlarmJournal::Count() {
  if (!IsOpen() || !hasEvents_) return 0;
  QSqlQuery query(db_);
  if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM events")) || !query.next()) return 0;
  return query.value(0).toLongLong();
}

QString TAlarmJournal::SetAside(const QString& path, QString* why) {
  return SetDatabaseAside(path, why);
}

}  // namespace vexa
