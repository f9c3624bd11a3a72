#include "bench_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace bench {
namespace {

struct Figure {
  const char* name;
  double (*value)(const RunResult&);
  const char* format;
};

const Figure kFigures[] = {
    {"datagrams sent", [](const RunResult& r) { return static_cast<double>(r.datagrams_sent); },
     "%.0f"},
    {"expected copies", [](const RunResult& r) { return static_cast<double>(r.expected); }, "%.0f"},
    {"delivered copies", [](const RunResult& r) { return static_cast<double>(r.delivered); },
     "%.0f"},
    {"malformed copies", [](const RunResult& r) { return static_cast<double>(r.malformed); },
     "%.0f"},
    {"loss %", [](const RunResult& r) { return r.Loss() * 100; }, "%.4f"},
    {"copies/s", [](const RunResult& r) { return r.CopiesPerSecond(); }, "%.0f"},
    {"latency p50 ms", [](const RunResult& r) { return r.LatencyQuantileMs(0.5); }, "%.3f"},
    {"latency p99 ms", [](const RunResult& r) { return r.LatencyQuantileMs(0.99); }, "%.3f"},
    {"latency p99.9 ms", [](const RunResult& r) { return r.LatencyQuantileMs(0.999); }, "%.3f"},
    {"latency max ms", [](const RunResult& r) { return r.LatencyMaxMs(); }, "%.3f"},
    {"CPU ms (send phase)", [](const RunResult& r) { return r.cpu_ns / 1e6; }, "%.0f"},
    {"CPU ns/copy", [](const RunResult& r) { return r.CpuNsPerCopy(); }, "%.0f"},
    {"RSS after login kB",
     [](const RunResult& r) { return static_cast<double>(r.rss_after_login_kb); }, "%.0f"},
    {"RSS at end kB", [](const RunResult& r) { return static_cast<double>(r.rss_end_kb); }, "%.0f"},
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ratio(double server, double baseline) {
  if (baseline == 0) return server == 0 ? "1.00" : "-";
  return Format("%.2f", server / baseline);
}

std::string Quote(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string SpecJson(const LoadSpec& load_spec) {
  std::ostringstream json;
  json << "{\"clients\":" << load_spec.clients << ",\"rooms\":" << load_spec.rooms
       << ",\"speakers\":" << load_spec.speakers << ",\"rate\":" << load_spec.rate
       << ",\"payload\":" << load_spec.payload << ",\"seconds\":" << load_spec.seconds << "}";
  return json.str();
}

std::string RunJson(const RunResult& run) {
  std::ostringstream json;
  json << "{\"target\":" << Quote(run.target) << ",\"sent\":" << run.datagrams_sent
       << ",\"expected\":" << run.expected << ",\"delivered\":" << run.delivered
       << ",\"malformed\":" << run.malformed << ",\"loss\":" << run.Loss()
       << ",\"copies_per_second\":" << run.CopiesPerSecond()
       << ",\"latency_ms\":{\"p50\":" << run.LatencyQuantileMs(0.5)
       << ",\"p99\":" << run.LatencyQuantileMs(0.99) << ",\"p999\":" << run.LatencyQuantileMs(0.999)
       << ",\"max\":" << run.LatencyMaxMs() << "}"
       << ",\"cpu_ns\":" << (run.cpu_known ? std::to_string(run.cpu_ns) : "null")
       << ",\"cpu_ns_per_copy\":" << (run.cpu_known ? Format("%.1f", run.CpuNsPerCopy()) : "null")
       << ",\"rss_after_login_kb\":" << run.rss_after_login_kb
       << ",\"rss_end_kb\":" << run.rss_end_kb << ",\"held\":" << (run.Held() ? "true" : "false")
       << "}";
  return json.str();
}

// --- SVG -------------------------------------------------------------------------------------

constexpr int kWidth = 760;
constexpr int kPanelHeight = 340;
constexpr int kLeft = 70, kRight = 20, kTop = 40, kBottom = 50;
const char* const kServerColour = "#c0392b";
const char* const kBaselineColour = "#2471a3";

struct Panel {
  std::ostringstream& svg;
  int top;
  double x_min, x_max, y_min, y_max;  // in log10 units
  double X(double lx) const {
    return kLeft + (lx - x_min) / (x_max - x_min) * (kWidth - kLeft - kRight);
  }
  double Y(double ly) const {
    return top + kPanelHeight - kBottom -
           (ly - y_min) / (y_max - y_min) * (kPanelHeight - kTop - kBottom);
  }
};

void Text(std::ostringstream& svg, double x, double y, const std::string& text,
          const char* anchor = "middle", int size = 12) {
  svg << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"" << size << "\" text-anchor=\""
      << anchor << "\" font-family=\"sans-serif\">" << text << "</text>\n";
}

void Frame(const Panel& p, const std::string& title, const std::string& x_label,
           const std::string& y_label) {
  std::ostringstream& svg = p.svg;
  svg << "<rect x=\"" << kLeft << "\" y=\"" << p.top + kTop << "\" width=\""
      << kWidth - kLeft - kRight << "\" height=\"" << kPanelHeight - kTop - kBottom
      << "\" fill=\"none\" stroke=\"#444\"/>\n";
  Text(svg, kWidth / 2.0, p.top + 22, title, "middle", 14);
  Text(svg, kWidth / 2.0, p.top + kPanelHeight - 12, x_label);
  svg << "<text transform=\"translate(16," << p.top + kPanelHeight / 2
      << ") rotate(-90)\" font-size=\"12\" "
      << "text-anchor=\"middle\" font-family=\"sans-serif\">" << y_label << "</text>\n";
  for (int e = static_cast<int>(std::ceil(p.y_min)); e <= static_cast<int>(std::floor(p.y_max));
       ++e) {
    svg << "<line x1=\"" << kLeft << "\" x2=\"" << kWidth - kRight << "\" y1=\"" << p.Y(e)
        << "\" y2=\"" << p.Y(e) << "\" stroke=\"#ddd\"/>\n";
    Text(svg, kLeft - 6, p.Y(e) + 4, Format("%g", std::pow(10.0, e)), "end");
  }
}

void Polyline(const Panel& p, const std::vector<std::pair<double, double>>& points,
              const char* colour) {
  p.svg << "<polyline fill=\"none\" stroke-width=\"2\" stroke=\"" << colour << "\" points=\"";
  for (auto [x, y] : points) p.svg << p.X(x) << "," << p.Y(y) << " ";
  p.svg << "\"/>\n";
}

void Legend(const Panel& p, int row, const char* colour, const std::string& text) {
  const double y = p.top + kTop + 16 + row * 16;
  p.svg << "<rect x=\"" << kLeft + 10 << "\" y=\"" << y - 9
        << "\" width=\"14\" height=\"4\" fill=\"" << colour << "\"/>\n";
  Text(p.svg, kLeft + 30, y - 3, text, "start", 11);
}

// Latency against percentile on a "nines" scale: x = -log10(1 - q), so 90 %, 99 %, 99.9 % are
// evenly spaced.
std::vector<std::pair<double, double>> LatencyCurve(const RunResult& run, double y_min) {
  std::vector<std::pair<double, double>> points;
  if (run.latency_ns.empty()) return points;
  const size_t n = run.latency_ns.size();
  const double x_max = std::min(5.0, std::log10(static_cast<double>(n)));
  for (int i = 0; i <= 200; ++i) {
    double lx = x_max * i / 200.0;
    double q = 1 - std::pow(10.0, -lx);
    double ms = run.LatencyQuantileMs(q);
    points.push_back({lx, std::log10(std::max(ms, std::pow(10.0, y_min)))});
  }
  return points;
}

void LatencyPanel(std::ostringstream& svg, int top, const Comparison& c) {
  double y_max = std::log10(std::max(0.1, c.server.LatencyMaxMs()));
  if (c.baseline) y_max = std::max(y_max, std::log10(std::max(0.1, c.baseline->LatencyMaxMs())));
  Panel p{svg, top, 0, 5, -2, std::ceil(y_max + 0.01)};
  Frame(p, "Latency distribution: " + c.title, "percentile", "latency (ms, log scale)");
  const char* labels[] = {"0", "90", "99", "99.9", "99.99", "99.999"};
  for (int e = 0; e <= 5; ++e) Text(svg, p.X(e), top + kPanelHeight - kBottom + 16, labels[e]);
  Polyline(p, LatencyCurve(c.server, p.y_min), kServerColour);
  Legend(p, 0, kServerColour, "server p99 " + Format("%.3f ms", c.server.LatencyQuantileMs(0.99)));
  if (c.baseline) {
    Polyline(p, LatencyCurve(*c.baseline, p.y_min), kBaselineColour);
    Legend(p, 1, kBaselineColour,
           "baseline p99 " + Format("%.3f ms", c.baseline->LatencyQuantileMs(0.99)));
  }
}

void RampPanel(std::ostringstream& svg, int top, const Ramp& ramp) {
  if (ramp.steps.empty()) return;
  double x_min = std::log10(ramp.steps.front().offered_copies) - 0.1;
  double x_max = std::log10(ramp.steps.back().offered_copies) + 0.1;
  double y_max = 1;
  for (const RampStep& step : ramp.steps) {
    if (step.server)
      y_max = std::max(y_max, std::log10(std::max(0.01, step.server->LatencyQuantileMs(0.99))));
    if (step.baseline)
      y_max = std::max(y_max, std::log10(std::max(0.01, step.baseline->LatencyQuantileMs(0.99))));
  }
  Panel p{svg, top, x_min, x_max, -2, std::ceil(y_max + 0.01)};
  Frame(p, "Ramp: p99 latency against offered load (hollow marks: loss > 0.5 % or p99 > 5 ms)",
        "offered copies per second (log scale)", "p99 latency (ms, log scale)");
  for (int e = static_cast<int>(std::ceil(x_min)); e <= static_cast<int>(std::floor(x_max)); ++e) {
    Text(svg, p.X(e), top + kPanelHeight - kBottom + 16, Format("%g", std::pow(10.0, e)));
  }
  svg << "<line x1=\"" << kLeft << "\" x2=\"" << kWidth - kRight << "\" y1=\""
      << p.Y(std::log10(5.0)) << "\" y2=\"" << p.Y(std::log10(5.0))
      << "\" stroke=\"#888\" stroke-dasharray=\"4 3\"/>\n";
  auto series = [&](bool server, const char* colour) {
    std::vector<std::pair<double, double>> points;
    for (const RampStep& step : ramp.steps) {
      const std::optional<RunResult>& run = server ? step.server : step.baseline;
      if (!run) continue;
      double lx = std::log10(step.offered_copies);
      double ly =
          std::log10(std::clamp(run->LatencyQuantileMs(0.99), 0.01, std::pow(10.0, p.y_max)));
      points.push_back({lx, ly});
      svg << "<circle cx=\"" << p.X(lx) << "\" cy=\"" << p.Y(ly) << "\" r=\"4\" stroke=\"" << colour
          << "\" fill=\"" << (run->Held() ? colour : "white") << "\"/>\n";
    }
    Polyline(p, points, colour);
  };
  series(true, kServerColour);
  series(false, kBaselineColour);
  Legend(p, 0, kServerColour,
         "server, highest held " + Format("%.0f copies/s", ramp.server_highest));
  Legend(p, 1, kBaselineColour,
         "baseline, highest held " + Format("%.0f copies/s", ramp.baseline_highest));
}

}  // namespace

void PrintComparison(std::FILE* out, const Comparison& c) {
  const LoadSpec& s = c.server.load_spec;
  std::fprintf(out,
               "\n== %s: %d clients, %d rooms, %d speakers at %.0f/s, %zu-byte payloads, %.0f s\n",
               c.title.c_str(), s.clients, s.rooms, s.speakers, s.rate, s.payload, s.seconds);
  std::fprintf(out, "%-22s %14s %14s %8s\n", "", "server", "baseline", "ratio");
  for (const Figure& figure : kFigures) {
    const double server = figure.value(c.server);
    if (c.baseline) {
      const double baseline = figure.value(*c.baseline);
      std::fprintf(out, "%-22s %14s %14s %8s\n", figure.name, Format(figure.format, server).c_str(),
                   Format(figure.format, baseline).c_str(), Ratio(server, baseline).c_str());
    } else {
      std::fprintf(out, "%-22s %14s\n", figure.name, Format(figure.format, server).c_str());
    }
  }
}

void PrintRamp(std::FILE* out, const Ramp& ramp) {
  const LoadSpec& s = ramp.base;
  std::fprintf(
      out, "\n== Ramp: %d clients, %d rooms, %d speakers, rate raised per step, %.0f s per step\n",
      s.clients, s.rooms, s.speakers, s.seconds);
  std::fprintf(out, "%8s %12s | %9s %9s %10s %5s | %9s %9s %10s %5s\n", "rate/s", "offered/s",
               "srv loss%", "srv p99", "srv ns/cp", "held", "ref loss%", "ref p99", "ref ns/cp",
               "held");
  for (const RampStep& step : ramp.steps) {
    std::fprintf(out, "%8.0f %12.0f", step.rate, step.offered_copies);
    for (const std::optional<RunResult>* run : {&step.server, &step.baseline}) {
      if (*run) {
        std::fprintf(out, " | %9.3f %9.3f %10.0f %5s", (*run)->Loss() * 100,
                     (*run)->LatencyQuantileMs(0.99), (*run)->CpuNsPerCopy(),
                     (*run)->Held() ? "yes" : "NO");
      } else {
        std::fprintf(out, " | %9s %9s %10s %5s", "-", "-", "-", "-");
      }
    }
    std::fprintf(out, "\n");
  }
  std::fprintf(out,
               "highest held: server %.0f copies/s (rate %.0f), baseline %.0f copies/s (rate "
               "%.0f), ratio %s\n",
               ramp.server_highest, ramp.server_highest_rate, ramp.baseline_highest,
               ramp.baseline_highest_rate,
               Ratio(ramp.server_highest, ramp.baseline_highest).c_str());
}

std::string ToJson(const std::vector<Comparison>& comparisons, const std::optional<Ramp>& ramp) {
  std::ostringstream json;
  json << "{\n\"comparisons\":[";
  for (size_t i = 0; i < comparisons.size(); ++i) {
    const Comparison& c = comparisons[i];
    json << (i ? ",\n" : "\n") << "{\"title\":" << Quote(c.title)
         << ",\"load\":" << SpecJson(c.server.load_spec) << ",\n \"server\":" << RunJson(c.server);
    if (c.baseline) {
      json << ",\n \"baseline\":" << RunJson(*c.baseline)
           << ",\n \"ratios\":{\"loss\":" << Ratio(c.server.Loss(), c.baseline->Loss())
           << ",\"copies_per_second\":"
           << Ratio(c.server.CopiesPerSecond(), c.baseline->CopiesPerSecond()) << ",\"p99\":"
           << Ratio(c.server.LatencyQuantileMs(0.99), c.baseline->LatencyQuantileMs(0.99))
           << ",\"cpu_ns_per_copy\":" << Ratio(c.server.CpuNsPerCopy(), c.baseline->CpuNsPerCopy())
           << ",\"rss_end\":" << Ratio(c.server.rss_end_kb, c.baseline->rss_end_kb) << "}";
    }
    json << "}";
  }
  json << "\n]";
  if (ramp) {
    json << ",\n\"ramp\":{\"load\":" << SpecJson(ramp->base)
         << ",\"server_highest_copies_per_second\":" << ramp->server_highest
         << ",\"baseline_highest_copies_per_second\":" << ramp->baseline_highest
         << ",\"ratio\":" << Ratio(ramp->server_highest, ramp->baseline_highest) << ",\"steps\":[";
    for (size_t i = 0; i < ramp->steps.size(); ++i) {
      const RampStep& step = ramp->steps[i];
      json << (i ? ",\n" : "\n") << "{\"rate\":" << step.rate
           << ",\"offered_copies_per_second\":" << step.offered_copies
           << ",\"server\":" << (step.server ? RunJson(*step.server) : "null")
           << ",\"baseline\":" << (step.baseline ? RunJson(*step.baseline) : "null") << "}";
    }
    json << "]}";
  }
  json << "\n}\n";
  std::string text = json.str();
  // Ratios that have no value are written as "-" in the table; JSON wants null.
  for (size_t at; (at = text.find(":-,")) != std::string::npos ||
                  (at = text.find(":-}")) != std::string::npos;) {
    text.replace(at + 1, 1, "null");
  }
  return text;
}

std::string ToSvg(const std::vector<Comparison>& comparisons, const std::optional<Ramp>& ramp) {
  std::ostringstream svg;
  const int panels = static_cast<int>(comparisons.size()) + (ramp ? 1 : 0);
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
      << std::max(1, panels) * kPanelHeight
      << "\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  int top = 0;
  for (const Comparison& c : comparisons) {
    LatencyPanel(svg, top, c);
    top += kPanelHeight;
  }
  if (ramp) RampPanel(svg, top, *ramp);
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace bench
