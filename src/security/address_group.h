// The addresses a defence counts as one source. A host is what one peer holds: one IPv4 address
// (an IPv6 peer will be its /64, the block a home connection is given). A block is the coarser
// unit a defence falls back on when it cannot keep track of every host (an IPv4 /24). The tables
// of the defences are keyed by this type only, so a new kind of address changes no table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

namespace security {

class AddressGroup {
 public:
  enum class Kind : uint8_t { kHost4, kBlock4 };
  static constexpr uint8_t kBlock4Length = 24;

  // The one IPv4 address (host byte order).
  static AddressGroup Host(uint32_t ipv4) { return AddressGroup(ipv4, Kind::kHost4); }
  // The /24 around the IPv4 address.
  static AddressGroup Block(uint32_t ipv4) {
    return AddressGroup(ipv4 & ~uint32_t{0xFF}, Kind::kBlock4);
  }

  Kind kind() const { return kind_; }
  // The group's first IPv4 address and its prefix length, as an operator writes it.
  uint32_t Network() const { return static_cast<uint32_t>(bits_); }
  uint8_t PrefixLength() const { return kind_ == Kind::kHost4 ? 32 : kBlock4Length; }
  bool operator==(const AddressGroup&) const = default;

  // Spread with a secret of the process: addresses are chosen by peers (a datagram's source can
  // be forged), and keys that all fell into one bucket would make every look-up a walk.
  struct Hash {
    size_t operator()(const AddressGroup& group) const {
      static const uint64_t secret = [] {
        std::random_device source;
        return (uint64_t{source()} << 32) ^ source();
      }();
      uint64_t x = (group.bits_ << 8 | static_cast<uint8_t>(group.kind_)) ^ secret;
      // splitmix64's finaliser: every bit of the key reaches every bit of the hash.
      x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
      x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
      return static_cast<size_t>(x ^ (x >> 31));
    }
  };

 private:
  AddressGroup(uint64_t bits, Kind kind) : bits_(bits), kind_(kind) {}
  uint64_t bits_;  // the group's leading address bits
  Kind kind_;
};

}  // namespace security
