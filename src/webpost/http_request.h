// The HTTP side of the web status poster, without any socket: parsing the list server URLs and
// building the POST request that carries the status query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace webpost {

inline constexpr uint16_t kDefaultHttpPort = 80;

// A plain-HTTP URL taken apart.
struct HttpUrl {
  std::string host;  // name or dotted address, never empty
  uint16_t port = kDefaultHttpPort;
  std::string target;  // path and query as sent on the request line; starts with "/"
};

// Accepts "http://" (any letter case) + host + optional ":port" + optional path and query; the
// path defaults to "/". Anything else (another scheme, an empty or malformed host, a port that is
// not 1..65535, user information) gives nothing.
//
// The target keeps every character as written except those that cannot stand in a request line:
// bytes up to 0x20, 0x7F, bytes of 128 and above, and "#" are sent as %XX, so a list server's URL
// decoder recovers them and a control character can never end the request line early.
std::optional<HttpUrl> ParseHttpUrl(std::string_view url);

// The Host header's value: the host, with ":port" only when the port is not the default 80.
std::string HostHeaderValue(const HttpUrl& url);

// The whole HTTP/1.0 POST with an empty body: request line, Host, Accept and User-Agent headers,
// the empty line. No Content-Length or Content-Type.
std::string BuildPostRequest(const HttpUrl& url);

}  // namespace webpost
