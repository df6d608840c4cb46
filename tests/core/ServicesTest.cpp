#include <QDateTime>
#include <QEvent>
#include <QObject>
#include <QStringDecoder>
#include <cmath>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "core/Services.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

class ServicesTest : public TVexaTest {};

TEST_F(ServicesTest, Cp1251CoversTheWholeCyrillicAlphabet) {
  const QString text =
      QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя №«»—");
  const QByteArray bytes = ToCp1251(text);
  EXPECT_EQ(bytes.size(), text.size());
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xC0);
  EXPECT_EQ(static_cast<uint8_t>(bytes[6]), 0xA8);  // Ё
  EXPECT_EQ(FromCp1251(bytes), text);
  // Every byte decodes the way the system's own converter decodes it.
  QStringDecoder system("windows-1251");
  if (system.isValid()) {
    for (int b = 0; b < 256; ++b) {
      if (b == 0x98) continue;
      const QByteArray one(1, static_cast<char>(b));
      EXPECT_EQ(FromCp1251(one), system.decode(one)) << b;
    }
  }
  EXPECT_EQ(ToCp1251(QStringLiteral("日")), "?");
  // One code unit at a time gives the same bytes, for every unit there is.
  for (char32_t u = 0; u <= 0xFFFF; ++u) {
    const QString one(QChar(static_cast<char16_t>(u)));
    ASSERT_EQ(ToCp1251Byte(static_cast<char16_t>(u)), ToCp1251(one).at(0)) << static_cast<unsigned>(u);
  }
}

TEST_F(ServicesTest, SquareAndCubicMetresAreStoredAsDigitsAndShownRaised) {
  struct Case {
    const char* stored;
    const char* shown;
  } const cases[] = {
      {"м3/ч", "м³/ч"}, {"м2", "м²"},   {"см3", "см³"}, {"m3/h", "m³/h"}, {"м30", "м30"},
      {"мм", "мм"},     {"кг2", "кг2"}, {"3м", "3м"},   {"м³/ч", "м³/ч"}, {"", ""},
  };
  for (const Case& c : cases) {
    const QString stored = QString::fromUtf8(c.stored);
    EXPECT_EQ(UnitsShown(stored), QString::fromUtf8(c.shown)) << c.stored;
    // What the operator reads goes back to the same bytes, never to '?'.
    EXPECT_EQ(FromCp1251(ToCp1251(UnitsShown(stored))), QString(stored).replace(QChar(0x00B3), u'3'))
        << c.stored;
  }
}

TEST_F(ServicesTest, NumbersFollowTheRegionalSeparator) {
  EXPECT_EQ(StrToFloat("1,5"), 1.5);
  EXPECT_EQ(StrToFloat(" -2,25 "), -2.25);
  EXPECT_EQ(StrToFloat("1E3"), 1000.0);
  EXPECT_EQ(StrToFloat("+7"), 7.0);
  EXPECT_FALSE(StrToFloat("1.5"));
  EXPECT_FALSE(StrToFloat(""));
  EXPECT_FALSE(StrToFloat("inf"));
  EXPECT_FALSE(StrToFloat("nan"));
  EXPECT_FALSE(StrToFloat("1,5x"));
  EXPECT_FALSE(StrToFloat("***"));
  EXPECT_EQ(FloatToStr(12.5), "12,5");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0,3");
  EXPECT_EQ(FloatToStr(1e20), "1E20");
  EXPECT_EQ(FloatToStr(-3), "-3");
  EXPECT_EQ(FormatFixed(2.5, 2), "2,50");
  EXPECT_EQ(FormatFixed(-0.05, 1), "-0,1");
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_FALSE(StrToInt("2147483648"));
  EXPECT_FALSE(StrToInt("12a"));
  EXPECT_FALSE(StrToInt("-"));
  EXPECT_EQ(StrToInt("-0"), 0);
  Services().Format.DecimalSeparator = QLatin1Char('.');
  EXPECT_EQ(StrToFloat("1.5"), 1.5);
  EXPECT_FALSE(StrToFloat("1,5"));
  EXPECT_EQ(FloatToStr(12.5), "12.5");
}

