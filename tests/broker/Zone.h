#pragma once
// The local zone for a test (TZ and tzset, put back after), and the program's local date-time of an
// instant as a clock in that zone shows it.

#include <QByteArray>
#include <QDate>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace vexa::test {

class TZone {
 public:
  explicit TZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    qputenv("TZ", zone);
    tzset();
  }
  ~TZone() {
    if (had_)
      qputenv("TZ", old_);
    else
      qunsetenv("TZ");
    tzset();
  }
  TZone(const TZone&) = delete;
  TZone& operator=(const TZone&) = delete;

 private:
  QByteArray old_;
  bool had_ = false;
};

inline double LocalOf(int64_t utcMs) {
  const auto seconds = static_cast<time_t>(utcMs / 1000);
  tm parts{};
  localtime_r(&seconds, &parts);
  const QDate day(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
  const double days = static_cast<double>(QDate(1899, 12, 30).daysTo(day));
  const double secs = parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + parts.tm_sec +
                      static_cast<double>(utcMs % 1000) / 1000.0;
  return days + secs / 86400.0;
}

}  // namespace vexa::test
