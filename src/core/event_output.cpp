#include "core/event_output.h"

#include <cstdio>

namespace core {

EventOutput::EventOutput()
    : writer_([](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        // A journal or a pipe sees each line as it happens.
        std::fflush(stdout);
      }) {}

EventOutput::ListenerId EventOutput::AddListener(Listener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ListenerId id = next_listener_++;
  listeners_.emplace_back(id, std::move(listener));
  has_listener_.store(true, std::memory_order_release);
  return id;
}

void EventOutput::RemoveListener(ListenerId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
  has_listener_.store(!listeners_.empty(), std::memory_order_release);
}

plat::Status EventOutput::OpenFile(const std::string& path) {
  std::unique_ptr<plat::AppendFile> opened;
  if (!path.empty()) {
    std::string error;
    opened = plat::AppendFile::Open(path, &error);
    if (!opened) return plat::Status::Error(error);
  }
  // The old file is closed once no line is being written to it; every line before this one
  // went there, every line after goes to the new one.
  std::unique_ptr<plat::AppendFile> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::move(file_);
    file_ = std::move(opened);
  }
  return plat::Status::Ok();
}

std::string EventOutput::Format(const EventLine& line, const plat::LocalDateTime& when) const {
  if (!enabled_.load(std::memory_order_relaxed)) return "";
  return json_.load(std::memory_order_relaxed) ? line.FormatJson(when) : line.FormatText(when);
}

void EventOutput::WriteLocked(const std::string& text) {
  writer_(text);
  if (file_) file_->Write(text);
}

void EventOutput::WriteSummariesLocked(const std::vector<EventLine>& summaries,
                                       const plat::LocalDateTime& when) {
  if (!enabled_.load(std::memory_order_relaxed)) return;
  for (const EventLine& summary : summaries) WriteLocked(Format(summary, when));
}

void EventOutput::Emit(const EventLine& line) noexcept {
  const bool enabled = enabled_.load(std::memory_order_relaxed);
  if (!enabled && !has_listener_.load(std::memory_order_acquire)) return;
  try {
    plat::LocalDateTime now = plat::NowLocal();
    const std::string text = Format(line, now);
    std::vector<EventLine> summaries;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, listener] : listeners_) listener(line, now);
    const bool written = throttle_.Admit(line, clock_->MonotonicMs(), summaries);
    WriteSummariesLocked(summaries, now);
    if (written && enabled) WriteLocked(text);
  } catch (...) {
    // An event line is not worth a failure of the server.
  }
}

void EventOutput::FlushSummaries() noexcept {
  try {
    plat::LocalDateTime now = plat::NowLocal();
    std::vector<EventLine> summaries;
    std::lock_guard<std::mutex> lock(mutex_);
    throttle_.Flush(summaries);
    WriteSummariesLocked(summaries, now);
  } catch (...) {
    // As for any event line.
  }
}

}  // namespace core
