// The backend-independent part of the file helpers: splitting a path.
#include "platform/files.h"

namespace plat {
namespace {

#ifdef _WIN32
// Both separators name directories on Windows.
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

}  // namespace

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace plat
