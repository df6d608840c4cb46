// The web server against hostile clients (malformed and oversized requests, hostile paths, a
// thousand connections, a WebSocket client that never reads) and the rules of logging in, the
// session's cookie and the CSRF token, on a view of the tests' own.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <regex>
#include <thread>

#include "support/TestSupport.h"
#include "tests/web/WebClient.h"
#include "web/WebAuth.h"
#include "web/WebServer.h"
#include "web/WebSettings.h"
#include "web/WebSite.h"

namespace vexa::test {
namespace {

// One page (its picture a file of `picture`'s bytes), one label, one register, one alarm.
TWebView MakeView(const QString& picture = {}) {
  TWebView view;
  TWebPage page;
  page.Caption = QStringLiteral("Печь");
  page.PictureFile = picture;
  page.PictureType = "image/png";
  TWebLabel label;
  label.Register = QStringLiteral("D000C000R004");
  label.Left = 40;
  label.Top = 25;
  label.Text = QStringLiteral("Уставка = 35 °C");
  page.Labels.push_back(label);
  // What a stored file may hold is text, never markup or style.
  label.Text = QStringLiteral("<script>alert(1)</script>");
  label.FontName = QStringLiteral("x\\27;background:url(/x)</style>'");
  page.Labels.push_back(label);
  view.Pages.push_back(page);
  view.Registers.push_back({label.Register, QStringLiteral("Печь / Зона 1"), QStringLiteral("Уставка"),
                            QStringLiteral("35"), QString(), true, TAlarmState::ActiveUnacked, 1});
  view.Alarms.push_back({label.Register, {QStringLiteral("Уставка")}, TAlarmState::ActiveUnacked, 1});
  view.Unacked = 1;
  return view;
}

class WebServerTest : public ::testing::Test {
 protected:
  // The server's thread ends before the pages it calls go.
  void TearDown() override {
    if (server_) server_->Stop();
  }
  // With `folder`, the users are its WEB.ini's, as the program starts the site.
  void Start(bool anonymous = false, TWebServerOptions limits = {}, const QString& folder = {}) {
    server_ = std::make_unique<TWebServer>(limits);
    TWebSiteOptions o;
    o.AnonymousView = anonymous;
    o.Folder = folder;
    o.Users = folder.isEmpty() ? std::vector<TWebUser>{{QStringLiteral("ivan"),
                                                        HashWebPassword(QStringLiteral("right-one"), 1000)}}
                               : LoadWebUsers(folder);
    o.NowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    o.UtcNowMs = o.NowMs;
    site_ = std::make_unique<TWebSite>(*server_, o);
    QFile file(dir_.filePath(QStringLiteral("picture.png")));
    if (file.open(QIODevice::WriteOnly)) file.write("\x89PNG picture bytes");
    file.close();
    site_->SetView(MakeView(file.fileName()));
    site_->Acknowledge = [this](const QString& name, const QString& user) {
      const std::lock_guard lock(mutex_);
      acks_.emplace_back(name, user);
    };
    std::string why;
    ASSERT_TRUE(server_->Start(*site_, &why)) << why;
    port_ = server_->Port();
  }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string Login(const std::string& form = "user=ivan&password=right-one") {
    const THttpAnswer a = Http(port_, "POST", "/login", form, {}, Origin());
    EXPECT_EQ(a.Status, 303) << form;
    return SessionOf(a);
  }
  static std::string CsrfIn(const std::string& html) {
    std::smatch m;
    return std::regex_search(html, m, std::regex("name=\"csrf\" value=\"([^\"]+)\"")) ? m[1].str()
                                                                                      : std::string();
  }

