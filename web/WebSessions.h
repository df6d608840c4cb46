#pragma once
// The web server's insides, shared by its parts: the server's state, and the HTTP and WebSocket
// sessions as templates over the stream. The instantiations are heavy: the plain stream's, the
// secure HTTP session and the secure watcher are each made in a file of their own, so that they
// compile side by side.

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>
#include <unordered_set>

#include "web/WebServer.h"

namespace vexa {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using TPlain = beast::tcp_stream;
using TSecure = beast::ssl_stream<beast::tcp_stream>;

class TWatcherBase {
 public:
  virtual ~TWatcherBase() = default;
  virtual void Send(const std::shared_ptr<const std::string>& message) = 0;
};

struct TWebServer::TCore {
  explicit TCore(const TWebServerOptions& o) : options(o), acceptor(io) {}

  // In this order, so that what the sessions touch as the context destroys them outlives it.
  const TWebServerOptions& options;
  std::optional<asio::ssl::context> ssl;
  TWebHandler* handler = nullptr;
  std::unordered_set<TWatcherBase*> watchers;  // server's thread
  int clients = 0;                             // server's thread
  int asideJobs = 0;
  std::atomic<int64_t> accepted{0}, refused{0}, badRequests{0}, dropped{0}, sent{0};
  std::atomic<int> clientCount{0}, watcherCount{0};
  // No concurrency hint: other threads post to it and stop it, which the one-thread hint does not
  // lock for.
  asio::io_context io;
  tcp::acceptor acceptor;
  std::unique_ptr<asio::thread_pool> aside;
  std::thread thread;

  void Accept();
};

template <class Stream>
constexpr bool kSecure = std::is_same_v<Stream, TSecure>;

// Counts a client from its connection to its last handler.
class TClientTicket {
 public:
  explicit TClientTicket(TWebServer::TCore& core) : core_(core) { core_.clientCount = ++core_.clients; }
  ~TClientTicket() { core_.clientCount = --core_.clients; }
  TClientTicket(const TClientTicket&) = delete;
  TClientTicket& operator=(const TClientTicket&) = delete;

 private:
  TWebServer::TCore& core_;
};

template <class Stream>
class TWatcher : public TWatcherBase, public std::enable_shared_from_this<TWatcher<Stream>> {
 public:
  TWatcher(TWebServer::TCore& core, Stream&& stream, std::unique_ptr<TClientTicket> ticket)
      : core_(core), ws_(std::move(stream)), ticket_(std::move(ticket)) {}
  ~TWatcher() override {
    if (joined_) {
      core_.watchers.erase(this);
      core_.watcherCount = static_cast<int>(core_.watchers.size());
    }
  }

  void Accept(http::request<http::string_body> request, std::string greeting) {
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.read_message_max(4096);
    request_ = std::move(request);  // kept until the handshake's answer is out
    ws_.async_accept(request_,
                     [self = this->shared_from_this(), greeting = std::move(greeting)](beast::error_code ec) {
                       if (ec) return;
                       self->joined_ = true;
                       self->core_.watchers.insert(self.get());
                       self->core_.watcherCount = static_cast<int>(self->core_.watchers.size());
                       // The greeting holds every value shown: on a large network past the
                       // bounds, so it is taken whole and not counted against them.
                       self->queue_.push_back(std::make_shared<const std::string>(greeting));
                       self->greetingOut_ = false;
                       self->Write();
                       self->Read();
                     });
  }

  void Send(const std::shared_ptr<const std::string>& message) override {
    if (closed_) return;
    if (queue_.size() >= core_.options.MaxQueuedMessages ||
        queuedBytes_ + message->size() > core_.options.MaxQueuedBytes) {
      // Fallen behind: dropped, never waited for.
      ++core_.dropped;
      Close();
      return;
    }
    queue_.push_back(message);
    queuedBytes_ += message->size();
    if (queue_.size() == 1) Write();
  }

