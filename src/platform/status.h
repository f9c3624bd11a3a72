// The outcome of an operation that either succeeds or fails with a text for the log and the
// fatal messages ("bind(0.0.0.0:8765): Address already in use"). The caller decides what a
// failure means.
#pragma once

#include <string>
#include <utility>

namespace plat {

class Status {
 public:
  static Status Ok() { return Status(false, std::string()); }
  static Status Error(std::string message) { return Status(true, std::move(message)); }

  bool ok() const { return !failed_; }
  // What went wrong; empty on success.
  const std::string& message() const { return message_; }

 private:
  Status(bool failed, std::string message) : failed_(failed), message_(std::move(message)) {}

  bool failed_;
  std::string message_;
};

}  // namespace plat
