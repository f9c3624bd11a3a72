#include "platform/ini_file.h"

#include <cctype>
#include <limits>
#include <set>

#include "platform/ascii_case.h"
#include "platform/files.h"
#include "platform/text_encoding.h"

namespace plat {
namespace {

std::string Trim(const std::string& text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(start, end - start);
}

// The name inside "[name]", if the line is a section header.
std::optional<std::string> SectionName(const std::string& line) {
  std::string trimmed = Trim(line);
  if (trimmed.size() < 2 || trimmed.front() != '[') return std::nullopt;
  size_t close = trimmed.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(trimmed.substr(1, close - 1));
}

bool IsComment(const std::string& line) {
  std::string trimmed = Trim(line);
  return !trimmed.empty() && trimmed.front() == ';';
}

std::optional<uint32_t> ParseDigits(const std::string& digits, unsigned base, uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = static_cast<unsigned>(AsciiUpper(c) - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// Surrounding blanks and one pair of matching quotes are taken off a value when it is read;
// a value that would lose something that way is written in double quotes, so that it reads
// back exactly as given.
std::string StoredValue(const std::string& value) {
  const bool loses_blanks = Trim(value) != value;
  const bool loses_quotes = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                            value.back() == value.front();
  return loses_blanks || loses_quotes ? "\"" + value + "\"" : value;
}

bool IsBlankOrComment(const std::string& line) {
  return Trim(line).empty() || IsComment(line);
}

}  // namespace

std::optional<int32_t> ParseIniInteger(const std::string& raw) {
  std::string text = Trim(raw);
  bool negative = false;
  size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  std::string rest = text.substr(at);
  std::optional<uint32_t> magnitude;
  if (!rest.empty() && rest[0] == '$') {
    magnitude = ParseDigits(rest.substr(1), 16, 0xFFFFFFFFull);
  } else if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    magnitude = ParseDigits(rest.substr(2), 16, 0xFFFFFFFFull);
  } else {
    magnitude = ParseDigits(rest, 10, negative ? 2147483648ull : 2147483647ull);
    if (!magnitude) return std::nullopt;
    int64_t value = negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude);
    return static_cast<int32_t>(value);
  }
  if (!magnitude) return std::nullopt;
  // Hexadecimal covers all 32 bits: $FFFFFFFF is -1.
  uint32_t bits = negative ? 0u - *magnitude : *magnitude;
  return static_cast<int32_t>(bits);
}

std::optional<IniFile> IniFile::Open(const std::string& path, std::string* error) {
  FileContents contents = ReadWholeFile(path);
  if (contents.status == ReadStatus::kError) {
    if (error) *error = contents.error;
    return std::nullopt;
  }
  return Parse(path, contents.bytes);
}

IniFile IniFile::Parse(const std::string& path, const std::string& bytes) {
  IniFile file;
  file.path_ = path;
  DecodedText decoded = DecodeText(bytes);
  file.encoding_ = decoded.encoding;
  const std::string& text = decoded.text;
  // Lines end in CR LF, LF or a lone CR (as older Mac editors save them); the most common end
  // is the one new lines get.
  size_t crlf = 0;
  size_t lf = 0;
  size_t cr = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    Line line;
    if (end == std::string::npos) {
      line.text = text.substr(start);
      start = text.size();
    } else {
      line.text = text.substr(start, end - start);
      if (text[end] == '\n') {
        line.line_end = "\n";
        ++lf;
      } else if (end + 1 < text.size() && text[end + 1] == '\n') {
        line.line_end = "\r\n";
        ++crlf;
      } else {
        line.line_end = "\r";
        ++cr;
      }
      start = end + line.line_end.size();
    }
    file.lines_.push_back(std::move(line));
  }
  if (lf > crlf && lf >= cr) {
    file.default_line_end_ = "\n";
  } else if (cr > crlf && cr > lf) {
    file.default_line_end_ = "\r";
  }
  return file;
}

std::optional<size_t> IniFile::FindSection(const std::string& section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto name = SectionName(lines_[i].text);
    if (name && EqualsIgnoringAsciiCase(*name, section)) return i;
  }
  return std::nullopt;
}

size_t IniFile::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
  return i;
}

std::optional<size_t> IniFile::FindKey(size_t header, const std::string& key) const {
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    const std::string& text = lines_[i].text;
    if (IsComment(text)) continue;
    size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    if (EqualsIgnoringAsciiCase(Trim(text.substr(0, equals)), key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::ToDocument(const std::string& bytes) const {
  if (encoding_ != TextEncoding::kUtf16LeWithMark) return bytes;
  return Windows1252ToUtf8(bytes);
}

std::string IniFile::FromDocument(const std::string& text, bool* exact) const {
  if (encoding_ != TextEncoding::kUtf16LeWithMark) return text;
  return Utf8ToWindows1252(text, exact);
}

std::vector<IniFile::Oddity> IniFile::Oddities() const {
  std::vector<Oddity> found;
  std::set<std::string> sections_seen;
  std::set<std::string> keys_seen;  // of the section being read
  std::string section;
  bool read = false;  // the lines belong to a section's first header, which reading finds
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& text = lines_[i].text;
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || IsComment(text)) continue;
    if (std::optional<std::string> name = SectionName(text)) {
      section = *name;
      read = sections_seen.insert(AsciiLower(*name)).second;
      keys_seen.clear();
      if (!read) found.push_back({Oddity::Kind::kRepeatedSection, i + 1, section, "", text});
      continue;
    }
    if (trimmed.front() == '[') {
      found.push_back({Oddity::Kind::kUnclosedHeader, i + 1, section, "", text});
      continue;
    }
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
      found.push_back({Oddity::Kind::kNotAKey, i + 1, section, "", text});
      continue;
    }
    const std::string key = Trim(text.substr(0, equals));
    if (sections_seen.empty()) {
      found.push_back({Oddity::Kind::kKeyOutsideSection, i + 1, "", key, text});
    } else if (read && !keys_seen.insert(AsciiLower(key)).second) {
      found.push_back({Oddity::Kind::kRepeatedKey, i + 1, section, key, text});
    }
  }
  return found;
}

