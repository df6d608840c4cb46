#pragma once
// The historian's writer: a thread of its own that owns the writing connection. The main thread
// hands a read over under a short lock and never waits on the database; the thread writes what came
// in once every BatchMs (one transaction), then makes the buckets whose time has passed. Reads that
// cannot be written (another program's lock, a full disk, a damaged file being replaced) wait in a
// bounded queue and in an append-only, fsynced spill file beside the database, and are written, in
// order, once it takes writes again, retried every RetryMs; a spill file left by an earlier run is
// written first. A damaged database is kept aside and a fresh one started. The same for a PostgreSQL
// server (options' Url): an unreachable one is retried, its reads waiting as for a lock.

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "historian/HistoryStore.h"
#include "historian/PgHistoryStore.h"

namespace vexa {

struct THistorianOptions {
  QString Path;  // the SQLite file; with a Url, the name the spill file is made from
  QString Url;   // postgresql://user@host[:port]/db: the reads go to that server, as Source
  QString Source;
  THistoryTiers Tiers;
  int BatchMs = 1000;
  int RetryMs = 3000;
  int BusyMs = 500;  // the wait for another program's lock in one attempt
  // Reads waiting beyond this are dropped, oldest first, and counted: memory stays bounded while the
  // spill file cannot be written either. Ten minutes of 5000 registers read every 3 s.
  size_t MaxWaiting = 1000000;
  // The instant the buckets are made up to (UTC epoch ms); the system clock when empty. Tests and
  // the virtual clock give their own. Called on the writer's thread.
  std::function<int64_t()> UtcNowMs;
};

struct THistorianStatus {
  long long Waiting = 0;  // reads not yet in the database
  long long Written = 0;  // this run
  long long Lost = 0;     // dropped past MaxWaiting
  TJournalTrouble Trouble = TJournalTrouble::None;
  QString Error;          // the last failure, empty while writing
  QString SetAside;       // the damaged databases kept aside this run, in order
  double CpuSeconds = 0;  // the writer thread's own
};

class THistorianWriter {
 public:
  explicit THistorianWriter(THistorianOptions options);
  // Writes what it can, leaves the rest in the spill file.
  ~THistorianWriter();
  THistorianWriter(const THistorianWriter&) = delete;
  THistorianWriter& operator=(const THistorianWriter&) = delete;

  void Post(THistorySample sample);
  // Asks for the batch at once and waits at most ms until everything posted is written and rolled
  // up, or the writer waits for its next retry: true when nothing waits. Tests, vexa-cli, the end.
  bool Flush(int ms);
  THistorianStatus Status() const;
  const THistorianOptions& Options() const { return options_; }

  static QString SpillPath(const QString& path);
  static std::vector<THistorySample> ReadSpill(const QString& path);

 private:
  struct TPending {
    THistorySample Sample;
    bool Spilled = false;
  };
  void Run();
  bool WriteWaiting();
  bool OpenStore();
  void SpillWaiting();
  void SetTrouble(TJournalTrouble trouble, const QString& error);
  int64_t UtcNow() const;

  THistorianOptions options_;
  // The worker thread's only: the backend the options name.
  THistoryStore sqlite_;
  TPgHistoryStore postgres_;
  THistoryDatabase* store_ = nullptr;
  std::deque<TPending> waiting_;  // the worker thread's only

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::vector<THistorySample> incoming_;
  bool stop_ = false;
  bool flushAsked_ = false;
  bool busy_ = false;  // an attempt is under way or a flush is asked
  THistorianStatus status_;
  std::thread thread_;
};

}  // namespace vexa
