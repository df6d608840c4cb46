#pragma once
// A month of reads for either backend's store: two registers, three reads a minute, rolled up hour
// by hour on a test clock, and what its tiers must answer at its end.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "historian/HistoryStore.h"

namespace vexa::test {

// 1 Dec 2026 00:00 UTC, a whole hour.
inline constexpr int64_t kStart = 1796083200000;
inline const THistoryTiers kTiers{7, 14, 31};

// Register A reads its minute's number every 20 s (three reads a minute); each hour's first read
// of register B fails.
inline std::vector<THistorySample> Hour(int64_t hourStart) {
  std::vector<THistorySample> samples;
  for (int64_t t = hourStart; t < hourStart + kHourMs; t += 20000) {
    const double minute = static_cast<double>((t - kStart) / kMinuteMs);
    samples.push_back({QStringLiteral("A"), t, minute, true});
    const bool fails = t == hourStart;
    samples.push_back({QStringLiteral("B"), t, fails ? std::nan("") : 1.0, !fails});
  }
  return samples;
}

// Fills the month from kStart to end, an hour at a time, each followed by the roll-ups.
inline void WriteTheMonth(THistoryDatabase& store, int64_t end) {
  for (int64_t hour = kStart; hour < end; hour += kHourMs) {
    ASSERT_TRUE(store.Write(Hour(hour))) << store.ErrorText().toStdString();
    ASSERT_TRUE(store.RollUp(hour + kHourMs + 10000, kTiers)) << store.ErrorText().toStdString();
  }
}

// The buckets and reads the month's end must show, on the test clock at end + 10 s.
inline void ExpectTheMonthsBuckets(THistoryDatabase& store, int64_t end) {
  const int64_t now = end + 10000;
  const struct {
    const char* what;
    QString name;
    THistoryStep step;
    int64_t since, until;
    size_t rows;
    THistoryRow first;
  } cases[] = {
      {"a minute of A", "A", THistoryStep::Minute, end - kHourMs, end, 60, {end - kHourMs, 0, 0, 0, 3, 0}},
      {"an hour of A", "A", THistoryStep::Hour, kStart, kStart + kHourMs, 1, {kStart, 0, 29.5, 59, 180, 0}},
      {"the month of B in hours", "B", THistoryStep::Hour, kStart, end, 31 * 24, {kStart, 1, 1, 1, 179, 1}},
      {"B's first minute of an hour",
       "B",
       THistoryStep::Minute,
       end - kHourMs,
       end - kHourMs + kMinuteMs,
       1,
       {end - kHourMs, 1, 1, 1, 2, 1}},
      {"raw reads of A", "A", THistoryStep::Raw, end - kMinuteMs, end, 3, {end - kMinuteMs, 0, 0, 0, 1, 0}},
      {"raw reads past their bound", "A", THistoryStep::Raw, kStart, kStart + kDayMs, 0, {}},
      {"a register never read", "C", THistoryStep::Hour, kStart, end, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<THistoryRow> rows = store.Query({c.name, c.since, c.until, c.step}, kTiers, now);
    ASSERT_EQ(rows.size(), c.rows);
    if (rows.empty()) continue;
    const THistoryRow& r = rows.front();
    EXPECT_EQ(r.Time, c.first.Time);
    EXPECT_EQ(r.Good, c.first.Good);
    EXPECT_EQ(r.Failed, c.first.Failed);
    // A's minute number, as of the query's first bucket.
    const double base =
        c.name == QLatin1String("A") ? static_cast<double>((c.since - kStart) / kMinuteMs) : 0;
    if (c.step == THistoryStep::Hour && c.name == QLatin1String("A")) {
      EXPECT_DOUBLE_EQ(r.Min, base);
      EXPECT_DOUBLE_EQ(r.Mean, base + 29.5);
      EXPECT_DOUBLE_EQ(r.Max, base + 59);
    } else {
      EXPECT_DOUBLE_EQ(r.Mean, base + c.first.Mean);
    }
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].Time, rows[i].Time);
  }
}

}  // namespace vexa::test
