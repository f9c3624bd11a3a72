// The tool's machine-readable output, on nlohmann::json: objects keep the order in which their
// members were added, so the output reads in the same order as the text for people. Texts are
// made valid UTF-8 when they are added (the protocol's 8-bit names read as Latin-1 where they
// are not UTF-8), and the dump is ASCII with every control character escaped.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace plctl {

class Json {
 public:
  using Raw = nlohmann::ordered_json;

  Json() : value_(nullptr) {}
  Json(bool value) : value_(value) {}
  Json(int value) : value_(value) {}
  Json(int64_t value) : value_(value) {}
  Json(uint32_t value) : value_(value) {}
  Json(double value) : value_(value) {}
  Json(const char* value) : Json(std::string(value)) {}
  Json(const std::string& value);

  static Json MakeObject();
  static Json MakeArray();
  // A document as it came from the server (already valid).
  static Json FromRaw(Raw raw);

  // Adds a member to an object (or an element to an array, name ignored); returns *this.
  Json& Add(const std::string& name, Json value);
  Json& Push(Json value);

  // Compact text on one line.
  std::string Dump() const;
  const Raw& raw() const { return value_; }

 private:
  Raw value_;
};

}  // namespace plctl
