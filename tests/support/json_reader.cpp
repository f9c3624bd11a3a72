#include "support/json_reader.h"

#include <nlohmann/json.hpp>

namespace pltest {
namespace {

JsonNode Convert(const nlohmann::json& value) {
  JsonNode node;
  switch (value.type()) {
    case nlohmann::json::value_t::boolean:
      node.kind = JsonNode::Kind::kBool;
      node.boolean = value.get<bool>();
      break;
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
      node.kind = JsonNode::Kind::kNumber;
      node.number = value.get<double>();
      break;
    case nlohmann::json::value_t::string:
      node.kind = JsonNode::Kind::kString;
      node.text = value.get<std::string>();
      break;
    case nlohmann::json::value_t::array:
      node.kind = JsonNode::Kind::kArray;
      for (const auto& element : value) node.elements.push_back(Convert(element));
      break;
    case nlohmann::json::value_t::object:
      node.kind = JsonNode::Kind::kObject;
      for (const auto& [key, member] : value.items()) node.members[key] = Convert(member);
      break;
    default:
      break;
  }
  return node;
}

}  // namespace

const JsonNode& JsonNode::operator[](const std::string& name) const {
  static const JsonNode kNull;
  auto found = members.find(name);
  return found == members.end() ? kNull : found->second;
}

std::optional<JsonNode> ParseJson(const std::string& text) {
  // nlohmann's parser: strict JSON, valid UTF-8 required.
  nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return Convert(value);
}

}  // namespace pltest
