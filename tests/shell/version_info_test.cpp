// The version resource: written into the program file by the build, found in the file's
// sections, and turned into the version texts.
#include <fstream>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/program_file.h"
#include "shell/HelpAboutForm.h"
#include "shell/cVersionInfo.h"
#include "support/blackbox.h"
#include "support/pty.h"

namespace {

using shell::TVersionInfo;

constexpr size_t kFlagsOffset = 28;      // word 7 of the fixed file information
constexpr size_t kFlagsMaskOffset = 24;  // word 6

std::vector<uint8_t> FixedInfo(uint32_t ms, uint32_t ls, uint32_t mask, uint32_t flags) {
  const uint32_t words[13] = {0xFEEF04BD, 0x00010000, ms, ls, ms, ls, mask, flags, 0, 1, 0, 0, 0};
  std::vector<uint8_t> bytes;
  for (uint32_t word : words) {
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(word >> (8 * b)));
  }
  return bytes;
}

TEST(VersionInfo, NumbersAndFlagsText) {
  TVersionInfo plain(FixedInfo(0x00010002, 0x00000013, 0x3F, 0));
  EXPECT_EQ(plain.MajorVersion(), "1");
  EXPECT_EQ(plain.MinorVersion(), "2");
  EXPECT_EQ(plain.ReleaseNumber(), "0");
  EXPECT_EQ(plain.BuildNumber(), "19");
  EXPECT_EQ(plain.FlagsText(), "");
  EXPECT_EQ(plain.VersionText(), "1.2.0.19 ");

  EXPECT_EQ(TVersionInfo(FixedInfo(0xFFFF0000, 0x0100FFFF, 0x3F, 0)).VersionText(),
            "65535.0.256.65535 ");
  EXPECT_EQ(TVersionInfo(FixedInfo(0, 0, 0x3F, 0x03)).FlagsText(), "Debug, pre-release");
  EXPECT_EQ(TVersionInfo(FixedInfo(0, 0, 0x3F, 0x21)).FlagsText(), "Debug, special build");
  EXPECT_EQ(TVersionInfo(FixedInfo(0, 0, 0x3F, 0x10)).FlagsText(), "");
  EXPECT_EQ(TVersionInfo(FixedInfo(0, 0, 0x3F, 0x3F)).FlagsText(),
            "Debug, pre-release, patched, private build, special build");
  EXPECT_EQ(TVersionInfo(FixedInfo(0, 0, 0x3F, 0x0C)).VersionText(),
            "0.0.0.0 Patched, private build");
  // Only the flags the mask declares valid count.
  EXPECT_EQ(TVersionInfo(FixedInfo(0, 0, 0x02, 0x23)).FlagsText(), "Pre-release");
}

TEST(VersionInfo, RecordIsFoundBehindHeadersAndAbsentOrCutRecordsReadZero) {
  std::vector<uint8_t> wrapped = {0x34, 0x00, 0x34, 0x00, 'P', 'L', 0, 0};
  std::vector<uint8_t> info = FixedInfo(0x00010002, 0x00000013, 0x3F, 0x01);
  wrapped.insert(wrapped.end(), info.begin(), info.end());
  EXPECT_EQ(TVersionInfo(wrapped).VersionText(), "1.2.0.19 Debug");

  EXPECT_EQ(TVersionInfo({}).VersionText(), "0.0.0.0 ");
  info.resize(info.size() - 1);
  EXPECT_EQ(TVersionInfo(info).VersionText(), "0.0.0.0 ");
  // The test program carries no resource: the process's VersionInfo and the about box read zero.
  EXPECT_EQ(shell::VersionInfo().VersionText(), "0.0.0.0 ");
  EXPECT_NE(shell::TfrmAbout().Render().find("Parlowind 0.0.0.0 \n"), std::string::npos);
}

TEST(ProgramFile, TheServerCarriesItsVersionResource) {
  std::vector<uint8_t> resource = plat::ReadVersionResource(PLSERVER_BINARY);
  EXPECT_EQ(resource, FixedInfo(0x00010002, 0x00000013, 0x3F, 0));
  EXPECT_EQ(TVersionInfo::LoadFrom(PLSERVER_BINARY).VersionText(), "1.2.0.19 ");
  EXPECT_FALSE(plat::LocateSection(PLSERVER_BINARY, ".plversio"));
  EXPECT_FALSE(plat::LocateSection(PLSERVER_BINARY, ".plversion2"));
  EXPECT_TRUE(plat::ReadVersionResource(plat::ProgramFilePath()).empty());
}

