// The deadline of an outgoing request (see http_post.h) and the name lookup bounded by it: the
// policy both backends share. Each backend supplies the blocking lookup and the error numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/status.h"

namespace plat {

// How often a wait looks at the request's abandon hook.
inline constexpr int kAbandonCheckMs = 50;

enum class StopReason { kAbandoned, kTimedOut };

// The request's time limit from its creation, and its abandon hook (which must outlive it).
class RequestDeadline {
 public:
  RequestDeadline(uint32_t limit_ms, const std::function<bool()>& abandon);
  // Milliseconds left, 0 once the limit has passed.
  int RemainingMs() const;
  // The next wait: at most one abandon-check interval.
  int NextWaitMs() const;
  // Why waiting must end now, or nothing.
  std::optional<StopReason> Stop() const;

 private:
  const uint32_t started_;
  const uint32_t limit_ms_;
  const std::function<bool()>& abandon_;
};

// The backend's error number for a stop reason, and its text.
int StopErrorNumber(StopReason reason);
std::string ErrorNumberText(int error);

// The IPv4 address of `host` (dotted or a name), looked up no longer than the deadline allows.
// An error text on failure.
Status ResolveWithin(const std::string& host, const RequestDeadline& deadline, uint32_t* ip);

}  // namespace plat
