// The web view: a page that shows who is on and in which room (GET /), a compact widget for an
// iframe (GET /widget, ?theme=light or dark), the same state as a JSON document for other sites
// (GET /status.json) and the live changes as Server-Sent Events (GET /events), served on its
// own address, apart from the metrics endpoint. Any other path is not found, any other method
// not allowed.
//
// Bounded: the HTTP server's limits on each request's size and time; kMaxRequests connections
// being answered at once (kMaxRequestsPerAddress from one address); event streams as the
// options say, in all and per address; each stream's backlog (see EventStream).
//
// Threading: Start and Stop from the thread that starts and stops the server; requests are
// answered on the HTTP server's threads. The sources must outlive Stop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/event_output.h"
#include "platform/clock.h"
#include "platform/endpoint.h"
#include "platform/http_server.h"
#include "platform/status.h"
#include "web/change_feed.h"
#include "web/page.h"
#include "web/view_state.h"

namespace web {

class WebView {
 public:
  static constexpr size_t kMaxRequests = 16;
  static constexpr size_t kMaxRequestsPerAddress = 4;

  struct Options {
    size_t max_streams = 64;
    size_t max_streams_per_address = 4;
  };

  // Uptime is counted on `clock` from `start_tick`.
  WebView(ViewSources sources, const plat::Clock& clock, uint32_t start_tick, Options options)
      : clock_(clock), options_(options), feed_(std::move(sources), clock, start_tick) {}
  ~WebView() { Stop(); }
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // Serves on `address`, fed by `events` (which must outlive Stop); an error text when the
  // address cannot be bound or the feed cannot start.
  plat::Status Start(plat::Endpoint address, core::EventOutput& events);
  // Leaves the event lines, ends the streams and stops serving. Safe to call more than once.
  void Stop();
  uint16_t BoundPort() const { return http_.BoundPort(); }

  // The answer to one request.
  plat::HttpAnswer Answer(const plat::HttpRequest& request);

 private:
  plat::HttpAnswer Page(Layout layout, const plat::HttpRequest& request);

  const plat::Clock& clock_;
  const Options options_;
  core::EventOutput* events_ = nullptr;
  core::EventOutput::ListenerId listener_ = 0;
  ChangeFeed feed_;
  // After the feed: destroyed first, so no stream's connection outlives the feed it leaves.
  plat::HttpServer http_;
};

}  // namespace web
