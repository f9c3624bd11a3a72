// The command line of plctl: global options, the command and its own options and arguments.
//   plctl [global options] <command> [command options] [arguments]
// Options may come before or after the command's words; "--name value" and "--name=value" are
// the same; "--" ends the options.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace plctl {

struct GlobalOptions {
  // The operator socket, unless --host asks for the public protocol (then the tool logs in as a
  // player and needs the passwords). Empty: PLCTL_SOCKET, else the service's socket when there
  // is one, else plserver.sock in the current directory.
  std::string socket;
  bool use_protocol = false;
  std::string password_file;
  std::string host = "127.0.0.1";
  uint16_t port = 8765;
  std::string name = "plctl";
  std::string server_password;
  int timeout_ms = 3000;
  bool json = false;
};

struct OptionSpec {
  std::string name;  // without the leading "--"
  bool takes_value = false;
};

struct Invocation {
  GlobalOptions global;
  std::string command;                         // empty when none was given
  std::vector<std::string> arguments;          // the words after the command
  std::map<std::string, std::string> options;  // the command's own options ("" for a flag)
  bool help = false;
  bool version = false;

  bool Has(const std::string& option) const { return options.count(option) != 0; }
  std::optional<std::string> Option(const std::string& option) const;
};

// The options a command accepts, looked up by the command's name; nothing for an unknown
// command.
using CommandOptionsLookup = std::optional<std::vector<OptionSpec>> (*)(const std::string& command);

// Parses argv; throws a usage failure for an unknown option, a missing value or a bad number.
Invocation ParseCommandLine(int argc, char** argv, CommandOptionsLookup lookup);

// A duration in seconds, decimals allowed ("2", "0.5"), as milliseconds; throws a usage failure.
int ParseSeconds(const std::string& option, const std::string& text);
// A whole number within [low, high]; throws a usage failure.
int ParseNumber(const std::string& what, const std::string& text, int low, int high);

extern const char kGlobalOptionsHelp[];

// The operator socket the options name (see GlobalOptions::socket).
std::string SocketPath(const GlobalOptions& global);
// The service's socket, where plctl looks when nothing else names one.
inline constexpr char kServiceSocket[] = "/run/plserver/plserver.sock";
inline constexpr char kLocalSocket[] = "plserver.sock";

}  // namespace plctl
