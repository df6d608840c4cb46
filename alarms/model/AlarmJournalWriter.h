#pragma once
// The journal's writer: a thread of its own that owns the writing connection, so the main thread
// hands an event over under a short lock and never waits on SQLite. An event that cannot be written
// (another program's lock, a full disk, a damaged file being replaced) waits in a bounded queue and
// in an append-only, fsynced spill file beside the journal, and is written, in order, once the
// journal takes writes again, retried every RetryMs; a spill file left by an earlier run is written
// first. A damaged journal is kept aside (TAlarmJournal::SetAside) and a fresh one started.

#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "alarms/model/AlarmJournal.h"

namespace vexa {

struct TJournalWriterOptions {
  QString Path;
  int RetryMs = 3000;
  int BusyMs = 500;  // the wait for another program's lock in one attempt
  // Events waiting beyond this are dropped, oldest first, and counted: memory stays bounded
  // while the spill file cannot be written either.
  size_t MaxWaiting = 200000;
  int KeepDays = 0;  // the age bound, applied when the journal opens and once a day; 0: none
};

// What the writer has to say, read by the main thread.
struct TJournalWriterStatus {
  int Waiting = 0;     // events not yet in the journal
  long long Lost = 0;  // dropped past MaxWaiting
  TJournalTrouble Trouble = TJournalTrouble::None;
  QString Error;     // the last failure, empty while writing
  QString SetAside;  // the damaged journals kept aside this run, in order
  int Pruned = -1;   // removed by the age bound at the last opening; -1 before it ran
};

class TAlarmJournalWriter {
 public:
  explicit TAlarmJournalWriter(TJournalWriterOptions options);
  // Writes what it can, leaves the rest in the spill file.
  ~TAlarmJournalWriter();
  TAlarmJournalWriter(const TAlarmJournalWriter&) = delete;
  TAlarmJournalWriter& operator=(const TAlarmJournalWriter&) = delete;

  void Post(TAlarmEvent event);
  // Removes the events before `before` (a local date-time) after those waiting are written.
  void Prune(double before);
  // Waits at most ms until everything posted is written or the writer waits for its next retry:
  // true when nothing waits. For tests, vexa-cli and start-up, never the running program.
  bool Flush(int ms);
  TJournalWriterStatus Status() const;
  const QString& Path() const { return options_.Path; }

  static QString SpillPath(const QString& journalPath);
  // The events a spill file holds, in order; a line cut by a crash is left out.
  static std::vector<TAlarmEvent> ReadSpill(const QString& path);

 private:
  struct TPending {
    TAlarmEvent Event;
    bool Spilled = false;
  };
  void Run();
  // One attempt at the journal: open it if need be, write what waits. True when nothing waits.
  bool WriteWaiting(bool first);
  bool OpenJournal();
  void SpillWaiting();
  void SetTrouble(TJournalTrouble trouble, const QString& error);

  TJournalWriterOptions options_;
  TAlarmJournal journal_;         // the worker thread's only
  bool checked_ = false;          // the whole file was checked once
  std::deque<TPending> waiting_;  // the worker thread's only
  double pruneBefore_ = 0;        // the worker thread's only

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::vector<TAlarmEvent> incoming_;
  double pruneAsked_ = 0;
  QString keyPrefix_;  // this writer's, so that no two runs make the same key
  qint64 nextKey_ = 0;
  bool stop_ = false;
  bool busy_ = false;  // an attempt is under way or posted events are not yet taken
  TJournalWriterStatus status_;
  std::thread thread_;
};

}  // namespace vexa
