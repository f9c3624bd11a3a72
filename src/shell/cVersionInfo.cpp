#include "shell/cVersionInfo.h"

#include <optional>

#include "platform/ascii_case.h"
#include "platform/process.h"
#include "platform/program_file.h"

namespace shell {
namespace {

// The fixed file information record: a signature word, then the fields at these word indexes.
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr size_t kFileVersionMsWord = 2;
constexpr size_t kFileVersionLsWord = 3;
constexpr size_t kFlagsMaskWord = 6;
constexpr size_t kFlagsWord = 7;
constexpr size_t kFixedInfoWords = 13;

uint32_t WordAt(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// The root block's fixed file information: the first whole record that starts with the
// signature on a word boundary, as a resource may carry headers in front of it.
std::optional<size_t> FindFixedInfo(std::span<const uint8_t> bytes) {
  const size_t record = 4 * kFixedInfoWords;
  for (size_t offset = 0; offset + record <= bytes.size(); offset += 4) {
    if (WordAt(bytes, offset) == kFixedInfoSignature) return offset;
  }
  return std::nullopt;
}

std::string High(uint32_t value) {
  return std::to_string(value >> 16);
}
std::string Low(uint32_t value) {
  return std::to_string(value & 0xFFFF);
}

}  // namespace

TVersionInfo::TVersionInfo(std::vector<uint8_t> resource) : data_(std::move(resource)) {
  std::optional<size_t> record = FindFixedInfo(data_);
  if (!record) return;
  auto field = [&](size_t word) { return WordAt(data_, *record + 4 * word); };
  version_high_ = field(kFileVersionMsWord);
  version_low_ = field(kFileVersionLsWord);
  flags_ = field(kFlagsWord) & field(kFlagsMaskWord);
}

TVersionInfo TVersionInfo::LoadFrom(const std::string& path) {
  return TVersionInfo(plat::ReadVersionResource(path));
}

std::string TVersionInfo::MajorVersion() const {
  return High(version_high_);
}
std::string TVersionInfo::MinorVersion() const {
  return Low(version_high_);
}
std::string TVersionInfo::ReleaseNumber() const {
  return High(version_low_);
}
std::string TVersionInfo::BuildNumber() const {
  return Low(version_low_);
}

std::string TVersionInfo::FlagsText() const {
  std::string text;
  if (flags_ & kFlagDebug) text += "debug, ";
  if (flags_ & kFlagPreRelease) text += "pre-release, ";
  if (flags_ & kFlagPatched) text += "patched, ";
  if (flags_ & kFlagPrivateBuild) text += "private build, ";
  if (flags_ & kFlagSpecialBuild) text += "special build, ";
  if (text.empty()) return text;
  text[0] = plat::AsciiUpper(text[0]);
  text.resize(text.size() - 2);
  return text;
}

// The space before the flags stays when there are none ("1.2.0.19 "): the about box has always
// shown the version so.
std::string TVersionInfo::VersionText() const {
  return MajorVersion() + "." + MinorVersion() + "." + ReleaseNumber() + "." + BuildNumber() + " " +
         FlagsText();
}

const TVersionInfo& VersionInfo() {
  static const TVersionInfo info = TVersionInfo::LoadFrom(plat::ProgramFilePath());
  return info;
}

}  // namespace shell
