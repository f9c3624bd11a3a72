// An auto-reset event: Set wakes one waiter (or the next one to wait), and the wake-up consumes
// the signal. Thread-safe.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace plat {

class AutoResetEvent {
 public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Set();
  // Blocks until the event is signalled, then clears it.
  void Wait();
  // As Wait, giving up after timeout_ms; returns whether the event was signalled.
  bool WaitFor(uint32_t timeout_ms);

 private:
#ifdef _WIN32
  void* handle_;  // the event object
#else
  std::mutex mutex_;
  std::condition_variable signalled_cv_;
  bool signalled_ = false;
#endif
};

}  // namespace plat
