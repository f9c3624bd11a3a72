#include "metrics/metrics_endpoint.h"

#include "metrics/exposition.h"

namespace metrics {
namespace {

constexpr char kIndexPage[] =
    "<!DOCTYPE html>\n<html><head><title>Parlowind server</title></head>\n"
    "<body><h1>Parlowind server</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

// Room for several scrapers and a person with a browser; two per address, so that one address
// cannot take every place.
constexpr plat::HttpLimits kLimits{.max_requests = 16, .max_requests_per_address = 2};

}  // namespace

plat::Status MetricsEndpoint::Start(plat::Endpoint address) {
  return http_.Start(
      address,
      [this](const plat::HttpRequest& request) { return Answer(request.method, request.path); },
      kLimits);
}

plat::HttpAnswer MetricsEndpoint::Answer(const std::string& method, const std::string& path) const {
  if (method != "GET") {
    plat::HttpAnswer answer = plat::HttpRefusal(405, "Only GET is served here.\n");
    answer.allow = "GET";
    return answer;
  }
  if (path == "/metrics") {
    plat::HttpAnswer answer;
    answer.content_type = kExpositionContentType;
    answer.body = RenderExposition(Gather(sources_));
    return answer;
  }
  if (path == "/") {
    plat::HttpAnswer answer;
    answer.content_type = "text/html; charset=utf-8";
    answer.body = kIndexPage;
    return answer;
  }
  return plat::HttpRefusal(404, "Not found: the metrics are at /metrics.\n");
}

}  // namespace metrics
