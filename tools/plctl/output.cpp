#include "output.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "text/safe_text.h"

namespace plctl {

void Output::Print(const Json& document, const std::string& text) const {
  if (json_) {
    // Every answer says whether it succeeded, first.
    Json::Raw raw = document.raw();
    if (raw.is_object() && !raw.contains("ok")) {
      Json::Raw with_ok = {{"ok", true}};
      for (auto& [key, value] : raw.items()) with_ok[key] = value;
      raw = std::move(with_ok);
    }
    std::cout << Json::FromRaw(std::move(raw)).Dump() << "\n";
  } else {
    // Names are untrusted bytes: nothing reaches the terminal that it would obey.
    std::cout << text::TerminalSafeText(text, true, false);
  }
  std::cout.flush();
}

void Output::Stream(const Json& document, const std::string& text) const {
  if (json_ || text.empty()) {
    std::cout << document.Dump() << "\n";
  } else {
    std::cout << text::TerminalSafeText(text, false, false) << "\n";
  }
  std::cout.flush();
}

void Output::Failure(const CommandFailure& failure) const {
  std::cerr << "plctl: " << text::TerminalSafeText(failure.what()) << "\n";
  if (!json_) return;
  Json error = Json::MakeObject();
  error.Add("kind", failure.kind()).Add("message", std::string(failure.what()));
  if (failure.result()) {
    error.Add("result", static_cast<int>(*failure.result()))
        .Add("refusal", RefusalName(*failure.result()));
  }
  error.Add("exit_code", static_cast<int>(failure.code()));
  std::cout << Json::MakeObject().Add("ok", false).Add("error", std::move(error)).Dump() << "\n";
  std::cout.flush();
}

void Output::Note(const std::string& text) const {
  std::cerr << text::TerminalSafeText(text, true, false) << "\n";
}

std::string FormatDuration(uint32_t milliseconds) {
  const uint32_t seconds = milliseconds / 1000;
  const uint32_t days = seconds / 86400;
  char text[48];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", (seconds / 3600) % 24, (seconds / 60) % 60,
                seconds % 60);
  return days ? std::to_string(days) + "d " + text : std::string(text);
}

std::string FormatMilliseconds(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", milliseconds);
  return text;
}

std::string FormatTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], text::NameText(row[i]).size());
  }
  std::string text;
  for (const auto& raw_row : rows) {
    std::vector<std::string> row;
    for (const std::string& cell : raw_row) row.push_back(text::NameText(cell));
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) line += "  ";
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - row[i].size(), ' ');
    }
    text += line + "\n";
  }
  return text;
}

Json CountersJson(const plclient::Counters& c) {
  return Json::MakeObject()
      .Add("udp_packets_sent", c.udp_packets_sent)
      .Add("udp_bytes_sent", c.udp_bytes_sent)
      .Add("udp_packets_received", c.udp_packets_received)
      .Add("udp_bytes_received", c.udp_bytes_received)
      .Add("tcp_packets_sent", c.tcp_packets_sent)
      .Add("tcp_bytes_sent", c.tcp_bytes_sent)
      .Add("tcp_packets_received", c.tcp_packets_received)
      .Add("tcp_bytes_received", c.tcp_bytes_received);
}

std::string CountersText(const plclient::Counters& c) {
  auto n = [](uint32_t value) { return std::to_string(value); };
  return FormatTable({{"  traffic", "packets", "bytes"},
                      {"  UDP sent", n(c.udp_packets_sent), n(c.udp_bytes_sent)},
                      {"  UDP received", n(c.udp_packets_received), n(c.udp_bytes_received)},
                      {"  TCP sent", n(c.tcp_packets_sent), n(c.tcp_bytes_sent)},
                      {"  TCP received", n(c.tcp_packets_received), n(c.tcp_bytes_received)}});
}

}  // namespace plctl
