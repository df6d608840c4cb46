#pragma once
// The broker's times are instants: UTC with 'Z', whatever the zone did around them. The program
// keeps local date-times (days since 30 Dec 1899), which in the hour an autumn change repeats name
// two instants; the one meant is the one already past and nearest to where that time was seen from
// (a read just made, an event just noted), so the conversion takes a hint of the instant as well.
// A time of that hour told more than its distance from the change later (a report window's start,
// say) may still be taken for the later of the two.

#include <QString>
#include <cstdint>
#include <functional>

namespace vexa {

// The instant, in ms since 1970 UTC, a local date-time names; of two (the repeated hour) the one
// not after `notAfterUtcMs` nearest `hintUtcMs`; in a spring gap, as the offset before the change
// would have it.
int64_t InstantOfLocal(double local, int64_t hintUtcMs, int64_t notAfterUtcMs);
// ISO 8601 in UTC with milliseconds: 2026-10-25T00:30:00.000Z.
QString IsoUtc(int64_t utcMs);

// Local date-times of the program's clock to instants: `utcNowMs` is the instant the clock's Now()
// stands for (the system clock's by default; a test sets both).
class TInstants {
 public:
  explicit TInstants(std::function<int64_t()> utcNowMs = {});
  // A local date-time seen moments ago (or a while ago: the hint moves back with it).
  int64_t Of(double local) const;
  QString Iso(double local) const { return IsoUtc(Of(local)); }

 private:
  std::function<int64_t()> utcNowMs_;
};

}  // namespace vexa
