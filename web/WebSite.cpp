#include "web/WebSite.h"

#include <sys/stat.h>

#include <QFile>
#include <QStringList>
#include <QUrl>
#include <cmath>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmTexts.h"
#include "core/Services.h"
#include "ui/model/HistoryBand.h"
#include "ui/model/HistoryChart.h"
#include "web/HttpRules.h"
#include "web/WebAssets.h"

namespace vexa {

namespace {

constexpr int kTrendWidth = 900;
constexpr int kTrendHeight = 360;
constexpr int kJournalRows = 2000;

std::string H(const QString& text) {
  return HtmlEscaped(text);
}

// What tells a rewritten file from the one read before (it is replaced by a rename); empty while
// there is none.
std::string FileStamp(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) + ':' +
         std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

TWebResponse Plain(int status, const char* text) {
  TWebResponse r;
  r.Status = status;
  r.Type = "text/plain; charset=utf-8";
  r.Body = text;
  return r;
}

TWebResponse Redirect(const std::string& to) {
  TWebResponse r;
  r.Status = 303;
  r.Type = "text/plain; charset=utf-8";
  r.Headers.emplace_back("Location", to);
  return r;
}

// Every answer: nothing cached, nothing framed, nothing loaded from elsewhere.
void Harden(TWebResponse& r) {
  r.Headers.emplace_back("Content-Security-Policy",
                         "default-src 'self'; img-src 'self'; style-src 'self' 'unsafe-inline'; "
                         "script-src 'self'; connect-src 'self'; frame-ancestors 'none'; form-action 'self'");
  r.Headers.emplace_back("X-Content-Type-Options", "nosniff");
  r.Headers.emplace_back("X-Frame-Options", "DENY");
  // Not no-referrer: under it a browser sends "Origin: null" with the forms, which the origin check refuses.
  r.Headers.emplace_back("Referrer-Policy", "same-origin");
  if (r.Type.rfind("image/", 0) != 0) r.Headers.emplace_back("Cache-Control", "no-store");
}

std::string Cell(const QString& text) {
  return "<td>" + H(text) + "</td>";
}

std::string AlarmStyle(int priority) {
  return "--ac:" + CssColourOfArgb(PriorityColour(priority));
}

std::string FontCss(const TWebLabel& l) {
  std::string css = "font-size:" + std::to_string(l.FontPx) + "px;";
  // The family as stored, then the faces the machine has: a Windows name finds no font here.
  // A stored name is the file's: only letters, digits, blanks, '-' and '_' reach the style, so that
  // no quote, escape or semicolon in it can end the font's name.
  QString family;
  for (const QChar c : l.FontName.left(64))
    if (c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('-') || c == QLatin1Char('_'))
      family += c;
  css += "font-family:'" + H(family) + "','DejaVu Sans',sans-serif;";
  if (l.Style & 1) css += "font-weight:bold;";
  if (l.Style & 2) css += "font-style:italic;";
  if ((l.Style & 4) || (l.Style & 8))
    css += std::string("text-decoration:") + ((l.Style & 4) ? "underline " : "") +
           ((l.Style & 8) ? "line-through" : "") + ";";
  return css;
}

bool SameOrigin(const TWebRequest& request) {
  // A browser names the page a form came from; one from elsewhere is refused. (No Origin: not a
  // browser's cross-site form, which always sends it on POST.)
  if (request.Origin.empty()) return true;
  const std::string scheme = request.Tls ? "https://" : "http://";
  return request.Origin == scheme + request.Host || request.Origin == "https://" + request.Host;
}

}  // namespace

TWebSite::TWebSite(TWebServer& server, TWebSiteOptions options)
    : server_(server), options_(std::move(options)), auth_(options_.Users, options_.NowMs) {
  // The users given were read from the file as it is now.
  if (!options_.Folder.isEmpty()) usersStamp_ = FileStamp(WebSettingsPath(options_.Folder));
}

void TWebSite::RefreshUsers() {
  if (options_.Folder.isEmpty()) return;
  std::string stamp = FileStamp(WebSettingsPath(options_.Folder));
  if (stamp == usersStamp_) return;
  usersStamp_ = std::move(stamp);
  auth_.SetUsers(LoadWebUsers(options_.Folder));
}

void TWebSite::SetView(TWebView view) {
  view_ = std::move(view);
  server_.Broadcast(R"({"reload":true,"unacked":)" + std::to_string(view_.Unacked) +
                    R"(,"alarms":true,"v":[]})");
}

void TWebSite::Change(const std::vector<TWebChange>& changes, std::optional<std::vector<TWebAlarm>> alarms,
                      int unacked) {
  for (const TWebChange& c : changes) Apply(view_, c);
  const bool alarmsChanged = alarms.has_value();
  if (alarms) view_.Alarms = std::move(*alarms);
  view_.Unacked = unacked;
  server_.Broadcast(ChangesJson(changes, unacked, alarmsChanged));
}

TWebSite::TVisitor TWebSite::VisitorOf(const TWebRequest& request) {
  RefreshUsers();
  TVisitor v;
  v.SessionId = CookieValue(request.Cookie, kSessionCookie);
  if (const TWebSession* s = v.SessionId.empty() ? nullptr : auth_.Session(v.SessionId)) {
    v.LoggedIn = true;
    v.User = s->User;
    v.Csrf = s->Csrf;
  }
  v.MayView = v.LoggedIn || options_.AnonymousView;
  return v;
}

std::optional<std::string> TWebSite::Watch(const TWebRequest& request) {
  const auto target = ParseTarget(request.Target);
  if (!target || target->Path != "/ws" || !HostAllowed(request.Host, options_.Hosts) ||
      !SameOrigin(request) || !VisitorOf(request).MayView)
    return std::nullopt;
  std::vector<TWebChange> all;
  for (const TWebRow& row : view_.Registers) {
    TWebChange c{row.Name, true, {}, row.Value, row.Time, row.Alarm, row.Priority};
    for (const TWebPage& page : view_.Pages)
      for (const TWebLabel& l : page.Labels)
        if (l.Register == row.Name) c.LabelText = l.Text;
    all.push_back(std::move(c));
  }
  // With the alarms: what changed between the page's making and this connection is fetched anew.
  return ChangesJson(all, view_.Unacked, true);
}

std::string TWebSite::Nav(const TVisitor& visitor) const {
  std::string nav =
      R"(<nav><a href="/">Мнемосхемы</a><a href="/alarms">Тревоги <span id="unacked" class="badge")" +
      std::string(view_.Unacked == 0 ? " hidden" : "") + ">" + std::to_string(view_.Unacked) +
      R"(</span></a><a href="/network">Сеть</a>)";
  if (visitor.LoggedIn)
    nav += R"(<span class="who">)" + H(visitor.User) +
           R"(</span><form method="post" action="/logout"><input type="hidden" name="csrf" value=")" +
           visitor.Csrf + R"("><button type="submit">Выйти</button></form>)";
  else
    nav += R"(<a class="who" href="/login">Войти</a>)";
  return nav + "</nav>";
}

