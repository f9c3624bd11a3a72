#include "operator_link.h"

#include <cstdlib>

#include "failure.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"

namespace plctl {

std::unique_ptr<OperatorLink> OperatorLink::Open(const GlobalOptions& global) {
  const std::string path = SocketPath(global);
  std::string error;
  auto socket = plat::LocalClientSocket::Connect(path, &error);
  if (!socket) {
    throw CommandFailure(kExitFailure, "connect",
                         "cannot connect to the operator socket " + path + ": " + error +
                             " (--socket names another, --host uses the public protocol)");
  }
  return std::unique_ptr<OperatorLink>(
      new OperatorLink(std::move(socket), path, global.timeout_ms));
}

std::optional<Json::Raw> OperatorLink::ReadMessage(int timeout_ms) {
  const uint32_t started = plat::TickCount();
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      Json::Raw message = Json::Raw::parse(line, nullptr, false);
      if (message.is_discarded() || !message.is_object())
        throw CommandFailure(kExitFailure, "protocol", "the server's answer is not JSON");
      return message;
    }
    int left = -1;
    if (timeout_ms >= 0) {
      const uint32_t waited = plat::TickCount() - started;
      if (waited >= static_cast<uint32_t>(timeout_ms)) return std::nullopt;
      left = timeout_ms - static_cast<int>(waited);
    }
    char chunk[16384];
    size_t count = 0;
    switch (socket_->Receive(chunk, sizeof chunk, left, &count)) {
      case plat::LocalIo::kOk:
        buffer_.append(chunk, count);
        break;
      case plat::LocalIo::kWouldBlock:
        return std::nullopt;
      case plat::LocalIo::kClosed:
        throw CommandFailure(kExitFailure, "closed", "the server closed the operator connection");
    }
  }
}

Json::Raw OperatorLink::Call(Json::Raw request) {
  const int id = next_id_++;
  Json::Raw with_id = {{"id", id}};
  for (auto& [key, value] : request.items()) with_id[key] = value;
  if (!socket_->SendAll(with_id.dump(-1, ' ', true) + "\n", timeout_ms_))
    throw CommandFailure(kExitFailure, "closed", "the operator socket did not take the request");
  for (;;) {
    std::optional<Json::Raw> answer = ReadMessage(timeout_ms_);
    if (!answer) throw CommandFailure(kExitFailure, "timeout", "no answer in time");
    if (!answer->contains("id") || (*answer)["id"] != id) {
      // An answer without our id is the server turning the connection away.
      if (answer->value("ok", true)) continue;
    }
    if (answer->value("ok", false)) return answer->value("result", Json::Raw::object());
    const Json::Raw error = answer->value("error", Json::Raw::object());
    const std::string code = error.value("code", "error");
    const std::string message = error.value("message", "refused");
    const bool usage = code == "bad-argument" || code == "unknown-command";
    throw CommandFailure(usage ? kExitFailure : kExitRefused, code, message);
  }
}

std::string SecretFromUser(const GlobalOptions& global, const char* environment_variable,
                           const std::string& prompt, bool confirm) {
  if (!global.password_file.empty()) {
    plat::FileContents contents = plat::ReadWholeFile(global.password_file);
    if (contents.status != plat::ReadStatus::kOk)
      ThrowUsage("cannot read the password file " + global.password_file);
    std::string line = contents.bytes.substr(0, contents.bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  if (const char* from_environment = std::getenv(environment_variable)) return from_environment;
  std::string typed;
  if (!plat::ReadSecretLine(prompt, &typed))
    ThrowUsage(std::string("no password: give --password-file, set ") + environment_variable +
               " or run on a terminal");
  if (confirm) {
    std::string again;
    if (!plat::ReadSecretLine("Again: ", &again) || again != typed)
      ThrowUsage("the two passwords typed differ");
  }
  return typed;
}

}  // namespace plctl
