#pragma once
// The historian: every read the poller stores of an enabled register (TNetwork::RegisterRead, on
// the main thread) is copied — name, value as a number, outcome, UTC instant — and handed to the
// writer thread (historian/HistorianWriter) under its short lock; nothing here waits on the
// database. What the writer has to say reaches the main thread on a one-second timer, as News
// when it changes.

#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "historian/HistorianWriter.h"
#include "historian/HistorySettings.h"

namespace vexa {

class TCustomRegister;
class TNetwork;

// The writer's options for a program folder's settings: Archives/history.sqlite, or the server of
// Url with the spill file Archives/history.postgresql-spill.
THistorianOptions HistorianOptionsFor(const THistorySettings& settings, const QString& programFolder);

// The UTC clock that follows the program's own (a virtual clock's), from the instant it stands
// for now.
std::function<int64_t()> UtcOfProgramClock();

class THistorian;
// The folder's historian as Config/HISTORY.ini says, attached to the network: null when it is off
// or the file is wrong (each problem told). programClock: the instants follow the program's clock.
// url: a PostgreSQL server instead of what the file says.
std::unique_ptr<THistorian> StartHistorian(TNetwork& network, const std::function<void(const QString&)>& tell,
                                           bool programClock = false, const QString& url = {});

class THistorian {
 public:
  THistorian(TNetwork& network, THistorianOptions options);
  // Leaves the network, writes what it can and keeps the rest in the spill file.
  ~THistorian();
  THistorian(const THistorian&) = delete;
  THistorian& operator=(const THistorian&) = delete;

  void Attach();
  void Detach();
  void Record(const TCustomRegister& reg);
  // The end of a run: leaves the network, waits at most ms for the writer and tells News what it
  // could not write (kept in the spill file for the next start).
  void Finish(int ms);
  THistorianWriter& Writer() { return *writer_; }
  // "" while it writes; otherwise what keeps it from writing and how many reads wait.
  QString StatusText() const;
  // Told (main thread) when StatusText changes, and of each damaged file kept aside.
  std::function<void(const QString&)> News;

 private:
  void Check();

  TNetwork& network_;
  std::function<int64_t()> utcNowMs_;
  std::unique_ptr<THistorianWriter> writer_;
  int readTicket_ = 0;
  QTimer check_;
  QString told_;
  QString toldAside_;
};

}  // namespace vexa
