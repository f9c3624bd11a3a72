// An IPv4 or IPv6 address, its text and the groups the server counts addresses by. IPv4 is kept
// IPv4-mapped (::ffff:a.b.c.d), the form a dual-stack socket reports it in, so one address has
// one value whichever socket it came through, and is shown dotted.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace plat {

struct IpAddress {
  std::array<uint8_t, 16> bytes{};  // network order

  static IpAddress FromIpv4(uint32_t ip);  // host order: 127.0.0.1 is 0x7F000001
  bool IsIpv4() const;                     // IPv4-mapped
  uint32_t Ipv4() const;                   // host order; 0 for an IPv6 address
  // "::" or 0.0.0.0: no address in particular (every address, to a bind; the system's choice,
  // as a source).
  bool IsUnspecified() const;
  bool IsLoopback() const;  // ::1 or 127.0.0.0/8
  // The leading or trailing 64 bits, for keys and hashes.
  uint64_t High() const;
  uint64_t Low() const;
  // Dotted decimal for IPv4; for IPv6 the shortest text (lower case, the longest run of two or
  // more zero groups as "::", the first of equal runs).
  std::string Text() const;

  auto operator<=>(const IpAddress&) const = default;
};

// Parses a dotted IPv4 address (host order); nothing on bad text.
std::optional<uint32_t> ParseIpv4(const std::string& text);
// A dotted IPv4 address or an IPv6 literal without brackets or zone; nothing on any other text.
std::optional<IpAddress> ParseIpAddress(const std::string& text);

// An address and how many of its leading bits count, counted on the IPv6 form for IPv6 and on
// the IPv4 form for IPv4 ("10.1.0.0/16", "2001:db8::/48").
struct IpPrefix {
  IpAddress address;  // the bits past the length are zero
  int length = 128;   // of the IPv6 form: an IPv4 /24 is 120 here

  bool Contains(const IpAddress& address) const;
  // The length as the operator writes it: 0..32 for IPv4, 0..128 for IPv6.
  int ShownLength() const;
  std::string Text() const;  // "2001:db8::/48", "10.1.0.0/16", a single address without length
  auto operator<=>(const IpPrefix&) const = default;
};

// An address or "address/length" (0..32 for IPv4, 0..128 for IPv6); nothing on any other text.
std::optional<IpPrefix> ParseIpPrefix(const std::string& text);
// The address with every bit past the first `length` (of the IPv6 form) cleared.
IpAddress Masked(const IpAddress& address, int length);

// The group the abuse limits count an address under: an IPv4 address alone, an IPv6 address by
// its /64, the network one subscriber is given, within which a host may take any address.
IpAddress AddressGroup(const IpAddress& address);

}  // namespace plat
