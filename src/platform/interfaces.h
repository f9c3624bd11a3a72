// The machine's own addresses, for telling ahead whether an address can be bound.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/ip_address.h"

namespace plat {

// Whether `ip` is an address this machine can bind: the address of one of its network
// interfaces, a loopback address or an unspecified one. Nothing where the platform cannot tell.
std::optional<bool> IsAddressOfThisMachine(const IpAddress& ip);

}  // namespace plat
