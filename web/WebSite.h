#pragma once
// The web view's pages, in Russian, on the server's thread: the diagrams as the window draws them,
// the alarms with the last day's journal, a register's trend from the historian, the network as a
// table, the login. It keeps its own copy of the view, which the main thread replaces and changes
// through the server's Post; acknowledgements go back through Acknowledge. Nothing here writes a
// register.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "web/WebAuth.h"
#include "web/WebServer.h"
#include "web/WebView.h"

namespace vexa {

struct TWebSiteOptions {
  bool AnonymousView = false;
  QString Folder;  // the program folder: its journal and historian are read beside the server
  std::vector<TWebUser> Users;
  QStringList Hosts;                  // the names a request's Host may give besides addresses and "localhost"
  std::function<int64_t()> NowMs;     // monotonic, for sessions and the login's waits
  std::function<int64_t()> UtcNowMs;  // the historian's instants
};

class TWebSite : public TWebHandler {
 public:
  TWebSite(TWebServer& server, TWebSiteOptions options);

  void Serve(const TWebRequest& request, TWebReply reply) override;
  std::optional<std::string> Watch(const TWebRequest& request) override;

  // The server's thread.
  void SetView(TWebView view);
  void Change(const std::vector<TWebChange>& changes, std::optional<std::vector<TWebAlarm>> alarms,
              int unacked);
  const TWebView& View() const { return view_; }
  TWebAuth& Auth() { return auth_; }

  // The server's thread: a logged-in user acknowledged a register's alarms (every one when the name
  // is empty); the receiver hands it to the main thread.
  std::function<void(const QString& name, const QString& user)> Acknowledge;

 private:
  // A copy: a page made beside the server outlives the request's look at the sessions.
  struct TVisitor {
    bool LoggedIn = false;
    QString User;
    std::string Csrf;
    std::string SessionId;
    bool MayView = false;
  };
  TVisitor VisitorOf(const TWebRequest& request);
  // Users added, changed or removed with vexa-cli while the server runs count from the next request.
  void RefreshUsers();
  TWebResponse Page(const TVisitor& visitor, const QString& title, const std::string& main) const;
  std::string Nav(const TVisitor& visitor) const;
  TWebResponse DiagramPage(const TVisitor& visitor, int index) const;
  TWebResponse NetworkPage(const TVisitor& visitor) const;
  std::string ActiveAlarmsTable(const TVisitor& visitor) const;
  void AlarmsPage(const TVisitor& visitor, const TWebReply& reply);
  void TrendPage(const TVisitor& visitor, const QString& name, int span, const TWebReply& reply);
  TWebResponse LoginPage(const QString& problem, int status) const;
  void PostLogin(const TWebRequest& request, const std::map<std::string, std::string>& form,
                 const TWebReply& reply);
  TWebResponse PostAck(const TVisitor& visitor, const std::map<std::string, std::string>& form);

  TWebServer& server_;
  TWebSiteOptions options_;
  TWebAuth auth_;
  std::string usersStamp_;           // the users' file as last read: its inode, size and change time
  std::set<std::string> loggingIn_;  // addresses whose login is being checked
  TWebView view_;
};

// The trend's picture: the band's least-to-greatest area and its mean, the value axis' ticks and
// the span's first and last times, as SVG `width` by `height`.
struct THistoryBand;
std::string TrendSvg(const THistoryBand& band, int width, int height);

}  // namespace vexa
