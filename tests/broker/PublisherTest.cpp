// The publisher against a real Mosquitto broker: what a read, an archive and an alarm look like on
// the broker, the broker going away and coming back, TLS, a refused password, and writes asked
// through the broker, each journaled with the alarms.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <thread>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmMonitor.h"
#include "broker/AlarmHook.h"
#include "broker/BrokerLink.h"
#include "broker/Discovery.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SimulatedNetwork.h"
#include "reports/model/ReportNode.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "tests/broker/MosquittoBroker.h"
#include "tests/broker/Zone.h"
#include "ui/model/LabelDisplay.h"

namespace vexa::test {
namespace {

QJsonObject Json(const QByteArray& payload) {
  return QJsonDocument::fromJson(payload).object();
}

class PublisherTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    Services().Clock = std::make_unique<TClock>();  // the broker runs in real time
  }

  // A publisher of the test's network with quick retries.
  std::unique_ptr<TBrokerLink> Publisher(const QString& url,
                                         const QString& root = QStringLiteral("vexa/test"),
                                         TBrokerSettings settings = {}) {
    settings.Url = url;
    TBrokerOptions options = BrokerOptionsFor(settings, Dir->path());
    options.TopicRoot = root;
    options.RetryFirstMs = 50;
    options.RetryLongestMs = 200;
    auto publisher = std::make_unique<TBrokerLink>(*Network, options);
    publisher->News = [this](const QString& text) { News << text; };
    return publisher;
  }

  TRegisterNode* Register(const char* name, TRegisterType type, const QString& text, bool ok = true) {
    auto* reg = new TRegisterNode(Net().get());  // owned by NET
    reg->SetName(QString::fromLatin1(name));
    reg->SetRegisterType(type);
    reg->SetLastStringData(text);
    reg->SetLastIOResult(ok ? iorOK : iorFAIL);
    return reg;
  }

  QStringList News;
};

bool Until(const std::function<bool()>& done, int ms = 4000) {
  return RunEventsUntil(done, ms);
}

TEST_F(PublisherTest, EveryKindOfNewsArrivesOnItsTopicAsJson) {
  TMosquitto broker;
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"));
  auto publisher = Publisher(broker.Url());
  publisher->Start();

  const QString shown = QStringLiteral("21") + FormatSettings().DecimalSeparator + QStringLiteral("5");
  TRegisterNode* number = Register("D001C000R002", rtINT, shown);
  number->SetDigits(1);
  number->SetCaption(QStringLiteral("Уставка температуры"));
  auto* label = new TLabelDisplay(number);  // owned by the register; its units are the value's
  label->SetUnits(QStringLiteral("°C"));
  TRegisterNode* text = Register("D001C000R009", rtASCIIZ, QStringLiteral("Котел 2"));
  TRegisterNode* failed = Register("D001C000R003", rtFLOAT, kFailedText, false);
  publisher->PublishRead(*number);
  publisher->PublishRead(*text);
  publisher->PublishRead(*failed);

  TAlarmEvent alarm;
  alarm.Time = Now();
  alarm.Kind = TAlarmEventKind::Raised;
  alarm.Name = QStringLiteral("D001C000R002");
  alarm.Condition = TAlarmCondition::Hi;
  alarm.State = TAlarmState::ActiveUnacked;
  alarm.Value = 21.5;
  publisher->PublishAlarmEvent(alarm);

  TReportNode report(nullptr);
  report.SetCaption(QStringLiteral("Печь 2"));
  report.SetStartPoint(46366.25);     // 10.12.2026 06:00
  report.SetLoggingDurationIndex(5);  // an hour
  for (int i = 0; i < 2; ++i) {
    auto* reg = new TRegisterNode(&report);
    reg->SetName(QStringLiteral("D001C000R00%1").arg(i + 1));
    for (int s = 0; s < 3 + i; ++s) reg->AddToHistory();
  }
  publisher->PublishArchive(report, QStringLiteral("Печь_2_10_12_2026_0600"));

  ASSERT_TRUE(Until([&] {
    return sub.On(QStringLiteral("vexa/test/service/archives/Печь_2_10_12_2026_0600")).size() == 1;
  })) << News.join('\n').toStdString();
  EXPECT_TRUE(News.contains(QStringLiteral("MQTT: подключен к 127.0.0.1:%1").arg(broker.Port)))
      << News.join('\n').toStdString();
  EXPECT_EQ(publisher->State(), TBrokerState::Connected);

  const auto status = sub.On(QStringLiteral("vexa/test/service/status"));
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].Payload, "online");

  const auto n = sub.On(QStringLiteral("vexa/test/D001C000R002"));
  ASSERT_EQ(n.size(), 1u);
  const QJsonObject nj = Json(n[0].Payload);
  EXPECT_TRUE(nj.value(QStringLiteral("value")).isDouble()) << n[0].Payload.toStdString();
  EXPECT_DOUBLE_EQ(nj.value(QStringLiteral("value")).toDouble(), 21.5);
  EXPECT_EQ(nj.value(QStringLiteral("text")).toString(), shown);
  EXPECT_EQ(nj.value(QStringLiteral("ok")), QJsonValue(true));
  EXPECT_EQ(nj.value(QStringLiteral("caption")).toString(), QStringLiteral("Уставка температуры"));
  EXPECT_EQ(nj.value(QStringLiteral("units")).toString(), QStringLiteral("°C"));
  // ISO 8601 with the offset, and the read's own time.
  const QString time = nj.value(QStringLiteral("time")).toString();
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z)$)"))
          .match(time)
          .hasMatch())
      << time.toStdString();

  const auto t = sub.On(QStringLiteral("vexa/test/D001C000R009"));
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(Json(t[0].Payload).value(QStringLiteral("value")).toString(), QStringLiteral("Котел 2"));

  const auto f = sub.On(QStringLiteral("vexa/test/D001C000R003"));
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(Json(f[0].Payload).value(QStringLiteral("ok")), QJsonValue(false));
  EXPECT_TRUE(Json(f[0].Payload).value(QStringLiteral("value")).isNull());
  EXPECT_EQ(Json(f[0].Payload).value(QStringLiteral("text")).toString(), kFailedText);

  const auto a = sub.On(QStringLiteral("vexa/test/service/alarms"));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(Json(a[0].Payload).value(QStringLiteral("kind")).toString(), QStringLiteral("raised"));
  EXPECT_EQ(Json(a[0].Payload).value(QStringLiteral("register")).toString(), QStringLiteral("D001C000R002"));
  EXPECT_EQ(Json(a[0].Payload).value(QStringLiteral("condition")).toString(), QStringLiteral("H"));
  EXPECT_EQ(Json(a[0].Payload).value(QStringLiteral("value")).toDouble(), 21.5);

  const QJsonObject arch =
      Json(sub.On(QStringLiteral("vexa/test/service/archives/Печь_2_10_12_2026_0600"))[0].Payload);
  EXPECT_EQ(arch.value(QStringLiteral("report")).toString(), QStringLiteral("Печь 2"));
  EXPECT_EQ(arch.value(QStringLiteral("samples")).toInt(), 4);
  const QJsonObject window = arch.value(QStringLiteral("window")).toObject();
  // Instants: the local 06:00 and 07:00 of that day, in UTC.
  EXPECT_EQ(QDateTime::fromString(window.value(QStringLiteral("start")).toString(), Qt::ISODateWithMs),
            QDateTime(QDate(2026, 12, 10), QTime(6, 0)));
  EXPECT_EQ(QDateTime::fromString(window.value(QStringLiteral("end")).toString(), Qt::ISODateWithMs),
            QDateTime(QDate(2026, 12, 10), QTime(7, 0)));
  EXPECT_TRUE(window.value(QStringLiteral("end")).toString().endsWith(QLatin1Char('Z')));

  // The values are retained: a subscriber that comes later gets the last of each at once.
  TSubscriber late(broker.Port, QStringLiteral("vexa/test/#"));
  ASSERT_TRUE(WaitFor([&] { return late.On(QStringLiteral("vexa/test/D001C000R002")).size() == 1; }, 3000));
  EXPECT_TRUE(late.On(QStringLiteral("vexa/test/D001C000R002"))[0].Retained);
  EXPECT_TRUE(late.On(QStringLiteral("vexa/test/service/alarms")).empty());  // events are not retained

  // A clean stop leaves "offline" in place of "online".
  publisher->Stop();
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/test/service/status")).size() == 2; }, 3000));
  EXPECT_EQ(sub.On(QStringLiteral("vexa/test/service/status"))[1].Payload, "offline");
  EXPECT_TRUE(sub.On(QStringLiteral("vexa/test/service/status"))[1].Retained == false);  // live delivery
}

