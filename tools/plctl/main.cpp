// plctl: the operator's command-line client. Parses the command line, runs one command and
// turns its outcome into an exit code.
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "platform/client_socket.h"

namespace {

std::optional<std::vector<plctl::OptionSpec>> OptionsOf(const std::string& command) {
  if (command == "help") return std::vector<plctl::OptionSpec>{};
  const plctl::CommandSpec* command_spec = plctl::FindCommand(command);
  if (!command_spec) return std::nullopt;
  return command_spec->options;
}

// The first of the host's addresses whose port takes a connection: a name with IPv4 and IPv6
// addresses reaches the server on whichever it listens on. With one address, that one.
std::string ReachableAddress(const std::vector<plat::IpAddress>& addresses,
                             const plctl::GlobalOptions& global) {
  if (addresses.size() == 1) return addresses.front().Text();
  plat::TcpClientOptions options;
  options.connect_timeout_ms = global.timeout_ms;
  for (const plat::IpAddress& address : addresses) {
    if (plat::TcpClientSocket::Connect({address, global.port}, options, nullptr))
      return address.Text();
  }
  return addresses.front().Text();  // the connection that follows says why it fails
}

int Run(const plctl::Invocation& invocation, const plctl::Output& output) {
  const bool help_command = invocation.command == "help";
  const std::string topic = help_command && !invocation.arguments.empty() ? invocation.arguments[0]
                            : help_command                                ? std::string()
                                                                          : invocation.command;
  if (invocation.version) {
    std::cout << "plctl " << PL_VERSION << "\n";
    return plctl::kExitDone;
  }
  if (invocation.help || help_command || invocation.command.empty()) {
    const plctl::CommandSpec* command_spec = plctl::FindCommand(topic);
    if (!topic.empty() && !command_spec) plctl::ThrowUsage("unknown command \"" + topic + "\"");
    std::cout << (command_spec ? command_spec->help +
                                     "\nThe global options (--socket, --host, --json, ...) are "
                                     "described once, in plctl --help.\n"
                               : plctl::ToolHelp());
    // No command at all is a mistake of usage, though the help still helps.
    return invocation.command.empty() && !invocation.help ? plctl::kExitFailure : plctl::kExitDone;
  }
  return plctl::FindCommand(invocation.command)->run(invocation, output);
}

}  // namespace

int main(int argc, char** argv) {
  plctl::Output output(false);
  try {
    plctl::Invocation invocation = plctl::ParseCommandLine(argc, argv, OptionsOf);
    output = plctl::Output(invocation.global.json);
    if (invocation.global.use_protocol && !invocation.version && !invocation.help) {
      // A host name becomes its address once, for the control connection and the datagrams.
      std::string error;
      const std::vector<plat::IpAddress> addresses =
          plat::ResolveHost(invocation.global.host, &error);
      if (addresses.empty())
        throw plctl::CommandFailure(plctl::kExitFailure, "connect", "cannot resolve " + error);
      invocation.global.host = ReachableAddress(addresses, invocation.global);
    }
    return Run(invocation, output);
  } catch (const plctl::CommandFailure& failure) {
    output.Failure(failure);
    if (failure.kind() == "usage") std::cerr << "(plctl --help lists the commands and options)\n";
    return failure.code();
  } catch (const nlohmann::json::exception&) {
    // Requests are checked before they are sent, so this is an answer plctl does not know;
    // the library's own words would tell the operator nothing.
    output.Failure(plctl::CommandFailure(plctl::kExitFailure, "protocol",
                                         "the server's answer is not one this plctl understands"));
    return plctl::kExitFailure;
  } catch (const std::exception& error) {
    output.Failure(plctl::CommandFailure(plctl::kExitFailure, "error", error.what()));
    return plctl::kExitFailure;
  }
}
