// The encodings in which editors save the configuration file: plain UTF-8 (or any 8-bit text),
// UTF-8 with a byte-order mark, and UTF-16 little-endian with its mark (what Windows editors
// call "Unicode"). The file is handled as UTF-8 in memory and written back in the encoding it
// was read in, so an operator's editor finds the file as it saved it.
#pragma once

#include <string>

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

}  // namespace plat
