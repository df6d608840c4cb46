#include "web/WebSessions.h"

namespace vexa {

void StartPlainSession(TWebServer::TCore& core, beast::tcp_stream stream, std::string peer) {
  std::make_shared<THttpSession<TPlain>>(core, std::move(stream), std::move(peer))->Run();
}

void StartWatcher(TWebServer::TCore& core, TPlain&& stream, std::unique_ptr<TClientTicket> ticket,
                  http::request<http::string_body> request, std::string greeting) {
  std::make_shared<TWatcher<TPlain>>(core, std::move(stream), std::move(ticket))
      ->Accept(std::move(request), std::move(greeting));
}

}  // namespace vexa
