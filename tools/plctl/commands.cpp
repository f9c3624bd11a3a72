#include "commands.h"

namespace plctl {

const std::vector<CommandSpec>& AllCommands() {
  static const std::vector<CommandSpec> all = [] {
    std::vector<CommandSpec> table;
    for (auto group :
         {ServerCommands, AdminCommands, SocketOnlyCommands, VoiceCommands, WatchCommands}) {
      for (CommandSpec& command_spec : group()) table.push_back(std::move(command_spec));
    }
    return table;
  }();
  return all;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& command_spec : AllCommands()) {
    if (command_spec.name == name) return &command_spec;
  }
  return nullptr;
}

std::string ToolHelp() {
  std::string text =
      "plctl: administration and diagnosis of a Parlowind server.\n"
      "\n"
      "Usage: plctl [global options] <command> [command options] [arguments]\n"
      "\n"
      "Commands:\n";
  for (const CommandSpec& command_spec : AllCommands()) {
    text += "  " + command_spec.name +
            std::string(command_spec.name.size() < 13 ? 13 - command_spec.name.size() : 1, ' ') +
            command_spec.summary + "\n";
  }
  text += std::string("\n") + kGlobalOptionsHelp +
          "\n"
          "Exit codes: 0 done; 1 refused by the server (the refusal is named) or the named player\n"
          "or room is not there; 2 cannot connect, bad usage or no answer in time.\n"
          "Run plctl <command> --help for the command's own options.\n";
  return text;
}

}  // namespace plctl
