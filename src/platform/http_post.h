// A minimal outgoing TCP exchange for the web status poster: connect (optionally from a given
// local address), send a request, close. The answer is not read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plat {

struct OutgoingRequest {
  std::string host;        // name or dotted address
  uint16_t port = 80;
  std::string local_ip;    // empty: any local address
  std::string bytes;       // the whole request
  uint32_t time_limit_ms = 10000;  // for resolving, connecting and sending together
};

// Returns an error text on failure.
std::optional<std::string> SendRequest(const OutgoingRequest& request);

}  // namespace plat
