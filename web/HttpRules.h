#pragma once
// What the web server takes from a request before anything acts on it: the path (hostile ones
// refused), the query and form fields, the cookies; and the escapes of what it writes back.

#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vexa {

inline constexpr size_t kMaxTargetBytes = 2048;

struct TTarget {
  std::string Path;  // decoded, always beginning with '/'
  std::map<std::string, std::string> Query;
};
// Null for a target the server refuses: not an absolute path, too long, a '%' without two hex
// digits, a control character, a backslash, a "." or ".." segment or an empty one, before or after
// decoding.
std::optional<TTarget> ParseTarget(std::string_view target);
// application/x-www-form-urlencoded (and a query): '+' is a blank; null for a bad escape. A field
// named twice keeps its first value.
std::optional<std::map<std::string, std::string>> ParseForm(std::string_view body);
// The value of one cookie in a Cookie header; empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);
// Set-Cookie for a session: HttpOnly, SameSite=Strict, Path=/, Secure over TLS; an empty id clears.
std::string SessionCookie(const std::string& id, bool secure);
inline constexpr std::string_view kSessionCookie = "vexa_session";

// Whether a request's Host header names this server: an IP address, "localhost", or one of
// `names` (any case; the port left aside). A page of another site whose name was pointed at this
// address afterwards (DNS rebinding) names its own site and is refused. No Host: not a browser.
bool HostAllowed(std::string_view host, const QStringList& names);

// Text for HTML (element content and quoted attributes) and for JSON strings.
std::string HtmlEscaped(const QString& text);
std::string JsonString(const QString& text);
// A colour as the trees keep it (0x00BBGGRR) or as 0xAARRGGBB, as CSS "#rrggbb".
std::string CssColourOfStored(int color);
std::string CssColourOfArgb(uint32_t argb);

}  // namespace vexa
