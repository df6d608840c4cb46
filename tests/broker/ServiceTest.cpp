// vexa-cli run as the line's service with a broker: until SIGTERM with the state saved and
// "offline" left behind, the last will when it is killed, a report's archive announced, and the
// writes asked through the broker journaled.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>

#include "broker/BrokerSettings.h"
#include "core/ImageIndex.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "tests/broker/MosquittoBroker.h"

namespace vexa::test {
namespace {

// A program folder whose NET holds one register of the simulated network, read every second, and
// written too when `writable`.
void PrepareFolder(const QString& dir, const QString& reports = {}, bool writable = false) {
  QMap<QString, QString> texts{
      {"NET", QStringLiteral("TRootNode NET Caption='Сеть'\n"
                             "  TRootNode D000 Caption='Печь'\n"
                             "    TRootNode D000C000 Caption='Зона 1'\n"
                             "      TRegisterNode D000C000R004 Caption='Уставка' "
                             "RegisterType=rtINT LoggingInterval=1 Enabled=True%1\n")
                  .arg(writable ? QStringLiteral(" UserCanWRITE=True") : QString())}};
  if (!reports.isEmpty()) texts.insert(QStringLiteral("REPORTS"), reports);
  QDir(dir).mkdir(QStringLiteral("Config"));
  for (auto it = texts.begin(); it != texts.end(); ++it) {
    const QString path = QDir(dir).filePath(it.key() + ".txt");
    QFile text(path);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(it.value().toUtf8());
    text.close();
    QString err;
    ASSERT_EQ(
        RunChild(QStringLiteral(VEXA_CLI_PATH), {"load", path, ConfigFilePath(dir, it.key())}, nullptr, &err),
        0)
        << err.toStdString();
  }
}

class ServiceTest : public ::testing::Test {
 protected:
  void StartService() {
    cli_ = std::make_unique<TChildProcess>(QStringLiteral(VEXA_CLI_PATH),
                                           QStringList{"--demo", "--dir", dir_.path(), "run", "--mqtt",
                                                       broker_.Url(), "--topic-root", "vexa/svc"});
  }

