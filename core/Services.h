#pragma once
// Program-wide services that tests replace: the clock, operator messages, the regional number and
// date formats, and the windows' hooks for long operations. What belongs to one network (its
// folder, its line and its trace) lives in that network (core/Network.h).

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>

class QEvent;
class QObject;

// Callers of the date-time conversions include <QDateTime> themselves; few do, and it is heavy.
class QDateTime;

namespace vexa {

// Wall-clock time as the toolkit date-time (days since 30 Dec 1899), a millisecond tick counter and
// a sleep; a test clock advances its tick count in Sleep instead of waiting.
class TClock {
 public:
  virtual ~TClock() = default;
  // Local date-time. The offset from UTC is asked of the system at most once a second: each asking
  // reads the zone file, and a state load makes thousands of registers that note the time.
  virtual double Now() const;
  virtual int64_t TickMs() const;
  virtual void Sleep(int ms);

 private:
  mutable std::mutex offsetMutex_;
  mutable std::optional<qint64> offsetTakenAtMs_;  // UTC
  mutable qint64 offsetMs_ = 0;
};

class TRandomGenerator {
 public:
  void Seed(uint32_t seed) { engine_.seed(seed); }
  // Uniform integer in 0..n-1 (0 when n is 0 or less).
  int Next(int n);
  // Uniform number in [0, 1).
  double Fraction();

 private:
  std::mt19937 engine_{12345u};
};

enum class TMsgIcon { Information, Warning, Question, Error };

enum TMsgButton : unsigned { mbOK = 1, mbCancel = 2, mbYes = 4, mbNo = 8 };

// Every modal message of the program goes through here, titled "Vexa".
class TMessageService {
 public:
  virtual ~TMessageService() = default;
  // buttons: a mask of TMsgButton; returns the button chosen.
  virtual TMsgButton Show(const QString& text, TMsgIcon icon, unsigned buttons, TMsgButton defaultButton);
};

// Regional settings used by every text/number/date conversion of the program.
struct TFormatSettings {
  QChar DecimalSeparator = QLatin1Char(',');
  QString ShortDateFormat = QStringLiteral("dd.MM.yyyy");
  QString LongTimeFormat = QStringLiteral("H:mm:ss");

  static TFormatSettings Russian() { return {}; }
  // From the system locale; a system without a configured locale gets the Russian settings.
  static TFormatSettings FromSystem();
};

struct TServices {
  std::unique_ptr<TClock> Clock = std::make_unique<TClock>();
  std::unique_ptr<TMessageService> Messages = std::make_unique<TMessageService>();
  TFormatSettings Format = TFormatSettings::Russian();
  // The windows' side of long core operations; empty until the main window installs them.
  std::function<void(const QString&)> ProgramState;  // status line text ("Работа", ...)
  std::function<void(bool busy)> BusyCursor;         // hourglass on and off
};

TServices& Services();

inline double Now() {
  return Services().Clock->Now();
}
// The monotonic tick: what waits or falls due is measured on it, never on Now, which steps with
// the operator's clock, summer time and zone changes.
inline int64_t TickMs() {
  return Services().Clock->TickMs();
}
inline const TFormatSettings& FormatSettings() {
  return Services().Format;
}
// The program's states as the status line shows them.
inline const QString kStateWorking = QStringLiteral("Работа");
inline const QString kStateStopped = QStringLiteral("Останов");
inline const QString kStateReading = QStringLiteral("Чтение состояния сети");
inline const QString kStateSaving = QStringLiteral("Сохранение состояния сети");
inline const QString kStateSavingArchive = QStringLiteral("Сохранение архива");
inline void ShowProgramState(const QString& text) {
  if (Services().ProgramState) Services().ProgramState(text);
}
// Shows the hourglass for its lifetime.
class TBusyCursor {
 public:
  TBusyCursor() {
    if (Services().BusyCursor) Services().BusyCursor(true);
  }
  ~TBusyCursor() {
    if (Services().BusyCursor) Services().BusyCursor(false);
  }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// --- date-time ---------------------------------------------------------------------------------
inline constexpr qint64 kMsPerDay = 86400000;
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kMinutesPerDay = 1440.0;

// Local time that moves only when slept on: a run without windows on a virtual clock, and the
// benchmarks. The exchanges' waits move it on; a poller thread may read it meanwhile.
class TVirtualClock : public TClock {
 public:
  explicit TVirtualClock(double start) : start_(start) {}
  double Now() const override {
    return start_ + static_cast<double>(tick_.load()) / static_cast<double>(kMsPerDay);
  }
  int64_t TickMs() const override { return tick_; }
  void Sleep(int ms) override {
    if (ms > 0) tick_ += ms;
  }

