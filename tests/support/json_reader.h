// A JSON reader for tests that check machine-readable output (nlohmann-json underneath).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pltest {

struct JsonNode {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonNode> elements;
  std::map<std::string, JsonNode> members;

  // A member of an object; a null node when there is none.
  const JsonNode& operator[](const std::string& name) const;
  bool Has(const std::string& name) const { return members.count(name) != 0; }
};

// Parses one JSON document (surrounding white space allowed); nothing on malformed text.
std::optional<JsonNode> ParseJson(const std::string& text);

}  // namespace pltest