TEST_F(PublisherTest, ThePollersReadsArePublishedAndTwoNetworksKeepTheirOwn) {
  TMosquitto broker;
  TSubscriber sub(broker.Port, QStringLiteral("vexa/#"));
  Settings()->SetDemo(true);
  for (const char* name : {"D000C000R002", "D000C000R003"}) {
    auto* reg = new TRegisterNode(Net().get());
    reg->SetName(QString::fromLatin1(name));
    reg->SetLoggingInterval(1);
    reg->SetEnabled(true);
  }
  auto publisher = Publisher(broker.Url(), QStringLiteral("vexa/one"));
  publisher->Start();

  // A second network in its own folder with its own publisher.
  QTemporaryDir otherDir;
  TNetwork other(otherDir.path(), nullptr);
  other.Setup()->SetDemo(true);
  auto* otherReg = new TRegisterNode(other.Net().get());
  otherReg->SetName(QStringLiteral("D000C001R002"));
  otherReg->SetLoggingInterval(1);
  otherReg->SetEnabled(true);
  TBrokerSettings settings;
  settings.Url = broker.Url();
  TBrokerOptions options = BrokerOptionsFor(settings, otherDir.path());
  options.TopicRoot = QStringLiteral("vexa/two");
  TBrokerLink second(other, options);
  second.Start();

  Network->StartPoller();
  other.StartPoller();
  ASSERT_TRUE(Until(
      [&] {
        return sub.On(QStringLiteral("vexa/one/D000C000R002")).size() >= 2 &&
               sub.On(QStringLiteral("vexa/one/D000C000R003")).size() >= 2 &&
               !sub.On(QStringLiteral("vexa/two/D000C001R002")).empty();
      },
      6000));
  Network->StopPoller();
  other.StopPoller();
  const QJsonObject last = Json(sub.On(QStringLiteral("vexa/one/D000C000R003")).back().Payload);
  EXPECT_EQ(last.value(QStringLiteral("ok")), QJsonValue(true));
  EXPECT_TRUE(last.value(QStringLiteral("value")).isDouble());
  EXPECT_EQ(last.value(QStringLiteral("caption")).toString(), Net()->Node(1)->Caption());
  // Nothing of one network under the other's root.
  for (const TReceived& r : sub.Received()) {
    EXPECT_FALSE(r.Topic.startsWith(QLatin1String("vexa/one/D000C001"))) << r.Topic.toStdString();
    EXPECT_FALSE(r.Topic.startsWith(QLatin1String("vexa/two/D000C000"))) << r.Topic.toStdString();
  }
  second.Stop();
  publisher->Stop();
}

TEST_F(PublisherTest, WhileTheBrokerIsAwayValuesWaitAndArriveInOrder) {
  TMosquitto broker;
  const QString id = QStringLiteral("vexa-test-order");
  auto sub =
      std::make_unique<TSubscriber>(broker.Port, QStringLiteral("vexa/test/#"), QString(), QString(), id);
  auto publisher = Publisher(broker.Url());
  publisher->Start();
  ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Connected; }));
  TRegisterNode* reg = Register("D001C000R002", rtINT, QStringLiteral("0"));
  auto publish = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      reg->SetLastStringData(QString::number(i));
      publisher->PublishRead(*reg);
    }
  };
  publish(0, 10);
  ASSERT_TRUE(WaitFor([&] { return sub->On(QStringLiteral("vexa/test/D001C000R002")).size() == 10; }, 3000));

  sub.reset();  // its session stays on the broker and keeps what comes while it is away
  broker.Stop();
  ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Lost; }));
  publish(10, 60);
  EXPECT_EQ(publisher->QueueLength(), 50);
  broker.Start();
  ASSERT_TRUE(
      Until([&] { return publisher->State() == TBrokerState::Connected && publisher->QueueLength() == 0; }));
  sub = std::make_unique<TSubscriber>(broker.Port, QStringLiteral("vexa/test/#"), QString(), QString(), id);
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto got = sub->On(QStringLiteral("vexa/test/D001C000R002"));
        return !got.empty() && Json(got.back().Payload).value(QStringLiteral("value")).toInt() == 59;
      },
      3000));
  std::vector<int> values;
  for (const TReceived& r : sub->On(QStringLiteral("vexa/test/D001C000R002")))
    values.push_back(Json(r.Payload).value(QStringLiteral("value")).toInt());
  // QoS 1 is at least once: the broker may give the new session what the old one had already seen.
  std::erase_if(values, [](int v) { return v < 10; });
  std::vector<int> expected;
  for (int i = 10; i < 60; ++i) expected.push_back(i);
  QStringList got;
  for (int v : values) got << QString::number(v);
  EXPECT_EQ(values, expected) << got.join(' ').toStdString();
  EXPECT_EQ(publisher->Dropped(), 0);
  // The outage and the return were each told once.
  EXPECT_EQ(News.filter(QStringLiteral("нет связи")).size(), 1) << News.join('\n').toStdString();
  EXPECT_EQ(News.filter(QStringLiteral("подключен")).size(), 2) << News.join('\n').toStdString();
}

