#include "support/exposition_parser.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "support/blackbox.h"
#include "support/tool_runner.h"

namespace pltest {
namespace {

constexpr char kScript[] = R"(
import sys
from prometheus_client.parser import text_string_to_metric_families
text = open(sys.argv[1], encoding='utf-8').read()
for family in text_string_to_metric_families(text):
    for s in family.samples:
        labels = ';'.join(k + '=' + v.encode('utf-8').hex() for k, v in sorted(s.labels.items()))
        print(family.type + '\t' + s.name + '\t' + labels + '\t' + repr(float(s.value)))
)";

std::string Hex(const std::string& text) {
  std::string out;
  char digits[3];
  for (unsigned char c : text) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out;
}

}  // namespace

std::optional<double> ParsedExposition::Value(const std::string& name, Labels labels) const {
  std::sort(labels.begin(), labels.end());
  std::string key;
  for (const auto& [label, value] : labels) {
    if (!key.empty()) key += ';';
    key += label + "=" + Hex(value);
  }
  for (const ParsedSample& sample : samples) {
    if (sample.name == name && sample.labels == key) return sample.value;
  }
  return std::nullopt;
}

std::string ParsedExposition::TypeOf(const std::string& name) const {
  for (const ParsedSample& sample : samples) {
    if (sample.name == name) return sample.family_type;
  }
  return "";
}

std::optional<ParsedExposition> ParseExposition(const std::string& text, std::string* error) {
  pltest::TempDir directory;
  const std::string path = directory.File("metrics.txt");
  pltest::WriteFile(path, text);
  ToolOptions options;
  options.timeout_ms = 60000;
  ToolResult result = ToolProcess("/usr/bin/python3", {"-c", kScript, path}, options).Finish();
  if (result.exit_code != 0) {
    if (error) *error = "exit " + std::to_string(result.exit_code) + ": " + result.err;
    return std::nullopt;
  }
  ParsedExposition parsed;
  std::istringstream lines(result.out);
  std::string line;
  while (std::getline(lines, line)) {
    ParsedSample sample;
    std::istringstream fields(line);
    std::string value;
    std::getline(fields, sample.family_type, '\t');
    std::getline(fields, sample.name, '\t');
    std::getline(fields, sample.labels, '\t');
    std::getline(fields, value, '\t');
    sample.value = std::stod(value);
    parsed.samples.push_back(sample);
  }
  return parsed;
}

}  // namespace pltest
