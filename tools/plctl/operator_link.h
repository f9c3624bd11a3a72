// The tool's connection to the server's operator socket: one JSON request per line, one answer
// per line. A refusal comes back as CommandFailure with the server's error code as its kind.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli.h"
#include "json.h"
#include "platform/local_lines.h"

namespace plctl {

class OperatorLink {
 public:
  // Connects to the socket the options name; throws a connect failure naming the path.
  static std::unique_ptr<OperatorLink> Open(const GlobalOptions& global);

  // Sends the request (with an id) and returns the answer's result; throws CommandFailure on
  // an error answer (not-found: exit 1 like any refusal), a time-out or a closed socket.
  Json::Raw Call(Json::Raw request);
  // The next line from the server within timeout_ms (negative: no limit); nothing on a
  // time-out. Throws when the server closes the connection.
  std::optional<Json::Raw> ReadMessage(int timeout_ms);
  const std::string& path() const { return path_; }

 private:
  OperatorLink(std::unique_ptr<plat::LocalLineClient> lines, std::string path, int timeout_ms)
      : lines_(std::move(lines)), path_(std::move(path)), timeout_ms_(timeout_ms) {}

  std::unique_ptr<plat::LocalLineClient> lines_;
  std::string path_;
  int timeout_ms_;
  int next_id_ = 1;
};

// The password a command needs from --password-file, else the environment variable, else a
// prompt without echo (asked twice when `confirm`); a usage failure when none gives one.
std::string SecretFromUser(const GlobalOptions& global, const char* environment_variable,
                           const std::string& prompt, bool confirm);

}  // namespace plctl
