// The web view in a real browser: chromium headless on vexa-cli run --web reading a vexa-sim line.
// The label's text as the window makes it, a value read on the line in the page within a second,
// the login the page asks for, and an acknowledgement refused without a login and journalled with
// the web user's name with one.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QRegularExpression>
#include <csignal>

#include "core/SetupNode.h"
#include "storage/NetworkState.h"
#include "support/Cli.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "tests/web/Browser.h"
#include "ui/model/LabelDisplay.h"
#include "web/WebAuth.h"
#include "web/WebSettings.h"

namespace vexa::test {
namespace {

constexpr const char* kName = "D000C000R001";  // the simulated temperature: it wanders on every read

class WebBrowserTest : public TVexaTest {
 protected:
  void SetUp() override {
    if (ChromiumPath().isEmpty()) GTEST_SKIP() << "chromium is not installed (scripts/deps installs it)";
    TRootNode& channel =
        AddChannelNode(AddRegulatorNode(*Net(), 0, QStringLiteral("Печь")), 0, QStringLiteral("Зона 1"));
    TRegisterNode& reg = AddRegisterNode(
        channel, 1, {.Caption = QStringLiteral("Температура"), .Enabled = true, .LoggingInterval = 1});
    auto* label = new TLabelDisplay(&reg);  // owned by the register
    label->SetPrefix(QStringLiteral("Температура ="));
    label->SetUnits(QStringLiteral("°C"));
    label->SetParentName(QStringLiteral("ts0"));
    label->SetLeft(120);
    label->SetTop(60);
    reg.SetEnabled(true);
    // Always above its limit: one alarm active from the first read.
    AddHighAlarm(*Network, QString::fromLatin1(kName), {.Limit = -100000});
    Settings()->SetMNames({QStringLiteral("Печь")});
    QDir(Dir->path()).mkdir(QStringLiteral("Config"));
    ASSERT_TRUE(SaveNetworkState(*Network).Texts().isEmpty());
    ASSERT_TRUE(SaveWebUser(Dir->path(),
                            {QStringLiteral("ivan"), HashWebPassword(QStringLiteral("right-one"), 1000)}));
    port_ = FreeLoopbackPort();
    cli_ = std::make_unique<TChildProcess>(QStringLiteral(VEXA_CLI_PATH),
                                           QStringList{"--dir", Dir->path(), "--port", sim_.Link(), "run",
                                                       "--web", QStringLiteral("127.0.0.1:%1").arg(port_)});
    ASSERT_TRUE(RunEventsUntil([&] { return Http(port_, "GET", "/login").Status == 200; }, 20000))
        << cli_->Err().toStdString();
  }
  QString Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
  }

  TSimLine sim_;
  uint16_t port_ = 0;
  std::unique_ptr<TChildProcess> cli_;
};

TEST_F(WebBrowserTest, TheDiagramShowsTheLabelsLiveAndAcknowledgingNeedsALogin) {
  // Without a login the browser is shown the login, whatever it asked for.
  const TRun dump = RunProgram(
      ChromiumPath(), ChromiumSwitches(Dir->filePath("dump")) + QStringList{"--dump-dom", Url("/page/0")});
  const QString& dom = dump.Out;
  EXPECT_TRUE(dom.contains(QStringLiteral("<h1>Вход</h1>"))) << dom.left(400).toStdString();

  TBrowser browser;
  ASSERT_TRUE(browser.Found());
  ASSERT_TRUE(browser.Open(Url("/login")));
  browser.Evaluate(
      QStringLiteral("document.querySelector('[name=user]').value='ivan';"
                     "document.querySelector('[name=password]').value='right-one';"
                     "document.querySelector('form.login').submit()"));
  ASSERT_TRUE(browser.WaitFor(
      QStringLiteral("location.pathname === '/page/0' && document.readyState === 'complete'")));
  const QString labelScript =
      QStringLiteral("document.querySelector('[data-r=\"%1\"]').textContent").arg(kName);
  ASSERT_TRUE(browser.WaitFor(labelScript + QStringLiteral(".includes('°C')")));
  // The label's text as the label makes it: prefix, the value with the register's decimals, units.
  static const QRegularExpression kText(QStringLiteral("^Температура = (-?\\d+(,\\d+)?|\\*\\*\\*) °C$"));
  EXPECT_TRUE(kText.match(browser.Evaluate(labelScript).toString()).hasMatch())
      << browser.Evaluate(labelScript).toString().toStdString();
  EXPECT_EQ(browser.Evaluate(QStringLiteral("getComputedStyle(document.querySelector('[data-r]')).left"))
                .toString(),
            "120px");

  // Each new value the server pushes is in the page within a second; a client beside it that never
  // reads holds nothing up.
  const std::string session =
      SessionOf(Http(port_, "POST", "/login", "user=ivan&password=right-one", {}, Url("").toStdString()));
  net::io_context io;
  tcp::socket stalled = Connect(io, port_);
  net::write(stalled, net::buffer(std::string("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: ") + session +
                                  "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                                  "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"));
  TWsClient watcher(port_, "/ws", session);
  ASSERT_TRUE(watcher.Open());
  watcher.Receive();  // the greeting: the values as they stand
  int seen = 0;
  int64_t slowest = 0;
  QString last;
  for (int i = 0; i < 40 && seen < 3; ++i) {
    const auto m = watcher.Receive();
    ASSERT_TRUE(m) << "no value pushed in 5 s";
    const QJsonArray values =
        QJsonDocument::fromJson(QByteArray::fromStdString(*m)).object().value("v").toArray();
    for (const QJsonValue& v : values) {
      const QString text = v.toObject().value("t").toString();
      if (v.toObject().value("n").toString() != QString::fromLatin1(kName) || text.isEmpty() || text == last)
        continue;
      QElapsedTimer t;
      t.start();
      const QString quoted =
          QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
      EXPECT_TRUE(browser.WaitFor(labelScript + " === " + quoted, 1000)) << text.toStdString();
      slowest = std::max<int64_t>(slowest, t.elapsed());
      last = text;
      ++seen;
    }
  }
  std::printf("3 new values in the page, the slowest %lld ms after the push\n",
              static_cast<long long>(slowest));
  EXPECT_EQ(seen, 3);

  // An acknowledgement without a login is refused; the browser's, logged in, is journalled.
  EXPECT_EQ(Http(port_, "POST", "/ack", std::string("name=") + kName, {}, Url("").toStdString()).Status, 403);
  ASSERT_TRUE(browser.Open(Url("/alarms")));
  ASSERT_TRUE(
      browser.WaitFor(QStringLiteral("document.querySelector('form[action=\"/ack\"] button') !== null")));
  browser.Evaluate(QStringLiteral("document.querySelector('form[action=\"/ack\"] button').click()"));
  ASSERT_TRUE(
      browser.WaitFor(QStringLiteral("document.readyState === 'complete' && "
                                     "document.querySelector('form[action=\"/ack\"]') === null")))
      << browser.Evaluate(QStringLiteral("location.href + document.body.innerText")).toString().toStdString()
      << cli_->Err().toStdString();
  cli_->Signal(SIGTERM);
  ASSERT_TRUE(cli_->Wait(10000));
  EXPECT_EQ(cli_->Code(), 0) << cli_->Err().toStdString();
  const TRun journal = Cli({"--dir", Dir->path(), "alarms"});
  EXPECT_TRUE(
      journal.Out.contains(QRegularExpression(QStringLiteral("%1\\t.*acknowledged.*\\tweb:ivan").arg(kName))))
      << journal.Out.toStdString() << journal.Err.toStdString();
}

}  // namespace
}  // namespace vexa::test
