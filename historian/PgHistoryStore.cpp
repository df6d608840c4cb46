#include "historian/PgHistoryStore.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cmath>

namespace vexa {

namespace {

int64_t MonthStart(int64_t ms) {
  const QDate d = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).date();
  return QDateTime(QDate(d.year(), d.month(), 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
}

int64_t NextMonthStart(int64_t ms) {
  const QDate d = QDateTime::fromMSecsSinceEpoch(MonthStart(ms), Qt::UTC).date().addMonths(1);
  return QDateTime(d, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
}

// An array literal of texts, each quoted.
QString TextArray(const QStringList& texts) {
  QString out = QStringLiteral("{");
  for (const QString& t : texts) {
    if (out.size() > 1) out += QLatin1Char(',');
    out += QLatin1Char('"');
    for (const QChar c : t) {
      if (c == QLatin1Char('"') || c == QLatin1Char('\\')) out += QLatin1Char('\\');
      out += c;
    }
    out += QLatin1Char('"');
  }
  return out + QLatin1Char('}');
}

// The schema, made once by its owner. The functions run as the owner, so that the lines' roles may
// make and drop partitions without owning the tables; two lines making the same month at once are
// told apart by the duplicate error.
const char kSchema[] = R"sql(
CREATE SCHEMA vexa_history;
CREATE TABLE vexa_history.registers (id serial PRIMARY KEY, source text NOT NULL, name text NOT NULL,
  UNIQUE (source, name));
CREATE TABLE vexa_history.raw (reg integer NOT NULL, t bigint NOT NULL, v double precision,
  ok boolean NOT NULL, PRIMARY KEY (reg, t)) PARTITION BY RANGE (t);
CREATE TABLE vexa_history.m1 (reg integer NOT NULL, t bigint NOT NULL, lo double precision,
  mean double precision, hi double precision, good integer NOT NULL, failed integer NOT NULL,
  PRIMARY KEY (reg, t)) PARTITION BY RANGE (t);
CREATE TABLE vexa_history.h1 (reg integer NOT NULL, t bigint NOT NULL, lo double precision,
  mean double precision, hi double precision, good integer NOT NULL, failed integer NOT NULL,
  PRIMARY KEY (reg, t)) PARTITION BY RANGE (t);
CREATE INDEX raw_t ON vexa_history.raw USING brin (t);
CREATE INDEX m1_t ON vexa_history.m1 USING brin (t);
CREATE INDEX h1_t ON vexa_history.h1 USING brin (t);
CREATE TABLE vexa_history.marks (source text NOT NULL, key text NOT NULL, value bigint NOT NULL,
  PRIMARY KEY (source, key));
CREATE TABLE vexa_history.sources (source text PRIMARY KEY, raw_days integer NOT NULL,
  minute_days integer NOT NULL, hour_days integer NOT NULL);
CREATE FUNCTION vexa_history.make_partitions(at bigint) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = vexa_history, pg_temp AS $$
DECLARE
  m timestamp := date_trunc('month', to_timestamp(at / 1000.0) AT TIME ZONE 'UTC');
  lo bigint := (extract(epoch FROM m AT TIME ZONE 'UTC') * 1000)::bigint;
  hi bigint := (extract(epoch FROM (m + interval '1 month') AT TIME ZONE 'UTC') * 1000)::bigint;
  tier text;
BEGIN
  FOREACH tier IN ARRAY ARRAY['raw', 'm1', 'h1'] LOOP
    IF to_regclass(format('vexa_history.%I', tier || '_' || to_char(m, 'YYYYMM'))) IS NULL THEN
      BEGIN
        EXECUTE format('CREATE TABLE vexa_history.%I PARTITION OF vexa_history.%I FOR VALUES FROM (%s) TO (%s)',
                       tier || '_' || to_char(m, 'YYYYMM'), tier, lo, hi);
      EXCEPTION WHEN duplicate_table THEN NULL;
      END;
    END IF;
  END LOOP;
END $$;
CREATE FUNCTION vexa_history.drop_partitions(tier text, now bigint) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = vexa_history, pg_temp AS $$
DECLARE
  keep integer;
  part record;
  dropped integer := 0;
BEGIN
  IF tier NOT IN ('raw', 'm1', 'h1') THEN RAISE EXCEPTION 'no tier %', tier; END IF;
  SELECT max(CASE tier WHEN 'raw' THEN raw_days WHEN 'm1' THEN minute_days ELSE hour_days END)
    INTO keep FROM sources;
  IF keep IS NULL THEN RETURN 0; END IF;
  FOR part IN SELECT c.relname,
      (regexp_match(pg_get_expr(c.relpartbound, c.oid), 'TO \(''?(-?\d+)''?\)'))[1]::bigint AS upper
    FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid
    WHERE i.inhparent = format('vexa_history.%I', tier)::regclass LOOP
    IF part.upper <= now - keep * 86400000::bigint THEN
      EXECUTE format('DROP TABLE vexa_history.%I', part.relname);
      dropped := dropped + 1;
    END IF;
  END LOOP;
  RETURN dropped;
END $$;
REVOKE ALL ON FUNCTION vexa_history.make_partitions(bigint) FROM PUBLIC;
REVOKE ALL ON FUNCTION vexa_history.drop_partitions(text, bigint) FROM PUBLIC;
DO $$ BEGIN
  IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'vexa_history_writer') THEN
    GRANT USAGE ON SCHEMA vexa_history TO vexa_history_writer;
    GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA vexa_history TO vexa_history_writer;
    GRANT USAGE ON ALL SEQUENCES IN SCHEMA vexa_history TO vexa_history_writer;
    GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA vexa_history TO vexa_history_writer;
  END IF;
END $$;
)sql";

// Each of our tables with the columns it cannot be without.
const char* const kPgTables[][2] = {{"registers", "id, source, name"},
                                    {"raw", "reg, t, v, ok"},
                                    {"m1", "reg, t, lo, mean, hi, good, failed"},
                                    {"h1", "reg, t, lo, mean, hi, good, failed"},
                                    {"marks", "source, key, value"},
                                    {"sources", "source, raw_days, minute_days, hour_days"}};

// The minutes of this source's registers, through the BRIN index on t: the reads of a minute lie
// together whatever their register.
const char kPgRollMinutes[] =
    "INSERT INTO vexa_history.m1 (reg, t, lo, mean, hi, good, failed) "
    "SELECT r.reg, r.t - r.t % 60000, MIN(r.v) FILTER (WHERE r.ok), AVG(r.v) FILTER (WHERE r.ok), "
    "MAX(r.v) FILTER (WHERE r.ok), COUNT(*) FILTER (WHERE r.ok), COUNT(*) FILTER (WHERE NOT r.ok) "
    "FROM vexa_history.raw r WHERE r.reg IN (SELECT id FROM vexa_history.registers WHERE source = ?) "
    "AND r.t >= ? AND r.t < ? GROUP BY r.reg, r.t - r.t % 60000 "
    "ON CONFLICT (reg, t) DO UPDATE SET lo = EXCLUDED.lo, mean = EXCLUDED.mean, hi = EXCLUDED.hi, "
    "good = EXCLUDED.good, failed = EXCLUDED.failed";
const char kPgRollHours[] =
    "INSERT INTO vexa_history.h1 (reg, t, lo, mean, hi, good, failed) "
    "SELECT m.reg, m.t - m.t % 3600000, MIN(m.lo), "
    "SUM(m.mean * m.good) / NULLIF(SUM(CASE WHEN m.mean IS NOT NULL THEN m.good END), 0), MAX(m.hi), "
    "SUM(m.good), SUM(m.failed) "
    "FROM vexa_history.m1 m WHERE m.reg IN (SELECT id FROM vexa_history.registers WHERE source = ?) "
    "AND m.t >= ? AND m.t < ? GROUP BY m.reg, m.t - m.t % 3600000 "
    "ON CONFLICT (reg, t) DO UPDATE SET lo = EXCLUDED.lo, mean = EXCLUDED.mean, hi = EXCLUDED.hi, "
    "good = EXCLUDED.good, failed = EXCLUDED.failed";

}  // namespace

TPgHistoryStore::TPgHistoryStore() : connection_(NextConnectionName("vexa-history")) {}

TPgHistoryStore::~TPgHistoryStore() {
  Close();
}

void TPgHistoryStore::Close() {
  ids_.clear();
  marks_.clear();
  months_.clear();
  boundsTold_ = false;
  if (db_.isValid()) {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
  }
}

bool TPgHistoryStore::IsOpen() const {
  return db_.isValid() && db_.isOpen();
}

bool TPgHistoryStore::Fail(const QString& what, const QString& why, TJournalTrouble trouble) {
  error_ = QStringLiteral("Архив значений %1: %2: %3").arg(url_, what, why.trimmed());
  trouble_ = trouble;
  return false;
}

bool TPgHistoryStore::Fail(const QString& what, const QSqlError& error) {
  const QString code = error.nativeErrorCode();
  // Class 53: out of disk, memory or connections on the server.
  if (code.startsWith(QLatin1String("53")))
    return Fail(QStringLiteral("сервер не записывает (нет места или соединений)"), error.text(),
                TJournalTrouble::Full);
  if (code == QLatin1String("42501")) return Fail(what + QStringLiteral(": нет прав"), error.text());
  return Fail(what, error.text());
}

bool TPgHistoryStore::Exec(const QString& sql) {
  QSqlQuery query(db_);
  if (query.exec(sql)) return true;
  return Fail(QStringLiteral("ошибка базы данных"), query.lastError());
}

bool TPgHistoryStore::Open(const QString& url, const QString& source, bool readOnly) {
  Close();
  url_ = url;
  source_ = source;
  error_.clear();
  trouble_ = TJournalTrouble::None;
  lateFrom_ = INT64_MAX;
  QString why;
  const std::optional<TPgTarget> target = PgTargetOf(url, &why);
  if (!target) return Fail(QStringLiteral("адрес не подходит"), why);
  if (source.isEmpty())
    return Fail(QStringLiteral("не открыт"), QStringLiteral("у линии нет имени (Source)"));
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
  if (!db_.isValid()) {
    Close();
    return Fail(QStringLiteral("нет драйвера QPSQL (пакет libqt6sql6-psql)"), QString());
  }
  db_.setHostName(target->Host);
  db_.setPort(target->Port);
  db_.setUserName(target->User);
  db_.setDatabaseName(target->Database);
  // A server gone without a word (a cable pulled) is noticed within seconds, not minutes: the writer
  // thread waits on it, never the line.
  db_.setConnectOptions(
      QStringLiteral("connect_timeout=5;application_name=vexa;keepalives_idle=10;keepalives_interval=3;"
                     "keepalives_count=3;tcp_user_timeout=15000"));
  const auto failed = [this] {
    const QString why = error_;
    const TJournalTrouble trouble = trouble_;
    Close();
    error_ = why;
    trouble_ = trouble;
    return false;
  };
  if (!db_.open()) {
    Fail(QStringLiteral("нет соединения с сервером"), db_.lastError());
    return failed();
  }
  QSqlQuery have(db_);
  if (!have.exec(QStringLiteral("SELECT to_regclass('vexa_history.registers') IS NOT NULL")) ||
      !have.next()) {
    Fail(QStringLiteral("не читается"), have.lastError());
    return failed();
  }
  if (!have.value(0).toBool()) {
    if (readOnly) {
      Fail(QStringLiteral("не найден"), QStringLiteral("в базе нет схемы vexa_history"),
           TJournalTrouble::Missing);
      return failed();
    }
    if (!MakeSchema()) return failed();
  }
  if (!CheckLayout()) return failed();
  if (readOnly) return true;
  QSqlQuery names(db_);
  names.setForwardOnly(true);
  names.prepare(QStringLiteral("SELECT id, name FROM vexa_history.registers WHERE source = ?"));
  names.addBindValue(source_);
  if (!names.exec()) {
    Fail(QStringLiteral("не читается"), names.lastError());
    return failed();
  }
  while (names.next()) ids_.insert(names.value(1).toString(), names.value(0).toInt());
  QSqlQuery marks(db_);
  marks.prepare(QStringLiteral("SELECT key, value FROM vexa_history.marks WHERE source = ?"));
  marks.addBindValue(source_);
  if (!marks.exec()) {
    Fail(QStringLiteral("не читается"), marks.lastError());
    return failed();
  }
  while (marks.next()) marks_.insert(marks.value(0).toString(), marks.value(1).toLongLong());
  return true;
}

bool TPgHistoryStore::MakeSchema() {
  if (!db_.transaction()) return Fail(QStringLiteral("схема не создана"), db_.lastError());
  // Two lines starting together: the second waits for the first and finds the schema made.
  QSqlQuery lock(db_);
  QSqlQuery again(db_);
  if (!lock.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('vexa_history'))")) ||
      !again.exec(QStringLiteral("SELECT to_regclass('vexa_history.registers') IS NOT NULL")) ||
      !again.next()) {
    Fail(QStringLiteral("схема не создана"),
         lock.lastError().isValid() ? lock.lastError() : again.lastError());
    db_.rollback();
    return false;
  }
  if (!again.value(0).toBool()) {
    QSqlQuery ddl(db_);
    if (!ddl.exec(QString::fromLatin1(kSchema))) {
      Fail(QStringLiteral("схема vexa_history не создана (её создаёт роль-владелец)"), ddl.lastError());
      db_.rollback();
      return false;
    }
  }
  if (!db_.commit()) return Fail(QStringLiteral("схема не создана"), db_.lastError());
  return true;
}

