#include "voice/voice_queue.h"

#include <cstring>

#include "platform/clock.h"

namespace voice {

bool VoiceQueue::Append(const uint8_t* data, size_t size) {
  const uint64_t arrived = plat::MonotonicMicroseconds();
  std::lock_guard<std::mutex> lock(mutex_);
  if (queued_.size() >= kMaxQueued) {
    ++dropped_;
    return false;
  }
  VoiceBuffer buffer;
  if (!spare_.empty()) {
    buffer = std::move(spare_.back());
    spare_.pop_back();
  }
  buffer.resize(size);
  if (size > 0) std::memcpy(buffer.data(), data, size);
  queued_.push_back(std::move(buffer));
  arrivals_.push_back(arrived);
  return true;
}

void VoiceQueue::TakeAll(std::vector<VoiceBuffer>& batch) {
  std::lock_guard<std::mutex> lock(mutex_);
  batch.swap(queued_);
  arrivals_.clear();
}

void VoiceQueue::TakeAll(std::vector<VoiceBuffer>& batch, std::vector<uint64_t>& arrivals) {
  std::lock_guard<std::mutex> lock(mutex_);
  batch.swap(queued_);
  arrivals.swap(arrivals_);
}

void VoiceQueue::Recycle(std::vector<VoiceBuffer>& batch) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (VoiceBuffer& buffer : batch) {
    if (spare_.size() >= kMaxSpare) break;
    spare_.push_back(std::move(buffer));
  }
  batch.clear();
}

size_t VoiceQueue::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

}  // namespace voice