TEST_F(PublisherTest, AFullQueueDropsTheOldestAndSaysHowManyOncePerOutage) {
  TMosquitto broker;
  TBrokerSettings settings;
  settings.QueueBound = 5;
  auto publisher = Publisher(broker.Url(), QStringLiteral("vexa/test"), settings);
  publisher->Start();
  ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Connected; }));
  const QString id = QStringLiteral("vexa-test-drops");
  { TSubscriber first(broker.Port, QStringLiteral("vexa/test/#"), QString(), QString(), id); }
  broker.Stop();
  ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Lost; }));
  TRegisterNode* reg = Register("D001C000R002", rtINT, QStringLiteral("0"));
  for (int i = 0; i < 12; ++i) {
    reg->SetLastStringData(QString::number(i));
    publisher->PublishRead(*reg);
  }
  EXPECT_EQ(publisher->QueueLength(), 5);
  EXPECT_EQ(publisher->Dropped(), 7);
  broker.Start();
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"), QString(), QString(), id);
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/test/service/dropped")).size() == 1; }, 4000));
  EXPECT_EQ(Json(sub.On(QStringLiteral("vexa/test/service/dropped"))[0].Payload)
                .value(QStringLiteral("dropped"))
                .toInt(),
            7);
  // The newest five, in order.
  std::vector<int> values;
  for (const TReceived& r : sub.On(QStringLiteral("vexa/test/D001C000R002")))
    values.push_back(Json(r.Payload).value(QStringLiteral("value")).toInt());
  EXPECT_EQ(values, (std::vector<int>{7, 8, 9, 10, 11}));
  ASSERT_TRUE(Until([&] { return !News.filter(QStringLiteral("потеряно")).isEmpty(); }));
  EXPECT_EQ(News.filter(QStringLiteral("потеряно сообщений: 7")).size(), 1) << News.join('\n').toStdString();
  // The next value after the report: nothing more is told.
  publisher->PublishRead(*reg);
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/test/D001C000R002")).size() == 6; }, 3000));
  RunEventsUntil([] { return false; }, 100);
  EXPECT_EQ(News.filter(QStringLiteral("потеряно")).size(), 1);
  EXPECT_EQ(sub.On(QStringLiteral("vexa/test/service/dropped")).size(), 1u);
}

TEST_F(PublisherTest, OverTlsWithTheTestsOwnCertificate) {
  TMosquitto broker({QString(), QString(), true});
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"));
  TBrokerSettings settings;
  settings.CaFile = broker.CaFile();
  auto publisher = Publisher(broker.TlsUrl(), QStringLiteral("vexa/test"), settings);
  publisher->Start();
  publisher->PublishRead(*Register("D001C000R002", rtINT, QStringLiteral("7")));
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/test/D001C000R002")).size() == 1; }, 4000))
      << publisher->StateText().toStdString();
  EXPECT_EQ(Json(sub.On(QStringLiteral("vexa/test/D001C000R002"))[0].Payload)
                .value(QStringLiteral("value"))
                .toInt(),
            7);

  // Without the test's certificate the broker is not trusted and nothing goes out.
  TBrokerSettings untrusted;
  untrusted.CaFile = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
  auto stranger = Publisher(broker.TlsUrl(), QStringLiteral("vexa/stranger"), untrusted);
  stranger->Start();
  RunEventsUntil([] { return false; }, 400);
  EXPECT_NE(stranger->State(), TBrokerState::Connected);
  EXPECT_TRUE(sub.On(QStringLiteral("vexa/stranger/service/status")).empty());
}

TEST_F(PublisherTest, AWrongPasswordIsRefusedAndToldOnce) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TSubscriber sub(broker.Port, QStringLiteral("vexa/#"), QStringLiteral("line"), QStringLiteral("secret"));
  TBrokerSettings settings;
  settings.User = QStringLiteral("line");
  settings.Password = QStringLiteral("wrong");
  auto publisher = Publisher(broker.Url(), QStringLiteral("vexa/test"), settings);
  publisher->Start();
  ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Refused; }));
  RunEventsUntil([] { return false; }, 500);  // several more attempts
  EXPECT_EQ(News.filter(QStringLiteral("отказал")).size(), 1) << News.join('\n').toStdString();
  EXPECT_TRUE(publisher->StateText().contains(QStringLiteral("пароль")))
      << publisher->StateText().toStdString();
  EXPECT_TRUE(sub.On(QStringLiteral("vexa/test/service/status")).empty());

  TBrokerSettings right = settings;
  right.Password = QStringLiteral("secret");
  auto good = Publisher(broker.Url(), QStringLiteral("vexa/good"), right);
  good->Start();
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/good/service/status")).size() == 1; }, 3000));
}

TEST(BrokerConnectionCheckTest, SaysWhetherTheBrokerTakesTheseSettings) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TBrokerSettings s;
  s.Url = broker.Url();
  s.User = QStringLiteral("line");
  s.Password = QStringLiteral("secret");
  const TConnectionCheck ok = CheckBrokerConnection(s, 3000);
  EXPECT_TRUE(ok.Ok) << ok.Text.toStdString();
  EXPECT_EQ(ok.Text, QStringLiteral("MQTT: брокер 127.0.0.1:%1 принимает соединение").arg(broker.Port));

  s.Password = QStringLiteral("wrong");
  const TConnectionCheck refused = CheckBrokerConnection(s, 3000);
  EXPECT_FALSE(refused.Ok);
  EXPECT_TRUE(refused.Text.contains(QStringLiteral("отказал"))) << refused.Text.toStdString();

  broker.Stop();
  s.Password = QStringLiteral("secret");
  const TConnectionCheck away = CheckBrokerConnection(s, 1000);
  EXPECT_FALSE(away.Ok);
  EXPECT_EQ(away.Text, QStringLiteral("MQTT: нет связи с 127.0.0.1:%1").arg(broker.Port));

  s.Url = QStringLiteral("tcp://broker");
  EXPECT_TRUE(CheckBrokerConnection(s).Text.contains(QStringLiteral("не подходит")));
}

