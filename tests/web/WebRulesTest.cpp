// What the web server takes from a request before anything acts on it, the password store, and the
// sessions' rules: logins slowed per address, sessions that end, a CSRF token per session.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/Cli.h"
#include "web/HttpRules.h"
#include "web/WebAuth.h"
#include "web/WebSettings.h"

namespace vexa::test {
namespace {

TEST(WebTargetTest, HostilePathsAreRefusedAndPlainOnesDecoded) {
  const struct {
    const char* Target;
    const char* Path;  // null: refused
  } cases[] = {
      {"/", "/"},
      {"/page/0", "/page/0"},
      {"/trend?r=D000C000R004&span=2", "/trend"},
      {"/%D0%B0", "/\xD0\xB0"},
      {"/static/../Config/WEB.ini", nullptr},
      {"/static/%2e%2e/Config/WEB.ini", nullptr},
      {"/static/%2E%2E", nullptr},
      {"/./page", nullptr},
      {"//etc/passwd", nullptr},
      {"/page/", nullptr},
      {"/a%2f..%2fb", nullptr},  // a slash made by decoding still makes segments
      {"/a%00b", nullptr},
      {"/a\\..\\b", nullptr},
      {"/a%5c..", nullptr},
      {"/a%zz", nullptr},
      {"/a%4", nullptr},
      {"http://evil/page/0", nullptr},
      {"*", nullptr},
      {"", nullptr},
      {"/x?a=%", nullptr},
  };
  for (const auto& c : cases) {
    const auto t = ParseTarget(c.Target);
    if (c.Path == nullptr) {
      EXPECT_FALSE(t) << c.Target;
    } else {
      ASSERT_TRUE(t) << c.Target;
      EXPECT_EQ(t->Path, c.Path) << c.Target;
    }
  }
  EXPECT_FALSE(ParseTarget("/" + std::string(kMaxTargetBytes, 'a')));
  const auto query = ParseTarget("/trend?r=D000%20C&span=2&span=3&x");
  ASSERT_TRUE(query);
  EXPECT_EQ(query->Query, (std::map<std::string, std::string>{{"r", "D000 C"}, {"span", "2"}, {"x", ""}}));
}

TEST(WebFormTest, FieldsCookiesAndEscapes) {
  EXPECT_EQ(*ParseForm("user=%D0%B8+%D1%8F&password=a%26b%3D"),
            (std::map<std::string, std::string>{{"password", "a&b="}, {"user", "\xD0\xB8 \xD1\x8F"}}));
  EXPECT_FALSE(ParseForm("a=%G0"));
  EXPECT_EQ(CookieValue("a=1; vexa_session=XYZ; b=2", kSessionCookie), "XYZ");
  EXPECT_EQ(CookieValue("xvexa_session=1", kSessionCookie), "");
  const std::string cookie = SessionCookie("ID", true);
  for (const char* part : {"vexa_session=ID", "HttpOnly", "SameSite=Strict", "Secure", "Path=/"})
    EXPECT_NE(cookie.find(part), std::string::npos) << part;
  EXPECT_EQ(SessionCookie("ID", false).find("Secure"), std::string::npos);
  EXPECT_EQ(HtmlEscaped(QStringLiteral("<a href='x'>&\"")), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;");
  // A string written into a script can never end it.
  EXPECT_EQ(JsonString(QStringLiteral("</script>\"\\\n")), "\"\\u003c/script\\u003e\\\"\\\\\\u000a\"");
  const QStringList names{QStringLiteral("scada.plant.local")};
  for (const char* host : {"127.0.0.1:8080", "10.0.0.5", "[::1]:80", "LOCALHOST:1", "Scada.Plant.Local.", ""})
    EXPECT_TRUE(HostAllowed(host, names)) << host;
  for (const char* host :
       {"evil.example", "scada.plant.local.evil.example:80", "[::1", "127.0.0.1.evil.example"})
    EXPECT_FALSE(HostAllowed(host, names)) << host;
}

TEST(WebPasswordTest, SaltedHashesCheckOnlyTheirPassword) {
  const QString a = HashWebPassword(QStringLiteral("пароль-1"), 1000);
  const QString b = HashWebPassword(QStringLiteral("пароль-1"), 1000);
  EXPECT_NE(a, b);  // a salt of its own
  EXPECT_TRUE(CheckWebPassword(QStringLiteral("пароль-1"), a));
  const QStringList parts = a.split(QLatin1Char('$'));
  const struct {
    QString Password;
    QString Stored;
  } refused[] = {
      {QStringLiteral("пароль-2"), a},
      {QString(), a},
      {QStringLiteral("пароль-1"), QStringLiteral("plain")},
      {QStringLiteral("пароль-1"),
       QStringLiteral("pbkdf2-sha1$1000$") + parts[2] + QLatin1Char('$') + parts[3]},
      {QStringLiteral("пароль-1"),
       QStringLiteral("pbkdf2-sha256$999999999$") + parts[2] + QLatin1Char('$') + parts[3]},
      {QStringLiteral("пароль-1"),
       QStringLiteral("pbkdf2-sha256$1000$") + parts[2] + QStringLiteral("$AAAA")},
      {QStringLiteral("пароль-1"), QStringLiteral("pbkdf2-sha256$1000$!!$") + parts[3]},
  };
  for (const auto& r : refused)
    EXPECT_FALSE(CheckWebPassword(r.Password, r.Stored)) << r.Stored.toStdString();
}

TEST(WebUserStoreTest, UsersKeptBesideTheSettingsReadableByTheOwnerAlone) {
  QTemporaryDir dir;
  TWebSettings s;
  s.Enabled = true;
  s.Port = 8443;
  ASSERT_TRUE(SaveWebSettings(dir.path(), s));
  ASSERT_TRUE(
      SaveWebUser(dir.path(), {QStringLiteral("иван"), HashWebPassword(QStringLiteral("секрет-12"), 1000)}));
  ASSERT_TRUE(SaveWebUser(dir.path(), {QStringLiteral("petr"), QStringLiteral("x")}));
  s.AnonymousView = true;
  ASSERT_TRUE(SaveWebSettings(dir.path(), s));  // the users stay
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(WebSettingsPath(dir.path())).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const TWebSettings loaded = LoadWebSettings(dir.path());
  EXPECT_TRUE(loaded.FileProblems.isEmpty()) << loaded.FileProblems.join(' ').toStdString();
  EXPECT_EQ(loaded, s);
  const std::vector<TWebUser> users = LoadWebUsers(dir.path());
  ASSERT_EQ(users.size(), 2u);
  const auto ivan = std::find_if(users.begin(), users.end(),
                                 [](const TWebUser& u) { return u.Name == QStringLiteral("иван"); });
  ASSERT_NE(ivan, users.end());
  EXPECT_TRUE(CheckWebPassword(QStringLiteral("секрет-12"), ivan->Hash));
  for (const char* bad : {"", "a b", "web:x", "012345678901234567890123456789012"})
    EXPECT_FALSE(IsWebUserName(QString::fromUtf8(bad))) << bad;
}

TEST(WebSettingsTest, EveryKeyIsCheckedOnLoad) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir(QStringLiteral("Config"));
  QFile f(WebSettingsPath(dir.path()));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[Web]\nEnabled=yes\nAddress=plant.local\nPort=70000\nColour=red\n");
  f.close();
  const TWebSettings s = LoadWebSettings(dir.path());
  EXPECT_EQ(s.FileProblems.size(), 4) << s.FileProblems.join('\n').toStdString();
  EXPECT_FALSE(s.Enabled);
  EXPECT_EQ(s.Address, QStringLiteral("127.0.0.1"));
  const struct {
    const char* Text;
    const char* Host;
    int Port;
  } addresses[] = {{"8080", "127.0.0.1", 8080}, {"0.0.0.0:80", "0.0.0.0", 80}, {"[::1]:9000", "::1", 9000},
                   {"host:80", nullptr, 0},     {"127.0.0.1:0", nullptr, 0},   {"1.2.3.4:x", nullptr, 0}};
  for (const auto& a : addresses) {
    const auto parsed = ParseWebAddress(QString::fromUtf8(a.Text));
    ASSERT_EQ(parsed.has_value(), a.Host != nullptr) << a.Text;
    if (parsed) {
      EXPECT_EQ(std::pair(parsed->Host, parsed->Port), std::pair(QString::fromUtf8(a.Host), a.Port));
    }
  }
}

TEST(WebAuthTest, FailedLoginsSlowTheirAddressOnlyAndSessionsCarryTheirToken) {
  int64_t now = 0;
  TWebAuth auth({{QStringLiteral("ivan"), HashWebPassword(QStringLiteral("right-one"), 1000)}},
                [&now] { return now; });
  const std::string a = "10.0.0.1";
  std::string id;
  // Three tries free, then a second, two, four...: even the right password waits its turn.
  const struct {
    int64_t At;
    const char* Password;
    TLoginOutcome Outcome;
  } tries[] = {
      {0, "x", TLoginOutcome::Wrong},         {0, "x", TLoginOutcome::Wrong},
      {0, "x", TLoginOutcome::Wrong},         {500, "right-one", TLoginOutcome::Slowed},
      {1000, "x", TLoginOutcome::Wrong},      {2500, "right-one", TLoginOutcome::Slowed},
      {3000, "right-one", TLoginOutcome::Ok},
  };
  for (const auto& t : tries) {
    now = t.At;
    EXPECT_EQ(auth.Login(a, QStringLiteral("ivan"), QString::fromUtf8(t.Password), &id), t.Outcome) << t.At;
    // Another address is not held up by this one's failures.
    if (t.Outcome == TLoginOutcome::Slowed) {
      EXPECT_EQ(auth.WaitMs("10.0.0.2"), 0);
    }
  }
  EXPECT_EQ(auth.Login("10.0.0.2", QStringLiteral("nobody"), QStringLiteral("right-one"), nullptr),
            TLoginOutcome::Wrong);
  const TWebSession* s = auth.Session(id);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->User, QStringLiteral("ivan"));
  const std::string csrf = s->Csrf;
  EXPECT_TRUE(auth.MayChange(id, csrf));
  for (const std::string& wrong : {std::string(), csrf.substr(1), std::string(csrf.size(), 'A')})
    EXPECT_FALSE(auth.MayChange(id, wrong));
  EXPECT_FALSE(auth.MayChange("other", csrf));
  now += TWebAuth::kSessionMs;
  EXPECT_EQ(auth.Session(id), nullptr);
  EXPECT_FALSE(auth.MayChange(id, csrf));
}

// vexa-cli web-user add: the password from standard input kept as its hash, a name or password that
// will not do refused with the file untouched; run --web refuses an address that is none.
TEST(WebUserCliTest, AddsAUserOnlyWithAFitNameAndPassword) {
  QTemporaryDir dir;
  const struct {
    const char* Name;
    QByteArray Input;
    int Code;
  } cases[] = {
      {"ivan", "short\n", 2}, {"a b", "long-enough\n", 2}, {"ivan", "", 2}, {"ivan", "long-enough\n", 0}};
  for (const auto& c : cases) {
    const TRun run = Cli({"--dir", dir.path(), "web-user", "add", c.Name}, c.Input);
    EXPECT_EQ(run.Code, c.Code) << c.Name << " " << run.Err.toStdString();
    EXPECT_EQ(LoadWebUsers(dir.path()).size(), c.Code == 0 ? 1u : 0u) << c.Name;
  }
  EXPECT_TRUE(CheckWebPassword(QStringLiteral("long-enough"), LoadWebUsers(dir.path()).front().Hash));
  EXPECT_EQ(Cli({"--demo", "--dir", dir.path(), "run", "--seconds", "1", "--web", "plant:80"}).Code, 2);
}

}  // namespace
}  // namespace vexa::test
