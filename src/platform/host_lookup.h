// The blocking name lookups of a host's first IPv4 address and of all its addresses, written
// once for both backends: Winsock and POSIX share getaddrinfo and differ only in the text of its
// failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ip_address.h"

namespace plat {

// What a blocking lookup finds: an IPv4 address, or why there is none (the reason alone, without
// the host name, so every caller words the message its own way).
struct HostLookup {
  std::optional<uint32_t> ip;
  std::string reason;
};

// Asks the system's resolver; takes as long as the resolver does (no time limit of its own).
HostLookup LookUpHost(const std::string& host);
// Every IPv4 and IPv6 address of the host, in the resolver's order of preference, without
// repeats; none, and the reason in `reason`, when there is none.
std::vector<IpAddress> LookUpAddresses(const std::string& host, std::string* reason);

}  // namespace plat
