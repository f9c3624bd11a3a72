// The commands over the operator socket: the default way, which never logs in as a player and
// works when the server is full. Each returns the exit code or throws CommandFailure.
#pragma once

#include "cli.h"
#include "output.h"

namespace plctl {

int SocketStatus(const Invocation& invocation, const Output& output);
int SocketList(const Invocation& invocation, const Output& output);
int SocketPlayer(const Invocation& invocation, const Output& output);
int SocketKick(const Invocation& invocation, const Output& output);
int SocketRoom(const Invocation& invocation, const Output& output);
int SocketPassword(const Invocation& invocation, const Output& output);
int SocketSaveRooms(const Invocation& invocation, const Output& output);
int SocketWatch(const Invocation& invocation, const Output& output);

// "90", "30s", "15m", "2h", "7d" as seconds; nothing for "permanent"; a usage failure otherwise.
std::optional<int64_t> ParseBanDuration(const std::string& text);

}  // namespace plctl
