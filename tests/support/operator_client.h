// A test's connection to the server's operator socket: JSON requests and answers, one per line.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/local_lines.h"

namespace pltest {

using OpJson = nlohmann::ordered_json;

class OperatorClient {
 public:
  // Connects; null when the socket does not answer.
  static std::unique_ptr<OperatorClient> Connect(const std::string& path);
  // Waits (10 s at most) until a server answers on the socket; false when none did. The server
  // creates it just after its start line.
  static bool WaitUntilServed(const std::string& path);

  bool SendLine(const std::string& line);
  // The next line the server sends, within timeout_ms; nothing on a time-out or a close.
  std::optional<std::string> ReadLine(int timeout_ms = 5000);
  // Sends the request and returns the next answer parsed (null JSON when none came).
  OpJson Call(const OpJson& request, int timeout_ms = 5000);
  bool Closed() const { return closed_; }

 private:
  explicit OperatorClient(std::unique_ptr<plat::LocalLineClient> lines)
      : lines_(std::move(lines)) {}
  std::unique_ptr<plat::LocalLineClient> lines_;
  bool closed_ = false;
};

}  // namespace pltest