TWebResponse TWebSite::Page(const TVisitor& visitor, const QString& title, const std::string& main) const {
  TWebResponse r;
  r.Body = R"(<!DOCTYPE html><html lang="ru"><head><meta charset="utf-8">)"
           R"(<meta name="viewport" content="width=device-width, initial-scale=1">)"
           "<title>" +
           H(title) +
           R"( — Vexa</title><link rel="stylesheet" href="/static/vexa.css">)"
           R"(<script src="/static/vexa.js" defer></script></head><body>)" +
           Nav(visitor) + "<main>" + main + "</main></body></html>";
  return r;
}

TWebResponse TWebSite::DiagramPage(const TVisitor& visitor, int index) const {
  if (view_.Pages.empty())
    return Page(
        visitor, QStringLiteral("Мнемосхемы"),
        R"(<p class="problem">Мнемосхемы отсутствуют! Укажите мнемосхемы в окне «Настройка параметров )"
        "сети».</p>");
  if (index < 0 || index >= static_cast<int>(view_.Pages.size())) return Plain(404, "Нет такой мнемосхемы\n");
  const TWebPage& page = view_.Pages[static_cast<size_t>(index)];
  std::string main = R"(<div class="tabs">)";
  for (size_t i = 0; i < view_.Pages.size(); ++i)
    main += R"(<a class="tab)" + std::string(static_cast<int>(i) == index ? " current" : "") +
            R"(" href="/page/)" + std::to_string(i) + R"(">)" + H(view_.Pages[i].Caption) + "</a>";
  main += R"(</div><div class="scroll"><div class="mnemo" data-live>)";
  if (page.PictureFile.isEmpty() || page.PictureType.isEmpty())
    main += R"(<div class="missing">Файл мнемосхемы не найден!</div>)";
  else
    main += R"(<img src="/picture/)" + std::to_string(index) + R"(" alt=")" + H(page.Caption) + R"(">)";
  for (const TWebLabel& l : page.Labels) {
    const std::string base = "label b" + std::to_string(std::clamp(l.Border, 0, 2));
    // Piece by piece: one growing text, no temporaries per label.
    const std::string pieces[] = {R"(<a class=")",
                                  base,
                                  " a",
                                  std::to_string(static_cast<int>(l.Alarm)),
                                  R"(" data-base=")",
                                  base,
                                  R"(" data-r=")",
                                  H(l.Register),
                                  R"(" href="/trend?r=)",
                                  H(QString::fromLatin1(QUrl::toPercentEncoding(l.Register))),
                                  R"(" style="left:)",
                                  std::to_string(l.Left),
                                  "px;top:",
                                  std::to_string(l.Top),
                                  "px;background:",
                                  CssColourOfStored(l.Color),
                                  ";color:",
                                  CssColourOfStored(l.FontColor),
                                  ";",
                                  FontCss(l),
                                  AlarmStyle(l.Priority),
                                  R"(">)",
                                  H(l.Text),
                                  "</a>"};
    for (const std::string& piece : pieces) main += piece;
  }
  main += "</div></div>";
  return Page(visitor, page.Caption, main);
}