 private:
  double start_;
  std::atomic<int64_t> tick_ = 0;
};
// Whole seconds from `since` to now, counted on whole milliseconds first (a date-time difference of
// exactly 3 s is 2.9999... s) and truncated toward zero; INT32_MAX when out of range.
int ElapsedSeconds(double since);
// A stored date-time (a last read, a slot's start) as the tick it stands for now, so that from then
// on only the tick decides; a date-time ahead of the clock, stored before it went back, counts as now.
int64_t TickAtDateTime(double dateTime);
double DateTimeFromQt(const QDateTime& dt);
QDateTime DateTimeToQt(double value);
// Short date and long time in the regional format, e.g. 07.12.2026 9:05:03.
QString DateTimeToStr(double value);
// A date, or a date and a time, as histories and archives hold them, whichever regional format wrote
// it: "07.12.2026 9:05:03", "07.12.2026 09:05:03", "7.12.26 9:05", "2026-12-07 09:05:03",
// "12/7/2026 9:05:03 AM". The separator tells the order: '.' day first, '-' after a four-digit year
// year first, '/' as the regional format orders it. Empty when the text is no such date.
std::optional<double> StrToDateTime(const QString& text);

// A string of its own for another thread: Qt shares a string's text between copies, and the
// thread sanitizer, not seeing inside Qt, takes the last release on the other thread for a race.
QString Detached(const QString& text);

// Hands `event` (owned from here on) to `receiver`'s thread. Every thread of ours posts through
// here: Qt guards a thread's queue of events with a lock of its own, which the thread sanitizer
// does not see, so two threads posting at once looked to it like a race on the queue. Posting under
// one lock of ours shows it the order. A call queued another way takes PostingLock around it; a
// receiver reads what was posted under a lock the poster held, or takes PostingLock first.
void PostEvent(QObject* receiver, QEvent* event);
[[nodiscard]] std::unique_lock<std::mutex> PostingLock();

// --- numbers in the regional format --------------------------------------------------------------
// Fixed notation with `digits` decimals ("%.2f" with the regional separator).
QString FormatFixed(double value, int digits);
// Shortest general form, 15 significant digits, no trailing zeros (12,5; 1E20).
QString FloatToStr(double value);
std::optional<double> StrToFloat(const QString& text);
// A file's size as the operator reads it: "512 байт", "1,5 КиБ", "12,0 МиБ", ... (powers of 1024,
// one decimal, the regional separator).
QString FileSizeText(qint64 bytes);
// Decimal integer within the given range (32-bit signed by default).
std::optional<int64_t> StrToInt(const QString& text, int64_t min = INT32_MIN, int64_t max = INT32_MAX);

// --- code page 1251 ------------------------------------------------------------------------------
QByteArray ToCp1251(const QString& text);
// One UTF-16 code unit in code page 1251: '?' where the code page has no such character, but a
// superscript two or three becomes its digit, as the system's best-fit conversion does, so that a unit
// typed "м³/ч" is kept as "м3/ч" rather than "м?/ч".
char ToCp1251Byte(char16_t unit);
QString FromCp1251(const QByteArray& bytes);
// Units as the operator reads them: "м3/ч" and "м2" (as code page 1251 must store them) shown "м³/ч",
// "м²"; a digit after a length other than metres, or part of a number ("м30"), stays as it is.
QString UnitsShown(const QString& units);
// True when every byte is below 0x80: the same text in code page 1251, Latin-1 and UTF-8.
bool IsAsciiBytes(QByteArrayView bytes);

}  // namespace vexa
