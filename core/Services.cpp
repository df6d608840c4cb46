#include "core/Services.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>
#include <utility>

namespace vexa {

namespace {
const QDate kEpoch(1899, 12, 30);
}  // namespace

double TClock::Now() const {
  const qint64 utcMs = QDateTime::currentMSecsSinceEpoch();
  qint64 offsetMs = 0;
  {
    const std::lock_guard lock(offsetMutex_);
    if (!offsetTakenAtMs_ || utcMs < *offsetTakenAtMs_ || utcMs - *offsetTakenAtMs_ >= 1000) {
      // tzset first: localtime_r alone would keep the zone it found the first time.
      ::tzset();
      const time_t seconds = static_cast<time_t>(utcMs / 1000);
      tm parts{};
      offsetMs_ = ::localtime_r(&seconds, &parts) != nullptr ? 1000LL * parts.tm_gmtoff : 0;
      offsetTakenAtMs_ = utcMs;
    }
    offsetMs = offsetMs_;
  }
  constexpr qint64 kUnixEpochDay = 25569;  // 1 Jan 1970 counted from 30 Dec 1899
  const qint64 localMs = utcMs + offsetMs;
  const qint64 day = localMs >= 0 ? localMs / kMsPerDay : (localMs - kMsPerDay + 1) / kMsPerDay;
  return static_cast<double>(day + kUnixEpochDay) +
         static_cast<double>(localMs - day * kMsPerDay) / static_cast<double>(kMsPerDay);
}

int64_t TClock::TickMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TClock::Sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int TRandomGenerator::Next(int n) {
  if (n <= 0) return 0;
  return std::uniform_int_distribution<int>(0, n - 1)(engine_);
}

double TRandomGenerator::Fraction() {
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine_);
}

TMsgButton TMessageService::Show(const QString& text, TMsgIcon, unsigned, TMsgButton defaultButton) {
  std::fprintf(stderr, "Vexa: %s\n",
               qPrintable(QString(text).replace(QLatin1String("\r\n"), QLatin1String(" "))));
  return defaultButton;
}

TFormatSettings TFormatSettings::FromSystem() {
  const QLocale locale = QLocale::system();
  if (locale.language() == QLocale::C) return Russian();
  TFormatSettings s;
  const QString dec = locale.decimalPoint();
  s.DecimalSeparator = dec.isEmpty() ? QLatin1Char(',') : dec.at(0);
  s.ShortDateFormat = locale.dateFormat(QLocale::ShortFormat);
  s.LongTimeFormat = locale.timeFormat(QLocale::LongFormat).remove(QLatin1String(" t")).trimmed();
  return s;
}

TServices& Services() {
  static TServices services;
  return services;
}

double DateTimeFromQt(const QDateTime& dt) {
  const QDateTime local = dt.toLocalTime();
  const double days = static_cast<double>(kEpoch.daysTo(local.date()));
  const double ms = static_cast<double>(local.time().msecsSinceStartOfDay());
  // Before the epoch the fraction still counts forward from midnight (the toolkit's convention).
  const auto msPerDay = static_cast<double>(kMsPerDay);
  return days >= 0 ? days + ms / msPerDay : days - ms / msPerDay;
}

namespace {

// The calendar day and the time of day of a date-time value; no time zone is involved, so this is
// cheap enough for every history entry (a QDateTime in local time asks the zone rules each time).
std::pair<QDate, QTime> SplitDateTime(double value) {
  const double days = std::trunc(value);
  const double frac = std::fabs(value - days);
  const int ms = static_cast<int>(std::llround(frac * static_cast<double>(kMsPerDay)));
  const QDate date = kEpoch.addDays(static_cast<qint64>(days));
  if (ms >= kMsPerDay) return {date.addDays(1), QTime(0, 0)};
  return {date, QTime::fromMSecsSinceStartOfDay(ms)};
}

}  // namespace

QDateTime DateTimeToQt(double value) {
  const auto [date, time] = SplitDateTime(value);
  return QDateTime(date, time);
}

int ElapsedSeconds(double since) {
  const double seconds = std::round((Now() - since) * static_cast<double>(kMsPerDay)) / 1000.0;
  if (!std::isfinite(seconds) || seconds > INT32_MAX || seconds < INT32_MIN) return INT32_MAX;
  return static_cast<int>(std::trunc(seconds));
}

int64_t TickAtDateTime(double dateTime) {
  // Beyond any interval that is waited for (some 300 years), and far inside int64.
  constexpr double kLongAgoMs = 1e13;
  const double ms = (Now() - dateTime) * static_cast<double>(kMsPerDay);
  const double elapsed = std::isnan(ms) ? kLongAgoMs : std::clamp(std::round(ms), 0.0, kLongAgoMs);
  return TickMs() - static_cast<int64_t>(elapsed);
}

