// Where a client's datagrams go: the UDP address its datagrams come from and the server's
// address they arrive at, from which its datagrams leave. Written by the datagram intake when
// either changes, read for every datagram the relay and the pinger send.
//
// Threading: Set from any thread (writers take turns on a lock); Get from any thread without a
// lock. A sequence count tells a reader that a write overlapped its read, and it reads again, so
// it never pairs half of an old address with half of a new one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/endpoint.h"

namespace clients {

class PeerRoute {
 public:
  struct Route {
    plat::Endpoint peer;
    plat::IpAddress reply_from;  // unspecified: the system chooses
    bool operator==(const Route&) const = default;
  };

  Route Get() const {
    for (;;) {
      const uint32_t before = sequence_.load(std::memory_order_acquire);
      if (before & 1) continue;  // a write is under way
      // Each part is loaded with acquire: a part written by an overlapping Set then makes the
      // odd count of that Set visible to the second look at the count below.
      Route route;
      Unpack(peer_high_, peer_low_, route.peer.ip);
      route.peer.port = static_cast<uint16_t>(port_.load(std::memory_order_acquire));
      Unpack(from_high_, from_low_, route.reply_from);
      if (sequence_.load(std::memory_order_relaxed) == before) return route;
    }
  }

  void Set(const Route& route) {
    std::lock_guard<std::mutex> lock(writer_);
    if (Get() == route) return;  // the common case: nothing moved, nothing is written
    sequence_.fetch_add(1, std::memory_order_relaxed);
    Pack(route.peer.ip, peer_high_, peer_low_);
    port_.store(route.peer.port, std::memory_order_release);
    Pack(route.reply_from, from_high_, from_low_);
    sequence_.fetch_add(1, std::memory_order_release);
  }

 private:
  static void Pack(const plat::IpAddress& ip, std::atomic<uint64_t>& high,
                   std::atomic<uint64_t>& low) {
    high.store(ip.High(), std::memory_order_release);
    low.store(ip.Low(), std::memory_order_release);
  }
  static void Unpack(const std::atomic<uint64_t>& high, const std::atomic<uint64_t>& low,
                     plat::IpAddress& ip) {
    const uint64_t parts[2] = {high.load(std::memory_order_acquire),
                               low.load(std::memory_order_acquire)};
    for (int i = 0; i < 16; ++i)
      ip.bytes[i] = static_cast<uint8_t>(parts[i / 8] >> (56 - 8 * (i % 8)));
  }

  std::mutex writer_;
  std::atomic<uint32_t> sequence_{0};  // odd while a write is under way
  // Until the first Set: 0.0.0.0:0 from the system's choice.
  std::atomic<uint64_t> peer_high_{0};
  std::atomic<uint64_t> peer_low_{0x0000FFFF00000000ull};
  std::atomic<uint32_t> port_{0};
  std::atomic<uint64_t> from_high_{0};
  std::atomic<uint64_t> from_low_{0};
};

}  // namespace clients
