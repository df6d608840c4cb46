// The historian's cost. Ingest: 5,000 registers read every 3 s (1,667 reads a second) posted in
// real time to the writer thread, whose own CPU time over the wall time is the figure (goal: under
// 2 % of one core). Disk: 1,000 registers read every 3 s for two hours, the database's pages in use
// per raw read (goal: at most 40 bytes). A year of one register read every 3 s, filled on a test
// clock hour by hour with the roll-ups and bounds as time passes (a read a minute before the raw
// tier's last 31 days, which end up the same buckets): a year at 1 h steps (goal: under
// 50 ms), 31 days at 1 min steps (goal: under 200 ms), and the year's size in all tiers.
// The same ingest and year on a PostgreSQL server the benchmark starts (tests/support/PgServer),
// written by a line's role: the writer thread's CPU (goal: under 2 %, the server's own beside it),
// a year at 1 h steps (goal: under 100 ms) and 31 days at 1 min (goal: under 200 ms).
// usage: historian_bench [SECONDS]   (default 65, of ingest: one minute's roll-up at least)

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <cstdio>

#include "historian/HistorianWriter.h"
#include "historian/HistoryStore.h"
#include "historian/PgHistoryStore.h"
#include "tests/support/PgServer.h"

using namespace vexa;

namespace {

const char* Verdict(bool met) {
  return met ? "met" : "not met";
}

QString Name(int i) {
  return QString::asprintf("D%03dC%03dR%03d", i / 1000, (i / 10) % 100, i % 10);
}

// A regulator's value: a tenth of a degree wandering slowly.
double Value(int reg, int64_t t) {
  return std::round(200.0 + 50.0 * std::sin(static_cast<double>(t) / 600000.0 + reg) * 10.0) / 10.0;
}

// serverCpu: the database server's CPU seconds so far, when it is a process of its own.
void Ingest(const char* what, const THistorianOptions& options, double seconds,
            const std::function<double()>& serverCpu = {}) {
  constexpr int kRegisters = 5000;
  constexpr int kPeriodMs = 3000;
  const double serverBefore = serverCpu ? serverCpu() : 0;
  THistorianWriter writer(options);
  QElapsedTimer wall;
  wall.start();
  long long posted = 0;
  int next = 0;
  const double cpuBefore = writer.Status().CpuSeconds;
  while (wall.elapsed() < seconds * 1000) {
    // Every 10 ms the reads that fell due, each register once every 3 s.
    const long long due = wall.elapsed() * kRegisters / kPeriodMs;
    for (; posted < due; ++posted, next = (next + 1) % kRegisters) {
      const int64_t now = QDateTime::currentMSecsSinceEpoch();
      writer.Post({Name(next), now, Value(next, now), next % 97 != 0});
    }
    QThread::msleep(10);
  }
  writer.Flush(30000);
  const double wallSeconds = static_cast<double>(wall.elapsed()) / 1000.0;
  const THistorianStatus st = writer.Status();
  const double share = 100.0 * (st.CpuSeconds - cpuBefore) / wallSeconds;
  std::printf("ingest (%s): %lld reads of %d registers in %.1f s (%.0f a second), %lld written, %lld lost\n",
              what, posted, kRegisters, wallSeconds, static_cast<double>(posted) / wallSeconds, st.Written,
              st.Lost);
  if (!st.Error.isEmpty()) std::printf("  %s\n", qPrintable(st.Error));
  std::printf("  writer thread: %.2f %% of one core (goal: under 2 %%): %s\n", share, Verdict(share < 2.0));
  if (serverCpu)
    std::printf("  the server's processes beside it: %.2f %% of one core\n",
                100.0 * (serverCpu() - serverBefore) / wallSeconds);
}

void Disk(const QString& folder) {
  constexpr int kRegisters = 1000;
  constexpr int64_t kSpan = 2 * kHourMs;
  const int64_t t0 = QDateTime::currentMSecsSinceEpoch() - kSpan;
  THistoryStore store;
  if (!store.Open(folder + "/disk.sqlite")) {
    std::printf("disk: %s\n", qPrintable(store.ErrorText()));
    return;
  }
  QElapsedTimer timer;
  timer.start();
  std::vector<THistorySample> batch;
  for (int64_t second = 0; second < kSpan / 1000; ++second) {
    // One batch a second, as the writer makes them: the registers due in that second.
    for (int r = static_cast<int>(second % 3); r < kRegisters; r += 3) {
      const int64_t t = t0 + second * 1000 + r % 1000;
      batch.push_back({Name(r), t, Value(r, t), true});
    }
    if (!store.Write(batch)) std::printf("disk: %s\n", qPrintable(store.ErrorText()));
    batch.clear();
    if (second % 60 == 0) (void)store.RollUp(t0 + second * 1000, {});
  }
  (void)store.RollUp(t0 + kSpan, {});
  const long long raw = store.Count(THistoryStep::Raw);
  const long long minutes = store.Count(THistoryStep::Minute);
  // The minute and hour buckets are counted apart: raw reads alone.
  const double perRead = static_cast<double>(store.UsedBytes()) / static_cast<double>(raw);
  std::printf("disk: %lld raw reads of %d registers (%lld minute buckets) written in %.1f s\n", raw,
              kRegisters, minutes, static_cast<double>(timer.elapsed()) / 1000.0);
  std::printf("  %.1f bytes of database per raw read, all tiers and names included (goal: at most 40): %s\n",
              perRead, Verdict(perRead <= 40.0));
}

// open(readOnly): a store of the backend, null (its trouble printed) when it does not open.
// size: the year's bytes in all tiers, negative when not known.
void Year(const char* what, const std::function<std::unique_ptr<THistoryDatabase>(bool)>& open,
          const std::function<double(THistoryDatabase&)>& size, double hourGoalMs) {
  const QString name = QStringLiteral("D001C002R014");
  const int64_t end = (QDateTime::currentMSecsSinceEpoch() / kHourMs) * kHourMs;
  const int64_t start = end - 365 * kDayMs;
  QElapsedTimer timer;
  timer.start();
  {
    const std::unique_ptr<THistoryDatabase> opened = open(false);
    if (!opened) return;
    THistoryDatabase& store = *opened;
    std::vector<THistorySample> batch;
    for (int64_t hour = start; hour < end; hour += kHourMs) {
      // Every 3 s for the raw tier's 31 days; before them a read a minute gives the same buckets
      // (their counts aside), and the raw reads would be gone by the end anyway.
      const int64_t step = hour >= end - 31 * kDayMs ? 3000 : kMinuteMs;
      for (int64_t t = hour; t < hour + kHourMs; t += step) batch.push_back({name, t, Value(14, t), true});
      if (!store.Write(batch)) std::printf("year: %s\n", qPrintable(store.ErrorText()));
      batch.clear();
      // The test clock: an hour on, the roll-ups and the bounds as the writer makes them.
      if (!store.RollUp(hour + kHourMs + 10000, {})) std::printf("year: %s\n", qPrintable(store.ErrorText()));
    }
    std::printf(
        "year (%s): one register over 365 days (every 3 s for the last 31) filled in %.1f s: %lld raw reads "
        "kept, %lld minute and %lld hour buckets\n",
        what, static_cast<double>(timer.elapsed()) / 1000.0, store.Count(THistoryStep::Raw),
        store.Count(THistoryStep::Minute), store.Count(THistoryStep::Hour));
    if (const double bytes = size(store); bytes >= 0)
      std::printf("  its size in all tiers: %.1f MiB\n", bytes / 1048576.0);
  }
  const std::unique_ptr<THistoryDatabase> opened = open(true);
  if (!opened) return;
  THistoryDatabase& reader = *opened;
  const auto timed = [&](const THistoryQuery& q, double goalMs, const char* what) {
    double best = 1e9;
    size_t rows = 0;
    for (int i = 0; i < 5; ++i) {
      QElapsedTimer t;
      t.start();
      rows = reader.Query(q, {}, end).size();
      best = std::min(best, static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::printf("  %s: %zu rows in %.1f ms (goal: under %.0f ms): %s\n", what, rows, best, goalMs,
                Verdict(best < goalMs));
  };
  timed({name, start, end, THistoryStep::Hour}, hourGoalMs, "a year at 1 h steps");
  timed({name, end - 31 * kDayMs, end, THistoryStep::Minute}, 200, "31 days at 1 min steps");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const double seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 65.0;
  QTemporaryDir dir;
  THistorianOptions sqlite;
  sqlite.Path = dir.path() + "/ingest.sqlite";
  Ingest("SQLite", sqlite, seconds > 0 ? seconds : 65.0);
  Disk(dir.path());
  const QString yearPath = dir.path() + "/year.sqlite";
  Year(
      "SQLite",
      [&yearPath](bool readOnly) -> std::unique_ptr<THistoryDatabase> {
        auto store = std::make_unique<THistoryStore>();
        if (store->Open(yearPath, readOnly)) return store;
        std::printf("year: %s\n", qPrintable(store->ErrorText()));
        return nullptr;
      },
      [](THistoryDatabase& store) {
        return static_cast<double>(static_cast<THistoryStore&>(store).UsedBytes());
      },
      50);

  vexa::test::TPgServer server;
  QString why;
  QString db;
  if (!server.Start(&why) || (db = server.NewPlant(&why)).isEmpty()) {
    std::printf("PostgreSQL: not measured: %s\n", qPrintable(why));
    return 0;
  }
  // The owner makes the schema; a line's role writes, as in a plant.
  {
    TPgHistoryStore owner;
    if (!owner.Open(server.Url("vexa_owner", db), "owner")) {
      std::printf("PostgreSQL: %s\n", qPrintable(owner.ErrorText()));
      return 0;
    }
  }
  THistorianOptions pg;
  pg.Path = dir.path() + "/ingest.postgresql";
  pg.Url = server.Url("line_a", db);
  pg.Source = "ingest";
  Ingest("PostgreSQL", pg, seconds > 0 ? seconds : 65.0, [&server] { return server.CpuSeconds(); });
  Year(
      "PostgreSQL",
      [&](bool readOnly) -> std::unique_ptr<THistoryDatabase> {
        auto store = std::make_unique<TPgHistoryStore>();
        if (store->Open(server.Url("line_a", db), "year", readOnly)) return store;
        std::printf("year: %s\n", qPrintable(store->ErrorText()));
        return nullptr;
      },
      [](THistoryDatabase&) { return -1.0; }, 100);
  return 0;
}