QString DateTimeToStr(double value) {
  const auto [day, time] = SplitDateTime(value);
  QString date = day.toString(FormatSettings().ShortDateFormat);
  if (time.msecsSinceStartOfDay() == 0 && value == std::trunc(value)) return date;
  return date + QLatin1Char(' ') + time.toString(FormatSettings().LongTimeFormat);
}

namespace {

// Slashes are read month first where the regional format or a 12-hour clock says so, else day
// first; a reading that gives no date is tried the other way round.
std::optional<QDate> ParseDate(const QString& text, bool monthFirst) {
  static const QRegularExpression pattern(QStringLiteral("^(\\d{1,4})([./-])(\\d{1,2})\\2(\\d{1,4})$"));
  const QRegularExpressionMatch m = pattern.match(text);
  if (!m.hasMatch()) return std::nullopt;
  const QString first = m.captured(1);
  const bool yearFirst = first.size() == 4;
  if (m.captured(yearFirst ? 1 : 4).size() == 3) return std::nullopt;
  const int a = first.toInt();
  const int b = m.captured(3).toInt();
  const int c = m.captured(4).toInt();
  int day = a, month = b, year = c;
  if (yearFirst) {
    year = a;
    day = c;
  } else if (m.captured(2) == QLatin1String("/") && monthFirst) {
    std::swap(day, month);
  }
  if (year < 100) year += 2000;
  QDate date(year, month, day);
  if (!date.isValid() && !yearFirst) date = QDate(year, day, month);
  if (!date.isValid()) return std::nullopt;
  return date;
}

std::optional<QTime> ParseTime(const QString& text, const QString& meridiem) {
  static const QRegularExpression pattern(
      QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2})(?:[.,](\\d{1,3}))?)?$"));
  const QRegularExpressionMatch m = pattern.match(text);
  if (!m.hasMatch()) return std::nullopt;
  int hour = m.captured(1).toInt();
  if (!meridiem.isEmpty()) {
    if (hour < 1 || hour > 12) return std::nullopt;
    const bool pm = meridiem.compare(QLatin1String("PM"), Qt::CaseInsensitive) == 0;
    hour = hour % 12 + (pm ? 12 : 0);
  }
  const QString ms = m.captured(4);
  const QTime time(hour, m.captured(2).toInt(), m.captured(3).toInt(),
                   ms.isEmpty() ? 0 : ms.leftJustified(3, QLatin1Char('0')).toInt());
  if (!time.isValid()) return std::nullopt;
  return time;
}

}  // namespace

std::optional<double> StrToDateTime(const QString& text) {
  QStringList parts = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  QString meridiem;
  if (parts.size() == 3 && (parts.last().compare(QLatin1String("AM"), Qt::CaseInsensitive) == 0 ||
                            parts.last().compare(QLatin1String("PM"), Qt::CaseInsensitive) == 0))
    meridiem = parts.takeLast();
  if (parts.isEmpty() || parts.size() > 2) return std::nullopt;
  const QString& format = FormatSettings().ShortDateFormat;
  const bool monthFirst =
      !meridiem.isEmpty() || format.indexOf(QLatin1Char('M')) < format.indexOf(QLatin1Char('d'));
  const std::optional<QDate> date = ParseDate(parts.first(), monthFirst);
  if (!date) return std::nullopt;
  QTime time(0, 0);
  if (parts.size() == 2) {
    const std::optional<QTime> t = ParseTime(parts.at(1), meridiem);
    if (!t) return std::nullopt;
    time = *t;
  }
  return DateTimeFromQt(QDateTime(*date, time));
}

std::unique_lock<std::mutex> PostingLock() {
  static std::mutex posting;
  return std::unique_lock(posting);
}

void PostEvent(QObject* receiver, QEvent* event) {
  const auto lock = PostingLock();
  QCoreApplication::postEvent(receiver, event);
}

QString Detached(const QString& text) {
  return text.isEmpty() ? QString() : QString(text.constData(), text.size());
}

QString FormatFixed(double value, int digits) {
  digits = std::clamp(digits, 0, 18);
  QString s = QString::asprintf("%.*f", digits, value);
  return s.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
}