TWebResponse TWebSite::NetworkPage(const TVisitor& visitor) const {
  std::string main =
      R"(<h1>Сеть</h1><div class="wide" data-live><table><thead><tr><th>Регулятор / канал</th>)"
      "<th>Регистр</th><th>Имя</th><th>Значение</th><th>Прочитано</th></tr></thead><tbody>";
  for (const TWebRow& row : view_.Registers) {
    const std::string name = H(row.Name);
    const std::string pieces[] = {"<tr>",
                                  Cell(row.Place),
                                  R"(<td><a href="/trend?r=)",
                                  H(QString::fromLatin1(QUrl::toPercentEncoding(row.Name))),
                                  R"(">)",
                                  H(row.Caption),
                                  "</a></td>",
                                  Cell(row.Name),
                                  R"(<td class="a)",
                                  std::to_string(static_cast<int>(row.Alarm)),
                                  R"(" data-v=")",
                                  name,
                                  R"(" style=")",
                                  AlarmStyle(row.Priority),
                                  R"(">)",
                                  H(row.Value),
                                  R"(</td><td data-at=")",
                                  name,
                                  R"(">)",
                                  H(row.Time),
                                  "</td></tr>"};
    for (const std::string& piece : pieces) main += piece;
  }
  main += "</tbody></table></div>";
  if (view_.Registers.empty()) main += R"(<p class="note">В сети нет регистров.</p>)";
  return Page(visitor, QStringLiteral("Сеть"), main);
}

std::string TWebSite::ActiveAlarmsTable(const TVisitor& visitor) const {
  if (view_.Alarms.empty()) return R"(<p class="note">Активных тревог нет.</p>)";
  std::string t = R"(<div class="wide"><table><thead><tr>)";
  for (const QString& h : ActiveAlarmHeaders()) t += "<th>" + H(h) + "</th>";
  t += "<th></th></tr></thead><tbody>";
  for (const TWebAlarm& a : view_.Alarms) {
    t += R"(<tr class="a)" + std::to_string(static_cast<int>(a.State)) + R"(" style=")" +
         AlarmStyle(a.Priority) + R"(">)";
    for (const QString& c : a.Row) t += Cell(c);
    t += "<td>";
    if (visitor.LoggedIn && a.State != TAlarmState::ActiveAcked)
      t += R"(<form method="post" action="/ack"><input type="hidden" name="csrf" value=")" + visitor.Csrf +
           R"("><input type="hidden" name="name" value=")" + H(a.Name) +
           R"("><button type="submit">Квитировать</button></form>)";
    t += "</td></tr>";
  }
  return t + "</tbody></table></div>";
}

