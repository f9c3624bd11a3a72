// Where event lines go: standard output by default, one whole line per write, in the text or
// the JSON form, or nowhere when [Logging] Events is 0.
//
// Thread-safe: lines from any thread are serialised by the output's own lock, so lines never
// interleave. Configure before the server's threads start.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/event_line.h"

namespace core {

class EventOutput {
 public:
  using Writer = std::function<void(std::string_view line)>;

  EventOutput();
  void Configure(bool enabled, bool json) {
    enabled_ = enabled;
    json_ = json;
  }
  // Replaces standard output (the tests collect the lines).
  void SetWriter(Writer writer) { writer_ = std::move(writer); }
  bool Enabled() const { return enabled_; }
  // Also hands every event to `listener` (the operator interface's watchers), whether or not
  // lines are written. Any thread, at any time; null removes it. The listener runs under the
  // output's lock, possibly inside registry locks: it must only hand the line on, never wait.
  using Listener = std::function<void(const EventLine& line, const plat::LocalDateTime& when)>;
  void SetListener(Listener listener);

  // Formats and writes one line; a failure to write is ignored (the server goes on).
  void Emit(const EventLine& line) noexcept;

 private:
  bool enabled_ = true;
  bool json_ = false;
  Writer writer_;
  Listener listener_;  // guarded by mutex_
  std::atomic<bool> has_listener_{false};
  std::mutex mutex_;
};

}  // namespace core
