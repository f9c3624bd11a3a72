#include "platform/text_encoding.h"

#include <cstdint>

namespace plat {
namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeMark[] = "\xFF\xFE";
constexpr uint32_t kReplacement = 0xFFFD;

// The characters of Windows-1252's bytes 0x80 to 0x9F; 0 where the code page has none. Every
// other byte stands for the code point of its own value.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The byte of `code` in Windows-1252; nothing when the code page lacks it.
std::optional<uint8_t> Windows1252Byte(uint32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<uint8_t>(code);
  for (uint8_t i = 0; i < 32; ++i) {
    if (kWindows1252High[i] != 0 && kWindows1252High[i] == code) return 0x80 + i;
  }
  return std::nullopt;
}

bool StartsWith(const std::string& bytes, const char* mark, size_t size) {
  return bytes.size() >= size && bytes.compare(0, size, mark, size) == 0;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendUtf16Le(std::string& out, uint32_t code) {
  auto unit = [&out](uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
  };
  if (code < 0x10000) {
    unit(code);
  } else {
    code -= 0x10000;
    unit(0xD800 | (code >> 10));
    unit(0xDC00 | (code & 0x3FF));
  }
}

std::string Utf16LeToUtf8(const std::string& bytes, size_t start) {
  std::string out;
  size_t at = start;
  auto next_unit = [&]() -> uint32_t {
    uint32_t value = static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
    at += 2;
    return value;
  };
  while (at + 1 < bytes.size()) {
    uint32_t unit = next_unit();
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < bytes.size()) {
      uint32_t low = static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        at += 2;
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
    }
    AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
  }
  return out;
}

// The code point starting at `at`, advancing `at`; U+FFFD for a byte that starts no valid
// sequence (the byte is skipped alone).
uint32_t NextCodePoint(std::string_view text, size_t& at) {
  const auto byte = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = lead < 0x80         ? 1
                  : (lead >> 5) == 6  ? 2
                  : (lead >> 4) == 14 ? 3
                  : (lead >> 3) == 30 ? 4
                                      : 0;
  if (length == 0 || at + length > text.size()) {
    ++at;
    return kReplacement;
  }
  uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return kReplacement;
    }
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++at;
    return kReplacement;
  }
  at += length;
  return code;
}

}  // namespace

DecodedText DecodeText(const std::string& bytes) {
  if (StartsWith(bytes, kUtf8Mark, 3)) return {bytes.substr(3), TextEncoding::kUtf8WithMark};
  if (StartsWith(bytes, kUtf16LeMark, 2))
    return {Utf16LeToUtf8(bytes, 2), TextEncoding::kUtf16LeWithMark};
  return {bytes, TextEncoding::kPlain};
}

std::string EncodeText(const std::string& text, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kPlain:
      return text;
    case TextEncoding::kUtf8WithMark:
      return kUtf8Mark + text;
    case TextEncoding::kUtf16LeWithMark:
      break;
  }
  std::string out = kUtf16LeMark;
  for (size_t at = 0; at < text.size();) AppendUtf16Le(out, NextCodePoint(text, at));
  return out;
}

std::optional<std::string> Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char byte : bytes) {
    const uint8_t value = static_cast<uint8_t>(byte);
    uint32_t code = value;
    if (value >= 0x80 && value <= 0x9F) {
      code = kWindows1252High[value - 0x80];
      if (code == 0) return std::nullopt;
    }
    AppendUtf8(out, code);
  }
  return out;
}

std::string Utf8ToWindows1252(std::string_view text, bool* exact) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    const uint32_t code = NextCodePoint(text, at);
    // U+FFFD stands for a byte that starts no sequence unless it was written as such.
    std::optional<uint8_t> byte =
        code == kReplacement && at - start != 3 ? std::nullopt : Windows1252Byte(code);
    if (!byte && exact) *exact = false;
    out += static_cast<char>(byte.value_or('?'));
  }
  return out;
}

}  // namespace plat
