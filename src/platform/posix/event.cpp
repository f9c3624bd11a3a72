#include "platform/event.h"

#include <chrono>

namespace plat {

AutoResetEvent::AutoResetEvent() = default;
AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (signalled_) return;
    signalled_ = true;
  }
  signalled_cv_.notify_one();
}

void AutoResetEvent::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  signalled_cv_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

bool AutoResetEvent::WaitFor(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!signalled_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [this] { return signalled_; })) {
    return false;
  }
  signalled_ = false;
  return true;
}

}  // namespace plat
