#include "json.h"

#include "text/safe_text.h"

namespace plctl {

Json::Json(const std::string& value) : value_(text::JsonSafeText(value)) {}

Json Json::MakeObject() {
  return FromRaw(Raw::object());
}

Json Json::MakeArray() {
  return FromRaw(Raw::array());
}

Json Json::FromRaw(Raw raw) {
  Json json;
  json.value_ = std::move(raw);
  return json;
}

Json& Json::Add(const std::string& name, Json value) {
  if (value_.is_array()) {
    value_.push_back(std::move(value.value_));
  } else {
    value_[text::JsonSafeText(name)] = std::move(value.value_);
  }
  return *this;
}

Json& Json::Push(Json value) {
  value_.push_back(std::move(value.value_));
  return *this;
}

std::string Json::Dump() const {
  return value_.dump(-1, ' ', true, Raw::error_handler_t::replace);
}

}  // namespace plctl
