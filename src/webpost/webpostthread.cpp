#include "webpost/webpostthread.h"

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

TWebPoster::TWebPoster(PosterParts parts)
    : parts_(std::move(parts)), list_server_(ListServerAddress()) {}

plat::Status TWebPoster::Start() {
  return thread_.Start("web poster", [this] { Execute(); });
}

void TWebPoster::Execute() {
  parts_.write_line("WebPoster.Execute");
  thread_.MarkStarted();
  // Every request opens and closes its own connection, so there is no client connection to set
  // up here or to close at the end; the local bind address is applied per request.
  while (!thread_.Terminated()) {
    PostStatus();
    // The period runs from the end of the posts: a slow list server lengthens the cycle rather
    // than bunching the announcements.
    const uint32_t wait_start = parts_.clock.Now();
    while (!thread_.Terminated() && parts_.clock.Now() - wait_start < kPeriodMs)
      thread_.Sleep(kWaitStepMs);
  }
  parts_.write_line("WebPoster.Terminated");
}

std::string TWebPoster::StatusQuery(const PostSettings& settings) {
  std::string query = "serverport=" + std::to_string(settings.tcp_port);
  query += "&servername=" + settings.servername;
  query += "&clients=" + std::to_string(parts_.client_count());
  query += "&maxclients=" + std::to_string(settings.max_clients);
  query += "&serverversion=" + settings.server_version;
  if (parts_.password_protected()) query += "&passwordprotected=1";
  if (settings.display_in_web_list) query += "&public=1";
  return query;
}

std::string TWebPoster::BuiltInListServerUrl(const std::string& encoded_query) const {
  return "http://" + list_server_ + kListServerPath + "?" + encoded_query;
}

std::string TWebPoster::ConfiguredListServerUrl(const PostSettings& settings,
                                                const std::string& encoded_query) const {
  // The "?" goes in even when the configured URL carries a query of its own.
  return settings.web_post_url + "?" + encoded_query;
}

void TWebPoster::PostStatus() noexcept {
  try {
    const PostSettings settings = parts_.settings();
    if (!settings.active) return;
    const std::string encoded = EncodeSpaces(StatusQuery(settings));
    // The built-in list server first; its failure does not keep the other from being sent.
    if (settings.site_active) Post(BuiltInListServerUrl(encoded), settings.local_ip);
    if (!settings.web_post_url.empty())
      Post(ConfiguredListServerUrl(settings, encoded), settings.local_ip);
  } catch (...) {
    // Out of memory while building the query: the next cycle tries again.
  }
}

void TWebPoster::Post(const std::string& url, const std::string& local_ip) noexcept {
  try {
    std::optional<HttpUrl> parsed = ParseHttpUrl(url);
    if (!parsed) return;
    plat::OutgoingRequest request;
    request.host = parsed->host;
    request.port = parsed->port;
    request.local_ip = local_ip;
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
