// Starts the web view beside a started server and ties its end to the server's shutdown. The
// only place that knows both the server object and the web view.
#pragma once

#include <memory>

#include "core/servermain.h"
#include "web/web_view.h"

namespace web {

// After a successful Server_Init: when [Web] Listen names an address, serves the web view there,
// fed by the server's event lines, and says so on the event lines (`web listen=...`), or with
// `web-failed` and on standard error when it cannot. Null when there is no web view. The view
// stops first when the server shuts down (if it still exists), or when it is destroyed; the
// server must outlive it.
std::shared_ptr<WebView> StartWebView(core::TParlowindServer& server);

}  // namespace web
