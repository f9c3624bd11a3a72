// VoiceQueue: voice datagrams on their way from the intake to the relay thread, oldest first.
// Buffers are recycled, so the voice path does not allocate per datagram once warm.
//
// Thread-safe. The queue is bounded: when the relay falls this far behind, further datagrams are
// dropped (and counted) rather than held without limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace voice {

using VoiceBuffer = std::vector<uint8_t>;

class VoiceQueue {
 public:
  static constexpr size_t kMaxQueued = 4096;
  static constexpr size_t kMaxSpare = 512;

  // Copies the datagram into the queue, with the time it arrived; false when the queue is full.
  bool Append(const uint8_t* data, size_t size);
  // Moves every queued datagram into `batch` (which must be empty), oldest first.
  void TakeAll(std::vector<VoiceBuffer>& batch);
  // The same, with each datagram's arrival (plat::MonotonicMicroseconds) at the same index of
  // `arrivals` (which must be empty too).
  void TakeAll(std::vector<VoiceBuffer>& batch, std::vector<uint64_t>& arrivals);
  // Returns drained buffers for reuse; `batch` is left empty.
  void Recycle(std::vector<VoiceBuffer>& batch);
  size_t Dropped() const;

 private:
  mutable std::mutex mutex_;
  std::vector<VoiceBuffer> queued_;  // guarded by mutex_
  std::vector<uint64_t> arrivals_;   // guarded by mutex_; one per queued datagram
  std::vector<VoiceBuffer> spare_;   // guarded by mutex_
  size_t dropped_ = 0;               // guarded by mutex_
};

}  // namespace voice