TEST(ProgramFile, DamagedOrForeignFilesHaveNoSections) {
  pltest::TempDir directory;
  const std::string binary = pltest::ReadFile(PLSERVER_BINARY);
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(directory.File(name), std::ios::binary) << bytes;
    return directory.File(name);
  };
  EXPECT_FALSE(
      plat::LocateSection(write("text", "[Version]\nServerVersion=v1.2.0\n"), ".plversion"));
  EXPECT_FALSE(plat::LocateSection(write("empty", ""), ".plversion"));
  EXPECT_FALSE(plat::LocateSection(directory.File("missing"), ".plversion"));
  // Cut short: the section table, which sits at the end, is gone.
  EXPECT_FALSE(plat::LocateSection(write("head", binary.substr(0, 64)), ".plversion"));
  EXPECT_FALSE(
      plat::LocateSection(write("half", binary.substr(0, binary.size() / 2)), ".plversion"));
  // A section count far beyond what the file can hold.
  std::string huge_count = binary;
  huge_count[0x3C] = '\xFF';
  huge_count[0x3D] = '\xFE';
  EXPECT_FALSE(plat::LocateSection(write("count", huge_count), ".plversion"));
  // Every section but the name table placed past the end of the file.
  std::string moved = binary;
  auto word = [&](size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t b = 0; b < width; ++b)
      value |= uint64_t{static_cast<uint8_t>(moved[at + b])} << (8 * b);
    return value;
  };
  const uint64_t table = word(0x28, 8), entry = word(0x3A, 2), count = word(0x3C, 2);
  const uint64_t names = word(0x3E, 2);
  for (uint64_t i = 0; i < count; ++i) {
    if (i != names) moved[table + i * entry + 24 + 5] = '\x7F';  // sh_offset += 2^47
  }
  ASSERT_TRUE(plat::LocateSection(write("intact", binary), ".plversion"));
  EXPECT_FALSE(plat::LocateSection(write("moved", moved), ".plversion"));
}

// Rewrites the flags word of the version resource in a copy of the server binary.
void PatchFlags(const std::string& program, uint32_t mask, uint32_t flags) {
  std::optional<plat::FileSection> section = plat::LocateSection(program, ".plversion");
  ASSERT_TRUE(section);
  std::fstream file(program, std::ios::in | std::ios::out | std::ios::binary);
  auto put = [&](size_t offset, uint32_t value) {
    char bytes[4];
    for (int b = 0; b < 4; ++b) bytes[b] = static_cast<char>(value >> (8 * b));
    file.seekp(static_cast<std::streamoff>(section->offset + offset));
    file.write(bytes, 4);
  };
  put(kFlagsMaskOffset, mask);
  put(kFlagsOffset, flags);
}

std::string VersionOutput(const std::string& program, const std::string& directory) {
  pltest::ChildProcess run(program, {"--version"}, directory, pltest::ChildProcess::Input::kPipe);
  EXPECT_EQ(run.WaitForExit(5000), 0);
  run.WaitForOutput("\n", 1000);
  return run.output();
}

TEST(ProgramFile, VersionOfProgramFilesWithRewrittenFlags) {
  pltest::Installation directory;
  const std::string& program = directory.program();
  EXPECT_EQ(VersionOutput(program, directory.path()), "Parlowind server 1.2.0.19\n");
  PatchFlags(program, 0x3F, 0x03);
  EXPECT_EQ(VersionOutput(program, directory.path()),
            "Parlowind server 1.2.0.19 Debug, pre-release\n");
  PatchFlags(program, 0x3F, 0x21);
  EXPECT_EQ(VersionOutput(program, directory.path()),
            "Parlowind server 1.2.0.19 Debug, special build\n");
  PatchFlags(program, 0x3F, 0x10);
  EXPECT_EQ(VersionOutput(program, directory.path()), "Parlowind server 1.2.0.19\n");
  // --version and --help never start the server: nothing is logged, no configuration written.
  EXPECT_FALSE(std::ifstream(directory.File("plserver.log")).good());
  EXPECT_FALSE(std::ifstream(directory.File("plserver.ini")).good());
}

}  // namespace
