// A raw HTTP exchange for the metrics tests: sends the request bytes exactly as given (so tests
// can send what no HTTP client library would) and reads the answer until the server closes the
// connection.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace pltest {

struct HttpReply {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// Nothing when no answer came: the connection was refused, closed without a status line, or
// stayed open past timeout_ms.
std::optional<HttpReply> HttpExchange(int port, const std::string& request, int timeout_ms = 10000);
std::optional<HttpReply> HttpGet(int port, const std::string& path, int timeout_ms = 10000);

// Whether the server closes an open connection (after `request`) within timeout_ms, having sent
// nothing but, at most, an error answer (no 200).
bool ClosedWithoutSuccess(int port, const std::string& request, int timeout_ms = 15000);

}  // namespace pltest
