// A small JSON value for the tool's machine-readable output: objects keep the order in which
// their members were added, so the output reads in the same order as the text for people.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace plctl {

class Json {
 public:
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::string, Json>>;

  Json() : value_(nullptr) {}
  Json(bool value) : value_(value) {}
  Json(int value) : value_(static_cast<double>(value)) {}
  Json(int64_t value) : value_(static_cast<double>(value)) {}
  Json(uint32_t value) : value_(static_cast<double>(value)) {}
  Json(double value) : value_(value) {}
  Json(const char* value) : value_(std::string(value)) {}
  Json(std::string value) : value_(std::move(value)) {}
  Json(Array value) : value_(std::move(value)) {}
  Json(Object value) : value_(std::move(value)) {}

  static Json MakeObject() { return Json(Object{}); }
  static Json MakeArray() { return Json(Array{}); }

  // Adds a member to an object (or an element to an array, name ignored); returns *this.
  Json& Add(const std::string& name, Json value);
  Json& Push(Json value);

  // Compact text on one line, strings escaped for JSON (bytes above 127 are passed through).
  std::string Dump() const;

 private:
  void DumpTo(std::string& out) const;
  std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value_;
};

}  // namespace plctl