void TWebSite::AlarmsPage(const TVisitor& visitor, const TWebReply& reply) {
  std::string main =
      R"(<h1>Активные тревоги</h1><div id="active" data-live>)" + ActiveAlarmsTable(visitor) + "</div>";
  if (!visitor.LoggedIn)
    main += R"(<p class="note">Квитировать тревоги можно после <a href="/login">входа</a>.</p>)";
  const QString folder = options_.Folder;
  const int64_t utcNow = options_.UtcNowMs();
  const bool queued =
      server_.Aside([this, visitor, reply, main, folder, utcNow]() mutable -> std::function<void()> {
        // Beside the server: the journal's query may wait for its writer.
        std::string journal = "<h2>Журнал за сутки</h2>";
        TAlarmJournal j;
        if (!j.Open(AlarmJournalPath(folder), true, 1000)) {
          journal += R"(<p class="note">Журнал тревог пуст.</p>)";
        } else {
          TJournalQuery q;
          q.From = LocalOfUtcMs(utcNow - kDayMs);
          q.Limit = kJournalRows;
          const std::vector<TAlarmEvent> events = j.Query(q);
          journal += R"(<div class="wide"><table><thead><tr>)";
          for (const QString& h : JournalHeaders()) journal += "<th>" + H(h) + "</th>";
          journal += "</tr></thead><tbody>";
          for (size_t i = events.size(); i-- > 0;) {  // the newest first
            journal += "<tr>";
            for (const QString& c : JournalRow(events[i])) journal += Cell(c);
            journal += "</tr>";
          }
          journal += "</tbody></table></div>";
          if (events.empty()) journal += R"(<p class="note">За сутки событий нет.</p>)";
        }
        return [this, visitor, reply, main = main + journal] {
          reply(Page(visitor, QStringLiteral("Тревоги"), main));
        };
      });
  if (!queued) reply(Plain(503, "Сервер занят, повторите позже\n"));
}

void TWebSite::TrendPage(const TVisitor& visitor, const QString& name, int span, const TWebReply& reply) {
  const auto row = std::find_if(view_.Registers.begin(), view_.Registers.end(),
                                [&](const TWebRow& r) { return r.Name == name; });
  if (row == view_.Registers.end()) return reply(Plain(404, "Нет такого регистра\n"));
  span = std::clamp(span, static_cast<int>(THistorySpan::Hour), static_cast<int>(THistorySpan::Year));
  const QStringList texts = HistorySpanTexts();
  std::string head = "<h1>" + H(row->Caption) + R"( <span class="note">)" + H(row->Place) + " · " + H(name) +
                     R"(</span></h1><div class="spans">)";
  for (int s = static_cast<int>(THistorySpan::Hour); s <= static_cast<int>(THistorySpan::Year); ++s)
    head += "<a" + std::string(s == span ? R"( class="current")" : "") + R"( href="/trend?r=)" +
            H(QString::fromLatin1(QUrl::toPercentEncoding(name))) + "&amp;span=" + std::to_string(s) +
            R"(">)" + H(texts[s]) + "</a>";
  head += "</div>";
  const QString folder = options_.Folder;
  const int64_t now = options_.UtcNowMs();
  const int64_t length = HistorySpanMs(static_cast<THistorySpan>(span));
  const QString title = row->Caption;
  const bool queued = server_.Aside(
      [this, visitor, reply, head, folder, name, now, length, title]() -> std::function<void()> {
        const THistoryBand band = ReadHistoryBand(folder, name, now - length, now, kTrendWidth, now);
        std::string main = head;
        if (!band.Error.isEmpty()) main += R"(<p class="problem">)" + H(band.Error) + "</p>";
        main += TrendSvg(band, kTrendWidth, kTrendHeight);
        return [this, visitor, reply, title, main] { reply(Page(visitor, title, main)); };
      });
  if (!queued) reply(Plain(503, "Сервер занят, повторите позже\n"));
}

