#include "metrics/metrics_endpoint.h"

#include "metrics/exposition.h"

namespace metrics {
namespace {

constexpr char kIndexPage[] =
    "<!DOCTYPE html>\n<html><head><title>Parlowind server</title></head>\n"
    "<body><h1>Parlowind server</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

plat::HttpAnswer Refusal(int status, const char* text) {
  plat::HttpAnswer answer;
  answer.status = status;
  answer.body = text;
  return answer;
}

}  // namespace

plat::Status MetricsEndpoint::Start(plat::Endpoint address) {
  return http_.Start(address, [this](const std::string& method, const std::string& path) {
    return Answer(method, path);
  });
}

plat::HttpAnswer MetricsEndpoint::Answer(const std::string& method, const std::string& path) const {
  if (method != "GET") {
    plat::HttpAnswer answer = Refusal(405, "Only GET is served here.\n");
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
  return Refusal(404, "Not found: the metrics are at /metrics.\n");
}

}  // namespace metrics
