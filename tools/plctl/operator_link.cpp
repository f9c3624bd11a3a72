#include "operator_link.h"

#include <cstdlib>

#include "failure.h"
#include "platform/files.h"
#include "platform/process.h"
#include "text/safe_text.h"

namespace plctl {
namespace {

bool IsUtf8(std::string_view text) {
  uint32_t code_point = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t length = text::Utf8SequenceLength(text, i, &code_point);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// The socket speaks JSON, which holds UTF-8 text only: a name from a terminal that is not UTF-8
// is refused here, its bytes shown as escapes when the failure is printed.
void CheckTexts(const Json::Raw& request) {
  for (const auto& [key, value] : request.items()) {
    if (!value.is_string() || IsUtf8(value.get_ref<const std::string&>())) continue;
    if (key == "password") ThrowUsage("the new password is not UTF-8 text, which the socket needs");
    ThrowUsage("\"" + value.get<std::string>() +
               "\" is not UTF-8 text, which the socket needs; a player or room can also be "
               "named by its number");
  }
}

}  // namespace

std::unique_ptr<OperatorLink> OperatorLink::Open(const GlobalOptions& global) {
  const std::string path = SocketPath(global);
  std::string error;
  auto lines = plat::LocalLineClient::Connect(path, &error);
  if (!lines) {
    throw CommandFailure(kExitFailure, "connect",
                         "cannot connect to the operator socket " + path + ": " + error +
                             " (--socket names another, --host uses the public protocol)");
  }
  return std::unique_ptr<OperatorLink>(new OperatorLink(std::move(lines), path, global.timeout_ms));
}

std::optional<Json::Raw> OperatorLink::ReadMessage(int timeout_ms) {
  std::string line;
  switch (lines_->ReadLine(timeout_ms, &line)) {
    case plat::LocalLineClient::ReadResult::kLine:
      break;
    case plat::LocalLineClient::ReadResult::kTimedOut:
      return std::nullopt;
    case plat::LocalLineClient::ReadResult::kClosed:
      throw CommandFailure(kExitFailure, "closed", "the server closed the operator connection");
  }
  Json::Raw message = Json::Raw::parse(line, nullptr, false);
  if (message.is_discarded() || !message.is_object())
    throw CommandFailure(kExitFailure, "protocol", "the server's answer is not JSON");
  return message;
}

Json::Raw OperatorLink::Call(Json::Raw request) {
  CheckTexts(request);
  const int id = next_id_++;
  Json::Raw with_id = {{"id", id}};
  for (auto& [key, value] : request.items()) with_id[key] = value;
  if (!lines_->SendLine(with_id.dump(-1, ' ', true), timeout_ms_))
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