QString FloatToStr(double value) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  QString s = QString::asprintf("%.15G", value);
  const qsizetype e = s.indexOf(QLatin1Char('E'));
  if (e >= 0) {
    // 1E+20 -> 1E20, 1E-05 -> 1E-5
    QString mant = s.left(e);
    QString exp = s.mid(e + 1);
    const bool neg = exp.startsWith(QLatin1Char('-'));
    exp.remove(0, 1);
    while (exp.size() > 1 && exp.startsWith(QLatin1Char('0'))) exp.remove(0, 1);
    s = mant + QLatin1Char('E') + (neg ? QStringLiteral("-") : QString()) + exp;
  }
  return s.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
}

QString FileSizeText(qint64 bytes) {
  static const std::array<QString, 5> kUnits = {QStringLiteral("КиБ"), QStringLiteral("МиБ"),
                                                QStringLiteral("ГиБ"), QStringLiteral("ТиБ"),
                                                QStringLiteral("ПиБ")};
  if (bytes < 1024) return QStringLiteral("%1 байт").arg(std::max<qint64>(bytes, 0));
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  // 1023,96 КиБ would be written "1024,0 КиБ": the next unit takes it.
  while (value >= 1024 - 0.05 && unit + 1 < kUnits.size()) {
    value /= 1024;
    ++unit;
  }
  return FormatFixed(value, 1) + QLatin1Char(' ') + kUnits[unit];
}

std::optional<double> StrToFloat(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  const QChar sep = FormatSettings().DecimalSeparator;
  std::string s;
  s.reserve(static_cast<size_t>(t.size()));
  for (QChar c : t) {
    if (c == sep) {
      s.push_back('.');
    } else if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
               c == QLatin1Char('-') || c == QLatin1Char('e') || c == QLatin1Char('E')) {
      s.push_back(static_cast<char>(c.unicode()));
    } else {
      return std::nullopt;  // letters (inf, nan), a foreign separator, blanks inside
    }
  }
  size_t start = 0;
  if (s[0] == '+') start = 1;
  if (start < s.size() && s[start] == '+') return std::nullopt;
  double v = 0;
  const char* first = s.data() + start;
  const char* last = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || ptr != last || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int64_t> StrToInt(const QString& text, int64_t min, int64_t max) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  qsizetype i = 0;
  bool neg = false;
  if (t[0] == QLatin1Char('+') || t[0] == QLatin1Char('-')) {
    neg = t[0] == QLatin1Char('-');
    i = 1;
  }
  if (i == t.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    const QChar c = t[i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    v = v * 10 + (c.unicode() - '0');
    if (v > (int64_t(1) << 40)) return std::nullopt;
  }
  if (neg) v = -v;
  if (v < min || v > max) return std::nullopt;
  return v;
}

namespace {
// Code page 1251, bytes 0x80..0xBF (0xC0..0xFF are А..я in order); 0 marks the one unassigned byte (0x98).
constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};
}  // namespace

char ToCp1251Byte(char16_t u) {
  if (u < 0x80) return static_cast<char>(u);
  if (u >= 0x0410 && u <= 0x044F) return static_cast<char>(0xC0 + (u - 0x0410));
  if (u == 0x00B2) return '2';
  if (u == 0x00B3) return '3';
  char b = '?';
  for (int i = 0; i < 64; ++i)
    if (kCp1251High[i] == u && u != 0) b = static_cast<char>(0x80 + i);
  return b;
}

QByteArray ToCp1251(const QString& text) {
  QByteArray out(text.size(), Qt::Uninitialized);
  for (qsizetype i = 0; i < text.size(); ++i) out[i] = ToCp1251Byte(text[i].unicode());
  return out;
}

QString UnitsShown(const QString& units) {
  QString out = units;
  for (qsizetype i = 1; i < out.size(); ++i) {
    const QChar c = out[i];
    if (c != u'2' && c != u'3') continue;
    const QChar before = out[i - 1];
    // Metres, Cyrillic or Latin, possibly with a prefix ("см3", "km2"): the letter before the digit.
    if (before != u'м' && before != u'm') continue;
    if (i + 1 < out.size() && out[i + 1].isLetterOrNumber()) continue;
    out[i] = c == u'2' ? QChar(0x00B2) : QChar(0x00B3);
  }
  return out;
}

bool IsAsciiBytes(QByteArrayView bytes) {
  unsigned char any = 0;
  for (char c : bytes) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

QString FromCp1251(const QByteArray& bytes) {
  QString out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80)
      out.append(QChar(b));
    else if (b >= 0xC0)
      out.append(QChar(static_cast<char16_t>(0x0410 + (b - 0xC0))));
    else
      out.append(kCp1251High[b - 0x80] != 0 ? QChar(kCp1251High[b - 0x80]) : QChar(0xFFFD));
  }
  return out;
}

}  // namespace vexa