 private:
  void Write() {
    ws_.text(true);
    ws_.async_write(asio::buffer(*queue_.front()),
                    [self = this->shared_from_this()](beast::error_code ec, size_t) {
                      if (ec) return self->Close();
                      ++self->core_.sent;
                      if (self->greetingOut_) self->queuedBytes_ -= self->queue_.front()->size();
                      self->greetingOut_ = true;
                      self->queue_.pop_front();
                      if (!self->queue_.empty()) self->Write();
                    });
  }
  // What the browser says is read and dropped: the reads keep the pings and the close answered.
  void Read() {
    ws_.async_read(in_, [self = this->shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return self->Close();
      self->in_.consume(self->in_.size());
      self->Read();
    });
  }
  void Close() {
    if (closed_) return;
    closed_ = true;
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

  TWebServer::TCore& core_;
  websocket::stream<Stream> ws_;
  std::unique_ptr<TClientTicket> ticket_;
  http::request<http::string_body> request_;
  beast::flat_buffer in_;
  std::deque<std::shared_ptr<const std::string>> queue_;
  size_t queuedBytes_ = 0;
  bool greetingOut_ = true;  // false while the greeting, first in the queue, is on its way
  bool joined_ = false;
  bool closed_ = false;
};

// A watcher of a connection that asked for the WebSocket; each stream's in a file of its own.
void StartWatcher(TWebServer::TCore& core, TPlain&& stream, std::unique_ptr<TClientTicket> ticket,
                  http::request<http::string_body> request, std::string greeting);
void StartWatcher(TWebServer::TCore& core, TSecure&& stream, std::unique_ptr<TClientTicket> ticket,
                  http::request<http::string_body> request, std::string greeting);

template <class Stream>
class THttpSession : public std::enable_shared_from_this<THttpSession<Stream>> {
 public:
  THttpSession(TWebServer::TCore& core, Stream&& stream, std::string peer)
      : core_(core),
        stream_(std::move(stream)),
        peer_(std::move(peer)),
        ticket_(std::make_unique<TClientTicket>(core)) {}

  void Run() {
    Expire();
    if constexpr (kSecure<Stream>) {
      stream_.async_handshake(asio::ssl::stream_base::server,
                              [self = this->shared_from_this()](beast::error_code ec) {
                                if (ec) return;
                                self->Read();
                              });
    } else {
      Read();
    }
  }

 private:
  void Expire() {
    beast::get_lowest_layer(stream_).expires_after(std::chrono::milliseconds(core_.options.RequestMs));
  }

  void Read() {
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(core_.options.MaxHeaderBytes));
    parser_->body_limit(core_.options.MaxBodyBytes);
    Expire();
    http::async_read(stream_, buffer_, *parser_,
                     [self = this->shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
  }

  void OnRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted ||
        ec == beast::error::timeout || ec == asio::error::eof || ec == asio::error::connection_reset)
      return Shut();
    if (ec) {
      ++core_.badRequests;
      const bool large = ec == http::error::header_limit || ec == http::error::body_limit ||
                         ec == http::error::buffer_overflow;
      return Refuse(large ? (ec == http::error::body_limit ? 413 : 431) : 400);
    }
    http::request<http::string_body> request = parser_->release();
    TWebRequest r;
    r.Method = std::string(request.method_string());
    r.Target = std::string(request.target());
    r.Cookie = std::string(request[http::field::cookie]);
    r.ContentType = std::string(request[http::field::content_type]);
    r.Origin = std::string(request[http::field::origin]);
    r.Host = std::string(request[http::field::host]);
    r.Peer = peer_;
    r.Tls = kSecure<Stream>;
    if (websocket::is_upgrade(request)) {
      std::optional<std::string> greeting = core_.handler->Watch(r);
      if (!greeting) return Refuse(403);
      StartWatcher(core_, std::move(stream_), std::move(ticket_), std::move(request), std::move(*greeting));
      return;
    }
    r.Body = std::move(request.body());
    keepAlive_ = request.keep_alive();
    head_ = request.method() == http::verb::head;
    core_.handler->Serve(
        r, [self = this->shared_from_this()](TWebResponse response) { self->Write(std::move(response)); });
  }

  void Refuse(int status) {
    keepAlive_ = false;
    TWebResponse response;
    response.Status = status;
    response.Type = "text/plain; charset=utf-8";
    response.Body = status == 403 ? "Нет доступа\n" : "Запрос отклонён\n";
    Write(std::move(response));
  }

  void Write(TWebResponse response) {
    auto message = std::make_shared<http::response<http::string_body>>();
    message->result(static_cast<unsigned>(response.Status));
    message->version(11);
    message->set(http::field::server, "Vexa");
    message->set(http::field::content_type, response.Type);
    for (const auto& [name, value] : response.Headers) message->insert(name, value);
    message->keep_alive(keepAlive_);
    message->body() = std::move(response.Body);
    message->prepare_payload();
    if (head_) message->body().clear();
    Expire();
    http::async_write(stream_, *message,
                      [self = this->shared_from_this(), message](beast::error_code ec, size_t) {
                        if (ec || !self->keepAlive_) return self->Shut();
                        self->Read();
                      });
  }

  void Shut() {
    beast::error_code ignored;
    beast::get_lowest_layer(stream_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(stream_).close();
  }

  TWebServer::TCore& core_;
  Stream stream_;
  std::string peer_;
  std::unique_ptr<TClientTicket> ticket_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  bool keepAlive_ = false;
  bool head_ = false;
};

// Each in a file of its own: a session of a connection the server took.
void StartPlainSession(TWebServer::TCore& core, beast::tcp_stream stream, std::string peer);
void StartSecureSession(TWebServer::TCore& core, beast::tcp_stream stream, std::string peer);

}  // namespace vexa
