// Eight unsigned 32-bit traffic counters, kept for the server as a whole and for each client;
// additions from any thread are indivisible and wrap past 2^32 - 1.
#pragma once

#include <atomic>
#include <cstdint>

namespace clients {

struct TrafficCounters {
  std::atomic<uint32_t> UdpPacketsSent{0};
  std::atomic<uint32_t> UdpBytesSent{0};
  std::atomic<uint32_t> UdpPacketsReceived{0};
  std::atomic<uint32_t> UdpBytesReceived{0};
  std::atomic<uint32_t> TcpPacketsSent{0};
  std::atomic<uint32_t> TcpBytesSent{0};
  std::atomic<uint32_t> TcpPacketsReceived{0};
  std::atomic<uint32_t> TcpBytesReceived{0};
};

inline void Add(std::atomic<uint32_t>& counter, uint32_t amount) {
  counter.fetch_add(amount, std::memory_order_relaxed);
}

}  // namespace clients
