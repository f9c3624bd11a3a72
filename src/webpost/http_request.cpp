#include "webpost/http_request.h"

#include <cctype>

#include "platform/ascii_case.h"

namespace webpost {
namespace {

constexpr std::string_view kScheme = "http://";
constexpr char kAccept[] = "text/html, */*";
// List servers recognise announcements by this agent text.
constexpr char kUserAgent[] = "Mozilla/3.0 (compatible; Indy Library)";

bool IsHostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

bool NeedsEscapeInTarget(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '#';
}

std::string EscapeTarget(std::string_view target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(target.size());
  for (char c : target) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (NeedsEscapeInTarget(byte)) {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
  if (!plat::StartsWithIgnoringAsciiCase(url, kScheme)) return std::nullopt;
  std::string_view rest = url.substr(kScheme.size());
  size_t authority_end = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, authority_end);
  std::string_view target =
      authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);

  HttpUrl parsed;
  size_t colon = authority.find(':');
  std::string_view host = authority.substr(0, colon);
  if (colon != std::string_view::npos) {
    std::optional<uint16_t> port = ParsePort(authority.substr(colon + 1));
    if (!port) return std::nullopt;
    parsed.port = *port;
  }
  if (host.empty()) return std::nullopt;
  for (char c : host) {
    if (!IsHostCharacter(c)) return std::nullopt;
  }
  parsed.host = std::string(host);
  parsed.target = (target.empty() || target.front() != '/') ? "/" : "";
  parsed.target += EscapeTarget(target);
  return parsed;
}

std::string HostHeaderValue(const HttpUrl& url) {
  if (url.port == kDefaultHttpPort) return url.host;
  return url.host + ":" + std::to_string(url.port);
}

std::string BuildPostRequest(const HttpUrl& url) {
  std::string request = "POST " + url.target + " HTTP/1.0\r\n";
  request += "Host: " + HostHeaderValue(url) + "\r\n";
  request += std::string("Accept: ") + kAccept + "\r\n";
  request += std::string("User-Agent: ") + kUserAgent + "\r\n";
  request += "\r\n";
  return request;
}

}  // namespace webpost
