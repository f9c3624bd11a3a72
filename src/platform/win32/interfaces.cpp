#include "platform/interfaces.h"

namespace plat {

// The Windows build does not look: start-up says soon enough when the address is not there.
std::optional<bool> IsAddressOfThisMachine(const IpAddress& ip) {
  if (ip.IsUnspecified() || ip.IsLoopback()) return true;
  return std::nullopt;
}

}  // namespace plat
