// One logged-in control connection of the tool: connects, logs in with the global options,
// fetches the lists (which tell the tool its own Id and player number) and waits for answers,
// turning refusals, time-outs and a closed connection into CommandFailure.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "cli.h"
#include "protoclient/protocol_client.h"

namespace plctl {

// The version text the tool logs in with: any text but "1.2.0" selects the newer dialect.
inline constexpr char kToolVersion[] = "plctl-1.2.0";

class Session {
 public:
  // Connects and logs in, then fetches the lists; throws CommandFailure.
  static std::unique_ptr<Session> Open(const GlobalOptions& global);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  plclient::ProtocolClient& client() { return *client_; }
  const plclient::ServerLists& lists() const { return lists_; }
  const std::string& servername() const { return servername_; }
  uint16_t id() const { return lists_.id; }
  uint8_t own_player_byte() const { return static_cast<uint8_t>(lists_.own_player_byte); }
  int timeout_ms() const { return timeout_ms_; }

  // Asks for the lists again and keeps the answer.
  void RefreshLists();
  // Logs in as administrator; throws the refusal on a wrong password.
  void AdminLogin(const std::string& password);
  // Reads frames until `match` accepts one and returns it. A Result with a negative value
  // meanwhile is the server's refusal of what was asked and is thrown; so are a time-out and
  // a closed connection (`what` names the awaited answer in the message). Other frames that
  // arrive meanwhile (notifications) are kept for TakeUnclaimed.
  plclient::Frame AwaitReply(const std::function<bool(const plclient::Frame&)>& match,
                             const std::string& what);
  // The oldest frame that arrived while an answer was awaited and was not that answer, for
  // example a PlayerJoined that came between the login and the lists; nothing when none is left.
  std::optional<plclient::Frame> TakeUnclaimed();
  // Sends `bytes`; throws when the connection does not take them.
  void Send(const std::vector<uint8_t>& bytes);

  // Leaves politely (ClientLeave); the destructor does it when nobody did.
  void Leave();

 private:
  Session(std::unique_ptr<plclient::ProtocolClient> client, int timeout_ms)
      : client_(std::move(client)), timeout_ms_(timeout_ms) {}

  std::unique_ptr<plclient::ProtocolClient> client_;
  int timeout_ms_;
  std::string servername_;
  plclient::ServerLists lists_;
  std::deque<plclient::Frame> unclaimed_;
  bool left_ = false;
};

// A player or room named on the command line: a number (the one `list` shows) or a name
// (exact match first, then ignoring ASCII case when that is unambiguous). Throws a not-found
// failure for an unknown name and a usage failure for a number outside 1..255.
uint8_t ResolvePlayer(const plclient::ServerLists& lists, const std::string& text);
uint8_t ResolveRoom(const plclient::ServerLists& lists, const std::string& text);

// The administrator password: --admin-password, else PLCTL_ADMIN_PASSWORD, else a prompt on the
// terminal with echo off; a usage failure when none of them gives one.
std::string AdminPassword(const Invocation& invocation);

}  // namespace plctl
