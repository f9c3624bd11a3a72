// Repeated event lines from one address: a peer that logs in and out, or fails its password,
// over and over would write a line each time, past the journal's rate limit (which would then
// drop other lines too, those fail2ban reads among them). Of one event from one address, at most
// kLinesPerWindow lines are written within kWindowMs; the rest are counted, and when the window
// is over one line says how many were left out:
//   warning suppressed of=login-failed addr=198.51.100.7 count=37
// Lines without an address (start, stop, settings, the operator's) are never held back.
//
// Times are the server clock's 64-bit monotonic milliseconds. A summary is written with the next
// event line after its window (or at the stop).
//
// Bounded: at most kMaxKeys event-and-address pairs; while they are all in use, the lines of a
// new pair are counted under its event with the address "*".
//
// Threading: none; the event output calls it under its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/event_line.h"

namespace core {

class EventThrottle {
 public:
  static constexpr uint32_t kLinesPerWindow = 10;
  static constexpr uint64_t kWindowMs = 60000;
  static constexpr size_t kMaxKeys = 4096;

  // Whether `line` is to be written at `now_ms`. The summaries of windows that have ended are
  // appended to `summaries`, to be written first.
  bool Admit(const EventLine& line, uint64_t now_ms, std::vector<EventLine>& summaries);
  // The summaries of every window with lines left out, ended or not (at the stop).
  void Flush(std::vector<EventLine>& summaries);

 private:
  struct Window {
    std::string event;
    std::string addr;
    uint64_t start_ms = 0;
    uint32_t written = 0;
    uint32_t suppressed = 0;
  };
  static EventLine Summary(const Window& window);
  // Summarises and forgets the windows that ended by `now_ms`; at most once a second.
  void Sweep(uint64_t now_ms, std::vector<EventLine>& summaries);

  std::unordered_map<std::string, Window> windows_;  // keyed by event, NUL, address
  uint64_t last_sweep_ms_ = 0;
};

}  // namespace core