bool TPgHistoryStore::CheckLayout() {
  for (const auto& [table, columns] : kPgTables) {
    QSqlQuery probe(db_);
    if (!probe.exec(QStringLiteral("SELECT %1 FROM vexa_history.%2 LIMIT 0")
                        .arg(QLatin1String(columns), QLatin1String(table))))
      return Fail(QStringLiteral("схема vexa_history не читается"), probe.lastError());
  }
  return true;
}

bool TPgHistoryStore::MakePartitions(int64_t at) {
  const int64_t month = MonthStart(at);
  if (months_.contains(month)) return true;
  QSqlQuery query(db_);
  query.prepare(QStringLiteral("SELECT vexa_history.make_partitions(?)"));
  query.addBindValue(static_cast<qlonglong>(month));
  if (!query.exec()) return Fail(QStringLiteral("разделы не созданы"), query.lastError());
  months_.insert(month);
  return true;
}

bool TPgHistoryStore::AddNames(const std::vector<THistorySample>& samples) {
  QStringList fresh;
  QSet<QString> seen;
  for (const THistorySample& s : samples)
    if (!ids_.contains(s.Name) && !seen.contains(s.Name)) {
      seen.insert(s.Name);
      fresh << s.Name;
    }
  if (fresh.isEmpty()) return true;
  // Another run of this source may have added some: both take the same ids.
  QSqlQuery add(db_);
  add.prepare(
      QStringLiteral("INSERT INTO vexa_history.registers (source, name) SELECT ?, unnest(CAST(? AS text[])) "
                     "ON CONFLICT (source, name) DO NOTHING"));
  add.addBindValue(source_);
  add.addBindValue(TextArray(fresh));
  if (!add.exec()) return Fail(QStringLiteral("чтения не записаны"), add.lastError());
  QSqlQuery ids(db_);
  ids.setForwardOnly(true);
  ids.prepare(QStringLiteral(
      "SELECT id, name FROM vexa_history.registers WHERE source = ? AND name = ANY(CAST(? AS text[]))"));
  ids.addBindValue(source_);
  ids.addBindValue(TextArray(fresh));
  if (!ids.exec()) return Fail(QStringLiteral("чтения не записаны"), ids.lastError());
  while (ids.next()) ids_.insert(ids.value(1).toString(), ids.value(0).toInt());
  for (const QString& name : fresh)
    if (!ids_.contains(name))
      return Fail(QStringLiteral("чтения не записаны"), QStringLiteral("нет id для ") + name);
  return true;
}

