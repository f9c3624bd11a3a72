// How a command ends when it cannot do its job, and the exit codes scripts rely on: 0 done,
// 1 refused by the server (or the named player or room is not there), 2 no connection, bad
// usage or no answer in time.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace plctl {

enum ExitCode : int { kExitDone = 0, kExitRefused = 1, kExitFailure = 2 };

// Thrown by a command to its one guard in main, which prints it and exits with its code.
class CommandFailure : public std::runtime_error {
 public:
  // kind: a short word for scripts ("refused", "not-found", "usage", "connect", "timeout",
  // "closed"); the message is for people.
  CommandFailure(ExitCode code, std::string kind, const std::string& message,
                 std::optional<int16_t> result = std::nullopt)
      : std::runtime_error(message), code_(code), kind_(std::move(kind)), result_(result) {}
  ExitCode code() const { return code_; }
  const std::string& kind() const { return kind_; }
  // The server's Result value when the server refused.
  std::optional<int16_t> result() const { return result_; }

 private:
  ExitCode code_;
  std::string kind_;
  std::optional<int16_t> result_;
};

// What a Result value means, in a few words ("wrong administrator password").
std::string RefusalName(int16_t result);

[[noreturn]] void ThrowRefused(int16_t result);
[[noreturn]] void ThrowUsage(const std::string& message);
[[noreturn]] void ThrowNotFound(const std::string& message);

}  // namespace plctl
