// What the broker makes of names and times: topic levels libmosquitto takes whatever a name holds,
// and instants that stay true through a summer-time change; and the bounded queue of writes asked.

#include <gtest/gtest.h>
#include <mosquitto.h>

#include <QDate>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>

#include "broker/Discovery.h"
#include "broker/Instants.h"
#include "broker/Messages.h"
#include "broker/RemoteWrites.h"
#include "broker/Topics.h"
#include "support/TestSupport.h"
#include "tests/broker/Zone.h"

namespace vexa::test {
namespace {

bool LibraryTakes(const QByteArray& topic) {
  return mosquitto_validate_utf8(topic.constData(), static_cast<int>(topic.size())) == MOSQ_ERR_SUCCESS &&
         mosquitto_pub_topic_check2(topic.constData(), static_cast<size_t>(topic.size())) == MOSQ_ERR_SUCCESS;
}

TEST(TopicLevelTest, EveryNameMakesALevelTheLibraryTakes) {
  struct TCase {
    QString name;
    QString level;  // empty: only checked to be taken
  };
  const TCase cases[] = {
      {QStringLiteral("D001C000R002"), QStringLiteral("D001C000R002")},
      {QStringLiteral("Котел #1"), QStringLiteral("Котел _1")},
      {QStringLiteral("Печь+сушка"), QStringLiteral("Печь_сушка")},
      {QStringLiteral("цех/печь"), QStringLiteral("цех_печь")},
      {QStringLiteral("a") + QChar(0) + QStringLiteral("b\tc"), QStringLiteral("a_b_c")},
      {QString(), QStringLiteral("_")},
      {QStringLiteral("x") + QChar(0xFFFF) + QString::fromUcs4(U"\U0001FFFE"), QStringLiteral("x__")},
      {QString(70000, QChar(0x0416)), {}},
      {QStringLiteral("a") + QString(70000, QChar(0x0416)), {}},
  };
  for (const TCase& c : cases) {
    const QByteArray level = TopicLevel(c.name);
    if (!c.level.isEmpty()) {
      EXPECT_EQ(QString::fromUtf8(level), c.level);
    }
    EXPECT_LE(level.size(), kMaxLevelBytes);
    const QByteArray topic = "vexa/line/archives/" + level;
    EXPECT_TRUE(LibraryTakes(topic)) << c.name.left(20).toStdString();
    EXPECT_TRUE(IsPublishableTopic(topic));
    // Cut on a character's boundary: the text is whole again.
    EXPECT_EQ(QString::fromUtf8(level).toUtf8(), level);
  }
  for (const char* bad : {"vexa/#", "vexa/+/x", ""}) EXPECT_FALSE(IsPublishableTopic(QByteArray(bad))) << bad;
  EXPECT_FALSE(IsPublishableTopic(QByteArray(70000, 'a')));
}

class InstantsTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    auto clock = std::make_unique<TFakeClock>();
    clock_ = clock.get();
    Services().Clock = std::move(clock);
  }
  TZone zone_{"Europe/Berlin"};
  TFakeClock* clock_ = nullptr;
};

int64_t Utc(const char* iso) {
  return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
}

