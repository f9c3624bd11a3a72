// The program file's own contents: named sections of an executable and the version resource the
// build stores in one of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// Name of the section that holds the version resource (see cmake/VersionNote.cmake).
inline constexpr char kVersionSectionName[] = ".plversion";

struct FileSection {
  uint64_t offset = 0;  // from the start of the file
  uint64_t size = 0;
};

// Finds the section `name` in the executable at `path` (ELF, 32 or 64 bit, either byte order).
// Nothing when the file cannot be read, is not an executable of that form, is damaged, or has no
// such section. Every table is checked against the file's size before it is read.
std::optional<FileSection> LocateSection(const std::string& path, const std::string& name);

// The bytes of the section `name`; nothing in the same cases as LocateSection.
std::optional<std::vector<uint8_t>> ReadSection(const std::string& path, const std::string& name);

// The version resource of the program file at `path`: empty when it has none.
std::vector<uint8_t> ReadVersionResource(const std::string& path);

}  // namespace plat
