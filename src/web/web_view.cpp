#include "web/web_view.h"

#include <memory>

#include "web/content_policy.h"
#include "web/event_stream.h"
#include "web/page.h"
#include "web/status_document.h"

namespace web {
namespace {

Theme ThemeOf(const std::string& name) {
  if (name == "light") return Theme::kLight;
  if (name == "dark") return Theme::kDark;
  return Theme::kAuto;
}

}  // namespace

plat::Status WebView::Start(plat::Endpoint address, core::EventOutput& events) {
  if (plat::Status started = feed_.Start(); !started.ok()) return started;
  plat::HttpLimits limits;
  limits.max_requests = kMaxRequests;
  limits.max_requests_per_address = kMaxRequestsPerAddress;
  limits.max_streams = options_.max_streams;
  limits.max_streams_per_address = options_.max_streams_per_address;
  plat::Status served = http_.Start(
      address, [this](const plat::HttpRequest& request) { return Answer(request); }, limits);
  if (!served.ok()) {
    feed_.Stop();
    return served;
  }
  events_ = &events;
  listener_ = events.AddListener(
      [this](const core::EventLine& line, const plat::LocalDateTime&) { feed_.OnEvent(line); });
  return served;
}

void WebView::Stop() {
  if (events_) {
    events_->RemoveListener(listener_);
    events_ = nullptr;
  }
  feed_.Stop();
  http_.Stop();
}

plat::HttpAnswer WebView::Answer(const plat::HttpRequest& request) {
  plat::HttpAnswer answer;
  if (request.method != "GET") {
    answer = plat::HttpRefusal(405, "Only GET is served here.\n");
    answer.allow = "GET";
  } else if (request.path == "/") {
    answer = Page(Layout::kPage, request);
  } else if (request.path == "/widget") {
    answer = Page(Layout::kWidget, request);
  } else if (request.path == "/status.json") {
    answer.content_type = "application/json";
    answer.body = StatusDocument(feed_.RecentState(), feed_.UptimeSeconds()) + "\n";
    answer.headers.emplace_back("Access-Control-Allow-Origin", "*");
  } else if (request.path == "/events") {
    answer.content_type = "text/event-stream";
    answer.stream = std::make_shared<EventStream>(feed_, clock_);
  } else {
    answer = plat::HttpRefusal(404, "Not found: the view is at /.\n");
  }
  for (auto& header : CommonHeaders()) answer.headers.push_back(std::move(header));
  return answer;
}

plat::HttpAnswer WebView::Page(Layout layout, const plat::HttpRequest& request) {
  plat::HttpAnswer answer;
  answer.content_type = "text/html; charset=utf-8";
  answer.body = RenderPage(feed_.RecentState(), feed_.UptimeSeconds(), layout,
                           ThemeOf(request.Param("theme")));
  answer.headers.emplace_back("Content-Security-Policy", PagePolicy(layout == Layout::kWidget));
  return answer;
}

}  // namespace web