// Around both changes of 2026 (29 March and 25 October, at 01:00 UTC): a time read a moment ago
// is published as the instant it was, also in the autumn hour whose local times come twice.
TEST_F(InstantsTest, ATimeReadIsItsTrueInstantThroughASummerTimeChange) {
  const int64_t july = Utc("2026-07-01T12:00:00Z");
  ASSERT_EQ(std::llround((LocalOf(july) - 25569.0) * 86400.0) - july / 1000, 7200)
      << "the zone has summer time";
  const char* instants[] = {"2026-10-24T23:59:59Z", "2026-10-25T00:10:00Z",    "2026-10-25T00:59:30Z",
                            "2026-10-25T01:00:00Z", "2026-10-25T01:10:00Z",    "2026-10-25T01:59:59Z",
                            "2026-10-25T02:30:00Z", "2026-03-29T00:59:00Z",    "2026-03-29T01:00:00Z",
                            "2026-03-29T01:30:00Z", "2026-12-10T12:00:00.250Z"};
  for (const char* iso : instants) {
    const int64_t instant = Utc(iso);
    // Read at that instant, told 300 ms later.
    const double read = LocalOf(instant);
    clock_->SetNow(LocalOf(instant + 300));
    const TInstants instants([instant] { return instant + 300; });
    EXPECT_EQ(instants.Of(read), instant) << iso;
    const QDateTime published = QDateTime::fromString(instants.Iso(read), Qt::ISODateWithMs);
    EXPECT_EQ(published.toMSecsSinceEpoch(), instant) << instants.Iso(read).toStdString();
    EXPECT_TRUE(instants.Iso(read).endsWith(QLatin1Char('Z')));
  }
  // A time from a while before a change, told after it, is still its own instant.
  const int64_t before = Utc("2026-10-25T00:40:00Z");
  const int64_t now = Utc("2026-10-25T01:20:00Z");
  clock_->SetNow(LocalOf(now));
  EXPECT_EQ(TInstants([now] { return now; }).Of(LocalOf(before)), before);
}

TEST(RemoteWriteQueueTest, BoundedWithOneBurstOfRefusalsUntilItRunsDry) {
  TRemoteWriteQueue queue;
  using TOffer = TRemoteWriteQueue::TOffer;
  for (int i = 0; i < kRemoteWriteBound; ++i)
    ASSERT_EQ(queue.Offer({QByteArray::number(i), {}, {}, false}), TOffer::Queued) << i;
  EXPECT_EQ(queue.Offer({}), TOffer::BusyFirst);
  EXPECT_EQ(queue.Offer({}), TOffer::Busy);
  EXPECT_EQ(queue.Offer({}), TOffer::Busy);
  int64_t burst = -1;
  // Served in the order asked; a place freed takes the next one.
  ASSERT_EQ(queue.Take(&burst)->Level, "0");
  EXPECT_EQ(burst, 0);
  EXPECT_EQ(queue.Offer({"late", {}, {}, false}), TOffer::Queued);
  EXPECT_EQ(queue.Offer({}), TOffer::Busy) << "still the same burst";
  int taken = 1;
  QByteArray last;
  while (const auto r = queue.Take(&burst)) {
    ++taken;
    last = r->Level;
  }
  EXPECT_EQ(taken, kRemoteWriteBound + 1);
  EXPECT_EQ(last, "late");
  EXPECT_EQ(burst, 4) << "the burst ends when the queue runs dry, with its count";
  EXPECT_EQ(queue.RefusedTotal(), 4);
  EXPECT_FALSE(queue.Take(&burst));
  EXPECT_EQ(burst, 0);
  for (int i = 0; i < kRemoteWriteBound; ++i) queue.Offer({});
  EXPECT_EQ(queue.Offer({}), TOffer::BusyFirst) << "a new burst";
  // Closed as the link stops: what waits is dropped, and what is heard meanwhile neither refills
  // the queue nor starts a burst of refusals.
  queue.Close();
  EXPECT_EQ(queue.Size(), 0);
  EXPECT_EQ(queue.Offer({}), TOffer::Closed);
  EXPECT_FALSE(queue.Take());
  queue.Open();
  for (int i = 0; i < kRemoteWriteBound; ++i) ASSERT_EQ(queue.Offer({}), TOffer::Queued) << i;
  EXPECT_EQ(queue.Offer({}), TOffer::BusyFirst);
}

