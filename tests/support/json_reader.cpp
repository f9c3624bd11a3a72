#include "support/json_reader.h"

#include <cctype>
#include <cstdlib>

namespace pltest {
namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool Document(JsonNode& node) {
    if (!Value(node)) return false;
    Space();
    return at_ == text_.size();
  }

 private:
  void Space() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Literal(const char* word) {
    const std::string w = word;
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  bool String(std::string& out) {
    if (at_ >= text_.size() || text_[at_] != '"') return false;
    ++at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      char escaped = text_[at_++];
      switch (escaped) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'u':
          if (at_ + 4 > text_.size()) return false;
          out += static_cast<char>(std::strtol(text_.substr(at_, 4).c_str(), nullptr, 16));
          at_ += 4;
          break;
        default:
          out += escaped;
      }
    }
    if (at_ >= text_.size()) return false;
    ++at_;
    return true;
  }
  bool Value(JsonNode& node) {
    Space();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return Object(node);
    if (c == '[') return Array(node);
    if (c == '"') {
      node.kind = JsonNode::Kind::kString;
      return String(node.text);
    }
    if (Literal("true") || Literal("false")) {
      node.kind = JsonNode::Kind::kBool;
      node.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
      return true;
    }
    if (Literal("null")) return true;
    char* end = nullptr;
    node.number = std::strtod(text_.c_str() + at_, &end);
    if (end == text_.c_str() + at_) return false;
    node.kind = JsonNode::Kind::kNumber;
    at_ = static_cast<size_t>(end - text_.c_str());
    return true;
  }
  bool Object(JsonNode& node) {
    node.kind = JsonNode::Kind::kObject;
    ++at_;
    Space();
    if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
    for (;;) {
      Space();
      std::string name;
      if (!String(name)) return false;
      Space();
      if (at_ >= text_.size() || text_[at_++] != ':') return false;
      if (!Value(node.members[name])) return false;
      Space();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      return at_ < text_.size() && text_[at_++] == '}';
    }
  }
  bool Array(JsonNode& node) {
    node.kind = JsonNode::Kind::kArray;
    ++at_;
    Space();
    if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
    for (;;) {
      node.elements.emplace_back();
      if (!Value(node.elements.back())) return false;
      Space();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      return at_ < text_.size() && text_[at_++] == ']';
    }
  }

  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace

const JsonNode& JsonNode::operator[](const std::string& name) const {
  static const JsonNode null;
  auto found = members.find(name);
  return found == members.end() ? null : found->second;
}

std::optional<JsonNode> ParseJson(const std::string& text) {
  JsonNode node;
  if (!Reader(text).Document(node)) return std::nullopt;
  return node;
}

}  // namespace pltest
