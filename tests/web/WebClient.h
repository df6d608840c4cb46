#pragma once
// The tests' side of the web view: raw bytes on a socket (for requests no browser would send), a
// plain HTTP exchange, and a WebSocket client whose reads wait a bounded time.

#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <map>
#include <optional>
#include <string>

namespace vexa::test {

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

inline void SetReadTimeout(tcp::socket& socket, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

inline tcp::socket Connect(net::io_context& io, uint16_t port) {
  tcp::socket socket(io);
  socket.connect({net::ip::make_address("127.0.0.1"), port});
  return socket;
}

// What the server answers to `bytes`, read until it closes or `ms` pass without a byte.
inline std::string RawExchange(uint16_t port, const std::string& bytes, int ms = 3000) {
  net::io_context io;
  tcp::socket socket = Connect(io, port);
  SetReadTimeout(socket, ms);
  boost::system::error_code ec;
  net::write(socket, net::buffer(bytes), ec);
  std::string answer;
  char buffer[4096];
  for (;;) {
    const size_t n = socket.read_some(net::buffer(buffer), ec);
    if (ec || n == 0) break;
    answer.append(buffer, n);
  }
  return answer;
}

struct THttpAnswer {
  int Status = 0;
  std::map<std::string, std::string> Headers;  // the last of each name
  std::string Body;
  std::string Header(const std::string& name) const {
    const auto it = Headers.find(name);
    return it == Headers.end() ? std::string() : it->second;
  }
};

inline THttpAnswer Http(uint16_t port, const std::string& method, const std::string& target,
                        const std::string& body = {}, const std::string& cookie = {},
                        const std::string& origin = {}) {
  net::io_context io;
  tcp::socket socket(io);
  boost::system::error_code ec;
  socket.connect({net::ip::make_address("127.0.0.1"), port}, ec);
  if (ec) return {};  // nobody listens (yet)
  SetReadTimeout(socket, 10000);
  namespace http = beast::http;
  http::request<http::string_body> request(http::string_to_verb(method), target, 11);
  request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  if (!cookie.empty()) request.set(http::field::cookie, cookie);
  if (!origin.empty()) request.set(http::field::origin, origin);
  if (!body.empty()) request.set(http::field::content_type, "application/x-www-form-urlencoded");
  request.body() = body;
  request.prepare_payload();
  http::write(socket, request, ec);
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  if (!ec) http::read(socket, buffer, response, ec);
  THttpAnswer a;
  if (ec) return a;
  a.Status = static_cast<int>(response.result_int());
  for (const auto& field : response) a.Headers[std::string(field.name_string())] = std::string(field.value());
  a.Body = response.body();
  return a;
}

// "vexa_session=…" of an answer's Set-Cookie.
inline std::string SessionOf(const THttpAnswer& a) {
  const std::string c = a.Header("Set-Cookie");
  return c.substr(0, c.find(';'));
}

class TWsClient {
 public:
  TWsClient(uint16_t port, const std::string& target, const std::string& cookie = {}, std::string origin = {})
      : ws_(io_) {
    boost::system::error_code ec;
    ws_.next_layer().connect({net::ip::make_address("127.0.0.1"), port}, ec);
    if (ec) return;
    SetReadTimeout(ws_.next_layer(), 5000);
    const std::string host = "127.0.0.1:" + std::to_string(port);
    if (origin.empty()) origin = "http://" + host;
    ws_.set_option(
        beast::websocket::stream_base::decorator([cookie, origin](beast::websocket::request_type& r) {
          if (!cookie.empty()) r.set(beast::http::field::cookie, cookie);
          r.set(beast::http::field::origin, origin);
        }));
    ws_.read_message_max(64 * 1024 * 1024);
    ws_.handshake(host, target, ec);
    open_ = !ec;
  }
  bool Open() const { return open_; }
  bool Send(const std::string& text) {
    boost::system::error_code ec;
    ws_.write(net::buffer(text), ec);
    return !ec;
  }
  // The next message; null when none came within the socket's timeout or the server closed.
  std::optional<std::string> Receive() {
    beast::flat_buffer buffer;
    boost::system::error_code ec;
    ws_.read(buffer, ec);
    if (ec) return std::nullopt;
    return beast::buffers_to_string(buffer.data());
  }

 private:
  net::io_context io_;
  beast::websocket::stream<tcp::socket> ws_;
  bool open_ = false;
};

// A port free on the loopback now (the kernel's pick, let go at once).
inline uint16_t FreeLoopbackPort() {
  net::io_context io;
  tcp::acceptor a(io, {net::ip::make_address("127.0.0.1"), 0});
  return a.local_endpoint().port();
}

}  // namespace vexa::test
