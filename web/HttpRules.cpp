#include "web/HttpRules.h"

#include <QByteArray>
#include <QHostAddress>
#include <cstdio>

namespace vexa {

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Decoded(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int hi = Hex(text[i + 1]);
      const int lo = Hex(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else if (c == '+' && plusIsBlank) {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool SafePath(std::string_view path) {
  if (path.empty() || path[0] != '/') return false;
  for (const char c : path)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\') return false;
  // Segments: none empty (but the root), none "." or "..".
  if (path == "/") return true;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::optional<TTarget> ParseTarget(std::string_view target) {
  if (target.empty() || target.size() > kMaxTargetBytes || target[0] != '/') return std::nullopt;
  const size_t mark = target.find('?');
  const std::string_view rawPath = target.substr(0, mark);
  if (!SafePath(rawPath)) return std::nullopt;
  std::optional<std::string> path = Decoded(rawPath, false);
  if (!path || !SafePath(*path)) return std::nullopt;
  TTarget t{std::move(*path), {}};
  if (mark != std::string_view::npos) {
    auto query = ParseForm(target.substr(mark + 1));
    if (!query) return std::nullopt;
    t.Query = std::move(*query);
  }
  return t;
}

std::optional<std::map<std::string, std::string>> ParseForm(std::string_view body) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view pair = body.substr(start, end - start);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      auto key = Decoded(pair.substr(0, eq), true);
      auto value = Decoded(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), true);
      if (!key || !value) return std::nullopt;
      fields.emplace(std::move(*key), std::move(*value));
    }
    start = end + 1;
  }
  return fields;
}

std::string CookieValue(std::string_view header, std::string_view name) {
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find(';', start);
    if (end == std::string_view::npos) end = header.size();
    std::string_view pair = header.substr(start, end - start);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) return std::string(pair.substr(eq + 1));
    start = end + 1;
  }
  return {};
}

std::string SessionCookie(const std::string& id, bool secure) {
  std::string c = std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict";
  if (id.empty()) c += "; Max-Age=0";
  if (secure) c += "; Secure";
  return c;
}

std::string HtmlEscaped(const QString& text) {
  const std::string utf8 = text.toStdString();
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string JsonString(const QString& text) {
  const std::string utf8 = text.toStdString();
  std::string out = "\"";
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      // Also '<', '>' and '&', so that a string can never close a script it is written into.
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

std::string CssColourOfStored(int color) {
  const auto c = static_cast<uint32_t>(color);
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  return buf;
}

std::string CssColourOfArgb(uint32_t argb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06x", argb & 0xFFFFFF);
  return buf;
}

bool HostAllowed(std::string_view host, const QStringList& names) {
  QString name = QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size())).trimmed();
  if (name.isEmpty()) return true;
  if (name.startsWith(QLatin1Char('['))) {
    const qsizetype close = name.indexOf(QLatin1Char(']'));
    if (close < 0) return false;
    return !QHostAddress(name.mid(1, close - 1)).isNull();
  }
  if (const qsizetype colon = name.lastIndexOf(QLatin1Char(':')); colon >= 0) name.truncate(colon);
  if (name.endsWith(QLatin1Char('.'))) name.chop(1);
  if (!QHostAddress(name).isNull() || name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
    return true;
  return names.contains(name, Qt::CaseInsensitive);
}

}  // namespace vexa