bool TPgHistoryStore::Write(const std::vector<THistorySample>& samples) {
  if (!IsOpen()) return Fail(QStringLiteral("не открыт"), url_);
  if (samples.empty()) return true;
  // Names and partitions first, each committed on its own: kept whatever becomes of the reads.
  if (!AddNames(samples)) return false;
  for (const THistorySample& s : samples)
    if (!MakePartitions(s.At)) return false;
  const int64_t rolled = marks_.value(QStringLiteral("m1"), 0);
  int64_t late = INT64_MAX;
  // One statement for the batch: the reads as four arrays.
  QString regs = QStringLiteral("{");
  QString times = QStringLiteral("{");
  QString values = QStringLiteral("{");
  QString oks = QStringLiteral("{");
  regs.reserve(static_cast<qsizetype>(samples.size()) * 6);
  times.reserve(static_cast<qsizetype>(samples.size()) * 14);
  values.reserve(static_cast<qsizetype>(samples.size()) * 8);
  oks.reserve(static_cast<qsizetype>(samples.size()) * 2);
  for (const THistorySample& s : samples) {
    if (regs.size() > 1) {
      regs += QLatin1Char(',');
      times += QLatin1Char(',');
      values += QLatin1Char(',');
      oks += QLatin1Char(',');
    }
    regs += QString::number(ids_.value(s.Name));
    times += QString::number(static_cast<qlonglong>(s.At));
    values += std::isfinite(s.Value) ? QString::number(s.Value, 'g', 17) : QStringLiteral("NULL");
    oks += s.Ok ? QLatin1Char('t') : QLatin1Char('f');
    if (s.At < rolled) late = std::min(late, FloorTo(s.At, kMinuteMs));
  }
  QSqlQuery insert(db_);
  insert.prepare(QStringLiteral(
      "INSERT INTO vexa_history.raw (reg, t, v, ok) SELECT * FROM unnest(CAST(? AS integer[]), "
      "CAST(? AS bigint[]), CAST(? AS double precision[]), CAST(? AS boolean[])) "
      "ON CONFLICT (reg, t) DO NOTHING"));
  insert.addBindValue(regs + QLatin1Char('}'));
  insert.addBindValue(times + QLatin1Char('}'));
  insert.addBindValue(values + QLatin1Char('}'));
  insert.addBindValue(oks + QLatin1Char('}'));
  if (!insert.exec()) return Fail(QStringLiteral("чтения не записаны"), insert.lastError());
  lateFrom_ = std::min(lateFrom_, late);
  return true;
}

