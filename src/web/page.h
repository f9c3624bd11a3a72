// The web view's pages: the full page (GET /) and the compact widget for an iframe
// (GET /widget), each one self-contained HTML document rendered from a view of the state, so it
// is a correct snapshot without JavaScript. Its inline script (assets/view.js) then follows the
// event stream and renders every status it receives; its inline style is assets/view.css.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "web/view_state.h"

namespace web {

enum class Layout { kPage, kWidget };
// kAuto follows the reader's light or dark preference.
enum class Theme { kAuto, kLight, kDark };

std::string RenderPage(const ViewState& state, uint32_t uptime_seconds, Layout layout, Theme theme);

// Untrusted text as HTML text: valid UTF-8 (bytes that are not UTF-8 read as Latin-1), the
// characters HTML gives a meaning escaped, control characters shown as U+FFFD.
std::string HtmlText(std::string_view text);

// "42 s", "5 min", "2 h 5 min", "3 d 4 h": what the page's script shows too.
std::string UptimeText(uint32_t seconds);

}  // namespace web
