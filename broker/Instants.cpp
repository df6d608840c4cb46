#include "broker/Instants.h"

#include <QDateTime>
#include <array>
#include <cmath>
#include <ctime>
#include <limits>

#include "core/Services.h"

namespace vexa {

namespace {

constexpr int64_t kUnixEpochDay = 25569;  // 1 Jan 1970 counted from 30 Dec 1899

// The zone's offset at an instant, in ms. The zone is the one the clock last found (its tzset).
int64_t OffsetAtMs(int64_t utcMs) {
  const auto seconds = static_cast<time_t>(utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000);
  tm parts{};
  return ::localtime_r(&seconds, &parts) != nullptr ? 1000LL * parts.tm_gmtoff : 0;
}

}  // namespace

int64_t InstantOfLocal(double local, int64_t hintUtcMs, int64_t notAfterUtcMs) {
  // The local wall time read as if it were UTC.
  const auto wallMs = static_cast<int64_t>(
      std::llround((local - static_cast<double>(kUnixEpochDay)) * static_cast<double>(kMsPerDay)));
  // A day on either side has the offsets around any one change.
  const std::array<int64_t, 2> offsets{OffsetAtMs(wallMs - kMsPerDay), OffsetAtMs(wallMs + kMsPerDay)};
  int64_t best = 0;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  bool bestPast = false;
  for (const int64_t offset : offsets) {
    const int64_t candidate = wallMs - offset;
    if (OffsetAtMs(candidate) != offset) continue;
    // What is told has happened: an instant still to come is the other one.
    const bool past = candidate <= notAfterUtcMs;
    const int64_t distance = std::llabs(candidate - hintUtcMs);
    if ((past && !bestPast) || (past == bestPast && distance < bestDistance)) {
      best = candidate;
      bestDistance = distance;
      bestPast = past;
    }
  }
  if (bestDistance == std::numeric_limits<int64_t>::max()) return wallMs - offsets[0];  // the gap
  return best;
}

QString IsoUtc(int64_t utcMs) {
  return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

TInstants::TInstants(std::function<int64_t()> utcNowMs) : utcNowMs_(std::move(utcNowMs)) {
  if (!utcNowMs_) utcNowMs_ = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

int64_t TInstants::Of(double local) const {
  // Where the clock stands now, moved back by the local time since: the instant roughly, to within
  // the shift of a change between then and now; the zone then tells it exactly.
  const double sinceDays = Now() - local;
  const int64_t now = utcNowMs_();
  const int64_t hint = now - static_cast<int64_t>(std::llround(sinceDays * static_cast<double>(kMsPerDay)));
  // A second's grace: the clock asks the zone's offset once a second.
  return InstantOfLocal(local, hint, now + 1000);
}

}  // namespace vexa
