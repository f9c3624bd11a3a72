// The configuration file in the common INI form, with private-profile semantics: section and
// key names compared without regard to case, values read whole, a missing key giving the
// caller's default.
//
// The file is loaded into memory, changed there and written back as one atomic replacement
// (Commit), so everything the file held besides the changed keys (other sections, comments,
// blank lines, order, line ends, encoding) stays as it was, and a crash leaves either the old or
// the new file. Files with a UTF-8 or UTF-16LE byte-order mark and files whose lines end in
// CR LF, LF or a lone CR are read, and written back the same way. Names and values are 8-bit
// text: a UTF-8 file's bytes as they stand, a UTF-16 file's characters through Windows-1252
// (see text_encoding.h). Comment and blank lines just
// above a section header belong to that section. Values that a read would change (surrounding
// blanks or quotes) are written in quotes, so every value without a line break reads back as
// written. Not thread-safe: callers serialise their use of one file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/text_encoding.h"

namespace plat {

class IniFile {
 public:
  static constexpr size_t kMaxValueLength = 2047;

  // Loads `path`. A missing file is no failure: it reads as empty. Returns nothing on an
  // unreadable file and sets `error`.
  static std::optional<IniFile> Open(const std::string& path, std::string* error);
  // The document held in `bytes` (the file's contents as stored), for `path`.
  static IniFile Parse(const std::string& path, const std::string& bytes);

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value) const;
  int32_t ReadInteger(const std::string& section, const std::string& key,
                      int32_t default_value) const;
  bool ReadBool(const std::string& section, const std::string& key, bool default_value) const;
  bool HasKey(const std::string& section, const std::string& key) const;
  // The keys of `section` as written, in file order (empty when the section is missing).
  std::vector<std::string> KeysOf(const std::string& section) const;

  // A line that the reading rules pass over, or that is never read because an earlier one wins:
  // what a check of a hand-edited file points out. Reading itself is not affected.
  struct Oddity {
    enum class Kind {
      kUnclosedHeader,     // "[Security" without its "]": no header, the line is skipped
      kNotAKey,            // neither a key, a comment, a header nor blank: skipped
      kKeyOutsideSection,  // a key above the first section: never read
      kRepeatedSection,    // a section's second header: its keys are never read
      kRepeatedKey,        // a key's second line in its section: only the first is read
    };
    Kind kind;
    size_t line;          // from 1
    std::string section;  // the section the line falls in as the file is read ("" above the first)
    std::string key;      // the key, for kRepeatedKey
    std::string text;     // the line as written
  };
  std::vector<Oddity> Oddities() const;
  // In a UTF-16 file, the value as the file holds it (UTF-8) when it has characters that
  // Windows-1252 lacks, which ReadString gives as "?"; nothing when ReadString gives it exactly.
  std::optional<std::string> InexactValue(const std::string& section, const std::string& key) const;

  // Whether `value` can be written so that it reads back as given: it holds no line break and,
  // in a UTF-16 file, no byte that Windows-1252 gives no character.
  bool CanStore(const std::string& value) const;
  // A value that cannot be stored, or a name with a line break: the write is refused and the
  // next Commit fails with the reason, writing nothing.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void EraseSection(const std::string& section);

  // Writes the document back to its file if it changed; an error text on failure (also after a
  // refused write, and then nothing is written).
  Status Commit();
  // The document as UTF-8 text; Commit stores it in the file's own encoding.
  std::string Text() const;
  const std::string& path() const { return path_; }

 private:
  struct Line {
    std::string text;      // the line as it stands, without its line end
    std::string line_end;  // "\r\n", "\n", "\r" or "" for a last line without one
  };
  IniFile() = default;
  // A name or value of the caller's as the document's text holds it (in a UTF-16 file, through
  // Windows-1252); nothing when it has no such form.
  std::optional<std::string> ToDocument(const std::string& bytes) const;
  // Text of the document as the caller's 8-bit characters.
  std::string FromDocument(const std::string& text, bool* exact = nullptr) const;
  // The value of the key as the document holds it, blanks and quotes taken off.
  std::optional<std::string> DocumentValue(const std::string& section,
                                           const std::string& key) const;
  // These take names as the document holds them.
  std::optional<size_t> FindSection(const std::string& section) const;
  size_t SectionEnd(size_t header) const;
  std::optional<size_t> FindKey(size_t header, const std::string& key) const;

  std::string path_;
  std::vector<Line> lines_;
  std::string default_line_end_ = "\r\n";
  TextEncoding encoding_ = TextEncoding::kPlain;
  bool dirty_ = false;
  Status refused_ = Status::Ok();
};

// The integer rules of the file: decimal with an optional sign, hexadecimal after "$", or after
// "0x"/"0X" when digits follow. Anything that is not a valid 32-bit integer gives nothing.
std::optional<int32_t> ParseIniInteger(const std::string& text);

}  // namespace plat
