// The event log: lifecycle lines appended to the log file, one open-append-close per line, each
// with a local time stamp. Beside it, the event hook through which the channels report what they
// do; it has no output unless a sink is attached (the tests attach one).
//
// Thread-safe: lines are serialised by LogLock while it exists; before it is created and after
// it is released, lines are written without it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "clients/event_subject.h"
#include "platform/clock.h"
#include "platform/status.h"

namespace core {

// "dd/mm/yyyy hh:nn:ss | " + text + CRLF, at the local time now; "/" and ":" are the locale's
// date and time separators.
std::string FormatLogLine(std::string_view text);
// The same at `when`, with its separators.
std::string FormatLogLine(std::string_view text, const plat::LocalDateTime& when);

class EventLog {
 public:
  void SetFileName(std::string file_name) { file_name_ = std::move(file_name); }
  const std::string& file_name() const { return file_name_; }
  void CreateLock() { log_lock_ = std::make_unique<std::mutex>(); }
  void DestroyLock() { log_lock_.reset(); }
  bool HasLock() const { return log_lock_ != nullptr; }

  // Appends one line. Returns an error text when the file cannot be opened, written or closed;
  // the line is then lost.
  plat::Status WriteLogLine(std::string_view text);

 private:
  std::string file_name_ = "plserver.log";
  std::unique_ptr<std::mutex> log_lock_;
};

// What an event report says of the client concerned (the client implements it).
using clients::EventSubject;

// The event hook. Reports carry a category, a text, a code (0 for none) and the client part
// (" ClientId: n ClientName: name", or empty).
struct EventReport {
  std::string category;
  std::string text;
  int32_t code = 0;
  std::string client_part;
};

class EventHook {
 public:
  using Sink = std::function<void(const EventReport&)>;
  // A report's code is the command code of a request received, the code of a notification sent
  // to the other clients, or this when it concerns no frame.
  static constexpr int32_t kNoCode = 0;
  // Attach before the server starts; nothing reads the sink concurrently with its change.
  void SetSink(Sink sink) { sink_ = std::move(sink); }
  // Whether reports go anywhere: callers skip building texts when they do not.
  bool Enabled() const { return static_cast<bool>(sink_); }
  void Report(std::string_view category, std::string_view text, int32_t code,
              const EventSubject* client = nullptr) const noexcept;

 private:
  Sink sink_;
};

}  // namespace core
