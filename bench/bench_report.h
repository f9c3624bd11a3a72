// The benchmark's output: a readable table, a JSON summary and an SVG plot (latency
// distributions of each comparison, and the ramp).
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "voice_load.h"

namespace bench {

// The server's run and the baseline's under the same load.
struct Comparison {
  std::string title;
  RunResult server;
  std::optional<RunResult> baseline;
};

struct RampStep {
  double rate = 0;            // per speaker
  double offered_copies = 0;  // copies per second the load asks for
  std::optional<RunResult> server;
  std::optional<RunResult> baseline;
};

struct Ramp {
  LoadSpec base;
  std::vector<RampStep> steps;
  // Offered copies per second of the highest step that held (0: none held).
  double server_highest = 0;
  double baseline_highest = 0;
  double server_highest_rate = 0;
  double baseline_highest_rate = 0;
};

void PrintComparison(std::FILE* out, const Comparison& comparison);
void PrintRamp(std::FILE* out, const Ramp& ramp);
std::string ToJson(const std::vector<Comparison>& comparisons, const std::optional<Ramp>& ramp);
std::string ToSvg(const std::vector<Comparison>& comparisons, const std::optional<Ramp>& ramp);

}  // namespace bench
