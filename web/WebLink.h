#pragma once
// A network's web view: the server (web/WebServer.h) and its pages (web/WebSite.h) on their own
// thread, fed from the main thread. The link follows the network's reads and the alarms' events
// (as the broker's link does), gathers the changes and hands them over every tenth of a second by
// a posted call, so nothing here waits on a browser. An acknowledgement from a browser is taken by
// the next of those flushes and journalled as "web:<user>".

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "web/WebServer.h"
#include "web/WebSettings.h"
#include "web/WebView.h"

namespace vexa {

class TNetwork;
class TAlarmMonitor;
class TCustomRegister;
class TRootNode;
class TSetupNode;
class TWebSite;

inline const QString kWhoWebPrefix = QStringLiteral("web:");

struct TWebLinkOptions {
  TWebSettings Settings;
  std::vector<TWebUser> Users;
  TWebServerOptions Limits;  // the bounds; address, port and TLS come from Settings
  int FlushMs = 100;
};

class TWebLink {
 public:
  // Main thread; alarms may be null (no alarm states, no acknowledgement).
  TWebLink(TNetwork& network, TAlarmMonitor* alarms, TWebLinkOptions options);
  ~TWebLink();  // Stop
  TWebLink(const TWebLink&) = delete;
  TWebLink& operator=(const TWebLink&) = delete;

  // Binds and starts serving; false with the reason in Russian.
  bool Start(QString* why);
  void Stop();
  bool Running() const { return server_ != nullptr; }
  uint16_t Port() const;
  // "http://127.0.0.1:8080/"
  QString Url() const;
  TWebServer::TCounts Counts() const;
  // The whole view made again and handed over (a load or a search replaced a tree; also by itself
  // when the link sees a tree replaced).
  void Refresh();
  // Main thread: told after each acknowledgement asked from a browser.
  std::function<void(const QString& who, int count)> Acknowledged;

 private:
  void Read(const TCustomRegister& reg);
  void Flush();

  TNetwork& network_;
  TAlarmMonitor* alarms_;
  TWebLinkOptions options_;
  std::unique_ptr<TWebServer> server_;
  std::unique_ptr<TWebSite> site_;
  QObject context_;  // the main thread's, for the flush's timer
  QTimer flush_;
  static constexpr size_t kMaxAsked = 256;  // acknowledgements waiting; more are dropped
  std::mutex askedMutex_;
  std::vector<std::pair<QString, QString>> asked_;  // name, user (under askedMutex_)
  std::map<QString, TWebChange> pending_;
  bool alarmsChanged_ = false;
  const TRootNode* builtNet_ = nullptr;
  const TSetupNode* builtSetup_ = nullptr;
  int readTicket_ = 0;
  int alarmTicket_ = 0;
};

}  // namespace vexa
