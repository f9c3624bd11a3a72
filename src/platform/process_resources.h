// What the running process holds of the system: resident memory and open descriptors, as a
// monitoring system graphs them.
#pragma once

#include <cstdint>
#include <optional>

namespace plat {

struct ProcessResources {
  std::optional<uint64_t> resident_bytes;
  std::optional<uint64_t> open_descriptors;  // files, sockets, pipes; handles on Windows
};

// Each figure is missing where the system does not tell it.
ProcessResources CurrentProcessResources();

}  // namespace plat
