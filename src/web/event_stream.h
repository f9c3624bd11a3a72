// One reader's event stream (GET /events): the events the change feed has for it, waiting until
// its connection takes them, then handed on as one piece.
//
// Bounded: a status event that has not gone out yet is replaced by a newer one (each is the
// whole state), and when the changes waiting pass kMaxBacklog bytes the reader is too slow to
// keep: the stream is over and its connection closed (the browser reconnects and starts from a
// fresh status). A stream with nothing to say sends a comment every kKeepAliveMs, so a reader
// that has gone away is noticed.
//
// Threading: the change feed pushes from its thread; the HTTP server asks on the connection's
// thread. The stream's own lock is never held while it wakes the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/http_server.h"

namespace web {

class ChangeFeed;

class EventStream : public plat::HttpBodyStream, public std::enable_shared_from_this<EventStream> {
 public:
  static constexpr size_t kMaxBacklog = 64 * 1024;
  static constexpr uint32_t kKeepAliveMs = 15000;
  // How long a browser waits before it reconnects a stream that ended.
  static constexpr uint32_t kRetryMs = 3000;

  // The feed and the clock outlive the stream's Begin..End.
  EventStream(ChangeFeed& feed, const plat::Clock& clock) : feed_(feed), clock_(clock) {}

  // plat::HttpBodyStream, on the connection's thread: Begin subscribes to the feed, End leaves.
  void Begin(std::function<void()> wake) override;
  bool Over() override;
  std::string Take() override;
  void End() override;

  using Event = std::shared_ptr<const std::string>;
  // The feed's side: change events in their order, then a status event (when not null), which
  // replaces one that has not gone out.
  void Push(const std::vector<Event>& changes, const Event& status);
  // The feed stops: nothing more will come.
  void Finish();

 private:
  // REQUIRES: mutex_ held.
  void QueueLocked(const Event& event, bool status);
  void ForgetWaitingLocked();
  void WakeReader();

  ChangeFeed& feed_;
  const plat::Clock& clock_;
  std::mutex mutex_;
  std::deque<Event> waiting_;  // guarded by mutex_
  // The status event among those waiting, if any.
  const std::string* waiting_status_ = nullptr;  // guarded by mutex_
  size_t waiting_bytes_ = 0;                     // guarded by mutex_
  bool over_ = false;                            // guarded by mutex_
  std::function<void()> wake_;                   // guarded by mutex_
  bool began_ = false;                           // connection thread only
  uint32_t last_sent_ = 0;                       // connection thread only
};

}  // namespace web
