#include "web/WebServer.h"

#include "web/WebSessions.h"

namespace vexa {

void TWebServer::TCore::Accept() {
  acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) {
      if (clients >= options.MaxClients) {
        // Past the bound: told in one small write the fresh socket takes at once, and closed.
        ++refused;
        static const char kBusy[] =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        beast::error_code ignored;
        socket.non_blocking(true, ignored);
        socket.write_some(asio::buffer(kBusy, sizeof kBusy - 1), ignored);
        socket.close(ignored);
      } else {
        ++accepted;
        beast::error_code peerError;
        const auto endpoint = socket.remote_endpoint(peerError);
        std::string peer = peerError ? std::string() : endpoint.address().to_string();
        beast::tcp_stream stream(std::move(socket));
        if (ssl)
          StartSecureSession(*this, std::move(stream), std::move(peer));
        else
          StartPlainSession(*this, std::move(stream), std::move(peer));
      }
    }
    Accept();
  });
}

TWebServer::TWebServer(TWebServerOptions options) : options_(std::move(options)) {}

TWebServer::~TWebServer() {
  Stop();
}

bool TWebServer::Start(TWebHandler& handler, std::string* why) {
  if (core_) return true;
  auto core = std::make_unique<TCore>(options_);
  core->handler = &handler;
  const auto fail = [why](const std::string& text) {
    if (why) *why = text;
    return false;
  };
  beast::error_code ec;
  if (!options_.CertFile.empty() || !options_.KeyFile.empty()) {
    core->ssl.emplace(asio::ssl::context::tls_server);
    core->ssl->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                           asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                           asio::ssl::context::no_tlsv1_1);
    core->ssl->use_certificate_chain_file(options_.CertFile, ec);
    if (ec) return fail("сертификат " + options_.CertFile + ": " + ec.message());
    core->ssl->use_private_key_file(options_.KeyFile, asio::ssl::context::pem, ec);
    if (ec) return fail("ключ " + options_.KeyFile + ": " + ec.message());
  }
  const auto address = asio::ip::make_address(options_.Address, ec);
  if (ec) return fail("адрес " + options_.Address + ": " + ec.message());
  const tcp::endpoint endpoint(address, options_.Port);
  core->acceptor.open(endpoint.protocol(), ec);
  if (!ec) core->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) core->acceptor.bind(endpoint, ec);
  if (!ec) core->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return fail(options_.Address + ":" + std::to_string(options_.Port) + ": " + ec.message());
  port_ = core->acceptor.local_endpoint().port();
  core->aside = std::make_unique<asio::thread_pool>(1);
  core->Accept();
  // Kept before the thread runs: its first request may already ask for it (Aside, Broadcast).
  core_ = std::move(core);
  core_->thread = std::thread([c = core_.get()] {
    pthread_setname_np(pthread_self(), "vexa-web");
    c->io.run();
  });
  return true;
}

void TWebServer::Stop() {
  if (!core_) return;
  core_->aside->join();
  core_->io.stop();
  if (core_->thread.joinable()) core_->thread.join();
  core_.reset();
}

bool TWebServer::Tls() const {
  return !options_.CertFile.empty();
}

void TWebServer::Post(std::function<void()> f) {
  if (core_) asio::post(core_->io, std::move(f));
}

bool TWebServer::Aside(std::function<std::function<void()>()> work) {
  if (!core_ || core_->asideJobs >= options_.MaxAsideJobs) return false;
  ++core_->asideJobs;
  // The work and what it holds (a reply, and with it a session) go back with the outcome, so that
  // they are let go on the server's thread, which alone counts the clients.
  auto job = std::make_unique<std::function<std::function<void()>()>>(std::move(work));
  asio::post(*core_->aside, [core = core_.get(), job = std::move(job)]() mutable {
    auto done = std::make_unique<std::function<void()>>((*job)());
    asio::post(core->io, [core, job = std::move(job), done = std::move(done)] {
      --core->asideJobs;
      if (*done) (*done)();
    });
  });
  return true;
}

void TWebServer::Broadcast(const std::string& message) {
  if (!core_ || core_->watchers.empty()) return;
  const auto shared = std::make_shared<const std::string>(message);
  // Send may drop a watcher; it leaves the set only in its destructor, later.
  for (TWatcherBase* w : std::vector<TWatcherBase*>(core_->watchers.begin(), core_->watchers.end()))
    w->Send(shared);
}

TWebServer::TCounts TWebServer::Counts() const {
  TCounts c;
  if (!core_) return c;
  c.Accepted = core_->accepted;
  c.Refused = core_->refused;
  c.BadRequests = core_->badRequests;
  c.Dropped = core_->dropped;
  c.Clients = core_->clientCount;
  c.Watchers = core_->watcherCount;
  c.Sent = core_->sent;
  return c;
}

}  // namespace vexa
