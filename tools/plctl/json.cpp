#include "json.h"

#include <cmath>
#include <cstdio>

namespace plctl {
namespace {

void DumpString(const std::string& text, std::string& out) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void DumpNumber(double number, std::string& out) {
  if (!std::isfinite(number)) {
    out += "null";
    return;
  }
  char text[32];
  if (number == std::floor(number) && std::fabs(number) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", number);
  } else {
    std::snprintf(text, sizeof text, "%.6g", number);
  }
  out += text;
}

}  // namespace

Json& Json::Add(const std::string& name, Json value) {
  if (auto* object = std::get_if<Object>(&value_)) {
    object->emplace_back(name, std::move(value));
  } else if (auto* array = std::get_if<Array>(&value_)) {
    array->push_back(std::move(value));
  }
  return *this;
}

Json& Json::Push(Json value) {
  return Add("", std::move(value));
}

std::string Json::Dump() const {
  std::string out;
  DumpTo(out);
  return out;
}

void Json::DumpTo(std::string& out) const {
  if (std::holds_alternative<std::nullptr_t>(value_)) {
    out += "null";
  } else if (const bool* flag = std::get_if<bool>(&value_)) {
    out += *flag ? "true" : "false";
  } else if (const double* number = std::get_if<double>(&value_)) {
    DumpNumber(*number, out);
  } else if (const std::string* text = std::get_if<std::string>(&value_)) {
    DumpString(*text, out);
  } else if (const Array* array = std::get_if<Array>(&value_)) {
    out += '[';
    for (size_t i = 0; i < array->size(); ++i) {
      if (i) out += ',';
      (*array)[i].DumpTo(out);
    }
    out += ']';
  } else if (const Object* object = std::get_if<Object>(&value_)) {
    out += '{';
    for (size_t i = 0; i < object->size(); ++i) {
      if (i) out += ',';
      DumpString((*object)[i].first, out);
      out += ':';
      (*object)[i].second.DumpTo(out);
    }
    out += '}';
  }
}

}  // namespace plctl
