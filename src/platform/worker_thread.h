// A worker thread with a terminate flag that its body polls, and a sleep that ends early when
// the flag is set. The owner joins it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/status.h"
#include "platform/thread_start.h"

namespace plat {

class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() {
    Terminate();
    Join();
  }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // An error text when the system gives no thread (see plat::StartThread).
  Status Start(const std::string& role, std::function<void()> body) {
    return plat::StartThread(thread_, role, std::move(body));
  }
  void Terminate() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      terminated_.store(true, std::memory_order_release);
    }
    wake_cv_.notify_all();
  }
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  // Sleeps `milliseconds`, or less when Terminate is called meanwhile.
  void Sleep(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                      [this] { return Terminated(); });
  }
  bool Running() const { return thread_.joinable(); }
  // The body tells its starter it is under way (after its start line), so lines written after
  // the start cannot come before it.
  void MarkStarted() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      started_ = true;
    }
    wake_cv_.notify_all();
  }
  // With a lock and a condition, not an atomic wait: the atomic wait of some standard libraries
  // (MinGW's among them) can miss the notification.
  void WaitStarted() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_cv_.wait(lock, [this] { return started_; });
  }
  void Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }

 private:
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  bool started_ = false;  // guarded by mutex_
  std::mutex mutex_;
  std::condition_variable wake_cv_;
};

}  // namespace plat