class RemoteWriteTest : public PublisherTest {
 protected:
  void SetUp() override {
    PublisherTest::SetUp();
    Settings()->SetDemo(true);
    // Read once, as the poller would have: the register knows its type and rights.
    for (const char* name : {"D000C000R002", "D000C000R003"}) {
      auto* reg = new TRegisterNode(Net().get());
      reg->SetName(QString::fromLatin1(name));
      reg->StringData(Line());
    }
    // A set point with one decimal that may be written, and a measured value that may not.
    Reg("D000C000R002")->SetDigits(1);
    Reg("D000C000R002")->SetUserCanWRITE(true);
    Reg("D000C000R003")->SetUserCanWRITE(false);
  }
  TRegisterNode* Reg(const char* name) const {
    return dynamic_cast<TRegisterNode*>(FindNode(Net().get(), QString::fromLatin1(name)));
  }
  // A publisher that takes writes, started; its journal rows go to `journal`. Null when it does
  // not connect.
  std::unique_ptr<TBrokerLink> Writing(TMosquitto& broker, std::vector<TRemoteWrite>& journal) {
    auto publisher =
        Publisher(broker.Url(), QStringLiteral("vexa/test"), broker.Writing(QStringLiteral("vexa/test")));
    publisher->RemoteWritten = [&journal](const TRemoteWrite& w) { journal.push_back(w); };
    publisher->Start();
    if (!Until([&] { return publisher->State() == TBrokerState::Connected; })) return nullptr;
    return publisher;
  }
  // The answers published for a register's writes that were refused as busy.
  static std::vector<QJsonObject> BusyAnswers(TSubscriber& sub, const char* name) {
    std::vector<QJsonObject> refused;
    for (const TReceived& r : sub.On(QStringLiteral("vexa/test/%1/result").arg(QLatin1String(name))))
      if (Json(r.Payload).value(QStringLiteral("outcome")).toString() == kBusyOutcome)
        refused.push_back(Json(r.Payload));
    return refused;
  }
  // Asks for a write through the broker and returns the result published for it.
  QJsonObject Ask(TSubscriber& sub, const char* name, const QByteArray& payload) {
    const QString result = QStringLiteral("vexa/test/%1/result").arg(QString::fromLatin1(name));
    const size_t before = sub.On(result).size();
    sub.Publish(QStringLiteral("vexa/test/%1/set").arg(QString::fromLatin1(name)), payload);
    if (!Until([&] { return sub.On(result).size() > before; })) return {};
    return Json(sub.On(result).back().Payload);
  }
};

TEST_F(RemoteWriteTest, AWriteIsMadeWhereTheChannelTableWouldMakeIt) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"), QStringLiteral("line"),
                  QStringLiteral("secret"));
  const TBrokerSettings settings = broker.Writing(QStringLiteral("vexa/test"));
  auto publisher = Publisher(broker.Url(), QStringLiteral("vexa/test"), settings);
  std::vector<TRemoteWrite> journal;
  publisher->RemoteWritten = [&](const TRemoteWrite& w) { journal.push_back(w); };
  publisher->Start();
  ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Connected; }));

  const QJsonObject written = Ask(sub, "D000C000R002", R"({"value": 31.5, "user": "dispatcher"})");
  EXPECT_EQ(written.value(QStringLiteral("ok")), QJsonValue(true))
      << QJsonDocument(written).toJson().toStdString();
  EXPECT_EQ(written.value(QStringLiteral("outcome")).toString(), QStringLiteral("written"));
  // Written on the line (the simulator keeps whole numbers).
  EXPECT_GT(Reg("D000C000R002")->WRTime(), 0);
  EXPECT_TRUE(Reg("D000C000R002")->LastStringData().startsWith(QLatin1String("31")));
  // A bare value with a point, as programs write numbers.
  EXPECT_EQ(Ask(sub, "D000C000R002", "32.5").value(QStringLiteral("outcome")).toString(),
            QStringLiteral("written"));

  const QJsonObject readOnly = Ask(sub, "D000C000R003", "12");
  EXPECT_EQ(readOnly.value(QStringLiteral("ok")), QJsonValue(false));
  EXPECT_EQ(readOnly.value(QStringLiteral("outcome")).toString(),
            QStringLiteral("refused: the register is read-only"));

  const QJsonObject outOfRange = Ask(sub, "D000C000R002", "99999");
  EXPECT_EQ(outOfRange.value(QStringLiteral("outcome")).toString(),
            QStringLiteral("refused: the register cannot take this value"));
  EXPECT_TRUE(Reg("D000C000R002")->LastStringData().startsWith(QLatin1String("32")));

  const QJsonObject unknown = Ask(sub, "D009C000R002", "1");
  EXPECT_EQ(unknown.value(QStringLiteral("outcome")).toString(), QStringLiteral("refused: no such register"));

  // Every request reached the journal's hook, with the writer's name where the message gave one.
  ASSERT_EQ(journal.size(), 5u);
  EXPECT_TRUE(journal[0].Written);
  EXPECT_EQ(journal[0].User, QStringLiteral("dispatcher"));
  EXPECT_EQ(journal[0].Register, QStringLiteral("D000C000R002"));
  EXPECT_TRUE(journal[1].Written);
  EXPECT_EQ(journal[1].User, QString());
  EXPECT_FALSE(journal[2].Written);
}