TEST_F(ServicesTest, DateTimesAreDaysSince1899) {
  const QDateTime t(QDate(2026, 12, 7), QTime(9, 5, 3));
  const double v = DateTimeFromQt(t);
  EXPECT_NEAR(v, 46363 + (9 * 3600 + 5 * 60 + 3) / 86400.0, 1e-9);
  EXPECT_EQ(DateTimeToQt(v), t);
  EXPECT_EQ(DateTimeToStr(v), "07.12.2026 9:05:03");
  EXPECT_EQ(DateTimeToStr(46363), "07.12.2026");
  EXPECT_EQ(DateTimeFromQt(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
}

// Histories written under one regional format are read under another.
TEST_F(ServicesTest, DateTimeTextsOfEveryRegionalFormatReadBack) {
  const double at = DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)));
  const double day = DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(0, 0)));
  const struct {
    const char* text;
    std::optional<double> expected;
  } cases[] = {
      {"07.12.2026 9:05:03", at},
      {"07.12.2026 09:05:03", at},
      {" 7.12.26  9:05:03 ", at},
      {"2026-12-07 09:05:03", at},
      {"07.12.2026", day},
      {"07.12.2026 9:05", at - 3 / 86400.0},
      {"12/7/2026 9:05:03 AM", at},
      {"12/7/2026 9:05:03 PM", at + 0.5},
      {"07.12.2026 9:05:03,500", at + 0.5 / 86400.0},
      {"13/12/2026 9:05:03", at + 6},  // no thirteenth month: day first after all
      {"", std::nullopt},
      {"Ошибка чтения", std::nullopt},
      {"31.02.2026 9:05:03", std::nullopt},
      {"07.12.2026 25:05:03", std::nullopt},
      {"07.12.2026 9:05:03 x", std::nullopt},
      {"07.12.202 9:05:03", std::nullopt},
      {"07.12-2026", std::nullopt},
  };
  Services().Format.ShortDateFormat = QStringLiteral("M/d/yyyy");
  for (const auto& c : cases) {
    const std::optional<double> got = StrToDateTime(QString::fromUtf8(c.text));
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.text;
    if (got) {
      EXPECT_NEAR(*got, *c.expected, 1e-9) << c.text;
    }
  }
  // A day-first regional format reads slashes day first, and its own texts back.
  Services().Format.ShortDateFormat = QStringLiteral("dd/MM/yyyy");
  EXPECT_NEAR(*StrToDateTime("07/12/2026 9:05:03"), at, 1e-9);
  EXPECT_NEAR(*StrToDateTime("12/7/2026 9:05:03 AM"), at, 1e-9) << "a 12-hour clock reads month first";
  Services().Format = TFormatSettings::Russian();
  EXPECT_NEAR(*StrToDateTime(DateTimeToStr(at)), at, 1e-9);
}

// The real clock keeps the zone's offset for a second; it must still tell the local time, in the
// zone the process runs in.
TEST_F(ServicesTest, RealClockTellsLocalTimeInTheCurrentZone) {
  const QByteArray savedTz = qgetenv("TZ");
  const bool hadTz = qEnvironmentVariableIsSet("TZ");
  for (const char* zone : {"UTC0", "MSK-3", "EST5"}) {
    qputenv("TZ", zone);
    ::tzset();
    const TClock clock;
    const double before = DateTimeFromQt(QDateTime::currentDateTime());
    const double now = clock.Now();
    const double again = clock.Now();
    const double after = DateTimeFromQt(QDateTime::currentDateTime());
    EXPECT_GE(now, before - 1e-9) << zone;
    EXPECT_LE(now, after + 1e-9) << zone;
    EXPECT_GE(again, now) << zone;
    const double utc = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 86400000.0 + 25569;
    const double hours = std::round((now - utc) * 24);
    EXPECT_EQ(hours, std::string(zone) == "MSK-3" ? 3 : std::string(zone) == "EST5" ? -5 : 0) << zone;
  }
  if (hadTz)
    qputenv("TZ", savedTz);
  else
    qunsetenv("TZ");
  ::tzset();
}

TEST_F(ServicesTest, RandomGeneratorIsSeededAndInRange) {
  Current().Line().Random().Seed(7);
  std::vector<int> a;
  for (int i = 0; i < 100; ++i) a.push_back(Current().Line().Random().Next(3));
  Current().Line().Random().Seed(7);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Current().Line().Random().Next(3), a[static_cast<size_t>(i)]);
  EXPECT_EQ(*std::min_element(a.begin(), a.end()), 0);
  EXPECT_EQ(*std::max_element(a.begin(), a.end()), 2);
  EXPECT_EQ(Current().Line().Random().Next(0), 0);
  const double f = Current().Line().Random().Fraction();
  EXPECT_GE(f, 0.0);
  EXPECT_LT(f, 1.0);
}

// The poller, the line's writer and the broker's session each post to the main thread, at once
// when a flood of writes meets a connection: every event arrives, each thread's in its order, and
// the thread sanitizer sees the posts ordered.
TEST_F(ServicesTest, EventsPostedFromSeveralThreadsAtOnceAllArriveInOrder) {
  static const auto kType = static_cast<QEvent::Type>(QEvent::registerEventType());
  struct TNumbered : QEvent {
    TNumbered(int thread, int number) : QEvent(kType), Thread(thread), Number(number) {}
    int Thread;
    int Number;
  };
  struct TReceiver : QObject {
    std::vector<std::vector<int>> Got = std::vector<std::vector<int>>(3);
    bool event(QEvent* e) override {
      // Qt hands the event over unseen by the thread sanitizer; taking the posters' lock shows it.
      { const auto seen = PostingLock(); }
      if (e->type() != kType) return QObject::event(e);
      const auto* n = static_cast<TNumbered*>(e);
      Got[static_cast<size_t>(n->Thread)].push_back(n->Number);
      return true;
    }
  } receiver;
  constexpr int kEach = 3000;
  std::vector<std::thread> posters;
  for (int t = 0; t < 3; ++t)
    posters.emplace_back([&receiver, t] {
      for (int i = 0; i < kEach; ++i) PostEvent(&receiver, new TNumbered(t, i));
    });
  const auto all = [&] {
    for (const auto& got : receiver.Got)
      if (got.size() < kEach) return false;
    return true;
  };
  const bool arrived = RunEventsUntil(all, 30000);
  for (std::thread& p : posters) p.join();
  ASSERT_TRUE(arrived);
  std::vector<int> expected(kEach);
  for (int i = 0; i < kEach; ++i) expected[static_cast<size_t>(i)] = i;
  for (const auto& got : receiver.Got) EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace vexa::test
