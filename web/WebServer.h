#pragma once
// The web view's HTTP and WebSocket server (Boost.Beast) on a thread of its own: a bounded number
// of clients, bounded requests, a bounded send queue per WebSocket client (one that falls behind is
// dropped), plain HTTP or TLS. What a request gets is the handler's business, on the server's
// thread; slow work (the journal, the historian) runs on one more thread beside it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexa {

struct TWebRequest {
  std::string Method;
  std::string Target;
  std::string Cookie;
  std::string Body;
  std::string ContentType;
  std::string Origin;
  std::string Host;
  std::string Peer;  // the client's address
  bool Tls = false;
};

struct TWebResponse {
  int Status = 200;
  std::string Type = "text/html; charset=utf-8";
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Headers;
};
using TWebReply = std::function<void(TWebResponse)>;

class TWebHandler {
 public:
  virtual ~TWebHandler() = default;
  // The server's thread; reply there, at once or later.
  virtual void Serve(const TWebRequest& request, TWebReply reply) = 0;
  // Whether a WebSocket may open for the request, and then its first message.
  virtual std::optional<std::string> Watch(const TWebRequest& request) = 0;
};

struct TWebServerOptions {
  std::string Address = "127.0.0.1";
  uint16_t Port = 0;     // 0: any free port
  std::string CertFile;  // PEM; both given: TLS
  std::string KeyFile;
  int MaxClients = 100;
  size_t MaxHeaderBytes = 8 * 1024;
  size_t MaxBodyBytes = 8 * 1024;
  size_t MaxQueuedMessages = 256;
  size_t MaxQueuedBytes = 4 * 1024 * 1024;
  int RequestMs = 10000;  // a request arrives and its answer leaves within this
  int MaxAsideJobs = 16;
};

class TWebServer {
 public:
  explicit TWebServer(TWebServerOptions options);
  ~TWebServer();  // Stop
  TWebServer(const TWebServer&) = delete;
  TWebServer& operator=(const TWebServer&) = delete;

  // Binds, listens and starts the thread; false with the reason.
  bool Start(TWebHandler& handler, std::string* why);
  void Stop();
  uint16_t Port() const { return port_; }
  bool Tls() const;

  // Any thread: f runs on the server's thread.
  void Post(std::function<void()> f);
  // Server's thread: work runs on the thread beside, and then done on the server's thread; false
  // (and neither runs) when too many wait.
  bool Aside(std::function<std::function<void()>()> work);
  // Server's thread: queued for every WebSocket client.
  void Broadcast(const std::string& message);

  struct TCounts {
    int64_t Accepted = 0;
    int64_t Refused = 0;      // past the bound of clients
    int64_t BadRequests = 0;  // malformed or too large
    int64_t Dropped = 0;      // WebSocket clients whose queue overflowed
    int Clients = 0;          // connected now
    int Watchers = 0;         // of them WebSocket clients
    int64_t Sent = 0;         // WebSocket messages written
  };
  TCounts Counts() const;

  struct TCore;

 private:
  TWebServerOptions options_;
  std::unique_ptr<TCore> core_;
  uint16_t port_ = 0;
};

}  // namespace vexa
