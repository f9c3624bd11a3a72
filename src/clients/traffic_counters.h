// Eight traffic counters, kept for the server as a whole and for each client; additions from any
// thread are indivisible. Each is kept in 64 bits, which never wrap in practice, for monitoring
// (a counter must never go backwards); the protocol's statistics carry the low 32 bits, which
// wrap past 2^32 - 1 as they always have.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace clients {

// The names of the counters in the order of Values(), as the operator's status and the metrics
// show them.
inline constexpr std::array<const char*, 8> kTrafficCounterNames = {
    "udp_packets_sent", "udp_bytes_sent", "udp_packets_received", "udp_bytes_received",
    "tcp_packets_sent", "tcp_bytes_sent", "tcp_packets_received", "tcp_bytes_received"};

struct TrafficCounters {
  std::atomic<uint64_t> UdpPacketsSent{0};
  std::atomic<uint64_t> UdpBytesSent{0};
  std::atomic<uint64_t> UdpPacketsReceived{0};
  std::atomic<uint64_t> UdpBytesReceived{0};
  std::atomic<uint64_t> TcpPacketsSent{0};
  std::atomic<uint64_t> TcpBytesSent{0};
  std::atomic<uint64_t> TcpPacketsReceived{0};
  std::atomic<uint64_t> TcpBytesReceived{0};

  // Every counter as it is at the moment of its own reading, in the order above (the order
  // ServerStats and PlayerStats send them).
  std::array<uint64_t, 8> Totals() const {
    auto read = [](const std::atomic<uint64_t>& counter) {
      return counter.load(std::memory_order_relaxed);
    };
    return {read(UdpPacketsSent),     read(UdpBytesSent),    read(UdpPacketsReceived),
            read(UdpBytesReceived),   read(TcpPacketsSent),  read(TcpBytesSent),
            read(TcpPacketsReceived), read(TcpBytesReceived)};
  }
  // The same as the protocol's 32-bit values.
  std::array<uint32_t, 8> Values() const {
    std::array<uint32_t, 8> values{};
    const std::array<uint64_t, 8> totals = Totals();
    for (size_t i = 0; i < totals.size(); ++i) values[i] = static_cast<uint32_t>(totals[i]);
    return values;
  }
};

inline void Add(std::atomic<uint64_t>& counter, uint64_t amount) {
  counter.fetch_add(amount, std::memory_order_relaxed);
}
inline void Add(std::atomic<uint32_t>& counter, uint32_t amount) {
  counter.fetch_add(amount, std::memory_order_relaxed);
}

}  // namespace clients