  QTemporaryDir dir_;
  TMosquitto broker_;
  std::unique_ptr<TChildProcess> cli_;
};

TEST_F(ServiceTest, UntilSigtermThenSavedAndOffline) {
  PrepareFolder(dir_.path());
  TSubscriber sub(broker_.Port, QStringLiteral("vexa/svc/#"));
  StartService();
  ASSERT_TRUE(WaitFor([&] { return !sub.On(QStringLiteral("vexa/svc/D000C000R004")).empty(); }, 5000))
      << cli_->Err().toStdString();
  EXPECT_EQ(sub.On(QStringLiteral("vexa/svc/service/status"))[0].Payload, "online");
  const QJsonObject value =
      QJsonDocument::fromJson(sub.On(QStringLiteral("vexa/svc/D000C000R004"))[0].Payload).object();
  EXPECT_EQ(value.value(QStringLiteral("caption")).toString(), QStringLiteral("Уставка"));
  EXPECT_TRUE(value.value(QStringLiteral("value")).isDouble());

  cli_->Signal(SIGTERM);
  ASSERT_TRUE(cli_->Wait(5000));
  EXPECT_EQ(cli_->Code(), 0) << cli_->Err().toStdString();
  EXPECT_TRUE(cli_->Out().contains(QStringLiteral("отработано: до остановки; состояние сохранено")))
      << cli_->Out().toStdString();
  const QString log = cli_->Err();
  EXPECT_TRUE(log.contains(QStringLiteral("MQTT: подключен к 127.0.0.1"))) << log.toStdString();
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/svc/service/status")).size() == 2; }, 3000));
  EXPECT_EQ(sub.On(QStringLiteral("vexa/svc/service/status"))[1].Payload, "offline");
  // The state as at exit: the register's history went into NET.cfg.
  EXPECT_TRUE(QFileInfo(ConfigFilePath(dir_.path(), QStringLiteral("NET"))).lastModified() >
              QDateTime::currentDateTime().addSecs(-10));
}

TEST_F(ServiceTest, KilledTheBrokerTellsItsLastWill) {
  PrepareFolder(dir_.path());
  TSubscriber sub(broker_.Port, QStringLiteral("vexa/svc/service/status"));
  StartService();
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/svc/service/status")).size() == 1; }, 5000));
  cli_->Signal(SIGKILL);
  ASSERT_TRUE(cli_->Wait(3000));
  EXPECT_TRUE(cli_->Killed());
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/svc/service/status")).size() == 2; }, 3000));
  EXPECT_EQ(sub.On(QStringLiteral("vexa/svc/service/status"))[1].Payload, "offline");
  // Retained: who asks later learns the line is down.
  TSubscriber later(broker_.Port, QStringLiteral("vexa/svc/service/status"));
  ASSERT_TRUE(WaitFor([&] { return later.On(QStringLiteral("vexa/svc/service/status")).size() == 1; }, 3000));
  EXPECT_EQ(later.On(QStringLiteral("vexa/svc/service/status"))[0].Payload, "offline");
}

TEST_F(ServiceTest, EachArchivedWindowIsAnnouncedWithItsReportAndSamples) {
  // 1-minute windows of 3-second samples from 9:00, on the virtual clock.
  PrepareFolder(dir_.path(),
                QStringLiteral("TRootNode REPORTS Caption='Отчеты'\n"
                               "  TReportNode R0 Caption='Печь' ImageIndex=%1 Enabled=True"
                               " StartPoint=46363.375 LastPoint=46363.375694444444 LoggingIntervalIndex=1"
                               " LoggingDurationIndex=0 MaxCount=20\n"
                               "    TRegisterNode D000C000R004 Caption='Уставка' RegisterType=rtINT"
                               " MaxCount=20 Enabled=True\n")
                    .arg(iiPLAY));
  TSubscriber sub(broker_.Port, QStringLiteral("vexa/svc/service/archives/#"));
  QString err;
  ASSERT_EQ(RunChild(QStringLiteral(VEXA_CLI_PATH),
                     {"--demo", "--dir", dir_.path(), "run", "--seconds", "130", "--virtual-clock",
                      "07.12.2026 9:00:00", "--mqtt", broker_.Url(), "--topic-root", "vexa/svc"},
                     nullptr, &err),
            0)
      << err.toStdString();
  ASSERT_TRUE(WaitFor([&] { return sub.Received().size() == 2; }, 3000)) << err.toStdString();
  const auto first = sub.On(QStringLiteral("vexa/svc/service/archives/Печь_07_12_2026_0900"));
  ASSERT_EQ(first.size(), 1u);
  const QJsonObject o = QJsonDocument::fromJson(first[0].Payload).object();
  EXPECT_EQ(o.value(QStringLiteral("report")).toString(), QStringLiteral("Печь"));
  EXPECT_EQ(o.value(QStringLiteral("samples")).toInt(), 20);
  EXPECT_TRUE(o.value(QStringLiteral("window"))
                  .toObject()
                  .value(QStringLiteral("start"))
                  .toString()
                  .startsWith(QLatin1String("2026-12-07T09:00:00")));
  EXPECT_EQ(sub.On(QStringLiteral("vexa/svc/service/archives/Печь_07_12_2026_0901")).size(), 1u);
}

// The service with writes allowed: every write asked is in the folder's alarm journal afterwards,
// with the writer the message named (or "mqtt") and what came of it.
TEST(ServiceWritesTest, EachWriteAskedIsJournaledByTheRun) {
  QTemporaryDir dir;
  PrepareFolder(dir.path());
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  const TBrokerSettings settings = broker.Writing(QStringLiteral("vexa/svc"));
  ASSERT_TRUE(SaveBrokerSettings(dir.path(), settings));
  TSubscriber sub(broker.Port, QStringLiteral("vexa/svc/#"), settings.User, settings.Password);
  TChildProcess cli(QStringLiteral(VEXA_CLI_PATH), {"--demo", "--dir", dir.path(), "run"});
  ASSERT_TRUE(WaitFor([&] { return !sub.On(QStringLiteral("vexa/svc/D000C000R004")).empty(); }, 5000))
      << cli.Err().toStdString();
  const auto ask = [&](const QString& name, const QByteArray& payload) {
    const QString result = QStringLiteral("vexa/svc/%1/result").arg(name);
    sub.Publish(QStringLiteral("vexa/svc/%1/set").arg(name), payload);
    EXPECT_TRUE(WaitFor([&] { return sub.On(result).size() == 1; }, 5000)) << cli.Err().toStdString();
    return sub.On(result).empty() ? QString()
                                  : QJsonDocument::fromJson(sub.On(result)[0].Payload)
                                        .object()
                                        .value(QStringLiteral("outcome"))
                                        .toString();
  };
  const QString first = ask(QStringLiteral("D000C000R004"), R"({"value": 30, "user": "dispatcher"})");
  const QString second = ask(QStringLiteral("D009C000R000"), "5");
  EXPECT_EQ(second, QStringLiteral("refused: no such register"));
  ASSERT_TRUE(WaitFor([&] { return sub.On(QStringLiteral("vexa/svc/service/alarms")).size() == 2; }, 3000));
  cli.Signal(SIGTERM);
  ASSERT_TRUE(cli.Wait(5000));
  ASSERT_EQ(cli.Code(), 0) << cli.Err().toStdString();

  QString out, err;
  ASSERT_EQ(RunChild(QStringLiteral(VEXA_CLI_PATH), {"--dir", dir.path(), "alarms"}, &out, &err), 0)
      << err.toStdString();
  const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2) << out.toStdString();
  EXPECT_EQ(lines[0].split(QLatin1Char('\t')).mid(1),
            (QStringList{"D000C000R004", "Уставка", "", "write", "30", "dispatcher", first}));
  EXPECT_EQ(lines[1].split(QLatin1Char('\t')).mid(1),
            (QStringList{"D009C000R000", "", "", "write", "5", "mqtt", second}));
}

// A flood of writes asked while the run serves them one at a time: SIGTERM, and --seconds, still end
// it soon with the state saved, whatever is queued; the journal has the burst's refusal once.
TEST(ServiceWritesTest, AFloodOfWritesDoesNotHoldUpTheStopOrTheSave) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  const TBrokerSettings settings = broker.Writing(QStringLiteral("vexa/svc"));
  for (const bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal ? "SIGTERM" : "--seconds");
    QTemporaryDir dir;
    PrepareFolder(dir.path(), {}, true);
    ASSERT_TRUE(SaveBrokerSettings(dir.path(), settings));
    TSubscriber sub(broker.Port, QStringLiteral("vexa/svc/#"), settings.User, settings.Password);
    QStringList args{"--demo", "--dir", dir.path(), "run"};
    if (!bySignal)
      args << "--seconds"
           << "6";
    TChildProcess cli(QStringLiteral(VEXA_CLI_PATH), args);
    // A live value, not the one the broker kept from the run before: this run is subscribed.
    ASSERT_TRUE(WaitFor(
        [&] {
          const auto values = sub.On(QStringLiteral("vexa/svc/D000C000R004"));
          return std::any_of(values.begin(), values.end(), [](const TReceived& r) { return !r.Retained; });
        },
        5000))
        << cli.Err().toStdString();
    for (int i = 0; i < 2000; ++i) sub.Publish(QStringLiteral("vexa/svc/D000C000R004/set"), "30");
    const QString result = QStringLiteral("vexa/svc/D000C000R004/result");
    const auto answered = [&](const QString& outcome) {
      for (const TReceived& r : sub.On(result))
        if (QJsonDocument::fromJson(r.Payload).object().value(QStringLiteral("outcome")) == outcome)
          return true;
      return false;
    };
    if (bySignal) {
      // A write made, and a busy answer: the queue is full. The broker keeps at most a thousand
      // messages for a slow client, so a count of answers is no sign to wait for.
      ASSERT_TRUE(
          WaitFor([&] { return answered(QStringLiteral("written")) && answered(kBusyOutcome); }, 20000))
          << cli.Err().toStdString();
      cli.Signal(SIGTERM);
    }
    // Served at a write in 200 ms, the queue alone would take most of a minute. Under --seconds a
    // slow machine may end the run before the queue has filled: the end must not wait either way.
    ASSERT_TRUE(cli.Wait(bySignal ? 4000 : 12000)) << "still running with writes queued";
    EXPECT_EQ(cli.Code(), 0) << cli.Err().toStdString();
    EXPECT_TRUE(cli.Out().contains(QStringLiteral("состояние сохранено"))) << cli.Out().toStdString();

    QString out, err;
    ASSERT_EQ(RunChild(QStringLiteral(VEXA_CLI_PATH), {"--dir", dir.path(), "alarms"}, &out, &err), 0)
        << err.toStdString();
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype busyRows = lines.filter(QStringLiteral("refused: busy")).size();
    if (bySignal)
      EXPECT_EQ(busyRows, 1) << out.left(2000).toStdString();
    else
      EXPECT_LE(busyRows, 1) << out.left(2000).toStdString();
    EXPECT_LT(lines.size(), 100) << "the writes made, and one row for the burst";
    EXPECT_GE(lines.filter(QStringLiteral("\twritten")).size(), 1) << out.left(2000).toStdString();
  }
}

TEST_F(ServiceTest, SettingsThatCannotWorkAreRefusedBeforeAnythingRuns) {
  QString err;
  EXPECT_EQ(RunChild(QStringLiteral(VEXA_CLI_PATH),
                     {"--demo", "--dir", dir_.path(), "run", "--seconds", "1", "--mqtt", "http://broker"},
                     nullptr, &err),
            2);
  EXPECT_TRUE(err.contains(QStringLiteral("http://broker"))) << err.toStdString();
}

}  // namespace
}  // namespace vexa::test
