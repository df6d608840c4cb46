#include "ui/model/AlarmJournal.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <cmath>

#include "core/Services.h"

namespace vexa {

namespace {

constexpr double kMsPerDay = kSecondsPerDay * 1000;

// Times are stored as whole milliseconds of the program's date-time, so ranges compare exactly.
qint64 ToMs(double dateTime) {
  return std::llround(dateTime * kMsPerDay);
}
double FromMs(qint64 ms) {
  return static_cast<double>(ms) / kMsPerDay;
}

QString NextConnectionName() {
  static std::atomic<int> next{0};
  return QStringLiteral("vexa-alarm-journal-%1").arg(next++);
}

const char kFirstColumns[] = "at, name, caption, condition, event, state, value, who, priority, until";
// The columns the first journals were made without (the writes asked from outside), with their types.
const char* const kLaterColumns[][2] = {{"asked", "TEXT"}, {"outcome", "TEXT"}};

}  // namespace

QString AlarmJournalPath(const QString& folder) {
  return folder + QStringLiteral("/Archives/alarms.sqlite");
}

bool IsAlarmJournalFile(const QString& fileName) {
  for (const char* name :
       {"alarms.sqlite", "alarms.sqlite-wal", "alarms.sqlite-shm", "alarms.sqlite-journal"})
    if (fileName == QLatin1String(name)) return true;
  return false;
}

TAlarmJournal::TAlarmJournal() : connection_(NextConnectionName()) {}

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

bool TAlarmJournal::Fail(const QString& what, const QString& why) {
  error_ = QStringLiteral("Журнал тревог %1: %2: %3").arg(path_, what, why);
  return false;
}

bool TAlarmJournal::Exec(const QString& sql) {
  QSqlQuery query(db_);
  if (query.exec(sql)) return true;
  return Fail(QStringLiteral("ошибка базы данных"), query.lastError().text());
}

bool TAlarmJournal::Open(const QString& path, bool readOnly) {
  Close();
  path_ = path;
  error_.clear();
  if (readOnly && !QFileInfo::exists(path)) return Fail(QStringLiteral("не найден"), path);
  if (!readOnly) QDir().mkpath(QFileInfo(path).absolutePath());
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
  if (!db_.isValid()) return Fail(QStringLiteral("нет драйвера QSQLITE"), db_.lastError().text());
  db_.setDatabaseName(path);
  // A reader waits out a writer's commit instead of failing at once.
  db_.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                 : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
  if (!db_.open()) {
    const QString why = db_.lastError().text();
    Close();
    return Fail(QStringLiteral("не открывается"), why);
  }
  // A reader leaves a journal made before the later columns as it is: they read as empty.
  columns_ = QLatin1String(kFirstColumns);
  for (const auto& [column, type] : kLaterColumns)
    columns_ +=
        QStringLiteral(", ") +
        (!readOnly || HasColumn(QLatin1String(column)) ? QLatin1String(column) : QLatin1String("NULL"));
  if (readOnly) return true;
  // WAL: a commit is an append to the log, readers go on while it is written, and a process that
  // dies keeps every commit. NORMAL syncs at checkpoints: a lost power may cost the last events,
  // a killed process none.
  if (!Exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
      !Exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, at INTEGER NOT NULL, "
                           "name TEXT NOT NULL, caption TEXT, condition TEXT NOT NULL, event TEXT NOT NULL, "
                           "state TEXT NOT NULL, value REAL, who TEXT, priority INTEGER, until INTEGER, "
                           "asked TEXT, outcome TEXT)")) ||
      !AddMissingColumns() || !Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS events_at ON events (at)")) ||
      !Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS events_alarm ON events (name, condition, id)"))) {
    const QString why = error_;
    Close();
    error_ = why;
    return false;
  }
  insert_ = std::make_unique<QSqlQuery>(db_);
  if (!insert_->prepare(QStringLiteral("INSERT INTO events (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                            .arg(columns_))) {
    const QString why = insert_->lastError().text();
    Close();
    return Fail(QStringLiteral("ошибка базы данных"), why);
  }
  return true;
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
  insert_->bindValue(0, ToMs(e.Time));
  insert_->bindValue(1, e.Name);
  insert_->bindValue(2, e.Caption);
  insert_->bindValue(3, alarm ? ConditionCode(e.Condition) : QStringLiteral(""));
  insert_->bindValue(4, EventWord(e.Kind));
  insert_->bindValue(5, alarm ? StateWord(e.State) : QStringLiteral(""));
  insert_->bindValue(6, std::isnan(e.Value) ? QVariant() : QVariant(e.Value));
  insert_->bindValue(7, e.Who);
  insert_->bindValue(8, alarm ? QVariant(e.Priority) : QVariant());
  insert_->bindValue(9, e.ShelvedUntil > 0 ? QVariant(ToMs(e.ShelvedUntil)) : QVariant());
  insert_->bindValue(10, alarm ? QVariant() : QVariant(e.Asked));
  insert_->bindValue(11, alarm ? QVariant() : QVariant(e.Outcome));
  if (insert_->exec()) return true;
  return Fail(QStringLiteral("событие не записано"), insert_->lastError().text());
}

bool TAlarmJournal::Append(const std::vector<TAlarmEvent>& events) {
  if (!insert_) return Fail(QStringLiteral("не открыт"), path_);
  if (!db_.transaction()) return Fail(QStringLiteral("события не записаны"), db_.lastError().text());
  for (const TAlarmEvent& e : events) {
    if (!Append(e)) {
      const QString why = error_;
      db_.rollback();
      error_ = why;
      return false;
    }
  }
  if (db_.commit()) return true;
  const QString why = db_.lastError().text();
  db_.rollback();
  return Fail(QStringLiteral("события не записаны"), why);
}

std::vector<TAlarmEvent> TAlarmJournal::Fetch(QSqlQuery& query) {
  std::vector<TAlarmEvent> events;
  if (!query.exec()) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError().text());
    return events;
  }
  while (query.next()) {
    TAlarmEvent e;
    e.Time = FromMs(query.value(0).toLongLong());
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
    e.ShelvedUntil = query.value(9).isNull() ? 0 : FromMs(query.value(9).toLongLong());
    events.push_back(std::move(e));
  }
  return events;
}