TEST(RemoteWriteQueueTest, WhatAClientSentIsBoundedBeforeAnythingSeesIt) {
  struct TCase {
    QByteArray payload;
    QString value;
    QString user;
    bool tooLong;
  };
  const QByteArray huge(2 * 1024 * 1024, '7');
  const TCase cases[] = {
      {"31.5", QStringLiteral("31.5"), {}, false},
      {R"({"value": "20", "user": "dispatcher"})", QStringLiteral("20"), QStringLiteral("dispatcher"), false},
      {R"({"value": 31.5})", QStringLiteral("31.5"), {}, false},
      {R"({"value": true})", QStringLiteral("true"), {}, false},
      {huge, QString(kLongestRemoteText, QLatin1Char('7')), {}, true},
      {QByteArray(101, '1'), QString(kLongestRemoteText, QLatin1Char('1')), {}, true},
      {QByteArray(100, '1'), QString(kLongestRemoteText, QLatin1Char('1')), {}, false},
      {R"({"value": "1", "user": ")" + QByteArray(300, 'u') + R"("})", QStringLiteral("1"),
       QString(kLongestRemoteText, QLatin1Char('u')), false},
  };
  for (const TCase& c : cases) {
    const TWriteRequest r = ReadWriteRequest("D000C000R002", c.payload);
    EXPECT_EQ(r.Value, c.value) << c.payload.left(40).toStdString();
    EXPECT_EQ(r.User, c.user);
    EXPECT_EQ(r.TooLong, c.tooLong) << c.payload.left(40).toStdString();
  }
  TRemoteWrite busy;
  busy.Asked = busy.Value = QString::fromLatin1(huge);
  busy.Type.Kind = TValueKind::Text;
  busy.User = QString(300, QLatin1Char('u'));
  busy.Outcome = kBusyOutcome;
  const QJsonObject echo = QJsonDocument::fromJson(WriteResultPayload(busy, {})).object();
  EXPECT_EQ(echo.value(QStringLiteral("asked")).toString().size(), kLongestRemoteText);
  EXPECT_EQ(echo.value(QStringLiteral("user")).toString().size(), kLongestRemoteText);
  EXPECT_EQ(echo.value(QStringLiteral("outcome")).toString(), kBusyOutcome);
}

// One JSON type per register whatever it reads: its decimals always written, rounded as its write
// rounds (half to even), Booleans as switches send them; units as Home Assistant knows them.
TEST(BrokerValueTest, EachRegisterHasOneJsonTypeAndTheWritesRounding) {
  const TValueType tenths{TValueKind::Number, 1}, whole{TValueKind::Number, 0}, flag{TValueKind::Boolean, 0},
      text{TValueKind::Text, 0};
  const struct {
    QString text;
    TValueType type;
    QByteArray json;
  } cases[] = {{"35", tenths, "35.0"},     {"34,9", tenths, "34.9"},
               {"36,55", tenths, "36.6"},  {"36.45", tenths, "36.4"},
               {"-0,04", tenths, "0.0"},   {"-2,96", tenths, "-3.0"},
               {"99,95", tenths, "100.0"}, {"7", whole, "7"},
               {"2,5", whole, "2"},        {"***", tenths, "null"},
               {"1", flag, "true"},        {"off", flag, "false"},
               {"ON", flag, "true"},       {"a\nb\\", text, R"("a\u000ab\\")"},
               {"yes", flag, "null"},      {"Котел \"2\"", text, R"("Котел \"2\"")"}};
  for (const auto& c : cases) EXPECT_EQ(JsonValue(c.text, c.type), c.json) << c.text.toStdString();

  const std::pair<const char*, const char*> units[] = {{"бар", "bar"},    {"°C", "°C"},     {"°С", "°C"},
                                                       {"м³/ч", "m³/h"},  {"м3/ч", "m³/h"}, {"%", "%"},
                                                       {"ведро", "ведро"}};
  for (const auto& [russian, symbol] : units)
    EXPECT_EQ(UnitSymbol(QString::fromUtf8(russian)), QString::fromUtf8(symbol)) << russian;
  // Ids Home Assistant takes; two roots that differ only in what it does not take stay apart.
  EXPECT_EQ(DiscoveryId(QStringLiteral("D001C000R002")), "D001C000R002");
  EXPECT_NE(DiscoveryId(QStringLiteral("vexa/Цех")), DiscoveryId(QStringLiteral("vexa/Печь")));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]+$"))
                  .match(QString::fromLatin1(DiscoveryId(QStringLiteral("vexa/Цех 1"))))
                  .hasMatch());
}

}  // namespace
}  // namespace vexa::test
