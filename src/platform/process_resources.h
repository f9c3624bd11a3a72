// What the running process holds of the system (memory, descriptors, processor time, its start),
// as a monitoring system graphs them, and the system the program was built for.
#pragma once

#include <cstdint>
#include <optional>

namespace plat {

struct ProcessResources {
  std::optional<uint64_t> resident_bytes;
  std::optional<uint64_t> virtual_bytes;
  std::optional<uint64_t> open_descriptors;  // files, sockets, pipes; handles on Windows
  std::optional<uint64_t> max_descriptors;   // the limit on open descriptors in force
  std::optional<double> cpu_seconds;         // user and system time, all threads
  std::optional<double> start_time_unix;     // seconds since 1970 (UTC)
};

// Each figure is missing where the system does not tell it.
ProcessResources CurrentProcessResources();

// The operating system the program was built for, as one lower-case word ("linux", "windows").
const char* PlatformName();

}  // namespace plat
