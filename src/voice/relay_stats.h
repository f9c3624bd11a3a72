// What the relay thread reports about its work: its passes, the datagrams it relayed or could not
// relay, and how long each datagram waited from its arrival to the end of its pass.
//
// Threading: the relay thread writes (relaxed atomics, the delays merged once a pass); any thread
// reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "voice/latency_histogram.h"

namespace voice {

struct RelayStats {
  std::atomic<uint64_t> passes{0};
  // Datagrams sent on to their recipients (a sender still there, a known mode).
  std::atomic<uint64_t> relayed{0};
  // Datagrams taken from the queue but not relayed: the sender had gone or was dropped, or the
  // mode was unknown.
  std::atomic<uint64_t> not_relayable{0};
  LatencyHistogram delay;

  // One pass's figures.
  void RecordPass(uint64_t relayed_count, uint64_t not_relayable_count,
                  const LatencyReading& delays) {
    passes.fetch_add(1, std::memory_order_relaxed);
    relayed.fetch_add(relayed_count, std::memory_order_relaxed);
    if (not_relayable_count != 0)
      not_relayable.fetch_add(not_relayable_count, std::memory_order_relaxed);
    delay.Merge(delays);
  }
};

}  // namespace voice
