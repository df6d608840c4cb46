#include "web/WebSessions.h"

namespace vexa {

void StartWatcher(TWebServer::TCore& core, TSecure&& stream, std::unique_ptr<TClientTicket> ticket,
                  http::request<http::string_body> request, std::string greeting) {
  std::make_shared<TWatcher<TSecure>>(core, std::move(stream), std::move(ticket))
      ->Accept(std::move(request), std::move(greeting));
}

}  // namespace vexa
