// What the relay thread reports about its work: its passes, the datagrams it relayed or could not
// relay, and how long each datagram waited from its arrival to the end of its pass; beside them,
// the faulty voice datagrams the intake found.
//
// Threading: the relay thread writes its figures (relaxed atomics, the delays merged once a
// pass), the datagram intake `faulty`; any thread reads.
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
  // Voice datagrams that failed a check at the intake (a gap in the packet ids, a wrong CRC-32,
  // too short), counted for the whole server: the players' own counts leave with them.
  std::atomic<uint64_t> faulty{0};

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
