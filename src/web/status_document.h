// The status document: the view's state as JSON for other sites (GET /status.json) and for the
// page's own updates (the event stream's status events). Its form is versioned and described by
// docs/status.schema.json; a change that breaks a reader raises kStatusVersion.
#pragma once

#include <cstdint>
#include <string>

#include "web/view_state.h"

namespace web {

inline constexpr int kStatusVersion = 1;

// One line of JSON (no line break inside: it travels as one data line of an event). Names are
// valid UTF-8 whatever bytes they hold (bytes that are not UTF-8 read as Latin-1).
std::string StatusDocument(const ViewState& state, uint32_t uptime_seconds);

}  // namespace web
