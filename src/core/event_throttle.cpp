#include "core/event_throttle.h"

namespace core {

EventLine EventThrottle::Summary(const Window& window) {
  EventLine line(EventLevel::kWarning, "suppressed");
  line.Word("of", window.event).Word("addr", window.addr).Number("count", window.suppressed);
  return line;
}

void EventThrottle::Sweep(uint64_t now_ms, std::vector<EventLine>& summaries) {
  if (now_ms < last_sweep_ms_ + 1000) return;
  last_sweep_ms_ = now_ms;
  std::erase_if(windows_, [&](const auto& entry) {
    const Window& window = entry.second;
    if (now_ms < window.start_ms + kWindowMs) return false;
    if (window.suppressed > 0) summaries.push_back(Summary(window));
    return true;
  });
}

bool EventThrottle::Admit(const EventLine& line, uint64_t now_ms,
                          std::vector<EventLine>& summaries) {
  Sweep(now_ms, summaries);
  const std::string_view addr = line.Value("addr");
  if (addr.empty()) return true;
  std::string key = line.name() + '\0' + std::string(addr);
  auto found = windows_.find(key);
  if (found == windows_.end() && windows_.size() >= kMaxKeys) {
    key = line.name() + '\0' + '*';
    found = windows_.find(key);
  }
  if (found == windows_.end()) {
    const bool overflow = key.back() == '*' && key[key.size() - 2] == '\0';
    found =
        windows_.emplace(key, Window{line.name(), overflow ? "*" : std::string(addr), now_ms, 0, 0})
            .first;
  }
  Window& window = found->second;
  if (now_ms >= window.start_ms + kWindowMs) {
    if (window.suppressed > 0) summaries.push_back(Summary(window));
    window.start_ms = now_ms;
    window.written = 0;
    window.suppressed = 0;
  }
  if (window.written < kLinesPerWindow) {
    ++window.written;
    return true;
  }
  ++window.suppressed;
  return false;
}

void EventThrottle::Flush(std::vector<EventLine>& summaries) {
  for (auto& [key, window] : windows_) {
    if (window.suppressed == 0) continue;
    summaries.push_back(Summary(window));
    window.suppressed = 0;
  }
}

}  // namespace core
