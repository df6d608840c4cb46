#include "web/WebSessions.h"

namespace vexa {

void StartSecureSession(TWebServer::TCore& core, beast::tcp_stream stream, std::string peer) {
  std::make_shared<THttpSession<TSecure>>(core, TSecure(std::move(stream), *core.ssl), std::move(peer))
      ->Run();
}

}  // namespace vexa