// Joined to the network's alarms as the program and vexa-cli run join them: each write asked, made
// or refused, is an event of the journal on disk and of ROOT/alarms, with its writer and outcome.
TEST_F(RemoteWriteTest, EveryWriteAskedIsAnEventOfTheAlarmJournal) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"), QStringLiteral("line"),
                  QStringLiteral("secret"));
  const TBrokerSettings settings = broker.Writing(QStringLiteral("vexa/test"));
  Reg("D000C000R002")->SetCaption(QStringLiteral("Уставка"));
  TAlarmMonitor alarms(Current());
  ASSERT_TRUE(alarms.Open().Texts().isEmpty());
  auto publisher = Publisher(broker.Url(), QStringLiteral("vexa/test"), settings);
  const int ticket = publisher->JoinAlarms(alarms);
  // The journal is written where the alarms are: on the main thread.
  const std::thread::id main = std::this_thread::get_id();
  std::vector<std::thread::id> threads;
  alarms.Observe([&threads](const TAlarmEvent&) { threads.push_back(std::this_thread::get_id()); });
  publisher->Start();
  ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Connected; }));

  EXPECT_EQ(Ask(sub, "D000C000R002", R"({"value": 31.5, "user": "dispatcher"})")
                .value(QStringLiteral("outcome"))
                .toString(),
            QStringLiteral("written"));
  EXPECT_EQ(Ask(sub, "D000C000R003", "12").value(QStringLiteral("outcome")).toString(),
            QStringLiteral("refused: the register is read-only"));
  ASSERT_TRUE(Until([&] { return sub.On(QStringLiteral("vexa/test/service/alarms")).size() == 2; }));
  alarms.Forget(ticket);
  publisher->Stop();
  EXPECT_EQ(threads, (std::vector<std::thread::id>{main, main}));

  // In the journal's file, as vexa-cli alarms reads it.
  TAlarmJournal journal;
  ASSERT_TRUE(journal.Open(AlarmJournalPath(Dir->path()), true)) << journal.ErrorText().toStdString();
  const std::vector<TAlarmEvent> events = journal.Query();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Name, QStringLiteral("D000C000R002"));
  EXPECT_EQ(events[0].Caption, QStringLiteral("Уставка"));
  EXPECT_EQ(events[0].Asked, QStringLiteral("31") + FormatSettings().DecimalSeparator + QStringLiteral("5"));
  EXPECT_EQ(events[0].Who, QStringLiteral("dispatcher"));
  EXPECT_EQ(events[0].Outcome, QStringLiteral("written"));
  EXPECT_EQ(events[1].Name, QStringLiteral("D000C000R003"));
  EXPECT_EQ(events[1].Asked, QStringLiteral("12"));
  EXPECT_EQ(events[1].Who, kWhoBroker) << "the message named no one";
  EXPECT_EQ(events[1].Outcome, QStringLiteral("refused: the register is read-only"));

  const auto published = sub.On(QStringLiteral("vexa/test/service/alarms"));
  const QJsonObject made = Json(published[0].Payload);
  EXPECT_EQ(made.value(QStringLiteral("kind")).toString(), QStringLiteral("write"));
  EXPECT_EQ(made.value(QStringLiteral("user")).toString(), QStringLiteral("dispatcher"));
  EXPECT_EQ(made.value(QStringLiteral("ok")), QJsonValue(true));
  EXPECT_EQ(made.value(QStringLiteral("outcome")).toString(), QStringLiteral("written"));
  EXPECT_FALSE(made.contains(QStringLiteral("condition"))) << published[0].Payload.toStdString();
  const QJsonObject refused = Json(published[1].Payload);
  EXPECT_EQ(refused.value(QStringLiteral("user")).toString(), QStringLiteral("mqtt"));
  EXPECT_EQ(refused.value(QStringLiteral("ok")), QJsonValue(false));
  EXPECT_EQ(refused.value(QStringLiteral("asked")).toString(), QStringLiteral("12"));
  EXPECT_EQ(refused.value(QStringLiteral("value")), QJsonValue(12)) << "typed as the register's values";
}

// What a client puts in its message is bounded in the journal, and a blank name is no name.
TEST(RemoteWriteEventTest, TheWritersTextsAreBounded) {
  TRemoteWrite w;
  w.Register = QStringLiteral("D000C000R002");
  w.Value = QString(5000, QLatin1Char('9'));
  w.User = QStringLiteral("   ");
  w.Outcome = OutcomeWord(TWriteOutcome::Invalid);
  const TAlarmEvent e = RemoteWriteEvent(w);
  EXPECT_EQ(e.Kind, TAlarmEventKind::RemoteWrite);
  EXPECT_EQ(e.Who, kWhoBroker);
  EXPECT_EQ(e.Asked.size(), 100);
  w.User = QString(300, QLatin1Char('x'));
  EXPECT_EQ(RemoteWriteEvent(w).Who.size(), 100);
}

// Writes off, or on without the broker's authentication: the publisher does not subscribe, so a
// write asked is never heard, answered nor journaled.
TEST_F(RemoteWriteTest, WritesAreNotEvenHeardWhenOffOrWithoutAuthentication) {
  TMosquitto broker;
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"));
  const QString before = Reg("D000C000R002")->LastStringData();
  TBrokerSettings anonymous;
  anonymous.Writes = true;  // the settings check refuses this; the publisher refuses it too
  for (const TBrokerSettings& settings : {TBrokerSettings{}, anonymous}) {
    auto publisher = Publisher(broker.Url(), QStringLiteral("vexa/test"), settings);
    int journaled = 0;
    publisher->RemoteWritten = [&journaled](const TRemoteWrite&) { ++journaled; };
    publisher->Start();
    ASSERT_TRUE(Until([&] { return publisher->State() == TBrokerState::Connected; }));
    sub.Publish(QStringLiteral("vexa/test/D000C000R002/set"), "30");
    // A read published after the write was asked arrives after the write would have been heard.
    const size_t reads = sub.On(QStringLiteral("vexa/test/D000C000R003")).size();
    publisher->PublishRead(*Reg("D000C000R003"));
    ASSERT_TRUE(Until([&] { return sub.On(QStringLiteral("vexa/test/D000C000R003")).size() > reads; }));
    RunEventsUntil([] { return false; }, 300);
    EXPECT_TRUE(sub.On(QStringLiteral("vexa/test/D000C000R002/result")).empty());
    EXPECT_EQ(journaled, 0);
    EXPECT_EQ(Reg("D000C000R002")->LastStringData(), before);
    publisher->Stop();
  }
}