std::string TrendSvg(const THistoryBand& band, int width, int height) {
  constexpr int kLeft = 70;
  constexpr int kBottom = 24;
  const int plotW = width - kLeft - 10;
  const int plotH = height - kBottom - 10;
  THistoryBand fitted = band;
  FitBand(fitted, plotW);
  const TValueAxis axis = BandAxis(fitted, plotH, 1);
  std::string svg = R"(<svg class="trend" xmlns="http://www.w3.org/2000/svg" viewBox="0 0 )" +
                    std::to_string(width) + " " + std::to_string(height) +
                    R"(" font-size="12" font-family="DejaVu Sans,sans-serif">)";
  svg += R"(<g transform="translate()" + std::to_string(kLeft) + ",10)\">";
  svg += R"(<rect width=")" + std::to_string(plotW) + R"(" height=")" + std::to_string(plotH) +
         R"(" fill="#fff" stroke="#888"/>)";
  for (const TAxisTick& t : axis.Ticks())
    svg += R"(<line x1="0" x2=")" + std::to_string(plotW) + R"(" y1=")" + std::to_string(t.Y) + R"(" y2=")" +
           std::to_string(t.Y) + R"(" stroke="#ddd"/><text x="-6" y=")" + std::to_string(t.Y + 4) +
           R"(" text-anchor="end">)" + H(t.Text) + "</text>";
  std::string area;
  std::string mean;
  for (size_t x = 0; x < fitted.Mean.size(); ++x) {
    if (std::isnan(fitted.Mean[x])) continue;
    const std::string px = std::to_string(x);
    area += "M" + px + " " + std::to_string(axis.Y(fitted.Max[x])) + "V" +
            std::to_string(axis.Y(fitted.Min[x]) + 1);
    mean += (mean.empty() ? "M" : "L") + px + " " + std::to_string(axis.Y(fitted.Mean[x]));
  }
  if (!area.empty()) svg += R"(<path d=")" + area + R"(" stroke="#9cc3e6" stroke-width="1"/>)";
  if (!mean.empty()) svg += R"(<path d=")" + mean + R"(" fill="none" stroke="#1f3a5a" stroke-width="1.5"/>)";
  const auto timeText = [](int64_t utc) { return DateTimeToStr(LocalOfUtcMs(utc)); };
  svg += R"(<text x="0" y=")" + std::to_string(plotH + 17) + R"(">)" + H(timeText(band.Since)) + "</text>";
  svg += R"(<text x=")" + std::to_string(plotW) + R"(" y=")" + std::to_string(plotH + 17) +
         R"(" text-anchor="end">)" + H(timeText(band.Until)) + "</text>";
  if (mean.empty())
    svg += R"(<text x=")" + std::to_string(plotW / 2) + R"(" y=")" + std::to_string(plotH / 2) +
           R"(" text-anchor="middle" fill="#777">Нет значений за этот период</text>)";
  return svg + "</g></svg>";
}

TWebResponse TWebSite::LoginPage(const QString& problem, int status) const {
  TVisitor nobody;
  std::string main = "<h1>Вход</h1>";
  if (!problem.isEmpty()) main += R"(<p class="problem">)" + H(problem) + "</p>";
  main +=
      R"(<form class="login" method="post" action="/login"><label>Имя<br><input name="user" )"
      R"(autocomplete="username" required maxlength="32"></label><label>Пароль<br><input name="password" )"
      R"(type="password" autocomplete="current-password" required maxlength="256"></label>)"
      R"(<button type="submit">Войти</button></form>)";
  TWebResponse r = Page(nobody, QStringLiteral("Вход"), main);
  r.Status = status;
  return r;
}

