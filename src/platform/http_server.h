// A small HTTP/1.1 server for read-only pages (the metrics endpoint, the web view): it accepts
// on one address, reads one request per connection and answers it through a handler, then
// closes the connection. An answer may instead stream its body for as long as its reader
// listens (Server-Sent Events).
//
// Every request is bounded: at most kMaxRequestBytes of request line and headers, read within
// kRequestTimeMs of the accept, and at most HttpLimits' connections at once, in all and per
// address (a connection still waiting for its request makes room for a newcomer; when every
// place is being answered, further ones are closed at accept). A request body is never read. A streamed answer
// beyond the streams' limits is answered 503. While a stream's connection holds bytes its reader
// has not taken, the stream is not asked for more (its own backlog, which it bounds, grows
// instead), and a reader that takes nothing for TcpConnection::kMaxUndrainedMs is closed: nobody
// waits for a stalled reader. The parsing and the answer's form are the work of Debian's
// cpp-httplib; the sockets are the platform's own TCP listener.
//
// Threading: Start and Stop from one thread. The handler runs on the connection threads, several
// at once, so it must be safe to call concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/endpoint.h"
#include "platform/http_admission.h"
#include "platform/status.h"

namespace plat {

struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;    // decoded, without the query
  std::multimap<std::string, std::string> query;

  // The first value of the query parameter `name`; empty when there is none.
  std::string Param(const std::string& name) const {
    auto at = query.find(name);
    return at == query.end() ? std::string() : at->second;
  }
};

// The body of a streamed answer. The HTTP server calls it on the connection's thread only.
class HttpBodyStream {
 public:
  virtual ~HttpBodyStream() = default;
  // The stream begins (its head goes out next). `wake` makes the server look at Over and Take
  // soon; any thread may call it, also after the stream has ended.
  virtual void Begin(std::function<void()> wake) = 0;
  // Whether the stream is over: nothing more will come. Asked after every wake, and at least
  // every kStreamPollMs.
  virtual bool Over() = 0;
  // The bytes to send now; empty when there is nothing at the moment. Asked only when the
  // connection has sent everything before.
  virtual std::string Take() = 0;
  // The stream has ended (its reader left or stalled, or the server stops). Once, after Begin.
  virtual void End() = 0;
};

struct HttpAnswer {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body;
  // The methods to name in an Allow header (a 405 answer); none when empty.
  std::string allow;
  std::vector<std::pair<std::string, std::string>> headers;
  // When set, the body is this stream (sent in chunks) instead of `body`.
  std::shared_ptr<HttpBodyStream> stream;
};

// A plain-text answer that refuses the request (404, 405, 503, ...).
inline HttpAnswer HttpRefusal(int status, std::string text) {
  HttpAnswer answer;
  answer.status = status;
  answer.body = std::move(text);
  return answer;
}

class HttpServer {
 public:
  using Handler = std::function<HttpAnswer(const HttpRequest& request)>;

  static constexpr size_t kMaxRequestBytes = 8192;
  static constexpr uint32_t kRequestTimeMs = 5000;
  // The kernel's send buffer of a stream's connection.
  static constexpr int kStreamSendBuffer = 32 * 1024;
  // How long a stream waits at most, without a wake, before it looks at its body again.
  static constexpr int kStreamPollMs = 15000;

  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds `address` (port 0: any free port) and starts serving. An error text when it cannot
  // (the address is taken, or this build has no HTTP server).
  Status Start(Endpoint address, Handler handler, HttpLimits limits = {});
  // Stops accepting, ends the streams and waits for the connections being served. Safe to call
  // more than once.
  void Stop();
  // The bound port; 0 before Start.
  uint16_t BoundPort() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
