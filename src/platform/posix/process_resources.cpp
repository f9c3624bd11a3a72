#include "platform/process_resources.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace plat {
namespace {

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

std::optional<uint64_t> MaxDescriptors() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return std::nullopt;
  return static_cast<uint64_t>(limit.rlim_cur);
}

// The boot time in seconds since 1970, from the "btime" line of /proc/stat.
std::optional<uint64_t> BootTime() {
  std::ifstream stat("/proc/stat");
  std::string line;
  while (std::getline(stat, line)) {
    unsigned long long seconds = 0;
    if (std::sscanf(line.c_str(), "btime %llu", &seconds) == 1) return seconds;
  }
  return std::nullopt;
}

// The figures of /proc/self/stat: processor time, start, virtual and resident size.
void ReadProcessStat(ProcessResources& resources) {
  std::ifstream file("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The program's name (the second field) is in parentheses and may hold blanks of its own.
  const size_t name_end = text.rfind(')');
  if (name_end == std::string::npos) return;
  std::istringstream fields(text.substr(name_end + 1));
  std::string field;
  unsigned long long values[24] = {};
  // The fields from the third (state) on; only numbers from the fourth are kept.
  for (int index = 3; index <= 24 && fields >> field; ++index) {
    if (index > 3) values[index - 1] = std::strtoull(field.c_str(), nullptr, 10);
  }
  const long ticks = sysconf(_SC_CLK_TCK);
  const long page = sysconf(_SC_PAGESIZE);
  if (ticks <= 0 || page <= 0 || values[22] == 0) return;
  resources.cpu_seconds = static_cast<double>(values[13] + values[14]) / ticks;
  resources.virtual_bytes = values[22];
  resources.resident_bytes = static_cast<uint64_t>(values[23]) * static_cast<uint64_t>(page);
  if (std::optional<uint64_t> boot = BootTime())
    resources.start_time_unix = static_cast<double>(*boot) + static_cast<double>(values[21]) / ticks;
}

}  // namespace

ProcessResources CurrentProcessResources() {
  ProcessResources resources;
  ReadProcessStat(resources);
  resources.open_descriptors = OpenDescriptors();
  resources.max_descriptors = MaxDescriptors();
  return resources;
}

const char* PlatformName() {
#if defined(__linux__)
  return "linux";
#elif defined(__APPLE__)
  return "darwin";
#elif defined(__FreeBSD__)
  return "freebsd";
#else
  return "posix";
#endif
}

}  // namespace plat
