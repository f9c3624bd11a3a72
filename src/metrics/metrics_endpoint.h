// The metrics endpoint: GET /metrics answers with a fresh snapshot in the Prometheus text form,
// GET / with a page that links to it. Any other path is not found and any other method is not
// allowed; the HTTP server bounds each request's size and time.
//
// Threading: Start and Stop from the thread that starts and stops the server; requests are
// answered on the HTTP server's own threads, which take the registries' locks only for the
// snapshot. The sources must outlive Stop.
#pragma once

#include <cstdint>
#include <string>

#include "metrics/snapshot.h"
#include "platform/endpoint.h"
#include "platform/http_server.h"
#include "platform/status.h"

namespace metrics {

class MetricsEndpoint {
 public:
  explicit MetricsEndpoint(Sources sources) : sources_(std::move(sources)) {}
  ~MetricsEndpoint() { Stop(); }
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Serves on `address`; an error text when it cannot be bound.
  plat::Status Start(plat::Endpoint address);
  void Stop() { http_.Stop(); }
  uint16_t BoundPort() const { return http_.BoundPort(); }

  // The answer to one request.
  plat::HttpAnswer Answer(const std::string& method, const std::string& path) const;

 private:
  Sources sources_;
  plat::HttpServer http_;
};

}  // namespace metrics
