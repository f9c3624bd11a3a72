// A minimal outgoing TCP exchange for the web status poster: resolve, connect (optionally from a
// given local address), send a request, close. The answer is never read.
//
// Every step is bounded by the request's time limit, so a peer that never accepts, never reads or
// a name server that never answers cannot hold the caller longer than that.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/status.h"

namespace plat {

struct OutgoingRequest {
  std::string host;  // name or dotted IPv4 address
  uint16_t port = 80;
  std::string local_ip;            // empty: any local address; otherwise dotted IPv4
  std::string bytes;               // the whole request
  uint32_t time_limit_ms = 10000;  // for resolving, connecting and sending together
  // Asked while the request waits; returning true gives the request up at once. Empty: never.
  std::function<bool()> abandon;
};

// Resolves, connects, sends every byte, then closes. Fails with an error text (also when the time
// limit passed or the request was abandoned); succeeds once every byte was handed to the
// operating system.
Status SendRequest(const OutgoingRequest& request);

}  // namespace plat
