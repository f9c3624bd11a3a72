// The headers every answer of the web view carries, and the Content-Security-Policy of its
// pages: only their own inline script and style, named by their SHA-256, may run or apply; no
// other script, style, image, font, frame or form target; the event stream only from this
// server. A name that smuggled markup into a page could therefore still run nothing.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace web {

using Headers = std::vector<std::pair<std::string, std::string>>;

// nosniff, no referrer, and no caching of a view that changes.
Headers CommonHeaders();
// The policy of a page; `framable`: other sites may show it in a frame (the widget).
std::string PagePolicy(bool framable);

}  // namespace web
