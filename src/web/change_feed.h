// The change feed: the web view's one worker. The event output hands it every change as it
// happens (without waiting); its thread takes a fresh view of the registries and sends each
// open event stream the changes in their order, then the whole state as a status event. It
// looks once more kRecheckMs after each batch of changes, so a change whose event line comes
// before the registries show it (a leave) reaches the readers all the same; otherwise it sleeps
// until a change or a new stream comes. A reload wakes it too: the server's name or capacity
// may have changed.
//
// Threading: OnEvent from any thread (inside the event output's lock, possibly inside registry
// locks: it only queues and notifies). Subscribe and Unsubscribe from the streams' connection
// threads. Start and Stop from the thread that starts and stops the web view.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"
#include "web/changes.h"
#include "web/view_state.h"

namespace core {
class EventLine;
}

namespace web {

class EventStream;

class ChangeFeed {
 public:
  static constexpr uint32_t kRecheckMs = 250;
  // How old a gathered state may be when a request is answered from it.
  static constexpr uint64_t kRecentUs = 100000;
  // Changes waiting for the feed's thread; more are dropped (the next status still shows them).
  static constexpr size_t kMaxWaitingChanges = 4096;

  // Uptime is counted on `clock` from `start_tick`; the clock outlives the feed.
  ChangeFeed(ViewSources sources, const plat::Clock& clock, uint32_t start_tick);
  ~ChangeFeed() { Stop(); }
  ChangeFeed(const ChangeFeed&) = delete;
  ChangeFeed& operator=(const ChangeFeed&) = delete;

  plat::Status Start();
  // Ends every stream and the thread. Safe to call more than once.
  void Stop();

  void OnEvent(const core::EventLine& line);
  void Subscribe(std::shared_ptr<EventStream> stream);
  void Unsubscribe(const EventStream* stream);

  // The state as of at most kRecentUs ago: requests share one gathering, so a flood of them
  // reads the registries no more often than that. Any thread.
  ViewState RecentState();
  uint32_t UptimeSeconds() const { return (clock_.Now() - start_tick_) / 1000; }

 private:
  void Run();
  // One round of the thread: the changes and a fresh status to the streams.
  void Publish(const std::vector<Change>& changes);

  const ViewSources sources_;
  const plat::Clock& clock_;
  const uint32_t start_tick_;

  std::mutex mutex_;
  std::condition_variable wake_cv_;
  std::vector<Change> waiting_;                          // guarded by mutex_
  std::vector<std::shared_ptr<EventStream>> streams_;    // guarded by mutex_
  std::vector<std::shared_ptr<EventStream>> newcomers_;  // guarded by mutex_; not sent a status yet
  bool stopping_ = false;                                // guarded by mutex_
  bool settings_changed_ = false;                        // guarded by mutex_; a reload took a file
  std::thread thread_;

  std::optional<ViewState> last_sent_;  // the feed's thread only

  std::mutex recent_mutex_;
  std::optional<ViewState> recent_;  // guarded by recent_mutex_
  uint64_t recent_at_us_ = 0;        // guarded by recent_mutex_; on the monotonic clock
};

}  // namespace web
