// The program file's version resource through the Win32 version API: the resource is the
// VERSIONINFO block the build links into the executable.
#include "platform/program_file.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace plat {

// The executables here are PE files, which have no ELF sections: the section reader finds none.
std::optional<FileSection> LocateSection(const std::string&, const std::string&) {
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> ReadSection(const std::string&, const std::string&) {
  return std::nullopt;
}

std::vector<uint8_t> ReadVersionResource(const std::string& path) {
  const std::wstring wide_path = Widened(path);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(wide_path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<uint8_t> resource(size);
  if (!GetFileVersionInfoW(wide_path.c_str(), 0, size, resource.data())) return {};
  void* fixed = nullptr;
  UINT fixed_size = 0;
  if (!VerQueryValueW(resource.data(), L"\\", &fixed, &fixed_size) || fixed == nullptr ||
      fixed_size < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  // The reader of the resource takes the first fixed file information record in it; hand it the
  // one the version API found, from its start.
  const uint8_t* record = static_cast<const uint8_t*>(fixed);
  if (record < resource.data() || record + sizeof(VS_FIXEDFILEINFO) > resource.data() + size) {
    return {};
  }
  const uint8_t* end = resource.data() + size;
  return std::vector<uint8_t>(record, end);
}

}  // namespace plat