std::optional<std::string> IniFile::DocumentValue(const std::string& section,
                                                  const std::string& key) const {
  std::optional<std::string> section_text = ToDocument(section);
  std::optional<std::string> key_text = ToDocument(key);
  if (!section_text || !key_text) return std::nullopt;
  auto header = FindSection(*section_text);
  if (!header) return std::nullopt;
  auto line = FindKey(*header, *key_text);
  if (!line) return std::nullopt;
  const std::string& text = lines_[*line].text;
  std::string value = Trim(text.substr(text.find('=') + 1));
  // A value in matching quotes is read without them, as profile readers do.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

bool IniFile::HasKey(const std::string& section, const std::string& key) const {
  return DocumentValue(section, key).has_value();
}

std::vector<std::string> IniFile::KeysOf(const std::string& section) const {
  std::vector<std::string> keys;
  std::optional<std::string> section_text = ToDocument(section);
  auto header = section_text ? FindSection(*section_text) : std::nullopt;
  if (!header) return keys;
  size_t end = SectionEnd(*header);
  for (size_t i = *header + 1; i < end; ++i) {
    const std::string& text = lines_[i].text;
    if (IsComment(text)) continue;
    size_t equals = text.find('=');
    if (equals != std::string::npos) keys.push_back(FromDocument(Trim(text.substr(0, equals))));
  }
  return keys;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& default_value) const {
  std::optional<std::string> value = DocumentValue(section, key);
  if (!value) return default_value;
  std::string read = FromDocument(*value);
  if (read.size() > kMaxValueLength) read.resize(kMaxValueLength);
  return read;
}

std::optional<std::string> IniFile::InexactValue(const std::string& section,
                                                 const std::string& key) const {
  std::optional<std::string> value = DocumentValue(section, key);
  if (!value) return std::nullopt;
  bool exact = true;
  FromDocument(*value, &exact);
  if (exact) return std::nullopt;
  return value;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t default_value) const {
  if (!HasKey(section, key)) return default_value;
  return ParseIniInteger(ReadString(section, key, "")).value_or(default_value);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key,
                       bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

namespace {

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

bool IniFile::CanStore(const std::string& value) const {
  return !HasLineBreak(value) && ToDocument(value).has_value();
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  // A line break would end the line early and let the rest of the text stand as lines of its
  // own (a section, other keys): such a write is refused, and so is the commit that follows.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
    refused_ = Status::Error("a line break in the value of [" + section + "] " + key +
                             " cannot be stored");
    return;
  }
  std::optional<std::string> section_text = ToDocument(section);
  std::optional<std::string> key_text = ToDocument(key);
  std::optional<std::string> value_text = ToDocument(value);
  if (!section_text || !key_text || !value_text) {
    refused_ = Status::Error("the value of [" + section + "] " + key +
                             " holds a byte that Windows-1252 has no character for (0x81, 0x8D, "
                             "0x8F, 0x90 or 0x9D), which a UTF-16 file cannot hold");
    return;
  }
  dirty_ = true;
  std::string entry = *key_text + "=" + StoredValue(*value_text);
  auto header = FindSection(*section_text);
  if (!header) {
    if (!lines_.empty() && lines_.back().line_end.empty())
      lines_.back().line_end = default_line_end_;
    lines_.push_back({"[" + *section_text + "]", default_line_end_});
    lines_.push_back({entry, default_line_end_});
    return;
  }
  if (auto line = FindKey(*header, *key_text)) {
    lines_[*line].text = entry;
    return;
  }
  // After the section's last key, so blank lines and comments that close the section (often
  // the comment of the next one) stay where they are.
  size_t insert_at = SectionEnd(*header);
  while (insert_at > *header + 1 && IsBlankOrComment(lines_[insert_at - 1].text)) --insert_at;
  if (lines_[insert_at - 1].line_end.empty()) lines_[insert_at - 1].line_end = default_line_end_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                Line{entry, default_line_end_});
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(const std::string& section) {
  std::optional<std::string> section_text = ToDocument(section);
  if (!section_text) return;
  while (auto header = FindSection(*section_text)) {
    size_t end = SectionEnd(*header);
    // Blank lines and comments just above the next section belong to that section.
    if (end < lines_.size()) {
      while (end > *header + 1 && IsBlankOrComment(lines_[end - 1].text)) --end;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    dirty_ = true;
  }
}

std::string IniFile::Text() const {
  std::string text;
  for (const Line& line : lines_) text += line.text + line.line_end;
  return text;
}

Status IniFile::Commit() {
  if (!refused_.ok()) return refused_;
  if (!dirty_) return Status::Ok();
  if (Status error = ReplaceFileAtomically(path_, EncodeText(Text(), encoding_)); !error.ok())
    return error;
  dirty_ = false;
  return Status::Ok();
}

}  // namespace plat
