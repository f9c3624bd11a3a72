// Where event lines go: standard output by default, one whole line per write, in the text or
// the JSON form, and also to a file when [Logging] File names one; nowhere when [Logging]
// Events is 0. Lines repeated from one address are held back from what is written and
// summarised (EventThrottle); the listeners see every line, since the web view must miss no
// change.
//
// Thread-safe: lines from any thread are serialised by the output's own lock, so lines never
// interleave, and a reload may change the form and the file while lines are written.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/event_line.h"
#include "core/event_throttle.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/status.h"

namespace core {

class EventOutput {
 public:
  using Writer = std::function<void(std::string_view line)>;

  EventOutput();
  void Configure(bool enabled, bool json) {
    enabled_.store(enabled, std::memory_order_relaxed);
    json_.store(json, std::memory_order_relaxed);
  }
  // Opens `path` (relative to the current directory) anew and writes the lines there from now
  // on, beside standard output; the file in use until then is closed, so a log rotated away by
  // renaming is let go. Empty: no file. When the file cannot be opened the lines keep going
  // where they went (nothing is lost) and the error says why.
  plat::Status OpenFile(const std::string& path);
  // Replaces standard output (the tests collect the lines). Before the server's threads start.
  void SetWriter(Writer writer) { writer_ = std::move(writer); }
  // The clock the windows of repeated lines are timed on (the server's); it outlives the
  // output. Before any line is emitted.
  void SetClock(const plat::Clock& clock) { clock_ = &clock; }
  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
  // Also hands every event to `listener` (the operator interface's watchers, the web view's
  // live changes), whether or not lines are written. Any thread, at any time; returns the id
  // that RemoveListener takes. Listeners run under the output's lock, possibly inside registry
  // locks: they must only hand the line on, never wait.
  using Listener = std::function<void(const EventLine& line, const plat::LocalDateTime& when)>;
  using ListenerId = uint64_t;
  ListenerId AddListener(Listener listener);
  // After it returns, the listener is not running and will not run again.
  void RemoveListener(ListenerId id);

  // Formats and writes one line, unless it is held back as a repetition; a failure to write is
  // ignored (the server goes on).
  void Emit(const EventLine& line) noexcept;
  // Writes the summaries of every repetition held back so far (at the stop).
  void FlushSummaries() noexcept;

 private:
  // The line as written: empty when lines are off.
  std::string Format(const EventLine& line, const plat::LocalDateTime& when) const;
  // Writes one formatted line to standard output and the file. REQUIRES: mutex_ held.
  void WriteLocked(const std::string& text);
  // Writes the summaries of the repetitions held back. REQUIRES: mutex_ held.
  void WriteSummariesLocked(const std::vector<EventLine>& summaries,
                            const plat::LocalDateTime& when);
  std::atomic<bool> enabled_{true};
  std::atomic<bool> json_{false};
  Writer writer_;
  const plat::Clock* clock_ = &plat::SystemClock();
  std::vector<std::pair<ListenerId, Listener>> listeners_;  // guarded by mutex_
  ListenerId next_listener_ = 1;                            // guarded by mutex_
  EventThrottle throttle_;                                  // guarded by mutex_
  std::atomic<bool> has_listener_{false};
  std::unique_ptr<plat::AppendFile> file_;  // guarded by mutex_
  std::mutex mutex_;
};

}  // namespace core