void TWebSite::PostLogin(const TWebRequest& request, const std::map<std::string, std::string>& form,
                         const TWebReply& reply) {
  const auto get = [&form](const char* key) {
    const auto it = form.find(key);
    return it == form.end() ? QString() : QString::fromStdString(it->second);
  };
  const auto slowed = [this](const std::string& peer) {
    const int64_t seconds = std::max<int64_t>(1, (auth_.WaitMs(peer) + 999) / 1000);
    TWebResponse r =
        LoginPage(QStringLiteral("Слишком много неудачных попыток: повторите через %1 с.").arg(seconds), 429);
    r.Headers.emplace_back("Retry-After", std::to_string(seconds));
    return r;
  };
  // One login at a time per address, each checked beside the server: PBKDF2 takes its time on purpose.
  if (auth_.WaitMs(request.Peer) > 0 || loggingIn_.contains(request.Peer)) return reply(slowed(request.Peer));
  const QString user = get("user");
  const QString password = get("password");
  RefreshUsers();
  const QString hash = auth_.HashOf(user);
  const std::string peer = request.Peer;
  const bool tls = request.Tls;
  loggingIn_.insert(peer);
  const bool queued = server_.Aside([=, this]() -> std::function<void()> {
    const bool good = CheckWebPassword(password, hash);
    return [=, this] {
      loggingIn_.erase(peer);
      std::string id;
      switch (auth_.Finish(peer, user, good, &id)) {
        case TLoginOutcome::Ok: {
          TWebResponse r = Redirect("/");
          r.Headers.emplace_back("Set-Cookie", SessionCookie(id, tls));
          return reply(std::move(r));
        }
        case TLoginOutcome::Wrong:
          return reply(LoginPage(QStringLiteral("Неверное имя или пароль."), 401));
        case TLoginOutcome::Slowed:
          return reply(slowed(peer));
      }
    };
  });
  if (!queued) {
    loggingIn_.erase(peer);
    reply(Plain(503, "Сервер занят, повторите позже\n"));
  }
}

TWebResponse TWebSite::PostAck(const TVisitor& visitor, const std::map<std::string, std::string>& form) {
  const auto csrf = form.find("csrf");
  if (!visitor.LoggedIn) return Plain(403, "Квитирование только после входа\n");
  if (csrf == form.end() || !auth_.MayChange(visitor.SessionId, csrf->second))
    return Plain(403, "Форма устарела: обновите страницу\n");
  const auto name = form.find("name");
  const QString registerName = name == form.end() ? QString() : QString::fromStdString(name->second);
  if (!registerName.isEmpty() && std::none_of(view_.Alarms.begin(), view_.Alarms.end(),
                                              [&](const TWebAlarm& a) { return a.Name == registerName; }))
    return Plain(404, "Нет такой тревоги\n");
  if (Acknowledge) Acknowledge(registerName, visitor.User);
  return Redirect("/alarms");
}

