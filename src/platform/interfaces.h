// The machine's own addresses, for telling ahead whether an address can be bound.
#pragma once

#include <cstdint>
#include <optional>

namespace plat {

// Whether `ip` (host byte order) is an address this machine can bind: the address of one of its
// network interfaces, a loopback address or 0.0.0.0. Nothing where the platform cannot tell.
std::optional<bool> IsAddressOfThisMachine(uint32_t ip);

}  // namespace plat