// A flood of writes: the queue takes kRemoteWriteBound, each one more is answered "refused: busy"
// at once, with what it asked cut to the journal's bound, and the burst is one row of the journal.
TEST_F(RemoteWriteTest, AFloodOfWritesIsRefusedAsBusyBeyondTheQueueAndJournaledOncePerBurst) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"), QStringLiteral("line"),
                  QStringLiteral("secret"));
  // Writes made (each holds the line 100 ms), and writes refused (no line, but a journal row each).
  const std::pair<const char*, QString> cases[] = {{"D000C000R002", OutcomeWord(TWriteOutcome::Written)},
                                                   {"D000C000R003", OutcomeWord(TWriteOutcome::ReadOnly)}};
  for (const auto& [name, outcome] : cases) {
    std::vector<TRemoteWrite> journal;
    const auto publisher = Writing(broker, journal);
    ASSERT_NE(publisher, nullptr);

    constexpr int kAsked = 400;
    const QString set = QStringLiteral("vexa/test/%1/set").arg(QLatin1String(name));
    // The huge one first: it is served first and refused for itself, whatever the flood behind it
    // (asked last, it waited for the queue or was refused as busy, as fast as it was read).
    const QByteArray huge(2 * 1024 * 1024, '7');
    sub.Publish(set, huge);
    for (int i = 0; i < kAsked; ++i) sub.Publish(set, "30");
    const QString result = QStringLiteral("vexa/test/%1/result").arg(QLatin1String(name));
    const auto busy = [&] { return BusyAnswers(sub, name); };
    // The huge one is answered (refused) with what it asked cut to the journal's bound; far fewer
    // are served meanwhile than are asked beyond the queue.
    const auto hugeAnswer = [&]() -> std::optional<QJsonObject> {
      for (const TReceived& r : sub.On(result))
        if (Json(r.Payload).value(QStringLiteral("asked")).toString().startsWith(QLatin1Char('7')))
          return Json(r.Payload);
      return std::nullopt;
    };
    ASSERT_TRUE(Until([&] { return hugeAnswer().has_value(); }, 10000))
        << name << ": " << sub.On(result).size() << " answers, " << busy().size() << " busy, "
        << publisher->WritesWaiting() << " waiting";
    EXPECT_EQ(hugeAnswer()->value(QStringLiteral("asked")).toString(),
              QString(kLongestRemoteText, QLatin1Char('7')));
    EXPECT_EQ(hugeAnswer()->value(QStringLiteral("ok")), QJsonValue(false));
    const auto fewest = static_cast<size_t>(kAsked + 1 - kRemoteWriteBound - 40);
    // Refusals are paced (20 ms each): under the thread checker the burst takes a while.
    EXPECT_TRUE(Until([&] { return busy().size() >= fewest; }, 30000)) << name;
    const std::vector<QJsonObject> refused = busy();
    EXPECT_GE(refused.size(), fewest) << name;
    EXPECT_LE(publisher->WritesWaiting(), kRemoteWriteBound);
    publisher->Stop();
    const auto journaledBusy = std::count_if(journal.begin(), journal.end(),
                                             [](const TRemoteWrite& w) { return w.Outcome == kBusyOutcome; });
    EXPECT_EQ(journaledBusy, 1) << name << ": one row for the burst";
    // Each taken from the queue was served and told; the huge one refused for its length, cut.
    for (const TRemoteWrite& w : journal) {
      if (w.Value.startsWith(QLatin1Char('7'))) {
        EXPECT_FALSE(w.Written) << name;
        EXPECT_EQ(w.Value.size(), kLongestRemoteText) << name;
      } else if (w.Outcome != kBusyOutcome) {
        EXPECT_EQ(w.Outcome, outcome) << name;
      }
    }
  }
}

// A run ends (HoldWrites, then the journal's last flush) before the main thread has served a burst
// its session already refused: the refusal was answered, so its row is in the journal all the same.
TEST_F(RemoteWriteTest, ABurstRefusedJustBeforeTheRunEndsIsStillJournaled) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"), QStringLiteral("line"),
                  QStringLiteral("secret"));
  std::vector<TRemoteWrite> journal;
  const auto publisher = Writing(broker, journal);
  ASSERT_NE(publisher, nullptr);
  for (int i = 0; i < kRemoteWriteBound + 20; ++i)
    sub.Publish(QStringLiteral("vexa/test/D000C000R002/set"), "30");
  // Waited for without running the main thread's events: nothing is served meanwhile.
  ASSERT_TRUE(WaitFor([&] { return !BusyAnswers(sub, "D000C000R002").empty(); }, 10000));
  publisher->HoldWrites();
  const auto journaledBusy = std::count_if(journal.begin(), journal.end(),
                                           [](const TRemoteWrite& w) { return w.Outcome == kBusyOutcome; });
  EXPECT_EQ(journaledBusy, 1);
  publisher->Stop();
}

// A name that makes no topic as it stands is published by the topic rule, nothing refused.
TEST_F(PublisherTest, NamesThatMakeNoTopicArePublishedByTheRule) {
  TMosquitto broker;
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"));
  auto publisher = Publisher(broker.Url());
  publisher->Start();
  TReportNode report(nullptr);
  report.SetCaption(QStringLiteral("Котел"));
  publisher->PublishArchive(report, QStringLiteral("Котел #1"));
  publisher->PublishArchive(report, QStringLiteral("Печь+сушка"));
  TRegisterNode* reg = Register("D001C000R002", rtINT, QStringLiteral("5"));
  reg->SetName(QStringLiteral("цех/печь"));
  publisher->PublishRead(*reg);
  for (const char* topic :
       {"vexa/test/service/archives/Котел _1", "vexa/test/service/archives/Печь_сушка", "vexa/test/цех_печь"})
    EXPECT_TRUE(Until([&] { return sub.On(QString::fromUtf8(topic)).size() == 1; })) << topic;
  EXPECT_EQ(publisher->Refused(), 0);
}

class PublishedTimeTest : public RemoteWriteTest {};

// Two reads in the autumn hour whose local times come twice, an hour apart: each is published as
// the instant it was read, not as the same local time with the offset of another hour.
TEST_F(PublishedTimeTest, AReadInTheRepeatedAutumnHourIsItsTrueInstant) {
  TMosquitto broker;
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/+"));
  const TZone zone("Europe/Berlin");
  auto clock = std::make_unique<TFakeClock>();
  TFakeClock& fake = *clock;
  // The instant the fake clock stands for: `base` when it was set, moved on by its tick since.
  int64_t base = 0;
  int64_t baseTick = 0;
  TBrokerSettings settings;
  settings.Url = broker.Url();
  TBrokerOptions options = BrokerOptionsFor(settings, Dir->path());
  options.TopicRoot = QStringLiteral("vexa/test");
  options.UtcNowMs = [&fake, &base, &baseTick] { return base + (fake.TickMs() - baseTick); };
  TBrokerLink publisher(*Network, options);
  publisher.Start();
  ASSERT_TRUE(Until([&] { return publisher.State() == TBrokerState::Connected; }));

  std::unique_ptr<TClock> real = std::exchange(Services().Clock, std::move(clock));
  std::vector<int64_t> truth;
  // 02:30 local, summer time (00:30 UTC), then 02:30 local again, winter time (01:30 UTC).
  for (const char* iso : {"2026-10-25T00:30:00Z", "2026-10-25T01:30:00Z"}) {
    base = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
    fake.SetNow(LocalOf(base));
    baseTick = fake.TickMs();
    TRegisterNode* reg = Reg("D000C000R002");
    reg->StringData(Line());
    truth.push_back(base + std::llround((reg->RDTime() - LocalOf(base)) * 86400000.0));
    publisher.PublishRead(*reg);
  }
  Services().Clock = std::move(real);
  const QString topic = QStringLiteral("vexa/test/D000C000R002");
  ASSERT_TRUE(Until([&] { return sub.On(topic).size() >= 2; }));
  const auto got = sub.On(topic);
  for (size_t i = 0; i < 2; ++i) {
    const QString time = Json(got[got.size() - 2 + i].Payload).value(QStringLiteral("time")).toString();
    const int64_t published = QDateTime::fromString(time, Qt::ISODateWithMs).toMSecsSinceEpoch();
    EXPECT_LE(std::llabs(published - truth[i]), 1000) << time.toStdString();
  }
  publisher.Stop();
}

