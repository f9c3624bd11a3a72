#include "text/safe_text.h"

#include <cstdint>
#include <cstdio>

namespace text {

size_t Utf8SequenceLength(std::string_view text, size_t i, uint32_t* code_point) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
  uint32_t value = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kMinimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  *code_point = value;
  return length;
}

namespace {

void AppendHex(std::string& out, unsigned char c) {
  char buffer[5];
  std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
  out += buffer;
}

}  // namespace

std::string JsonSafeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceLength(text, i, &code_point);
    if (length > 0) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[i++]);
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

bool ReordersOrBreaksText(uint32_t code_point) {
  return code_point == 0x061C || code_point == 0x200E || code_point == 0x200F ||
         (code_point >= 0x2028 && code_point <= 0x202E) ||
         (code_point >= 0x2066 && code_point <= 0x2069);
}

namespace {

// The short form of a line break or tab, as the event lines write it; null for other bytes.
const char* ShortEscape(uint32_t code_point) {
  switch (code_point) {
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return nullptr;
  }
}

// `name_form`: for a name inside a line: the double quote escaped too, and line breaks and tabs
// in their short forms.
std::string Escaped(std::string_view text, bool keep_line_breaks, bool escape_backslash,
                    bool name_form) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceLength(text, i, &code_point);
    const bool control = length == 0 || code_point < 0x20 || code_point == 0x7F ||
                         (code_point >= 0x80 && code_point <= 0x9F) ||
                         ReordersOrBreaksText(code_point);
    if (escape_backslash && length == 1 && code_point == '\\') {
      out += "\\\\";
    } else if (name_form && length == 1 && code_point == '"') {
      out += "\\\"";
    } else if (name_form && length == 1 && ShortEscape(code_point)) {
      out += ShortEscape(code_point);
    } else if (keep_line_breaks && length == 1 && code_point == '\n') {
      out += '\n';
    } else if (control) {
      const size_t count = length == 0 ? 1 : length;
      for (size_t k = 0; k < count; ++k) AppendHex(out, static_cast<unsigned char>(text[i + k]));
      i += count;
      continue;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

}  // namespace

std::string TerminalSafeText(std::string_view text, bool keep_line_breaks, bool escape_backslash) {
  return Escaped(text, keep_line_breaks, escape_backslash, false);
}

std::string NameText(std::string_view name) {
  return Escaped(name, false, true, true);
}

std::string QuotedName(std::string_view name) {
  return "\"" + NameText(name) + "\"";
}

}  // namespace text
