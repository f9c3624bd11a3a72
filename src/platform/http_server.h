// A small HTTP/1.1 server for read-only pages (the metrics endpoint): it accepts on one address,
// reads one request per connection and answers it through a handler, then closes the connection.
//
// Every request is bounded: at most kMaxRequestBytes of request line and headers, read within
// kRequestTimeMs of the accept, and at most kMaxConnections connections at once (further ones are
// closed at accept). A request body is never read. The parsing and the answer's form are the work
// of Debian's cpp-httplib; the sockets are the platform's own TCP listener.
//
// Threading: Start and Stop from one thread. The handler runs on the connection threads, several
// at once, so it must be safe to call concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/endpoint.h"
#include "platform/status.h"

namespace plat {

struct HttpAnswer {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body;
  // The methods to name in an Allow header (a 405 answer); none when empty.
  std::string allow;
};

class HttpServer {
 public:
  // method ("GET", "POST", ...) and path (decoded, without the query) of the request.
  using Handler = std::function<HttpAnswer(const std::string& method, const std::string& path)>;

  static constexpr size_t kMaxRequestBytes = 8192;
  static constexpr uint32_t kRequestTimeMs = 5000;
  static constexpr size_t kMaxConnections = 4;

  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds `address` (port 0: any free port) and starts serving. An error text when it cannot
  // (the address is taken, or this build has no HTTP server).
  Status Start(Endpoint address, Handler handler);
  // Stops accepting and waits for the connections being served. Safe to call more than once.
  void Stop();
  // The bound port; 0 before Start.
  uint16_t BoundPort() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
