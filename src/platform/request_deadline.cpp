// The outgoing request's deadline and its bounded name lookup; the backends look up and send.
#include "platform/request_deadline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/endpoint.h"
#include "platform/host_lookup.h"

namespace plat {

RequestDeadline::RequestDeadline(uint32_t limit_ms, const std::function<bool()>& abandon)
    : started_(TickCount()), limit_ms_(limit_ms), abandon_(abandon) {}

int RequestDeadline::RemainingMs() const {
  uint32_t spent = TickCount() - started_;
  return spent >= limit_ms_ ? 0 : static_cast<int>(limit_ms_ - spent);
}

int RequestDeadline::NextWaitMs() const {
  return std::min(RemainingMs(), kAbandonCheckMs);
}

std::optional<StopReason> RequestDeadline::Stop() const {
  if (abandon_ && abandon_()) return StopReason::kAbandoned;
  if (RemainingMs() == 0) return StopReason::kTimedOut;
  return std::nullopt;
}

namespace {

// The lookup runs on a helper thread that the caller stops waiting for when the deadline
// passes; the helper then finishes on its own and frees the state.
struct Resolution {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  HostLookup found;
};

}  // namespace

Status ResolveWithin(const std::string& host, const RequestDeadline& deadline, uint32_t* ip) {
  if (auto dotted = ParseIpv4(host)) {
    *ip = *dotted;
    return Status::Ok();
  }
  auto resolution = std::make_shared<Resolution>();
  std::thread([resolution, host] {
    HostLookup found = LookUpHost(host);
    std::lock_guard<std::mutex> lock(resolution->mutex);
    resolution->found = std::move(found);
    resolution->done = true;
    resolution->done_cv.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(resolution->mutex);
  while (!resolution->done) {
    resolution->done_cv.wait_for(lock, std::chrono::milliseconds(deadline.NextWaitMs()));
    if (resolution->done) break;
    if (auto reason = deadline.Stop())
      return Status::Error("resolve(" + host + "): " + ErrorNumberText(StopErrorNumber(*reason)));
  }
  if (!resolution->found.ip)
    return Status::Error("resolve(" + host + "): " + resolution->found.reason);
  *ip = *resolution->found.ip;
  return Status::Ok();
}

}  // namespace plat
