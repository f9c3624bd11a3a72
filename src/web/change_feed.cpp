#include "web/change_feed.h"

#include <algorithm>
#include <chrono>

#include "core/event_line.h"
#include "platform/thread_start.h"
#include "web/event_stream.h"
#include "web/status_document.h"

namespace web {
namespace {

std::shared_ptr<const std::string> EventText(const std::string& kind, const std::string& data) {
  return std::make_shared<const std::string>("event: " + kind + "\ndata: " + data + "\n\n");
}

}  // namespace

ChangeFeed::ChangeFeed(ViewSources sources, const plat::Clock& clock, uint32_t start_tick)
    : sources_(std::move(sources)), clock_(clock), start_tick_(start_tick) {}

plat::Status ChangeFeed::Start() {
  return plat::StartThread(thread_, "web view", [this] { Run(); });
}

void ChangeFeed::Stop() {
  std::vector<std::shared_ptr<EventStream>> streams;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    streams = streams_;
    streams_.clear();
    newcomers_.clear();
  }
  wake_cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (const auto& stream : streams) stream->Finish();
}

void ChangeFeed::OnEvent(const core::EventLine& line) {
  std::optional<Change> change = ChangeOf(line);
  const bool settings_changed = !change && ChangesSettings(line);
  if (!change && !settings_changed) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (streams_.empty() || stopping_) return;
    if (settings_changed) {
      settings_changed_ = true;
    } else {
      if (waiting_.size() >= kMaxWaitingChanges) return;
      waiting_.push_back(std::move(*change));
    }
  }
  wake_cv_.notify_one();
}

void ChangeFeed::Subscribe(std::shared_ptr<EventStream> stream) {
  bool stopping;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping = stopping_;
    if (!stopping) {
      streams_.push_back(stream);
      newcomers_.push_back(stream);
    }
  }
  if (stopping) {
    stream->Finish();  // too late: nothing will come
    return;
  }
  wake_cv_.notify_one();
}

void ChangeFeed::Unsubscribe(const EventStream* stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto same = [stream](const std::shared_ptr<EventStream>& held) { return held.get() == stream; };
  std::erase_if(streams_, same);
  std::erase_if(newcomers_, same);
}

void ChangeFeed::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool look_again = false;
  while (!stopping_) {
    auto news = [this] {
      return stopping_ || settings_changed_ || !waiting_.empty() || !newcomers_.empty();
    };
    if (look_again)
      wake_cv_.wait_for(lock, std::chrono::milliseconds(kRecheckMs), news);
    else
      wake_cv_.wait(lock, news);
    if (stopping_) break;
    std::vector<Change> changes = std::move(waiting_);
    waiting_.clear();
    settings_changed_ = false;
    look_again = !changes.empty();
    if (streams_.empty()) {
      // The streams that were waiting for these changes have gone.
      last_sent_.reset();
      look_again = false;
      continue;
    }
    // The registries are read, and the streams written to, without the feed's lock.
    lock.unlock();
    Publish(changes);
    lock.lock();
  }
}

ViewState ChangeFeed::RecentState() {
  std::lock_guard<std::mutex> lock(recent_mutex_);
  const uint64_t now = plat::MonotonicMicroseconds();
  if (!recent_ || now - recent_at_us_ >= kRecentUs) {
    recent_ = GatherViewState(sources_);
    recent_at_us_ = now;
  }
  return *recent_;
}

void ChangeFeed::Publish(const std::vector<Change>& changes) {
  const ViewState state = GatherViewState(sources_);
  const bool changed = !last_sent_ || state != *last_sent_ || !changes.empty();
  std::vector<std::shared_ptr<EventStream>> streams;
  std::vector<std::shared_ptr<EventStream>> newcomers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    streams = streams_;
    newcomers.swap(newcomers_);
  }
  if (!changed && newcomers.empty()) return;
  std::vector<EventStream::Event> events;
  for (const Change& change : changes)
    events.push_back(EventText(change.kind, ChangeData(change, state.show_players)));
  const EventStream::Event status = EventText("status", StatusDocument(state, UptimeSeconds()));
  for (const auto& stream : changed ? streams : newcomers) stream->Push(events, status);
  last_sent_ = state;
}

}  // namespace web