  QTemporaryDir dir_;
  std::unique_ptr<TWebServer> server_;
  std::unique_ptr<TWebSite> site_;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::vector<std::pair<QString, QString>> acks_;
};

TEST_F(WebServerTest, HostileRequestsAreRefusedAndTheServerServesOn) {
  Start(true);
  const std::string host = "Host: 127.0.0.1\r\nConnection: close\r\n";
  const struct {
    std::string Request;
    const char* Status;
  } cases[] = {
      {"GET /static/../../Config/WEB.ini HTTP/1.1\r\n" + host + "\r\n", " 400 "},
      {"GET /static/%2e%2e/x HTTP/1.1\r\n" + host + "\r\n", " 400 "},
      {"GET /picture/0/../../x HTTP/1.1\r\n" + host + "\r\n", " 400 "},
      {"GET / HTTP/1.1\r\n" + host + "X-Big: " + std::string(20000, 'a') + "\r\n\r\n", " 431 "},
      {"POST /login HTTP/1.1\r\n" + host + "Content-Length: 1000000\r\n\r\n" + std::string(9000, 'a'),
       " 413 "},
      {"POST /login HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n4000\r\n" +
           std::string(0x4000, 'a'),
       " 413 "},
      {"GARBAGE\r\n\r\n", " 400 "},
      {"GET / HTTP/1.1\r\nHost: a\r\nX: a\rb\r\n\r\n", " 400 "},
      {"GET / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n" + host + "\r\nabcde", " 400 "},
      {"DELETE / HTTP/1.1\r\n" + host + "\r\n", " 405 "},
      {"GET /trend?r=%ZZ HTTP/1.1\r\n" + host + "\r\n", " 400 "},
      {"GET /trend?r=NOSUCH HTTP/1.1\r\n" + host + "\r\n", " 404 "},
      {"GET /picture/99999999999 HTTP/1.1\r\n" + host + "\r\n", " 404 "},
      // A name this server was not given: another site's page after a DNS rebinding.
      {"GET /page/0 HTTP/1.1\r\nHost: evil.example:8080\r\nConnection: close\r\n\r\n", " 421 "},
      {"GET /ws HTTP/1.1\r\nHost: evil.example\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
       " 403 "},
  };
  for (const auto& c : cases) {
    const std::string answer = RawExchange(port_, c.Request);
    EXPECT_EQ(answer.substr(8, 5), c.Status) << c.Request.substr(0, 60) << "\n" << answer.substr(0, 80);
  }
  EXPECT_GE(server_->Counts().BadRequests, 6);
  const THttpAnswer page = Http(port_, "GET", "/page/0");
  EXPECT_EQ(page.Status, 200);
  EXPECT_NE(page.Body.find("Уставка = 35 °C"), std::string::npos);
  EXPECT_NE(page.Body.find("&lt;script&gt;alert(1)"), std::string::npos);
  for (const char* hostile : {"<script>alert", "\\27", "url(/x)", "</style>"})
    EXPECT_EQ(page.Body.find(hostile), std::string::npos) << hostile;
  EXPECT_EQ(page.Header("X-Content-Type-Options"), "nosniff");
  EXPECT_NE(page.Header("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
  for (int twice = 0; twice < 2; ++twice)
    EXPECT_EQ(Http(port_, "GET", "/picture/0").Body, "\x89PNG picture bytes");
}

TEST_F(WebServerTest, AThousandConnectionsGetAHundredAndTheRestAreToldBusy) {
  TWebServerOptions limits;
  limits.RequestMs = 30000;
  Start(true, limits);
  net::io_context io;
  std::vector<tcp::socket> sockets;
  for (int i = 0; i < 1000; ++i) sockets.push_back(Connect(io, port_));
  ASSERT_TRUE(
      RunEventsUntil([&] { return server_->Counts().Accepted + server_->Counts().Refused == 1000; }, 10000));
  const TWebServer::TCounts counts = server_->Counts();
  std::printf("1000 connections: %d held, %lld refused\n", counts.Clients,
              static_cast<long long>(counts.Refused));
  EXPECT_EQ(counts.Clients, limits.MaxClients);
  EXPECT_EQ(counts.Refused, 1000 - limits.MaxClients);
  SetReadTimeout(sockets.back(), 3000);
  char buffer[64] = {};
  boost::system::error_code ec;
  sockets.back().read_some(net::buffer(buffer), ec);
  EXPECT_EQ(std::string(buffer, 12), "HTTP/1.1 503");
  sockets.clear();
  ASSERT_TRUE(RunEventsUntil([&] { return server_->Counts().Clients == 0; }, 10000));
  EXPECT_EQ(Http(port_, "GET", "/page/0").Status, 200);
}

// A client that never reads is dropped once its queue is full; another one keeps up and gets
// everything, and handing the news over never waits for either.
TEST_F(WebServerTest, AClientThatNeverReadsIsDroppedAndTheOthersServed) {
  Start(true);
  net::io_context io;
  tcp::socket stalled = Connect(io, port_);
  stalled.set_option(net::socket_base::receive_buffer_size(4096));
  net::write(
      stalled,
      net::buffer("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"));
  TWsClient reader(port_, "/ws");
  ASSERT_TRUE(reader.Open());
  ASSERT_TRUE(RunEventsUntil([&] { return server_->Counts().Watchers == 2; }, 10000));
  std::atomic<int> received{0};
  std::thread reading([&] {
    while (auto m = reader.Receive()) {
      ++received;
      if (m->find("\"last\"") != std::string::npos) break;
    }
  });
  const QString big(20000, QLatin1Char('x'));
  constexpr int kMessages = 1000;
  int64_t longestPostUs = 0;
  for (int i = 0; i < kMessages; ++i) {
    QElapsedTimer t;
    t.start();
    TWebChange c;
    c.Register = QStringLiteral("D000C000R004");
    c.HasValue = true;
    c.LabelText = big;
    c.Value = i + 1 == kMessages ? QStringLiteral("last") : QString::number(i);
    server_->Post([this, c] { site_->Change({c}, std::nullopt, 1); });
    longestPostUs = std::max<int64_t>(longestPostUs, t.nsecsElapsed() / 1000);
    // As fast as the reader takes them, however slow the build: it is never more than a few dozen
    // behind, while the stalled client's queue grows by every message until it is dropped.
    QElapsedTimer lag;
    lag.start();
    while (i + 1 - received > 32 && lag.elapsed() < 10000)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  reading.join();
  const TWebServer::TCounts counts = server_->Counts();
  std::printf(
      "%d messages of 20 kB: %d received by the reader, %lld clients dropped, longest hand-over %lld us\n",
      kMessages, received.load(), static_cast<long long>(counts.Dropped),
      static_cast<long long>(longestPostUs));
  EXPECT_EQ(counts.Dropped, 1);
  EXPECT_EQ(received, kMessages + 1);  // the greeting too
  // A hand-over that waited on the stalled client would wait until it was dropped; a slow build's
  // scheduling takes tens of milliseconds at worst.
  EXPECT_LT(longestPostUs, 1'000'000);
  ASSERT_TRUE(RunEventsUntil([&] { return server_->Counts().Watchers == 1; }, 10000));
}

TEST_F(WebServerTest, ViewingNeedsALoginAndChangesTheSessionsToken) {
  Start(false);
  EXPECT_EQ(Http(port_, "GET", "/page/0").Header("Location"), "/login");
  EXPECT_FALSE(TWsClient(port_, "/ws").Open());
  EXPECT_EQ(Http(port_, "POST", "/login", "user=ivan&password=wrong", {}, Origin()).Status, 401);
  EXPECT_EQ(Http(port_, "POST", "/login", "user=ivan&password=right-one", {}, "http://evil.example").Status,
            403);
  const std::string cookie = Login();
  ASSERT_FALSE(cookie.empty());
  const THttpAnswer alarms = Http(port_, "GET", "/alarms", {}, cookie);
  ASSERT_EQ(alarms.Status, 200);
  const std::string csrf = CsrfIn(alarms.Body);
  ASSERT_FALSE(csrf.empty());
  EXPECT_TRUE(TWsClient(port_, "/ws", cookie).Open());
  EXPECT_FALSE(TWsClient(port_, "/ws", cookie, "http://evil.example").Open());
  const std::string name = "name=D000C000R004";
  const struct {
    std::string Body;
    std::string Cookie;
    std::string Origin;
    int Status;
  } acks[] = {
      {name + "&csrf=" + csrf, {}, Origin(), 403},                   // no login
      {name, cookie, Origin(), 403},                                 // no token
      {name + "&csrf=" + csrf + "x", cookie, Origin(), 403},         // another token
      {name + "&csrf=" + csrf, cookie, "http://evil.example", 403},  // another site's form
      {"name=NOSUCH&csrf=" + csrf, cookie, Origin(), 404},
      {name + "&csrf=" + csrf, cookie, Origin(), 303},
  };
  for (const auto& a : acks)
    EXPECT_EQ(Http(port_, "POST", "/ack", a.Body, a.Cookie, a.Origin).Status, a.Status) << a.Body;
  ASSERT_TRUE(RunEventsUntil(
      [&] {
        const std::lock_guard lock(mutex_);
        return !acks_.empty();
      },
      10000));
  EXPECT_EQ(
      acks_,
      (std::vector<std::pair<QString, QString>>{{QStringLiteral("D000C000R004"), QStringLiteral("ivan")}}));
  EXPECT_EQ(Http(port_, "POST", "/logout", "csrf=" + csrf, cookie, Origin()).Status, 303);
  EXPECT_EQ(Http(port_, "GET", "/page/0", {}, cookie).Status, 303);
}

// vexa-cli web-user writes WEB.ini while the line service runs: a user added may log in, a changed
// password or a user taken out of the file ends that user's sessions, and nothing else does.
TEST_F(WebServerTest, UsersChangedInTheFileWhileRunningCountFromTheNextRequest) {
  const QString folder = dir_.path();
  const auto save = [&](const char* name, const char* password) {
    ASSERT_TRUE(SaveWebUser(
        folder, {QString::fromLatin1(name), HashWebPassword(QString::fromLatin1(password), 1000)}));
  };
  save("ivan", "right-one");
  Start(false, {}, folder);
  const std::string ivan = Login();
  const auto views = [&](const std::string& cookie) {
    return Http(port_, "GET", "/page/0", {}, cookie).Status == 200;
  };
  ASSERT_TRUE(views(ivan));

  TWebSettings settings;
  settings.Port = 8090;
  ASSERT_TRUE(SaveWebSettings(folder, settings));  // the [Web] group alone
  EXPECT_TRUE(views(ivan));

  EXPECT_EQ(Http(port_, "POST", "/login", "user=petr&password=second-one", {}, Origin()).Status, 401);
  save("petr", "second-one");
  const std::string petr = Login("user=petr&password=second-one");
  EXPECT_TRUE(views(petr));
  EXPECT_TRUE(views(ivan));

  save("ivan", "changed-one");
  EXPECT_FALSE(views(ivan));
  EXPECT_TRUE(views(petr));
  EXPECT_EQ(Http(port_, "POST", "/login", "user=ivan&password=right-one", {}, Origin()).Status, 401);
  EXPECT_TRUE(views(Login("user=ivan&password=changed-one")));

  {
    QSettings ini(WebSettingsPath(folder), QSettings::IniFormat);
    ini.remove(QStringLiteral("Users/petr"));
  }
  EXPECT_FALSE(views(petr));
  EXPECT_EQ(Http(port_, "POST", "/login", "user=petr&password=second-one", {}, Origin()).Status, 401);
}

TEST_F(WebServerTest, AnonymousViewersSeeButNeverAcknowledge) {
  Start(true);
  const THttpAnswer alarms = Http(port_, "GET", "/alarms");
  ASSERT_EQ(alarms.Status, 200);
  EXPECT_EQ(alarms.Body.find("/ack"), std::string::npos);
  EXPECT_EQ(Http(port_, "POST", "/ack", "name=D000C000R004", {}, Origin()).Status, 403);
  // Logged in, the same viewer may.
  EXPECT_NE(Http(port_, "GET", "/alarms", {}, Login()).Body.find("/ack"), std::string::npos);
  // Three failures, and the address waits: even the right password is not looked at.
  for (int i = 0; i < 3; ++i) Http(port_, "POST", "/login", "user=ivan&password=wrong", {}, Origin());
  const THttpAnswer held = Http(port_, "POST", "/login", "user=ivan&password=right-one", {}, Origin());
  EXPECT_EQ(std::pair(held.Status, held.Header("Retry-After")), std::pair(429, std::string("1")));
  const std::lock_guard lock(mutex_);
  EXPECT_TRUE(acks_.empty());
}

}  // namespace
}  // namespace vexa::test
