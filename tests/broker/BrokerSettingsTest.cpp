// The broker's settings file: the URL's rule, the checks the settings page shows, and the file
// itself (round trip, owner-only mode, defaults).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "broker/BrokerSettings.h"

namespace vexa::test {
namespace {

int Mode(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

TEST(BrokerUrlTest, MqttAndMqttsWithTheirDefaultPortsOthersRefused) {
  const auto plain = ParseBrokerUrl(QStringLiteral("mqtt://broker.plant.local"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Host, QStringLiteral("broker.plant.local"));
  EXPECT_EQ(plain->Port, 1883);
  EXPECT_FALSE(plain->Tls);
  const auto tls = ParseBrokerUrl(QStringLiteral(" mqtts://10.0.0.5:9883/ "));
  ASSERT_TRUE(tls);
  EXPECT_EQ(tls->Port, 9883);
  EXPECT_TRUE(tls->Tls);
  EXPECT_EQ(ParseBrokerUrl(QStringLiteral("mqtts://broker"))->Port, 8883);
  const auto v6 = ParseBrokerUrl(QStringLiteral("mqtt://[::1]:1884"));
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->Host, QStringLiteral("::1"));
  EXPECT_EQ(v6->Port, 1884);
  for (const char* bad :
       {"", "broker:1883", "http://broker", "mqtt://", "mqtt://broker:0", "mqtt://broker:65536",
        "mqtt://broker:port", "mqtt://broker/vexa", "mqtt://user@broker", "mqtt://bro ker"})
    EXPECT_FALSE(ParseBrokerUrl(QString::fromLatin1(bad))) << bad;
}

TEST(BrokerSettingsTest, ProblemsNameEachFieldThatCannotWork) {
  TBrokerSettings s;
  EXPECT_TRUE(s.Problems().isEmpty()) << "no broker at all is a valid choice";
  s.Url = QStringLiteral("mqtt://broker");
  EXPECT_TRUE(s.Problems().isEmpty());

  TBrokerSettings bad;
  bad.Url = QStringLiteral("tcp://broker");
  bad.Password = QStringLiteral("secret");
  bad.CaFile = QStringLiteral("/nonexistent/ca.pem");
  bad.TopicRoot = QStringLiteral("vexa/#");
  bad.ClientId = QStringLiteral("a+b");
  bad.QueueBound = 0;
  bad.Writes = true;
  const QStringList problems = bad.Problems();
  ASSERT_EQ(problems.size(), 7) << problems.join('\n').toStdString();
  EXPECT_TRUE(problems[0].contains(QStringLiteral("tcp://broker")));
  EXPECT_TRUE(problems[6].contains(QStringLiteral("Запись из брокера")));

  for (const char* root : {"/vexa", "vexa/", "vexa//line", "vexa/+/x"}) {
    TBrokerSettings r;
    r.TopicRoot = QString::fromLatin1(root);
    EXPECT_EQ(r.Problems().size(), 1) << root;
  }
  TBrokerSettings big;
  big.QueueBound = kMaxQueueBound + 1;
  EXPECT_EQ(big.Problems().size(), 1);
  // Writes with a user are allowed.
  TBrokerSettings writes;
  writes.User = QStringLiteral("line");
  writes.Password = QStringLiteral("secret");
  writes.Writes = true;
  EXPECT_TRUE(writes.Problems().isEmpty());
}

TEST(BrokerSettingsTest, TheRootAndClientIdFollowTheProgramFolderUnlessGiven) {
  TBrokerSettings s;
  EXPECT_EQ(s.TopicRootFor(QStringLiteral("/srv/vexa/boiler-house")), QStringLiteral("vexa/boiler-house"));
  EXPECT_TRUE(
      s.ClientIdFor(QStringLiteral("/srv/vexa/boiler-house")).endsWith(QLatin1String("-boiler-house")));
  s.TopicRoot = QStringLiteral("plant/boilers");
  s.ClientId = QStringLiteral("line-7");
  EXPECT_EQ(s.TopicRootFor(QStringLiteral("/srv/vexa/boiler-house")), QStringLiteral("plant/boilers"));
  EXPECT_EQ(s.ClientIdFor(QStringLiteral("/srv/vexa/boiler-house")), QStringLiteral("line-7"));
}

TEST(BrokerSettingsTest, SavedOwnerOnlyAndReadBackWhole) {
  QTemporaryDir dir;
  EXPECT_EQ(LoadBrokerSettings(dir.path()), TBrokerSettings()) << "no file: the defaults";

  TBrokerSettings s;
  s.Url = QStringLiteral("mqtts://broker:8883");
  s.User = QStringLiteral("line");
  s.Password = QStringLiteral("p=ss;word #1");
  s.CaFile = QStringLiteral("/etc/vexa/ca.pem");
  s.TopicRoot = QStringLiteral("vexa/котельная");
  s.ClientId = QStringLiteral("vexa-line-1");
  s.QueueBound = 5000;
  s.Writes = true;
  QString why;
  ASSERT_TRUE(SaveBrokerSettings(dir.path(), s, &why)) << why.toStdString();
  const QString path = BrokerSettingsPath(dir.path());
  EXPECT_EQ(path, dir.filePath(QStringLiteral("Config/MQTT.ini")));
  EXPECT_EQ(Mode(path), 0600);
  EXPECT_EQ(LoadBrokerSettings(dir.path()), s);
  EXPECT_TRUE(LoadBrokerSettings(dir.path()).FileProblems.isEmpty())
      << LoadBrokerSettings(dir.path()).FileProblems.join('|').toStdString();

  // A file someone made readable for all is owner-only again after the next save.
  QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOther | QFile::ReadGroup);
  s.Writes = false;
  ASSERT_TRUE(SaveBrokerSettings(dir.path(), s));
  EXPECT_EQ(Mode(path), 0600);
  EXPECT_EQ(LoadBrokerSettings(dir.path()), s);
}

// Writes Config/MQTT.ini as someone would by hand, line by line.
void WriteIni(const QString& folder, const QByteArray& text) {
  QDir(folder).mkpath(QStringLiteral("Config"));
  QFile f(BrokerSettingsPath(folder));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(text);
}

// A value the file holds that cannot be taken is named with its key and value, never a quiet
// default, and the settings are not usable while it is there.
TEST(BrokerSettingsTest, AValueThatDoesNotParseIsRefusedWithItsKey) {
  struct TCase {
    const char* line;
    const char* said;  // a part of the problem's text
  };
  const TCase cases[] = {
      {"QueueBound=abc", "QueueBound = 'abc'"},
      {"QueueBound=0", "QueueBound = '0'"},
      {"QueueBound=12.5", "QueueBound = '12.5'"},
      {"Writes=maybe", "Writes = 'maybe'"},
      {"Url=@ByteArray(mqtt://broker)", "Url = '@ByteArray(mqtt://broker)'"},
      {"Url=@Variant(\\0\\0\\0\\x7f)", "Url = '@Variant("},
      {"User=a, b", "User = 'a, b'"},
      {"Port=1883", "неизвестный ключ Broker/Port"},
  };
  for (const TCase& c : cases) {
    QTemporaryDir dir;
    WriteIni(dir.path(), QByteArray("[Broker]\nUrl=mqtt://broker\n") + c.line + "\n");
    const TBrokerSettings s = LoadBrokerSettings(dir.path());
    ASSERT_EQ(s.FileProblems.size(), 1) << c.line << ": " << s.FileProblems.join('|').toStdString();
    EXPECT_TRUE(s.FileProblems[0].contains(QString::fromUtf8(c.said))) << s.FileProblems[0].toStdString();
    EXPECT_EQ(s.Problems().first(), s.FileProblems[0]) << "the settings are not usable: " << c.line;
  }
  // Right values of every kind are taken as they stand.
  QTemporaryDir dir;
  WriteIni(dir.path(),
           "[Broker]\nUrl=mqtt://broker\nUser=line\nPassword=\"a, b\"\nQueueBound= 250\nWrites=TRUE\n");
  const TBrokerSettings s = LoadBrokerSettings(dir.path());
  EXPECT_TRUE(s.Problems().isEmpty()) << s.Problems().join('|').toStdString();
  EXPECT_EQ(s.Password, QStringLiteral("a, b"));
  EXPECT_EQ(s.QueueBound, 250);
  EXPECT_TRUE(s.Writes);
}

// What the fields hold that cannot work is named for what it is.
TEST(BrokerSettingsTest, ACertificateThatIsNoneAndAClientIdTooLongAreNamedSo) {
  TBrokerSettings s;
  s.Url = QStringLiteral("mqtts://broker");
  s.CaFile = QStringLiteral("/etc/passwd");
  ASSERT_EQ(s.Problems().size(), 1);
  EXPECT_EQ(s.Problems()[0], QStringLiteral("Файл /etc/passwd не является сертификатом (PEM)."));
  const QString bundle = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
  if (QFileInfo::exists(bundle)) {
    s.CaFile = bundle;
    EXPECT_TRUE(s.Problems().isEmpty()) << s.Problems().join('|').toStdString();
  }
  s.CaFile.clear();

  s.ClientId = QString(70000, QLatin1Char('c'));
  ASSERT_EQ(s.Problems().size(), 1);
  EXPECT_TRUE(s.Problems()[0].contains(QStringLiteral("слишком длинное: 70000 байт")))
      << s.Problems()[0].toStdString();
  // The bound is in bytes: Cyrillic takes two.
  s.ClientId = QString(kMaxMqttStringBytes / 2, QChar(0x0416));
  EXPECT_TRUE(s.Problems().isEmpty());
  s.ClientId += QChar(0x0416);
  EXPECT_EQ(s.Problems().size(), 1);
}

}  // namespace
}  // namespace vexa::test
