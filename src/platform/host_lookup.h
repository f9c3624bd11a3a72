// The blocking name lookup of a host's first IPv4 address, written once for both backends:
// Winsock and POSIX share getaddrinfo and differ only in the text of its failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plat {

// What a blocking lookup finds: an IPv4 address, or why there is none (the reason alone, without
// the host name, so every caller words the message its own way).
struct HostLookup {
  std::optional<uint32_t> ip;
  std::string reason;
};

// Asks the system's resolver; takes as long as the resolver does (no time limit of its own).
HostLookup LookUpHost(const std::string& host);

}  // namespace plat
