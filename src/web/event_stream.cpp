#include "web/event_stream.h"

#include <algorithm>

#include "web/change_feed.h"

namespace web {

void EventStream::Begin(std::function<void()> wake) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(wake);
  }
  last_sent_ = clock_.Now();
  feed_.Subscribe(shared_from_this());
}

void EventStream::End() {
  feed_.Unsubscribe(this);
  std::lock_guard<std::mutex> lock(mutex_);
  over_ = true;
  wake_ = nullptr;
  ForgetWaitingLocked();
}

bool EventStream::Over() {
  std::lock_guard<std::mutex> lock(mutex_);
  return over_;
}

std::string EventStream::Take() {
  std::string piece;
  if (!began_) {
    piece = "retry: " + std::to_string(kRetryMs) + "\n\n";
    began_ = true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    piece.reserve(piece.size() + waiting_bytes_);
    for (const Event& event : waiting_) piece += *event;
    ForgetWaitingLocked();
  }
  const uint32_t now = clock_.Now();
  if (piece.empty() && now - last_sent_ >= kKeepAliveMs) piece = ": keep-alive\n\n";
  if (!piece.empty()) last_sent_ = now;
  return piece;
}

void EventStream::ForgetWaitingLocked() {
  waiting_.clear();
  waiting_status_ = nullptr;
  waiting_bytes_ = 0;
}

void EventStream::QueueLocked(const Event& event, bool status) {
  if (status && waiting_status_ != nullptr) {
    auto old = std::find_if(waiting_.begin(), waiting_.end(), [this](const Event& waiting) {
      return waiting.get() == waiting_status_;
    });
    waiting_bytes_ -= (*old)->size();
    waiting_.erase(old);
  }
  waiting_bytes_ += event->size();
  if (status) waiting_status_ = event.get();
  waiting_.push_back(event);
}

void EventStream::Push(const std::vector<Event>& changes, const Event& status) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (over_) return;
    for (const Event& change : changes) QueueLocked(change, false);
    if (status) QueueLocked(status, true);
    if (waiting_bytes_ > kMaxBacklog) {
      // The reader takes less than the changes bring: let it go; it reconnects to a fresh status.
      over_ = true;
      ForgetWaitingLocked();
    }
  }
  WakeReader();
}

void EventStream::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    over_ = true;
  }
  WakeReader();
}

void EventStream::WakeReader() {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake = wake_;
  }
  if (wake) wake();
}

}  // namespace web