bool TPgHistoryStore::SetMark(const QString& key, int64_t value) {
  QSqlQuery query(db_);
  query.prepare(
      QStringLiteral("INSERT INTO vexa_history.marks (source, key, value) VALUES (?, ?, ?) "
                     "ON CONFLICT (source, key) DO UPDATE SET value = EXCLUDED.value"));
  query.addBindValue(source_);
  query.addBindValue(key);
  query.addBindValue(static_cast<qlonglong>(value));
  if (!query.exec()) return Fail(QStringLiteral("ошибка базы данных"), query.lastError());
  return true;
}

bool TPgHistoryStore::RollUp(int64_t now, const THistoryTiers& tiers, int64_t graceMs) {
  if (!IsOpen()) return Fail(QStringLiteral("не открыт"), url_);
  // The partitions ahead: this month's and the next, before a read needs them.
  if (!MakePartitions(now) || !MakePartitions(NextMonthStart(now))) return false;
  if (!boundsTold_ || tiers.RawDays != toldTiers_.RawDays || tiers.MinuteDays != toldTiers_.MinuteDays ||
      tiers.HourDays != toldTiers_.HourDays) {
    QSqlQuery bounds(db_);
    bounds.prepare(QStringLiteral(
        "INSERT INTO vexa_history.sources (source, raw_days, minute_days, hour_days) VALUES (?, ?, ?, ?) "
        "ON CONFLICT (source) DO UPDATE SET raw_days = EXCLUDED.raw_days, minute_days = "
        "EXCLUDED.minute_days, "
        "hour_days = EXCLUDED.hour_days"));
    bounds.addBindValue(source_);
    bounds.addBindValue(tiers.RawDays);
    bounds.addBindValue(tiers.MinuteDays);
    bounds.addBindValue(tiers.HourDays);
    if (!bounds.exec()) return Fail(QStringLiteral("ошибка базы данных"), bounds.lastError());
    boundsTold_ = true;
    toldTiers_ = tiers;
  }
  const QHash<QString, int64_t> marksBefore = marks_;
  if (!db_.transaction()) return Fail(QStringLiteral("итоги не записаны"), db_.lastError());
  const auto rollback = [this, &marksBefore] {
    const QString why = error_;
    const TJournalTrouble trouble = trouble_;
    db_.rollback();
    marks_ = marksBefore;
    error_ = why;
    trouble_ = trouble;
    return false;
  };
  const auto roll = [this](const char* sql, int64_t from, int64_t to) {
    QSqlQuery query(db_);
    query.prepare(QLatin1String(sql));
    query.addBindValue(source_);
    query.addBindValue(static_cast<qlonglong>(from));
    query.addBindValue(static_cast<qlonglong>(to));
    return query.exec() || Fail(QStringLiteral("итоги не записаны"), query.lastError());
  };
  const auto mark = [this](const char* key, int64_t value) {
    if (marks_.value(QLatin1String(key), 0) == value) return true;
    if (!SetMark(QLatin1String(key), value)) return false;
    marks_.insert(QLatin1String(key), value);
    return true;
  };
  const int64_t rawBound = FloorTo(now - tiers.RawDays * kDayMs, kMinuteMs);
  const int64_t m1Mark = marks_.value(QStringLiteral("m1"), 0);
  const int64_t m1From = std::max(std::min(m1Mark, lateFrom_), rawBound);
  const int64_t m1To = std::max(m1Mark, FloorTo(now - graceMs, kMinuteMs));
  if (m1To > m1From && !roll(kPgRollMinutes, m1From, m1To)) return rollback();
  if (!mark("m1", m1To)) return rollback();
  const int64_t h1Mark = marks_.value(QStringLiteral("h1"), 0);
  const int64_t h1From =
      std::max(FloorTo(std::min(h1Mark, m1From), kHourMs), FloorTo(now - tiers.MinuteDays * kDayMs, kHourMs));
  const int64_t h1To = std::max(h1Mark, FloorTo(m1To, kHourMs));
  if (h1To > h1From && !roll(kPgRollHours, h1From, h1To)) return rollback();
  if (!mark("h1", h1To)) return rollback();
  if (!db_.commit()) {
    Fail(QStringLiteral("итоги не записаны"), db_.lastError());
    return rollback();
  }
  lateFrom_ = INT64_MAX;
  // Apart from the roll-ups: a partition dropped waits for the other lines' statements on its
  // table, which must not wait for our roll-up in turn.
  if (FloorTo(now, kHourMs) == marks_.value(QStringLiteral("swept"), 0)) return true;
  return Sweep(now, tiers) && mark("swept", FloorTo(now, kHourMs));
}

