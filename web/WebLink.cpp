#include "web/WebLink.h"

#include <QDateTime>
#include <QSysInfo>
#include <chrono>

#include "alarms/model/AlarmMonitor.h"
#include "core/CustomRegister.h"
#include "core/Network.h"
#include "web/WebSite.h"

namespace vexa {

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TWebLink::TWebLink(TNetwork& network, TAlarmMonitor* alarms, TWebLinkOptions options)
    : network_(network), alarms_(alarms), options_(std::move(options)) {
  flush_.setInterval(options_.FlushMs);
  QObject::connect(&flush_, &QTimer::timeout, &context_, [this] { Flush(); });
}

TWebLink::~TWebLink() {
  Stop();
}

bool TWebLink::Start(QString* why) {
  if (Running()) return true;
  TWebServerOptions limits = options_.Limits;
  limits.Address = options_.Settings.Address.toStdString();
  limits.Port = static_cast<uint16_t>(options_.Settings.Port);
  limits.CertFile = options_.Settings.CertFile.toStdString();
  limits.KeyFile = options_.Settings.KeyFile.toStdString();
  auto server = std::make_unique<TWebServer>(limits);
  TWebSiteOptions site;
  site.AnonymousView = options_.Settings.AnonymousView;
  site.Folder = network_.Dir();
  site.Users = options_.Users;
  site.Hosts = options_.Settings.Hosts;
  site.Hosts << QSysInfo::machineHostName();
  site.NowMs = &SteadyMs;
  site.UtcNowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
  auto pages = std::make_unique<TWebSite>(*server, std::move(site));
  pages->Acknowledge = [this](const QString& name, const QString& user) {
    // From the server's thread under a lock of the link's own, taken by the main thread's next
    // flush: nothing waits, and the order is one a thread checker sees.
    const std::lock_guard lock(askedMutex_);
    if (asked_.size() < kMaxAsked) asked_.emplace_back(name, user);
  };
  // The first view before the first client can come.
  TWebSite* raw = pages.get();
  raw->SetView(BuildWebView(network_, alarms_));
  builtNet_ = network_.Net().get();
  builtSetup_ = network_.Setup().get();
  std::string problem;
  if (!server->Start(*raw, &problem)) {
    if (why) *why = QStringLiteral("веб-доступ не запущен: %1").arg(QString::fromStdString(problem));
    return false;
  }
  server_ = std::move(server);
  site_ = std::move(pages);
  readTicket_ = network_.RegisterRead.Add([this](const TCustomRegister& reg) { Read(reg); });
  if (alarms_ != nullptr)
    alarmTicket_ = alarms_->Observe([this](const TAlarmEvent& e) {
      alarmsChanged_ = true;
      // Its labels' colours change; their texts stay as they are.
      TWebChange& c = pending_[e.Name];
      c.Register = e.Name;
    });
  flush_.start();
  return true;
}

void TWebLink::Stop() {
  if (!Running()) return;
  flush_.stop();
  network_.RegisterRead.Remove(readTicket_);
  if (alarms_ != nullptr) alarms_->Forget(alarmTicket_);
  server_->Stop();  // the thread ends before the pages it calls go
  server_.reset();
  site_.reset();
  pending_.clear();
}

uint16_t TWebLink::Port() const {
  return server_ ? server_->Port() : 0;
}

QString TWebLink::Url() const {
  const QString host = options_.Settings.Address.contains(QLatin1Char(':'))
                           ? QLatin1Char('[') + options_.Settings.Address + QLatin1Char(']')
                           : options_.Settings.Address;
  return QStringLiteral("%1://%2:%3/")
      .arg(options_.Settings.Tls() ? QStringLiteral("https") : QStringLiteral("http"), host)
      .arg(Port());
}

TWebServer::TCounts TWebLink::Counts() const {
  return server_ ? server_->Counts() : TWebServer::TCounts{};
}

void TWebLink::Refresh() {
  if (!Running()) return;
  builtNet_ = network_.Net().get();
  builtSetup_ = network_.Setup().get();
  pending_.clear();
  alarmsChanged_ = false;
  auto view = std::make_shared<TWebView>(BuildWebView(network_, alarms_));
  server_->Post([site = site_.get(), view] { site->SetView(std::move(*view)); });
}

void TWebLink::Read(const TCustomRegister& reg) {
  // Copied now (the register may go with an edit before the flush); the last read of each wins.
  TWebChange& c = pending_[reg.Name()] = ChangeOf(reg, nullptr);
  c.ReadMs = QDateTime::currentMSecsSinceEpoch();
}

void TWebLink::Flush() {
  std::vector<std::pair<QString, QString>> asked;
  {
    const std::lock_guard lock(askedMutex_);
    asked.swap(asked_);
  }
  for (const auto& [name, user] : asked) {
    if (alarms_ == nullptr) break;
    const QString who = kWhoWebPrefix + user;
    const int count = alarms_->Acknowledge(name, who);
    if (Acknowledged) Acknowledged(who, count);
  }
  if (network_.Net().get() != builtNet_ || network_.Setup().get() != builtSetup_) return Refresh();
  if (pending_.empty() && !alarmsChanged_) return;
  auto changes = std::make_shared<std::vector<TWebChange>>();
  changes->reserve(pending_.size());
  for (auto& [name, change] : pending_) {
    if (alarms_ != nullptr) std::tie(change.Alarm, change.Priority) = alarms_->WorstState(name);
    changes->push_back(std::move(change));
  }
  pending_.clear();
  std::optional<std::vector<TWebAlarm>> alarms;
  if (alarmsChanged_ && alarms_ != nullptr) alarms = ActiveWebAlarms(*alarms_);
  alarmsChanged_ = false;
  const int unacked = alarms_ != nullptr ? alarms_->UnackedCount() : 0;
  server_->Post([site = site_.get(), changes, alarms = std::move(alarms), unacked]() mutable {
    site->Change(*changes, std::move(alarms), unacked);
  });
}

}  // namespace vexa
