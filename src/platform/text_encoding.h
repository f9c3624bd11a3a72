// The encodings in which editors save the configuration file: plain UTF-8 (or any 8-bit text),
// UTF-8 with a byte-order mark, and UTF-16 little-endian with its mark (what Windows editors
// call "Unicode"). The file is handled as UTF-8 in memory and written back in the encoding it
// was read in, so an operator's editor finds the file as it saved it.
//
// The protocol's texts (names, passwords, the server name) are 8-bit characters, one byte each.
// Between those and a UTF-16 file's characters stands one fixed code page, Windows-1252 (what
// the server's Windows users have): it gives 251 of the 256 byte values a character, and each
// of those characters back its byte, so what is saved reads back the same.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat {

enum class TextEncoding { kPlain, kUtf8WithMark, kUtf16LeWithMark };

struct DecodedText {
  std::string text;  // UTF-8 (plain files: their bytes as they are)
  TextEncoding encoding = TextEncoding::kPlain;
};

// Recognises the byte-order marks; UTF-16 is converted to UTF-8 (an unpaired surrogate becomes
// U+FFFD, an odd last byte is dropped).
DecodedText DecodeText(const std::string& bytes);
// The bytes of `text` in `encoding`, mark included. Bytes that are not UTF-8 become U+FFFD in
// UTF-16.
std::string EncodeText(const std::string& text, TextEncoding encoding);
// The 8-bit characters `bytes` as UTF-8 text through Windows-1252; nothing when a byte has no
// character there (0x81, 0x8D, 0x8F, 0x90, 0x9D).
std::optional<std::string> Windows1252ToUtf8(std::string_view bytes);
// UTF-8 text as 8-bit characters through Windows-1252. A character the code page lacks (and a
// byte that is not UTF-8) becomes "?", as the system's own conversion gives it, and clears
// `exact` when given.
std::string Utf8ToWindows1252(std::string_view text, bool* exact = nullptr);

}  // namespace plat
