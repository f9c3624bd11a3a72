// The Prometheus text exposition format (version 0.0.4) of a snapshot: one family per figure,
// each with its HELP and TYPE lines. Names from the network (rooms) appear only as label values,
// escaped so no byte of them can end a value or a line.
#pragma once

#include <string>
#include <string_view>

#include "metrics/snapshot.h"

namespace metrics {

inline constexpr char kExpositionContentType[] = "text/plain; version=0.0.4; charset=utf-8";

std::string RenderExposition(const Snapshot& snapshot);

// A label value as the format writes it, without the quotes around it: backslash, double quote
// and line feed escaped; other control bytes and bytes that are not UTF-8 written as the text
// \xNN (an escaped backslash, then x and two hex digits); valid UTF-8 kept.
std::string EscapeLabelValue(std::string_view value);

// Microseconds as decimal seconds without an exponent: 50 -> "0.00005", 2500000 -> "2.5".
std::string SecondsText(uint64_t microseconds);

}  // namespace metrics
