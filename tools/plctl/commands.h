// The table of plctl's commands; each group of commands lives in a file of its own and hands
// its entries to the table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "output.h"

namespace plctl {

struct CommandSpec {
  std::string name;
  std::string summary;  // one line for the tool's help
  std::string help;     // the command's own help: usage line, description, options
  std::vector<OptionSpec> options;
  // Runs the command; returns the exit code, or throws CommandFailure.
  int (*run)(const Invocation& invocation, const Output& output);
};

std::vector<CommandSpec> ServerCommands();      // status, list, player
std::vector<CommandSpec> AdminCommands();       // admin-login, room, kick, password, save-rooms
std::vector<CommandSpec> VoiceCommands();       // voice-check
std::vector<CommandSpec> WatchCommands();       // watch
std::vector<CommandSpec> SocketOnlyCommands();  // ban, reload (operator socket only)

const std::vector<CommandSpec>& AllCommands();
const CommandSpec* FindCommand(const std::string& name);
std::string ToolHelp();

// Whether a watch is to end now: a termination signal, or SIGHUP (the terminal hung up).
bool WatchInterrupted();

}  // namespace plctl
