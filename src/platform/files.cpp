// The backend-independent part of the file helpers: splitting a path, telling an absolute one.
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

bool IsAbsolutePath(const std::string& path) {
  if (path.empty()) return false;
#ifdef _WIN32
  // "C:\dir", "C:/dir", "\\host\share" or "\dir" (the current drive's root).
  const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || path[0] == '\\' || path[0] == '/';
#else
  return path[0] == '/';
#endif
}

std::string ResolvedAgainst(const std::string& directory, const std::string& path) {
  return IsAbsolutePath(path) ? path : directory + path;
}

}  // namespace plat