// A regulator with two channels of the simulator's pressure type, as a search leaves them: each
// level has its caption, the registers their types, decimals, rights and units.
class PlacedRegistersTest : public RemoteWriteTest {
 protected:
  void SetUp() override {
    RemoteWriteTest::SetUp();
    TRootNode& regulator = AddRegulatorNode(*Net(), 1, QStringLiteral("Котельная"));
    for (int c = 0; c < 2; ++c) {
      TRootNode& channel = AddChannelNode(regulator, c, QStringLiteral("Котел %1").arg(c + 1));
      for (const TSimRegisterDef& def : SimulatedChannel(1)) {
        auto* reg = &AddRegisterNode(channel, def.Register);
        ApplySimulatedRegister(*reg, def);
        auto* label = new TLabelDisplay(reg);
        label->SetUnits(def.Register <= 2 ? QStringLiteral("бар") : QStringLiteral("м3/ч"));
        reg->StringData(Line());
      }
    }
  }
  std::unique_ptr<TBrokerLink> Link(TBrokerSettings settings) {
    settings.Discovery = true;
    auto link = Publisher(settings.Url, QStringLiteral("vexa/test"), settings);
    link->Start();
    EXPECT_TRUE(Until([&] { return link->State() == TBrokerState::Connected; }));
    return link;
  }
};

// R/+ is the values alone, each of one JSON type whatever it reads and named by its place; the
// service's own topics are under R/service/.
TEST_F(PlacedRegistersTest, TheValuesLevelHoldsValuesAloneEachTypedAndPlaced) {
  TMosquitto broker;
  TSubscriber values(broker.Port, QStringLiteral("vexa/test/+"));
  TSubscriber service(broker.Port, QStringLiteral("vexa/test/service/#"));
  TBrokerSettings settings;
  settings.Url = broker.Url();
  auto link = Link(settings);
  // A whole number read by a register of two decimals, and a Boolean.
  Reg("D001C001R001")->SetLastStringData(QStringLiteral("35"));
  Reg("D001C001R004")->SetLastStringData(QStringLiteral("1"));
  for (const char* name : {"D001C000R001", "D001C001R001", "D001C001R004", "D000C000R002"})
    link->PublishRead(*Reg(name));
  TAlarmEvent alarm;
  alarm.Kind = TAlarmEventKind::Raised;
  alarm.Name = QStringLiteral("D001C001R001");
  link->PublishAlarmEvent(alarm);
  TReportNode report(nullptr);
  link->PublishArchive(report, QStringLiteral("Котел"));
  ASSERT_TRUE(Until([&] { return values.Received().size() >= 4 && service.Received().size() >= 3; }));
  link->Stop();

  for (const TReceived& r : values.Received()) {
    const QJsonObject o = Json(r.Payload);
    EXPECT_TRUE(o.contains(QStringLiteral("value")) && o.contains(QStringLiteral("ok")))
        << r.Topic.toStdString();
  }
  const QByteArray pressure = values.On(QStringLiteral("vexa/test/D001C001R001")).at(0).Payload;
  EXPECT_TRUE(pressure.startsWith(R"({"value":35.00,)")) << pressure.toStdString();
  const QJsonObject p = Json(pressure);
  EXPECT_EQ(p.value(QStringLiteral("caption")).toString(), QStringLiteral("Давление"));
  EXPECT_EQ(p.value(QStringLiteral("channel")).toString(), QStringLiteral("Котел 2"));
  EXPECT_EQ(Json(values.On(QStringLiteral("vexa/test/D001C001R004")).at(0).Payload).value("units").toString(),
            QStringLiteral("м³/ч"))
      << "as the label shows them";
  EXPECT_EQ(p.value(QStringLiteral("regulator")).toString(), QStringLiteral("Котельная"));
  EXPECT_EQ(p.value(QStringLiteral("type")).toString(), QStringLiteral("number"));
  EXPECT_EQ(
      Json(values.On(QStringLiteral("vexa/test/D001C000R001")).at(0).Payload).value(QLatin1String("channel")),
      QJsonValue(QStringLiteral("Котел 1")));
  EXPECT_EQ(
      Json(values.On(QStringLiteral("vexa/test/D001C001R004")).at(0).Payload).value(QLatin1String("value")),
      QJsonValue(true));
  // A register right under NET has no place.
  EXPECT_EQ(Json(values.On(QStringLiteral("vexa/test/D000C000R002")).at(0).Payload)
                .value(QLatin1String("regulator")),
            QJsonValue(QString()));
  ASSERT_FALSE(values.On(QStringLiteral("vexa/test/service")).size());
  EXPECT_EQ(service.On(QStringLiteral("vexa/test/service/status")).at(0).Payload, "online");
  EXPECT_EQ(service.On(QStringLiteral("vexa/test/service/alarms")).size(), 1u);
  EXPECT_EQ(service.On(QStringLiteral("vexa/test/service/archives/Котел")).size(), 1u);
}

// What switches and dashboards send is taken: true/false, 1/0, "on"/"off", and numbers with a
// point; the result tells the value as written, typed, with the writer the journal names.
TEST_F(PlacedRegistersTest, WritesTakeWhatSwitchesSendAndTellTheValueAsWritten) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TSubscriber sub(broker.Port, QStringLiteral("vexa/test/#"), QStringLiteral("line"),
                  QStringLiteral("secret"));
  auto link = Link(broker.Writing(QStringLiteral("vexa/test")));
  const struct {
    const char* name;
    QByteArray asked;
    const char* outcome;
    QJsonValue value;
  } cases[] = {
      {"D001C000R004", "true", "written", true},
      {"D001C000R004", R"({"value": false})", "written", false},
      {"D001C000R004", "ON", "written", true},
      {"D001C000R004", R"({"value": "off"})", "written", false},
      {"D001C000R004", "1", "written", true},
      {"D001C000R004", "maybe", "refused: the register cannot take this value", QJsonValue::Null},
      {"D000C000R002", "36.55", "written", 36.6},
      {"D000C000R002", R"({"value": 36.45})", "written", 36.4},
      {"D001C000R002", "2,5", "written", 2.5},
  };
  for (const auto& c : cases) {
    const QJsonObject result = Ask(sub, c.name, c.asked);
    EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), QLatin1String(c.outcome))
        << c.asked.toStdString();
    EXPECT_EQ(result.value(QStringLiteral("value")), c.value) << c.asked.toStdString();
    EXPECT_EQ(result.value(QStringLiteral("user")).toString(), kWhoBroker);
  }
  EXPECT_EQ(Reg("D001C000R004")->LastStringData(), QStringLiteral("1"));
}

