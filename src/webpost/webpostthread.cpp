#include "webpost/webpostthread.h"

#include "core/servermain.h"
#include "platform/http_post.h"
#include "platform/process.h"
#include "webpost/http_request.h"

namespace webpost {
namespace {

std::string ListServerAddress() {
  std::string configured = plat::EnvironmentVariable(kListServerVariable);
  return configured.empty() ? std::string(kBuiltInListServer) : configured;
}

}  // namespace

TWebPoster::TWebPoster(core::TParlowindServer& server)
    : server_(server), list_server_(ListServerAddress()) {}

std::optional<std::string> TWebPoster::Start() {
  return thread_.Start("web poster", [this] { Execute(); });
}

void TWebPoster::Execute() {
  server_.WriteWorkerLine("WebPoster.Execute");
  thread_.MarkStarted();
  // Every request opens and closes its own connection, so there is no client connection to set
  // up here or to close at the end; the local bind address is applied per request.
  while (!thread_.Terminated()) {
    PostStatus();
    for (int step = 0; step < kWaitSteps && !thread_.Terminated(); ++step) {
      thread_.Sleep(kWaitStepMs);
    }
  }
  server_.WriteWorkerLine("WebPoster.Terminated");
}

std::string TWebPoster::StatusQuery() {
  const core::Settings& settings = server_.settings();
  std::string query = "serverport=" + std::to_string(settings.TCPPort);
  query += "&servername=" + settings.Servername;
  query += "&clients=" + std::to_string(server_.clients().Count());
  query += "&maxclients=" + std::to_string(settings.MaxClients);
  query += "&serverversion=" + settings.ServerVersion;
  if (server_.passwords().HasServerPassword()) query += "&passwordprotected=1";
  if (settings.ParlowindSite_DisplayInWebList) query += "&public=1";
  return query;
}

std::string TWebPoster::BuiltInListServerUrl(const std::string& encoded_query) const {
  return "http://" + list_server_ + kListServerPath + "?" + encoded_query;
}

std::string TWebPoster::ConfiguredListServerUrl(const std::string& encoded_query) const {
  // The "?" goes in even when the configured URL carries a query of its own.
  return server_.settings().WebPostURL + "?" + encoded_query;
}

void TWebPoster::PostStatus() noexcept {
  try {
    const core::Settings& settings = server_.settings();
    const std::string encoded = EncodeSpaces(StatusQuery());
    // The built-in list server first; its failure does not keep the other from being sent.
    if (settings.ParlowindSite_Active) Post(BuiltInListServerUrl(encoded));
    if (!settings.WebPostURL.empty()) Post(ConfiguredListServerUrl(encoded));
  } catch (...) {
    // Out of memory while building the query: the next cycle tries again.
  }
}

void TWebPoster::Post(const std::string& url) noexcept {
  try {
    std::optional<HttpUrl> parsed = ParseHttpUrl(url);
    if (!parsed) return;
    plat::OutgoingRequest request;
    request.host = parsed->host;
    request.port = parsed->port;
    request.local_ip = server_.settings().IP;
    request.bytes = BuildPostRequest(*parsed);
    request.time_limit_ms = request_time_limit_ms_;
    request.abandon = [this] { return thread_.Terminated(); };
    // Failures are not reported: the next attempt is the next cycle.
    (void)plat::SendRequest(request);
  } catch (...) {
    // Same as a failed request.
  }
}

std::string EncodeSpaces(std::string text) {
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    if (c == ' ') {
      encoded += "%20";
    } else {
      encoded += c;
    }
  }
  return encoded;
}

}  // namespace webpost
