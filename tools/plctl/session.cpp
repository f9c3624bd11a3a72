#include "session.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "failure.h"
#include "platform/ascii_case.h"
#include "platform/files.h"
#include "platform/process.h"
#include "text/safe_text.h"
#include "wire/global_types.h"

namespace plctl {
namespace {

std::string Where(const GlobalOptions& global) {
  return global.host + ":" + std::to_string(global.port);
}

std::string Seconds(int milliseconds) {
  std::string text = std::to_string(milliseconds / 1000.0);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text + " s";
}

bool IsNumber(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Finds the byte of the one entry whose name matches `text`.
template <typename Records, typename ByteOf>
std::optional<uint8_t> FindByName(const Records& records, const std::string& text, ByteOf byte_of) {
  for (const auto& record : records) {
    if (record.name == text) return byte_of(record);
  }
  std::optional<uint8_t> found;
  for (const auto& record : records) {
    if (!plat::EqualsIgnoringAsciiCase(record.name, text)) continue;
    if (found) return std::nullopt;  // ambiguous: the user must give the number
    found = byte_of(record);
  }
  return found;
}

// The server password: --server-password, else PLCTL_SERVER_PASSWORD, else none.
std::string ServerPassword(const GlobalOptions& global) {
  if (!global.server_password.empty()) return global.server_password;
  const char* from_environment = std::getenv("PLCTL_SERVER_PASSWORD");
  return from_environment ? from_environment : "";
}

}  // namespace

std::unique_ptr<Session> Session::Open(const GlobalOptions& global) {
  plclient::ClientOptions options;
  options.connect_timeout_ms = global.timeout_ms;
  options.send_timeout_ms = global.timeout_ms;
  std::string error;
  auto client = plclient::ProtocolClient::Connect(global.host, global.port, options, &error);
  if (!client) {
    throw CommandFailure(kExitFailure, "connect",
                         "cannot connect to " + Where(global) + ": " + error);
  }
  std::unique_ptr<Session> session(new Session(std::move(client), global.timeout_ms));
  plclient::LoginOutcome login =
      session->client_->Login(global.name, ServerPassword(global), kToolVersion, global.timeout_ms);
  if (login.refused) {
    session->left_ = true;  // the server has closed the connection already
    ThrowRefused(login.refused->value);
  }
  if (!login.accepted) {
    session->left_ = true;
    throw CommandFailure(
        kExitFailure, "timeout",
        "no answer to the login from " + Where(global) + " within " + Seconds(global.timeout_ms));
  }
  session->servername_ = login.accepted->servername;
  session->RefreshLists();
  return session;
}

Session::~Session() {
  Leave();
}

void Session::Leave() {
  if (left_) return;
  left_ = true;
  client_->SendLeave();
}

void Session::Send(const std::vector<uint8_t>& bytes) {
  if (!client_->Send(bytes))
    throw CommandFailure(kExitFailure, "closed", "the server does not take our frames");
}

void Session::RefreshLists() {
  Send(plclient::ClientListsReqFrame(0, 0));
  plclient::Frame frame =
      AwaitReply([](const plclient::Frame& f) { return plclient::ParseServerLists(f).has_value(); },
                 "the lists");
  lists_ = *plclient::ParseServerLists(frame);
}

void Session::AdminLogin(const std::string& password) {
  Send(plclient::AdminLoginFrame(password));
  const uint8_t own = own_player_byte();
  AwaitReply(
      [own](const plclient::Frame& f) {
        auto notice = plclient::ParsePlayerIsAdmin(f);
        auto result = plclient::ParseResult(f);
        return (notice && notice->player_byte == own) ||
               (result && result->value == wire::kResultAdminAccepted);
      },
      "the administrator login");
}

plclient::Frame Session::AwaitReply(const std::function<bool(const plclient::Frame&)>& match,
                                    const std::string& what) {
  std::optional<int16_t> refusal;
  std::optional<plclient::Frame> frame = client_->ReadUntil(
      [&](const plclient::Frame& f) {
        if (match(f)) return true;
        auto result = plclient::ParseResult(f);
        if (result && result->value < 0) {
          refusal = result->value;
          return true;
        }
        unclaimed_.push_back(f);
        return false;
      },
      timeout_ms_);
  if (refusal) ThrowRefused(*refusal);
  if (frame) return *frame;
  if (client_->LastStatus() == plat::IoStatus::kTimeout) {
    throw CommandFailure(kExitFailure, "timeout",
                         "no answer (" + what + ") within " + Seconds(timeout_ms_));
  }
  left_ = true;
  throw CommandFailure(kExitFailure, "closed",
                       "the server closed the connection while we waited for " + what);
}

std::optional<plclient::Frame> Session::TakeUnclaimed() {
  if (unclaimed_.empty()) return std::nullopt;
  plclient::Frame frame = std::move(unclaimed_.front());
  unclaimed_.pop_front();
  return frame;
}

uint8_t ResolvePlayer(const plclient::ServerLists& lists, const std::string& text) {
  if (IsNumber(text)) return static_cast<uint8_t>(ParseNumber("a player number", text, 1, 255));
  auto found = FindByName(lists.players, text,
                          [](const plclient::PlayerRecord& p) { return p.player_byte; });
  if (!found)
    ThrowNotFound("no player named " + text::QuotedName(text) +
                  " (or more than one: give the number)");
  return *found;
}

uint8_t ResolveRoom(const plclient::ServerLists& lists, const std::string& text) {
  if (IsNumber(text)) return static_cast<uint8_t>(ParseNumber("a room number", text, 1, 255));
  auto found =
      FindByName(lists.rooms, text, [](const plclient::RoomRecord& r) { return r.room_byte; });
  if (!found)
    ThrowNotFound("no room named " + text::QuotedName(text) + " (or more than one: give the number)");
  return *found;
}

std::string AdminPassword(const Invocation& invocation) {
  if (auto given = invocation.Option("admin-password")) return *given;
  if (const char* from_environment = std::getenv("PLCTL_ADMIN_PASSWORD")) return from_environment;
  // For the password command the file holds the new password.
  if (!invocation.global.password_file.empty() && invocation.command != "password") {
    plat::FileContents contents = plat::ReadWholeFile(invocation.global.password_file);
    if (contents.status != plat::ReadStatus::kOk)
      ThrowUsage("cannot read the password file " + invocation.global.password_file);
    std::string line = contents.bytes.substr(0, contents.bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  std::string typed;
  if (plat::ReadSecretLine("Administrator password: ", &typed)) return typed;
  ThrowUsage(
      "no administrator password: give --admin-password, set PLCTL_ADMIN_PASSWORD or run on a "
      "terminal");
}

}  // namespace plctl
