// The addresses a defence counts as one source. A host is what one peer holds: one IPv4 address,
// or an IPv6 /64, the block a home connection is given and within which a host may take any
// address it likes. A block is the coarser unit a defence falls back on when it cannot keep
// track of every host (an IPv4 /24, an IPv6 /48). The tables of the defences are keyed by this
// type only, so a new kind of address changes no table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "platform/ip_address.h"

namespace security {

class AddressGroup {
 public:
  enum class Kind : uint8_t { kHost4, kBlock4, kHost6, kBlock6 };
  static constexpr uint8_t kBlock4Length = 24;
  static constexpr uint8_t kHost6Length = 64;
  static constexpr uint8_t kBlock6Length = 48;

  // The one IPv4 address, or the /64 around the IPv6 address.
  static AddressGroup Host(const plat::IpAddress& ip) {
    if (ip.IsIpv4()) return AddressGroup(ip.Ipv4(), Kind::kHost4);
    return AddressGroup(ip.High(), Kind::kHost6);
  }
  // The /24 around the IPv4 address, the /48 around the IPv6 one.
  static AddressGroup Block(const plat::IpAddress& ip) {
    if (ip.IsIpv4()) return AddressGroup(ip.Ipv4() & ~uint32_t{0xFF}, Kind::kBlock4);
    return AddressGroup(ip.High() & ~uint64_t{0xFFFF}, Kind::kBlock6);
  }

  Kind kind() const { return kind_; }
  // The group as an operator writes it: its first address and prefix length.
  plat::IpPrefix Prefix() const {
    plat::IpAddress first;
    if (kind_ == Kind::kHost4 || kind_ == Kind::kBlock4) {
      first = plat::IpAddress::FromIpv4(static_cast<uint32_t>(bits_));
    } else {
      for (int i = 0; i < 8; ++i) first.bytes[i] = static_cast<uint8_t>(bits_ >> (56 - 8 * i));
    }
    return plat::IpPrefix{first, PrefixLength()};
  }
  bool operator==(const AddressGroup&) const = default;

  // Spread with a secret of the process: addresses are chosen by peers (a datagram's source can
  // be forged), and keys that all fell into one bucket would make every look-up a walk.
  struct Hash {
    size_t operator()(const AddressGroup& group) const {
      static const uint64_t secret = [] {
        std::random_device source;
        return (uint64_t{source()} << 32) ^ source();
      }();
      // The kind goes in through a second round, since an IPv6 group uses all 64 bits.
      uint64_t x = Mix(group.bits_ ^ secret) ^ static_cast<uint8_t>(group.kind_);
      return static_cast<size_t>(Mix(x));
    }
    // splitmix64's finaliser: every bit of the key reaches every bit of the hash.
    static uint64_t Mix(uint64_t x) {
      x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
      x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
      return x ^ (x >> 31);
    }
  };

 private:
  AddressGroup(uint64_t bits, Kind kind) : bits_(bits), kind_(kind) {}
  // The prefix length of the IPv6 form, as plat::IpPrefix counts it.
  int PrefixLength() const {
    switch (kind_) {
      case Kind::kHost4:
        return 128;
      case Kind::kBlock4:
        return 96 + kBlock4Length;
      case Kind::kHost6:
        return kHost6Length;
      case Kind::kBlock6:
        return kBlock6Length;
    }
    return 128;
  }
  uint64_t bits_;  // the group's leading address bits: the IPv4 address, or the IPv6 top half
  Kind kind_;
};

}  // namespace security