// With discovery on, each register has one retained config Home Assistant takes: its required keys,
// its topics there on the broker; a register that leaves the network leaves no value and no config.
TEST_F(PlacedRegistersTest, DiscoveryConfigsAndNothingLeftOfARegisterGone) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  TSubscriber configs(broker.Port, QStringLiteral("homeassistant/#"), QStringLiteral("line"),
                      QStringLiteral("secret"));
  TSubscriber values(broker.Port, QStringLiteral("vexa/test/+"), QStringLiteral("line"),
                     QStringLiteral("secret"));
  auto link = Link(broker.Writing(QStringLiteral("vexa/test")));
  const QStringList names{"D001C000R001", "D001C000R002", "D001C000R003", "D001C000R004"};
  for (const QString& name : names) link->PublishRead(*Reg(name.toLatin1().constData()));
  ASSERT_TRUE(Until([&] { return values.Received().size() == 4; }));
  const auto config = [&](const char* component, const char* name) {
    const QString topic =
        QStringLiteral("homeassistant/%1/%2/%3/config")
            .arg(QLatin1String(component), QString::fromLatin1(DiscoveryId(QStringLiteral("vexa/test"))),
                 QLatin1String(name));
    return configs.On(topic);
  };
  ASSERT_TRUE(Until([&] { return !config("switch", "D001C001R004").empty(); }));
  const struct {
    const char* component;
    const char* name;
    const char* units;
  } expected[] = {{"sensor", "D001C000R001", "bar"},
                  {"number", "D001C000R002", "bar"},
                  {"sensor", "D001C000R003", "m³/h"},
                  {"switch", "D001C000R004", nullptr}};
  // As Home Assistant reads them: from the broker, retained, by a client that comes later.
  TSubscriber ha(broker.Port, QStringLiteral("#"), QStringLiteral("line"), QStringLiteral("secret"));
  for (const auto& e : expected) {
    const auto got = config(e.component, e.name);
    ASSERT_EQ(got.size(), 1u) << e.name;
    const QJsonObject o = Json(got[0].Payload);
    for (const char* key :
         {"unique_id", "state_topic", "value_template", "availability_topic", "device", "name"})
      EXPECT_TRUE(o.contains(QLatin1String(key))) << e.name << " " << key;
    EXPECT_EQ(o.value(QLatin1String("device")).toObject().value(QLatin1String("name")).toString(),
              QStringLiteral("Котельная"));
    EXPECT_FALSE(
        o.value(QLatin1String("device")).toObject().value(QLatin1String("identifiers")).toArray().isEmpty());
    EXPECT_EQ(o.value(QLatin1String("unit_of_measurement")).toString(), QString::fromUtf8(e.units));
    EXPECT_EQ(o.contains(QLatin1String("command_topic")), QByteArray(e.component) != "sensor") << e.name;
    const QString state = o.value(QLatin1String("state_topic")).toString();
    const QString availability = o.value(QLatin1String("availability_topic")).toString();
    ASSERT_TRUE(Until([&] { return !ha.On(state).empty() && !ha.On(availability).empty(); })) << e.name;
    EXPECT_TRUE(ha.On(state)[0].Retained);
    EXPECT_TRUE(Json(ha.On(state)[0].Payload).contains(QLatin1String("value")));  // what value_template reads
    EXPECT_EQ(ha.On(availability)[0].Payload,
              o.value(QLatin1String("payload_available")).toString().toUtf8());
    if (o.contains(QLatin1String("command_topic"))) {
      EXPECT_EQ(o.value(QLatin1String("command_topic")).toString(), state + QStringLiteral("/set"));
    }
  }
  QSet<QString> ids;
  for (const TReceived& r : configs.Received())
    if (r.Topic.contains(QLatin1String("/D001C")))
      ids.insert(Json(r.Payload).value(QLatin1String("unique_id")).toString());
  EXPECT_EQ(ids.size(), 18) << "one for each register of the regulator's two channels";

  // The register goes (a search, an edit): its value and its config are emptied, retained.
  delete Reg("D001C000R003");
  link->SweepRetained();
  const QString value = QStringLiteral("vexa/test/D001C000R003");
  const QString gone = config("sensor", "D001C000R003").at(0).Topic;
  ASSERT_TRUE(
      Until([&] { return ha.On(value).size() == 2 && config("sensor", "D001C000R003").size() == 2; }));
  EXPECT_TRUE(ha.On(value)[1].Payload.isEmpty());
  EXPECT_TRUE(config("sensor", "D001C000R003")[1].Payload.isEmpty());
  link->Stop();
  TSubscriber later(broker.Port, QStringLiteral("#"), QStringLiteral("line"), QStringLiteral("secret"));
  ASSERT_TRUE(Until([&] {
    return later.On(QStringLiteral("vexa/test/D001C000R002")).size() == 1 &&
           !later.On(QStringLiteral("vexa/test/service/status")).empty();
  }));
  EXPECT_TRUE(later.On(value).empty());
  EXPECT_TRUE(later.On(gone).empty());
}

// A register removed while the link was away (the service stopped for a search) left its value
// and config retained: the link empties them when it connects, and leaves those of the network's.
TEST_F(PlacedRegistersTest, WhatARegisterRemovedMeanwhileLeftIsEmptiedOnConnecting) {
  TMosquitto broker;
  TSubscriber sub(broker.Port, QStringLiteral("#"));
  const QString node = QString::fromLatin1(DiscoveryId(QStringLiteral("vexa/test")));
  const QString goneValue = QStringLiteral("vexa/test/D009C000R001");
  const QString goneConfig = QStringLiteral("homeassistant/sensor/%1/D009C000R001/config").arg(node);
  const QString keptValue = QStringLiteral("vexa/test/D001C000R001");
  const QString otherRoot = QStringLiteral("vexa/other/D009C000R001");
  for (const QString& topic : {goneValue, goneConfig, keptValue, otherRoot}) sub.Publish(topic, "{}", true);
  ASSERT_TRUE(Until([&] { return sub.On(otherRoot).size() == 1; }));
  TBrokerSettings settings;
  settings.Url = broker.Url();
  auto link = Link(settings);
  ASSERT_TRUE(Until([&] { return sub.On(goneValue).size() == 2 && sub.On(goneConfig).size() == 2; }));
  EXPECT_TRUE(sub.On(goneValue)[1].Payload.isEmpty());
  EXPECT_TRUE(sub.On(goneConfig)[1].Payload.isEmpty());
  link->Stop();
  EXPECT_EQ(sub.On(keptValue).size(), 1u) << "a register of the network keeps its value";
  EXPECT_EQ(sub.On(otherRoot).size(), 1u) << "another root is another link's";
}

}  // namespace
}  // namespace vexa::test
