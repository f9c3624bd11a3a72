// TVersionInfo: the program file's version resource, read back from the file itself, and the
// version texts the about box and --version show.
//
// One object, VersionInfo(), exists for the process. It is loaded on first use (main uses it
// before start-up) and is read-only afterwards, so any thread may read it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace shell {

// Flag bits of the fixed file information.
inline constexpr uint32_t kFlagDebug = 0x01;
inline constexpr uint32_t kFlagPreRelease = 0x02;
inline constexpr uint32_t kFlagPatched = 0x04;
inline constexpr uint32_t kFlagPrivateBuild = 0x08;
inline constexpr uint32_t kFlagInfoInferred = 0x10;
inline constexpr uint32_t kFlagSpecialBuild = 0x20;

class TVersionInfo {
 public:
  // Takes the whole version resource; empty (or without a fixed file information record)
  // reads 0.0.0.0 with no flags.
  explicit TVersionInfo(std::vector<uint8_t> resource);
  // Loads the resource of the program file at `path`.
  static TVersionInfo LoadFrom(const std::string& path);

  std::string MajorVersion() const;
  std::string MinorVersion() const;
  std::string ReleaseNumber() const;
  std::string BuildNumber() const;
  std::string FlagsText() const;
  // "major.minor.release.build " followed by FlagsText: "1.2.0.19 " for a plain build.
  std::string VersionText() const;

 private:
  std::vector<uint8_t> data_;
  uint32_t version_high_ = 0;
  uint32_t version_low_ = 0;
  uint32_t flags_ = 0;
};

// The process's version information, loaded from its own program file.
const TVersionInfo& VersionInfo();

}  // namespace shell
