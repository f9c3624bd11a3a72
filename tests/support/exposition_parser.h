// Parses the Prometheus text form with a parser written by others: Python's prometheus_client
// (Debian's python3-prometheus-client), run as /usr/bin/python3. A text it cannot parse fails.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pltest {

struct ParsedSample {
  std::string family_type;  // counter, gauge, histogram, ...
  std::string name;         // the sample's own name (with _total, _bucket, ...)
  std::string labels;       // key=hex(value);... sorted by key
  double value = 0;
};

class ParsedExposition {
 public:
  using Labels = std::vector<std::pair<std::string, std::string>>;
  std::vector<ParsedSample> samples;

  // The value of the sample with exactly these labels; nothing when there is none.
  std::optional<double> Value(const std::string& name, Labels labels = {}) const;
  // The type of the family the sample belongs to; empty when there is no such sample.
  std::string TypeOf(const std::string& name) const;
};

// Nothing (and the parser's complaint in `error`) when the text does not parse.
std::optional<ParsedExposition> ParseExposition(const std::string& text, std::string* error);

}  // namespace pltest
