// Event lines: one line per thing that happened, for people reading standard output and for the
// journal. Text form: an ISO 8601 time stamp with its offset, a level, a short event name and
// key=value fields; text fields (names, values read from files) are quoted and escaped so no
// control byte of a player's name reaches a terminal. JSON form: one object per line.
//
// Lines are built from the events' own fields, never from the event hook's texts (which carry
// the AdminLogin password): nothing secret is ever given to an EventLine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace core {

enum class EventLevel { kInfo, kWarning, kError };

class EventLine {
 public:
  EventLine(EventLevel level, std::string name) : level_(level), name_(std::move(name)) {}

  // A number, written bare in both forms.
  EventLine& Number(std::string key, int64_t value);
  // Untrusted or free text: always quoted and escaped.
  EventLine& Text(std::string key, std::string_view value);
  // A word the server itself made (an address, a reason): bare when it holds only safe
  // characters, quoted and escaped otherwise.
  EventLine& Word(std::string key, std::string_view value);

  EventLevel level() const { return level_; }
  const std::string& name() const { return name_; }
  // The value of the field `key` as it was given (unquoted, unescaped); empty when there is
  // none.
  std::string_view Value(std::string_view key) const;

  std::string FormatText(const plat::LocalDateTime& when) const;
  std::string FormatJson(const plat::LocalDateTime& when) const;

 private:
  enum class Kind { kNumber, kText, kWord };
  struct Field {
    std::string key;
    std::string value;
    Kind kind;
  };
  EventLevel level_;
  std::string name_;
  std::vector<Field> fields_;
};

// "2026-12-08T10:21:07+01:00"
std::string Iso8601(const plat::LocalDateTime& when);
// `text` in double quotes: backslash and quote escaped, control bytes (C0, DEL, C1), the
// characters that reorder or break a line (U+202E, U+2028, ...) and bytes that are not UTF-8 as
// \xNN (or \n, \r, \t), valid UTF-8 otherwise kept (text::QuotedName).
std::string QuoteForLine(std::string_view text);

}  // namespace core
