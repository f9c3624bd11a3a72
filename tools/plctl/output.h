// Where the tool's results go: standard output as text for people, or as JSON with --json (one
// document per command, one line per event in watch mode). Failures go to standard error as
// one line; with --json they are also printed as a JSON document on standard output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "failure.h"
#include "json.h"
#include "protoclient/client_frames.h"

namespace plctl {

class Output {
 public:
  explicit Output(bool json) : json_(json) {}
  bool json() const { return json_; }

  // Prints the result of a command: `document` with --json, else `text` (which ends in a
  // newline). Flushed at once, so a watcher's output reaches a pipe as it happens.
  void Print(const Json& document, const std::string& text) const;
  // One item of a stream (watch) as it came: `document` with --json, else the line `text`
  // (without its line end); no "ok" is added. Flushed at once.
  void Stream(const Json& document, const std::string& text) const;
  void Failure(const CommandFailure& failure) const;
  // A remark for people on standard error (never part of the JSON).
  void Note(const std::string& text) const;

 private:
  bool json_;
};

// "3d 04:05:06" / "04:05:06" from milliseconds.
std::string FormatDuration(uint32_t milliseconds);
// Milliseconds with three decimals ("0.125 ms").
std::string FormatMilliseconds(double milliseconds);
// Rows of cells as aligned columns, two spaces apart, each line ending in a newline. Each cell is
// written as text::NameText writes a name (cells are given as they came).
std::string FormatTable(const std::vector<std::vector<std::string>>& rows);

// The eight counters as a JSON object and as a small table for people.
Json CountersJson(const plclient::Counters& counters);
std::string CountersText(const plclient::Counters& counters);

}  // namespace plctl
