#pragma once
// The alarm journal: every alarm event appended to an SQLite database (Qt SQL, QSQLITE) in
// <folder>/Archives/alarms.sqlite, in WAL mode so that an append is one small write and a process
// killed at any moment keeps every event committed before. Instants are Unix epoch milliseconds in
// UTC (`at`, `until`); a journal of the first layout (local milliseconds from 30.12.1899, user_version
// 0) is converted in place, in one transaction, when opened for writing, and read as it is when
// opened read-only. Queries by time range, name and state; the last event of each alarm restores
// the active ones at start-up; old events are removed by age. The writes asked from outside are kept
// beside the alarms' events. Each journal has its own connection, used only on the thread that opened
// it: the program writes through TAlarmJournalWriter's thread and reads on the main one.

#include <QSqlDatabase>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "alarms/model/AlarmModel.h"
#include "storage/DatabaseFiles.h"

class QSqlError;
class QSqlQuery;

namespace vexa {

QString AlarmJournalPath(const QString& folder);
// Whether a file of the archive folder is the journal's (the database, its log, its index, the
// events waiting to be written, a damaged journal kept aside): never a report archive.
bool IsAlarmJournalFile(const QString& fileName);

struct TJournalQuery {
  std::optional<double> From;  // local date-times, inclusive
  std::optional<double> To;
  QString Name;  // empty: every register
  std::optional<TAlarmState> State;
  int Limit = 0;  // 0: all; otherwise the newest Limit, still oldest first
};

class TAlarmJournal {
 public:
  static constexpr int kDefaultBusyMs = 5000;

  TAlarmJournal();
  ~TAlarmJournal();
  TAlarmJournal(const TAlarmJournal&) = delete;
  TAlarmJournal& operator=(const TAlarmJournal&) = delete;

  // Opens (creating the file and its folder when writable) the journal at path, waiting at most
  // busyMs for another program's lock. A read-only one never creates anything: false when there is
  // no journal yet. A writer checks the file (checkWhole: every page too) and converts the first
  // layout. False with ErrorText and Trouble on failure.
  bool Open(const QString& path, bool readOnly = false, int busyMs = kDefaultBusyMs, bool checkWhole = false);
  void Close();
  bool IsOpen() const;
  const QString& Path() const { return path_; }
  // The last failure, in Russian, naming the file.
  const QString& ErrorText() const { return error_; }
  TJournalTrouble Trouble() const { return trouble_; }

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

  // Moves a damaged journal (with its log and index) to `<path>.damaged-YYYYMMDD-HHMMSS`, never over
  // an earlier one: the new name, empty with *why on failure.
  static QString SetAside(const QString& path, QString* why);

 private:
  bool Fail(const QString& what, const QString& why, TJournalTrouble trouble = TJournalTrouble::Failed);
  bool Fail(const QString& what, const QSqlError& error);
  bool Exec(const QString& sql);
  bool HasColumn(const QString& column);
  bool CheckLayout(bool checkWhole);
  bool AddMissingColumns();
  bool ConvertFirstLayout();
  bool ReadLayout();
  std::vector<TAlarmEvent> Fetch(QSqlQuery& query);
  qint64 Stored(double dateTime) const;
  double Local(qint64 stored) const;

  QString connection_;
  QString path_;
  QString error_;
  TJournalTrouble trouble_ = TJournalTrouble::None;
  bool hasEvents_ = false;  // a file made while another program held it may have no table yet
  bool utc_ = true;         // instants in UTC epoch ms; false for a first-layout journal read as it is
  QString columns_;         // what a query selects, in Fetch's order
  QSqlDatabase db_;
  std::unique_ptr<QSqlQuery> insert_;
};

// The UTC instant of a local date-time of the program (an event made now takes the offset in force
// now, which tells the two passes of a repeated hour apart), and back.
qint64 UtcMsOfLocal(double dateTime);
double LocalOfUtcMs(qint64 ms);

}  // namespace vexa
