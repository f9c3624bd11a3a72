#include "core/event_line.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "text/safe_text.h"

namespace core {
namespace {

const char* LevelName(EventLevel level) {
  switch (level) {
    case EventLevel::kWarning:
      return "warning";
    case EventLevel::kError:
      return "error";
    case EventLevel::kInfo:
      break;
  }
  return "info";
}

bool SafeWordByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == ':' || c == '-' || c == '_' || c == '/' || c == '+' || c == '[' || c == ']';
}

bool SafeWord(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!SafeWordByte(c)) return false;
  }
  return true;
}

// Valid UTF-8 with invalid bytes replaced by U+FFFD, for the JSON form.
std::string ValidUtf8(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t code_point = 0;
    size_t length = c < 0x80 ? 1 : ::text::Utf8SequenceLength(text, i, &code_point);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace

EventLine& EventLine::Number(std::string key, int64_t value) {
  fields_.push_back({std::move(key), std::to_string(value), Kind::kNumber});
  return *this;
}

EventLine& EventLine::Text(std::string key, std::string_view value) {
  fields_.push_back({std::move(key), std::string(value), Kind::kText});
  return *this;
}

EventLine& EventLine::Word(std::string key, std::string_view value) {
  fields_.push_back({std::move(key), std::string(value), Kind::kWord});
  return *this;
}

std::string_view EventLine::Value(std::string_view key) const {
  for (const Field& field : fields_) {
    if (field.key == key) return field.value;
  }
  return {};
}

std::string Iso8601(const plat::LocalDateTime& when) {
  int offset = when.utc_offset_minutes;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", when.year,
                when.month, when.day, when.hour, when.minute, when.second, sign, offset / 60,
                offset % 60);
  return buffer;
}

std::string QuoteForLine(std::string_view text) {
  // The escaping plctl gives every name: whatever shows a name, it shows the same text.
  return ::text::QuotedName(text);
}

std::string EventLine::FormatText(const plat::LocalDateTime& when) const {
  std::string line = Iso8601(when);
  line += ' ';
  line += LevelName(level_);
  line += ' ';
  line += name_;
  for (const Field& field : fields_) {
    line += ' ';
    line += field.key;
    line += '=';
    bool bare = field.kind == Kind::kNumber || (field.kind == Kind::kWord && SafeWord(field.value));
    line += bare ? field.value : QuoteForLine(field.value);
  }
  line += '\n';
  return line;
}

std::string EventLine::FormatJson(const plat::LocalDateTime& when) const {
  nlohmann::ordered_json object;
  object["time"] = Iso8601(when);
  object["level"] = LevelName(level_);
  object["event"] = name_;
  for (const Field& field : fields_) {
    if (field.kind == Kind::kNumber) {
      object[field.key] = std::stoll(field.value);
    } else {
      object[field.key] = ValidUtf8(field.value);
    }
  }
  // ASCII only: every control and non-ASCII character leaves as a \u escape.
  return object.dump(-1, ' ', true) + "\n";
}

}  // namespace core
