// The Windows build has no HTTP server (no metrics endpoint, no web view): Debian's cpp-httplib
// exists for the build machine only. Asking for one is answered with an error the server reports
// as a warning.
#include "platform/http_server.h"

namespace plat {

struct HttpServer::Impl {};

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {}

HttpServer::~HttpServer() = default;

Status HttpServer::Start(Endpoint, Handler, HttpLimits) {
  return Status::Error("the Windows build has no HTTP server");
}

void HttpServer::Stop() {}

uint16_t HttpServer::BoundPort() const {
  return 0;
}

}  // namespace plat