// Once an hour: whole months past every source's bound are dropped; a source that keeps a tier
// shorter than another deletes its own rows past its bound, in hour-long pieces as time passes.
bool TPgHistoryStore::Sweep(int64_t now, const THistoryTiers& tiers) {
  QSqlQuery longest(db_);
  if (!longest.exec(QStringLiteral(
          "SELECT max(raw_days), max(minute_days), max(hour_days) FROM vexa_history.sources")) ||
      !longest.next())
    return Fail(QStringLiteral("старые значения не удалены"), longest.lastError());
  const struct {
    const char* table;
    int days;
    int longest;
  } bounds[] = {{"raw", tiers.RawDays, longest.value(0).toInt()},
                {"m1", tiers.MinuteDays, longest.value(1).toInt()},
                {"h1", tiers.HourDays, longest.value(2).toInt()}};
  for (const auto& b : bounds) {
    QSqlQuery drop(db_);
    drop.prepare(QStringLiteral("SELECT vexa_history.drop_partitions(?, ?)"));
    drop.addBindValue(QLatin1String(b.table));
    drop.addBindValue(static_cast<qlonglong>(now));
    if (!drop.exec()) return Fail(QStringLiteral("старые разделы не удалены"), drop.lastError());
    if (b.days >= b.longest) continue;
    QSqlQuery del(db_);
    del.prepare(
        QStringLiteral("DELETE FROM vexa_history.%1 WHERE reg IN (SELECT id FROM vexa_history.registers "
                       "WHERE source = ?) AND t < ?")
            .arg(QLatin1String(b.table)));
    del.addBindValue(source_);
    del.addBindValue(static_cast<qlonglong>(FloorTo(now - b.days * kDayMs, kHourMs)));
    if (!del.exec()) return Fail(QStringLiteral("старые значения не удалены"), del.lastError());
  }
  months_.clear();  // a dropped month is made again if a read comes for it
  return true;
}