void TWebSite::Serve(const TWebRequest& request, TWebReply reply) {
  const auto send = [&reply](TWebResponse r) {
    Harden(r);
    reply(std::move(r));
  };
  const auto hardened = [reply](TWebResponse r) {
    Harden(r);
    reply(std::move(r));
  };
  if (!HostAllowed(request.Host, options_.Hosts))
    return send(Plain(421, "Имя узла в запросе не разрешено: добавьте его в Hosts файла Config/WEB.ini\n"));
  const std::optional<TTarget> target = ParseTarget(request.Target);
  if (!target) return send(Plain(400, "Недопустимый путь\n"));
  const std::string& path = target->Path;
  const bool get = request.Method == "GET" || request.Method == "HEAD";
  const bool post = request.Method == "POST";
  if (!get && !post) {
    TWebResponse r = Plain(405, "Метод не поддерживается\n");
    r.Headers.emplace_back("Allow", "GET, HEAD, POST");
    return send(std::move(r));
  }
  if (get && path == "/static/vexa.css") {
    TWebResponse r;
    r.Type = "text/css; charset=utf-8";
    r.Body = kWebCss;
    return send(std::move(r));
  }
  if (get && path == "/static/vexa.js") {
    TWebResponse r;
    r.Type = "text/javascript; charset=utf-8";
    r.Body = kWebJs;
    return send(std::move(r));
  }
  if (path == "/login") {
    if (get) return send(LoginPage({}, 200));
    if (!SameOrigin(request)) return send(Plain(403, "Форма с другого сайта\n"));
    const auto form = ParseForm(request.Body);
    if (!form) return send(Plain(400, "Неверная форма\n"));
    return PostLogin(request, *form, hardened);
  }
  const TVisitor visitor = VisitorOf(request);
  if (post) {
    if (!SameOrigin(request)) return send(Plain(403, "Форма с другого сайта\n"));
    const auto form = ParseForm(request.Body);
    if (!form) return send(Plain(400, "Неверная форма\n"));
    if (path == "/ack") return send(PostAck(visitor, *form));
    if (path == "/logout") {
      const auto csrf = form->find("csrf");
      if (csrf == form->end() || !auth_.MayChange(visitor.SessionId, csrf->second))
        return send(Plain(403, "Форма устарела: обновите страницу\n"));
      auth_.Logout(visitor.SessionId);
      TWebResponse r = Redirect("/login");
      r.Headers.emplace_back("Set-Cookie", SessionCookie({}, request.Tls));
      return send(std::move(r));
    }
    return send(Plain(404, "Не найдено\n"));
  }
  if (!visitor.MayView) return send(Redirect("/login"));
  if (path == "/") return send(view_.Pages.empty() ? DiagramPage(visitor, 0) : Redirect("/page/0"));
  if (path.rfind("/page/", 0) == 0 || path.rfind("/picture/", 0) == 0) {
    const bool picture = path[1] == 'p' && path[2] == 'i';
    const std::string number = path.substr(picture ? 9 : 6);
    bool ok = !number.empty() && number.size() <= 4 &&
              std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int index = ok ? std::stoi(number) : -1;
    if (!picture) return send(ok ? DiagramPage(visitor, index) : Plain(404, "Нет такой мнемосхемы\n"));
    if (!ok || index >= static_cast<int>(view_.Pages.size())) return send(Plain(404, "Нет рисунка\n"));
    const TWebPage& page = view_.Pages[static_cast<size_t>(index)];
    if (page.PictureFile.isEmpty() || page.PictureType.isEmpty()) return send(Plain(404, "Нет рисунка\n"));
    const auto answer = [](const TWebPage& p) {
      TWebResponse r = p.Picture.isEmpty() ? Plain(404, "Нет рисунка\n") : TWebResponse{};
      if (p.Picture.isEmpty()) return r;
      r.Type = p.PictureType.toStdString();
      r.Body = p.Picture.toStdString();
      r.Headers.emplace_back("Cache-Control", "private, max-age=60");
      return r;
    };
    if (!page.Picture.isEmpty()) return send(answer(page));
    // Read once beside the server, kept with the page until the view is made again.
    const QString file = page.PictureFile;
    const bool queued = server_.Aside([this, index, file, answer, hardened]() -> std::function<void()> {
      QByteArray bytes = ReadPagePicture(file);
      return [this, index, file, answer, hardened, bytes = std::move(bytes)] {
        if (index >= static_cast<int>(view_.Pages.size())) return hardened(Plain(404, "Нет рисунка\n"));
        TWebPage& now = view_.Pages[static_cast<size_t>(index)];
        if (now.PictureFile == file && now.Picture.isEmpty()) now.Picture = bytes;
        hardened(answer(now));
      };
    });
    if (!queued) return send(Plain(503, "Сервер занят, повторите позже\n"));
    return;
  }
  if (path == "/network") return send(NetworkPage(visitor));
  if (path == "/alarms") return AlarmsPage(visitor, hardened);
  if (path == "/alarms/active") {
    TWebResponse r;
    r.Body = ActiveAlarmsTable(visitor);
    return send(std::move(r));
  }
  if (path == "/trend") {
    const auto r = target->Query.find("r");
    const auto s = target->Query.find("span");
    int span = static_cast<int>(THistorySpan::Hour);
    if (s != target->Query.end() && s->second.size() == 1 &&
        std::isdigit(static_cast<unsigned char>(s->second[0])))
      span = s->second[0] - '0';
    if (r == target->Query.end()) return send(Plain(404, "Нет такого регистра\n"));
    return TrendPage(visitor, QString::fromStdString(r->second), span, hardened);
  }
  return send(Plain(404, "Не найдено\n"));
}

}  // namespace vexa
