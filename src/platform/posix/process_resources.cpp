#include "platform/process_resources.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

namespace plat {
namespace {

std::optional<uint64_t> ResidentBytes() {
  // The second field of statm: resident pages.
  std::FILE* file = std::fopen("/proc/self/statm", "re");
  if (file == nullptr) return std::nullopt;
  unsigned long long size = 0;
  unsigned long long resident = 0;
  const int read = std::fscanf(file, "%llu %llu", &size, &resident);
  std::fclose(file);
  const long page = sysconf(_SC_PAGESIZE);
  if (read != 2 || page <= 0) return std::nullopt;
  return static_cast<uint64_t>(resident) * static_cast<uint64_t>(page);
}

std::optional<uint64_t> OpenDescriptors() {
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return std::nullopt;
  uint64_t count = 0;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(directory);
  // Not the descriptor with which the directory itself was being read.
  return count > 0 ? count - 1 : 0;
}

}  // namespace

ProcessResources CurrentProcessResources() {
  return {ResidentBytes(), OpenDescriptors()};
}

}  // namespace plat