std::vector<TAlarmEvent> TAlarmJournal::Query(const TJournalQuery& q) {
  if (!IsOpen()) return {};
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
  query.prepare(sql);
  if (q.From) query.bindValue(QStringLiteral(":from"), ToMs(*q.From));
  if (q.To) query.bindValue(QStringLiteral(":to"), ToMs(*q.To));
  if (!q.Name.isEmpty()) query.bindValue(QStringLiteral(":name"), q.Name);
  if (q.State) query.bindValue(QStringLiteral(":state"), StateWord(*q.State));
  return Fetch(query);
}

std::vector<TAlarmEvent> TAlarmJournal::Outstanding(double now) {
  if (!IsOpen()) return {};
  QSqlQuery query(db_);
  query.setForwardOnly(true);
  // Writes have no condition: they are no alarm's last event.
  query.prepare(
      QStringLiteral("SELECT %1 FROM events WHERE id IN (SELECT MAX(id) FROM events WHERE condition "
                     "<> '' GROUP BY name, condition) AND (state <> 'normal' OR (until IS NOT NULL "
                     "AND until > :now)) ORDER BY id")
          .arg(columns_));
  query.bindValue(QStringLiteral(":now"), ToMs(now));
  return Fetch(query);
}

int TAlarmJournal::RemoveBefore(double before) {
  if (!IsOpen()) return -1;
  QSqlQuery query(db_);
  query.prepare(
      QStringLiteral("DELETE FROM events WHERE at < :before AND id NOT IN (SELECT MAX(id) FROM events WHERE "
                     "condition <> '' GROUP BY name, condition)"));
  query.bindValue(QStringLiteral(":before"), ToMs(before));
  if (!query.exec()) {
    Fail(QStringLiteral("старые события не удалены"), query.lastError().text());
    return -1;
  }
  return query.numRowsAffected();
}

long long TAlarmJournal::Count() {
  if (!IsOpen()) return 0;
  QSqlQuery query(db_);
  if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM events")) || !query.next()) return 0;
  return query.value(0).toLongLong();
}

}  // namespace vexa
