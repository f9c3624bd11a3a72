#include "cli.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "failure.h"
#include "platform/local_socket.h"

namespace plctl {
namespace {

const std::vector<OptionSpec>& GlobalOptionSpecs() {
  static const std::vector<OptionSpec> specs = {
      {"socket", true},          {"host", true},          {"port", true},    {"name", true},
      {"server-password", true}, {"password-file", true}, {"timeout", true}, {"json", false}};
  return specs;
}

const OptionSpec* FindSpec(const std::vector<OptionSpec>& specs, const std::string& name) {
  auto found =
      std::find_if(specs.begin(), specs.end(), [&](const OptionSpec& s) { return s.name == name; });
  return found == specs.end() ? nullptr : &*found;
}

void ApplyGlobal(GlobalOptions& global, const std::string& name, const std::string& value) {
  if (name == "socket") {
    global.socket = value;
  } else if (name == "password-file") {
    global.password_file = value;
  } else if (name == "host") {
    global.host = value;
    global.use_protocol = true;
  } else if (name == "port") {
    global.port = static_cast<uint16_t>(ParseNumber("--port", value, 1, 65534));
  } else if (name == "name") {
    global.name = value;
  } else if (name == "server-password") {
    global.server_password = value;
  } else if (name == "timeout") {
    global.timeout_ms = std::max(1, ParseSeconds("--timeout", value));
  } else if (name == "json") {
    global.json = true;
  }
}

}  // namespace

const char kGlobalOptionsHelp[] =
    "Global options:\n"
    "  --socket PATH            the server's operator socket (else PLCTL_SOCKET, else\n"
    "                           /run/plserver/plserver.sock when it exists, else\n"
    "                           plserver.sock in the current directory)\n"
    "  --host HOST              use the public protocol instead, logging in as a player:\n"
    "                           host name (each of its addresses is tried), IPv4 address\n"
    "                           or IPv6 address such as ::1 (administration then needs the\n"
    "                           administrator password)\n"
    "  --port PORT              server TCP port with --host; its UDP port is the next (8765)\n"
    "  --name NAME              player name the tool logs in with (plctl)\n"
    "  --server-password TEXT   server password with --host, when the server has one (else\n"
    "                           PLCTL_SERVER_PASSWORD)\n"
    "  --password-file FILE     read the password a command needs from the file's first line\n"
    "                           (the new password for password, else the administrator\n"
    "                           password with --host)\n"
    "  --timeout SECONDS        how long to wait for each answer (3)\n"
    "  --json                   print JSON instead of text for people\n"
    "  --help                   describe the tool or the command\n"
    "  --version                print the tool's version\n";

std::string SocketPath(const GlobalOptions& global) {
  if (!global.socket.empty()) return global.socket;
  if (const char* from_environment = std::getenv("PLCTL_SOCKET")) {
    if (*from_environment) return from_environment;
  }
  if (plat::LocalSocketMode(kServiceSocket)) return kServiceSocket;
  return kLocalSocket;
}

std::optional<std::string> Invocation::Option(const std::string& option) const {
  auto found = options.find(option);
  if (found == options.end()) return std::nullopt;
  return found->second;
}

int ParseNumber(const std::string& what, const std::string& text, int low, int high) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    ThrowUsage(what + " must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

int ParseSeconds(const std::string& option, const std::string& text) {
  size_t used = 0;
  double seconds = -1;
  try {
    seconds = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || !std::isfinite(seconds) || seconds < 0 || seconds > 86400.0 * 365) {
    ThrowUsage(option + " takes a number of seconds, not \"" + text + "\"");
  }
  return static_cast<int>(std::lround(seconds * 1000));
}

Invocation ParseCommandLine(int argc, char** argv, CommandOptionsLookup lookup) {
  Invocation invocation;
  std::vector<OptionSpec> command_specs;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!options_ended && argument == "--") {
      options_ended = true;
      continue;
    }
    if (options_ended || argument.size() < 2 || argument[0] != '-') {
      if (invocation.command.empty()) {
        invocation.command = argument;
        std::optional<std::vector<OptionSpec>> specs = lookup(argument);
        if (!specs) ThrowUsage("unknown command \"" + argument + "\" (see plctl --help)");
        command_specs = *specs;
      } else {
        invocation.arguments.push_back(argument);
      }
      continue;
    }
    if (argument == "--version") {
      invocation.version = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      invocation.help = true;
      continue;
    }
    if (argument.rfind("--", 0) != 0) ThrowUsage("unknown option \"" + argument + "\"");
    const size_t equals = argument.find('=');
    const std::string name =
        argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionSpec* global = FindSpec(GlobalOptionSpecs(), name);
    const OptionSpec* own = global ? nullptr : FindSpec(command_specs, name);
    if (!global && !own) {
      ThrowUsage("unknown option \"--" + name + "\"" +
                 (invocation.command.empty() ? std::string() : " for " + invocation.command));
    }
    const bool takes_value = (global ? global : own)->takes_value;
    std::string value;
    if (equals != std::string::npos) {
      if (!takes_value) ThrowUsage("--" + name + " takes no value");
      value = argument.substr(equals + 1);
    } else if (takes_value) {
      if (i + 1 >= argc) ThrowUsage("--" + name + " needs a value");
      value = argv[++i];
    }
    if (global) {
      ApplyGlobal(invocation.global, name, value);
    } else {
      invocation.options[name] = value;
    }
  }
  return invocation;
}

}  // namespace plctl