std::vector<THistoryRow> TPgHistoryStore::Query(const THistoryQuery& q, const THistoryTiers& tiers,
                                                int64_t now, THistoryStep* used) {
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
  query.prepare(
      QStringLiteral("SELECT %1 FROM vexa_history.%2 WHERE reg = (SELECT id FROM vexa_history.registers "
                     "WHERE source = ? AND name = ?) AND t >= ? AND t < ? ORDER BY t")
          .arg(columns, QLatin1String(HistoryTierTable(tier))));
  query.addBindValue(source_);
  query.addBindValue(q.Register);
  // Past the tier's bound a row waits for its month's partition to go: not shown meanwhile.
  const int days = tier == THistoryStep::Raw      ? tiers.RawDays
                   : tier == THistoryStep::Minute ? tiers.MinuteDays
                                                  : tiers.HourDays;
  query.addBindValue(static_cast<qlonglong>(std::max(q.Since, FloorTo(now - days * kDayMs, kHourMs))));
  query.addBindValue(static_cast<qlonglong>(q.Until));
  if (!query.exec()) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    return rows;
  }
  while (query.next()) rows.push_back(HistoryRowOf(query, raw));
  if (query.lastError().isValid()) {
    Fail(QStringLiteral("ошибка запроса"), query.lastError());
    rows.clear();
  }
  return rows;
}

long long TPgHistoryStore::Count(THistoryStep tier) {
  QSqlQuery query(db_);
  if (!IsOpen()) return 0;
  query.prepare(QStringLiteral("SELECT count(*) FROM vexa_history.%1 WHERE reg IN (SELECT id FROM "
                               "vexa_history.registers WHERE source = ?)")
                    .arg(QLatin1String(HistoryTierTable(tier))));
  query.addBindValue(source_);
  if (!query.exec() || !query.next()) return 0;
  return query.value(0).toLongLong();
}

QStringList TPgHistoryStore::Partitions(THistoryStep tier) {
  QStringList names;
  QSqlQuery query(db_);
  if (!IsOpen()) return names;
  query.prepare(
      QStringLiteral("SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
                     "WHERE i.inhparent = to_regclass(?) ORDER BY c.relname"));
  query.addBindValue(QStringLiteral("vexa_history.") + QLatin1String(HistoryTierTable(tier)));
  if (query.exec())
    while (query.next()) names << query.value(0).toString();
  return names;
}

}  // namespace vexa
