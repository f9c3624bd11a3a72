// Reads named sections of an ELF executable straight from the file: the program finds its own
// version resource this way, without a loader or any library.
#include "platform/program_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace plat {
namespace {

constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t kClass32 = 1;
constexpr uint8_t kClass64 = 2;
constexpr uint8_t kLittleEndian = 1;
constexpr uint8_t kBigEndian = 2;
constexpr uint32_t kSectionWithoutBytes = 8;       // SHT_NOBITS
constexpr uint32_t kIndexInFirstSection = 0xFFFF;  // SHN_XINDEX

// Where the fields sit in the two classes of the format.
struct Layout {
  size_t header_size, shoff, shoff_width, shentsize, shnum, shstrndx;
  size_t entry_size, sh_type, sh_offset, sh_size, sh_link, word_width;
};
constexpr Layout kLayout32{52, 0x20, 4, 0x2E, 0x30, 0x32, 40, 4, 16, 20, 24, 4};
constexpr Layout kLayout64{64, 0x28, 8, 0x3A, 0x3C, 0x3E, 64, 4, 24, 32, 40, 8};

class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (fd_ >= 0 && fstat(fd_, &info) == 0 && info.st_size > 0)
      size_ = static_cast<uint64_t>(info.st_size);
  }
  ~OpenFile() {
    if (fd_ >= 0) close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  uint64_t size() const { return size_; }
  // The `count` bytes at `offset`, or nothing when they lie (partly) outside the file.
  std::optional<std::vector<uint8_t>> Read(uint64_t offset, uint64_t count) const {
    if (fd_ < 0 || offset > size_ || count > size_ - offset) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t got =
          pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
      if (got <= 0) return std::nullopt;
      done += static_cast<size_t>(got);
    }
    return bytes;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

// Reads unsigned fields of the file's byte order; a field past the end reads as zero.
struct FieldReader {
  const std::vector<uint8_t>& bytes;
  bool big_endian;
  uint64_t Get(size_t offset, size_t width) const {
    if (offset > bytes.size() || width > bytes.size() - offset) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
      size_t index = big_endian ? offset + i : offset + width - 1 - i;
      value = (value << 8) | bytes[index];
    }
    return value;
  }
};

struct SectionHeader {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

class ElfFile {
 public:
  explicit ElfFile(const std::string& path) : file_(path) { valid_ = ReadHeaders(); }

  std::optional<FileSection> Find(const std::string& name) const {
    if (!valid_ || string_table_ >= sections_.size()) return std::nullopt;
    const SectionHeader& names = sections_[string_table_];
    if (names.type == kSectionWithoutBytes) return std::nullopt;
    std::optional<std::vector<uint8_t>> table = file_.Read(names.offset, names.size);
    if (!table) return std::nullopt;
    for (const SectionHeader& section : sections_) {
      if (section.type == kSectionWithoutBytes || !NameIs(*table, section.name, name)) continue;
      if (section.offset > file_.size() || section.size > file_.size() - section.offset) {
        return std::nullopt;
      }
      return FileSection{section.offset, section.size};
    }
    return std::nullopt;
  }

  const OpenFile& file() const { return file_; }

 private:
  static bool NameIs(const std::vector<uint8_t>& table, uint32_t at, const std::string& name) {
    if (at > table.size() || name.size() >= table.size() - at) return false;
    return std::equal(name.begin(), name.end(), table.begin() + at) && table[at + name.size()] == 0;
  }

  bool ReadHeaders() {
    std::optional<std::vector<uint8_t>> ident = file_.Read(0, 16);
    if (!ident || !std::equal(kElfMagic, kElfMagic + 4, ident->begin())) return false;
    const uint8_t elf_class = (*ident)[4];
    const uint8_t order = (*ident)[5];
    if ((elf_class != kClass32 && elf_class != kClass64) ||
        (order != kLittleEndian && order != kBigEndian)) {
      return false;
    }
    layout_ = elf_class == kClass64 ? kLayout64 : kLayout32;
    big_endian_ = order == kBigEndian;
    std::optional<std::vector<uint8_t>> header = file_.Read(0, layout_.header_size);
    if (!header) return false;
    FieldReader fields{*header, big_endian_};
    const uint64_t table_offset = fields.Get(layout_.shoff, layout_.shoff_width);
    const uint64_t entry_size = fields.Get(layout_.shentsize, 2);
    uint64_t count = fields.Get(layout_.shnum, 2);
    uint64_t string_table = fields.Get(layout_.shstrndx, 2);
    if (table_offset == 0 || entry_size < layout_.entry_size) return false;

    // Very many sections: the real count and string table index live in the first entry.
    std::optional<SectionHeader> first = ReadEntry(table_offset, entry_size);
    if (!first) return false;
    if (count == 0) count = first->size;
    if (string_table == kIndexInFirstSection) string_table = first->link;
    if (count == 0 || count > file_.size() / entry_size) return false;

    std::optional<std::vector<uint8_t>> table = file_.Read(table_offset, count * entry_size);
    if (!table) return false;
    sections_.reserve(static_cast<size_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
      sections_.push_back(Entry(*table, static_cast<size_t>(i * entry_size)));
    }
    string_table_ = static_cast<size_t>(string_table);
    return true;
  }

  std::optional<SectionHeader> ReadEntry(uint64_t offset, uint64_t entry_size) const {
    std::optional<std::vector<uint8_t>> bytes = file_.Read(offset, entry_size);
    if (!bytes) return std::nullopt;
    return Entry(*bytes, 0);
  }

  SectionHeader Entry(const std::vector<uint8_t>& bytes, size_t at) const {
    FieldReader fields{bytes, big_endian_};
    SectionHeader header;
    header.name = static_cast<uint32_t>(fields.Get(at, 4));
    header.type = static_cast<uint32_t>(fields.Get(at + layout_.sh_type, 4));
    header.offset = fields.Get(at + layout_.sh_offset, layout_.word_width);
    header.size = fields.Get(at + layout_.sh_size, layout_.word_width);
    header.link = static_cast<uint32_t>(fields.Get(at + layout_.sh_link, 4));
    return header;
  }

  OpenFile file_;
  Layout layout_ = kLayout64;
  bool big_endian_ = false;
  bool valid_ = false;
  std::vector<SectionHeader> sections_;
  size_t string_table_ = 0;
};

}  // namespace

std::optional<FileSection> LocateSection(const std::string& path, const std::string& name) {
  return ElfFile(path).Find(name);
}

std::optional<std::vector<uint8_t>> ReadSection(const std::string& path, const std::string& name) {
  ElfFile elf(path);
  std::optional<FileSection> section = elf.Find(name);
  if (!section) return std::nullopt;
  return elf.file().Read(section->offset, section->size);
}

std::vector<uint8_t> ReadVersionResource(const std::string& path) {
  std::optional<std::vector<uint8_t>> bytes = ReadSection(path, kVersionSectionName);
  return bytes ? std::move(*bytes) : std::vector<uint8_t>();
}

}  // namespace plat
