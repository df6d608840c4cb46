// HTTPS: the server with a certificate and key of its own, and behind the nginx site README gives
// (taken from README itself), a login and a WebSocket through it.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/TestSupport.h"
#include "tests/web/Browser.h"
#include "web/WebAuth.h"
#include "web/WebServer.h"
#include "web/WebSite.h"

namespace vexa::test {
namespace {

class WebTlsTest : public ::testing::Test {
 protected:
  // The server's thread ends before the pages it calls go.
  void TearDown() override {
    if (server_) server_->Stop();
  }
  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
      GTEST_SKIP() << "curl is not installed";
    const TRun made = RunProgram(QStringLiteral("openssl"),
                                 {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                                  "/CN=127.0.0.1", "-keyout", Cert("key.pem"), "-out", Cert("cert.pem")});
    ASSERT_EQ(made.Code, 0) << made.Err.toStdString();
  }
  QString Cert(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
  // The server with the tests' user; TLS with the certificate made here when `tls`.
  bool Start(bool tls, std::string* why, TWebServerOptions options = {}) {
    if (tls) {
      options.CertFile = Cert("cert.pem").toStdString();
      options.KeyFile = Cert("key.pem").toStdString();
    }
    server_ = std::make_unique<TWebServer>(options);
    TWebSiteOptions o;
    o.Users = {{QStringLiteral("ivan"), HashWebPassword(QStringLiteral("right-one"), 1000)}};
    o.NowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    o.UtcNowMs = o.NowMs;
    site_ = std::make_unique<TWebSite>(*server_, o);
    return server_->Start(*site_, why);
  }
  // curl's answer, headers and body, to an HTTPS request that does not check the certificate.
  static QString Curl(const QStringList& args) {
    return RunProgram(QStringLiteral("curl"), QStringList{"-sk", "-i", "--http1.1", "--max-time", "3"} + args)
        .Out;
  }

  QTemporaryDir dir_;
  std::unique_ptr<TWebServer> server_;
  std::unique_ptr<TWebSite> site_;
};

TEST_F(WebTlsTest, TheServerSpeaksHttpsWithTheCertificateGiven) {
  std::string why;
  ASSERT_TRUE(Start(true, &why)) << why;
  const QString url = QStringLiteral("https://127.0.0.1:%1").arg(server_->Port());
  EXPECT_TRUE(Curl({url + "/login"}).startsWith(QLatin1String("HTTP/1.1 200")))
      << Curl({url + "/login"}).toStdString();
  const QString login =
      Curl({"-X", "POST", "-H", "Origin: " + url, "-d", "user=ivan&password=right-one", url + "/login"});
  EXPECT_TRUE(login.contains(QRegularExpression(
      QStringLiteral("Set-Cookie: vexa_session=[^;]+; Path=/; HttpOnly; SameSite=Strict; Secure"))))
      << login.toStdString();
  // Plain HTTP on the TLS port is no request.
  EXPECT_EQ(Http(server_->Port(), "GET", "/login").Status, 0);
  TWebServerOptions missing;
  missing.CertFile = Cert("none.pem").toStdString();
  missing.KeyFile = Cert("key.pem").toStdString();
  server_ = std::make_unique<TWebServer>(missing);
  EXPECT_FALSE(server_->Start(*site_, &why));
  EXPECT_NE(why.find("none.pem"), std::string::npos) << why;
}

TEST_F(WebTlsTest, READMEsNginxSiteCarriesTheLoginAndTheWebSocket) {
  const QString nginx = QStringLiteral("/usr/sbin/nginx");
  if (!QFileInfo(nginx).isExecutable())
    GTEST_SKIP() << "nginx is not installed (scripts/deps installs nginx-light)";
  std::string why;
  ASSERT_TRUE(Start(false, &why)) << why;
  QFile readme(QStringLiteral(VEXA_SOURCE_DIR "/README.md"));
  ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(readme.readAll());
  const qsizetype begin = text.indexOf(QLatin1String("```nginx\n"));
  ASSERT_GE(begin, 0);
  QString site = text.mid(begin + 9, text.indexOf(QLatin1String("```"), begin + 9) - begin - 9);
  const uint16_t port = FreeLoopbackPort();
  // The site as README has it, on the test's ports and certificate.
  site.replace(QLatin1String("listen 443 ssl;"), QStringLiteral("listen 127.0.0.1:%1 ssl;").arg(port))
      .replace(QLatin1String("http://127.0.0.1:8080"),
               QStringLiteral("http://127.0.0.1:%1").arg(server_->Port()))
      .replace(QLatin1String("/etc/nginx/vexa.crt"), Cert("cert.pem"))
      .replace(QLatin1String("/etc/nginx/vexa.key"), Cert("key.pem"));
  const QString prefix = dir_.filePath(QStringLiteral("nginx"));
  QDir().mkpath(prefix + "/logs");
  QFile conf(prefix + "/nginx.conf");
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write(
      QStringLiteral("daemon off; pid %1/nginx.pid; error_log %1/logs/error.log;\nevents {}\n"
                     "http { access_log off; client_body_temp_path %1/body; proxy_temp_path %1/proxy;\n%2}\n")
          .arg(prefix, site)
          .toUtf8());
  conf.close();
  TChildProcess proxy(nginx, {"-p", prefix, "-c", prefix + "/nginx.conf", "-e", prefix + "/logs/error.log"});
  const QString url = QStringLiteral("https://127.0.0.1:%1").arg(port);
  ASSERT_TRUE(
      RunEventsUntil([&] { return Curl({url + "/login"}).startsWith(QLatin1String("HTTP/1.1 200")); }, 10000))
      << proxy.Err().toStdString();
  const QString login =
      Curl({"-X", "POST", "-H", "Origin: " + url, "-d", "user=ivan&password=right-one", url + "/login"});
  const QRegularExpressionMatch cookie =
      QRegularExpression(QStringLiteral("Set-Cookie: (vexa_session=[^;]+)")).match(login);
  ASSERT_TRUE(cookie.hasMatch()) << login.toStdString();
  const QString socket =
      Curl({"-N", "-H", "Connection: Upgrade", "-H", "Upgrade: websocket", "-H", "Sec-WebSocket-Version: 13",
            "-H", "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "-H", "Origin: " + url, "-H",
            "Cookie: " + cookie.captured(1), url + "/ws"});
  EXPECT_TRUE(socket.startsWith(QLatin1String("HTTP/1.1 101"))) << socket.toStdString();
  EXPECT_TRUE(socket.contains(QLatin1String("\"unacked\":0"))) << socket.toStdString();
  proxy.Stop(3000);
}

}  // namespace
}  // namespace vexa::test
