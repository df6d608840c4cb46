#pragma once
// The alarm journal: every alarm event appended to an SQLite database (Qt SQL, QSQLITE) in
// <folder>/Archives/alarms.sqlite, in WAL mode so that an append is one small write and a process
// killed at any moment keeps every event committed before. Queries by time range, name and state;
// the last event of each alarm restores the active ones at start-up; old events are removed by age.
// The writes asked from outside are kept beside the alarms' events. Each journal has its own
// connection, so two networks in one process keep two. A journal made before the writes were kept
// gains their columns when opened for writing and reads as it is when opened read-only.

#include <QSqlDatabase>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "ui/model/AlarmModel.h"

class QSqlQuery;

namespace vexa {

QString AlarmJournalPath(const QString& folder);
// Whether a file of the archive folder is the journal's (the database, its log, its index): never a
// report archive.
bool IsAlarmJournalFile(const QString& fileName);

struct TJournalQuery {
  std::optional<double> From;  // date-times, inclusive
  std::optional<double> To;
  QString Name;  // empty: every register
  std::optional<TAlarmState> State;
  int Limit = 0;  // 0: all; otherwise the newest Limit, still oldest first
};

class TAlarmJournal {
 public:
  TAlarmJournal();
  ~TAlarmJournal();
  TAlarmJournal(const TAlarmJournal&) = delete;
  TAlarmJournal& operator=(const TAlarmJournal&) = delete;

  // Opens (creating the file and its folder when writable) the journal at path. A read-only one
  // never creates anything: false when there is no journal yet. False with ErrorText on failure.
  bool Open(const QString& path, bool readOnly = false);
  void Close();
  bool IsOpen() const;
  const QString& Path() const { return path_; }
  // The last failure, in Russian, naming the file.
  const QString& ErrorText() const { return error_; }

  // One event, committed before it returns.
  bool Append(const TAlarmEvent& event);
  // Several in one transaction: all or none.
  bool Append(const std::vector<TAlarmEvent>& events);
  // Oldest first.
  std::vector<TAlarmEvent> Query(const TJournalQuery& query = {});
  // The last event of each alarm (name and condition) whose state is not normal or which is
  // shelved until after `now`: what start-up restores.
  std::vector<TAlarmEvent> Outstanding(double now);
  // Removes the events before `before`, keeping each alarm's last event (a write is no alarm's); the
  // count removed, -1 on failure.
  int RemoveBefore(double before);
  long long Count();

 private:
  bool Fail(const QString& what, const QString& why);
  bool Exec(const QString& sql);
  bool HasColumn(const QString& column);
  bool AddMissingColumns();
  std::vector<TAlarmEvent> Fetch(QSqlQuery& query);

  QString connection_;
  QString path_;
  QString error_;
  QString columns_;  // what a query selects, in Fetch's order
  QSqlDatabase db_;
  std::unique_ptr<QSqlQuery> insert_;
};

}  // namespace vexa
