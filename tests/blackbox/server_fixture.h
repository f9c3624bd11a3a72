// A temporary installation of the real server: a program directory holding a copy of the
// binary (and its configuration file), and a separate current directory for the log.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protoclient/protocol_client.h"
#include "support/blackbox.h"

namespace pltest {

using namespace std::chrono_literals;

inline constexpr char kStarted[] = "Parlowind server started";
inline constexpr char kFatalConfig[] = "FATAL ERROR: Unable to create config file";
inline constexpr char kFatalCommunication[] = "FATAL ERROR: Unable to initialize communication";
inline constexpr char kFatalBind[] = "FATAL ERROR: Unable to bind IP and Port";

// A configuration file of the current version on `port`, with extra lines after [Networking].
inline std::string CurrentIni(int port, const std::string& extra = "") {
  return "[Version]\r\nServerVersion=v1.2.0\r\n[Networking]\r\nTCPPort=" + std::to_string(port) +
         "\r\n" + extra;
}

class ServerFixture : public ::testing::Test {
 protected:
  ServerFixture() {
    // An unprivileged server must be able to write its log here.
    chmod(work_dir_.path().c_str(), 0777);
  }

  std::string IniPath(const std::string& name = "plserver.ini") const {
    return program_dir_.File(name);
  }
  std::string LogPath(const std::string& name = "plserver.log") const {
    return work_dir_.File(name);
  }
  std::vector<std::string> LogTexts(const std::string& name = "plserver.log") const {
    std::vector<std::string> texts;
    for (const std::string& line : pltest::ReadLogLines(LogPath(name))) {
      texts.push_back(pltest::LogText(line));
    }
    return texts;
  }

  std::unique_ptr<ServerProcess> Spawn(std::vector<std::string> arguments = {},
                                       bool unprivileged = false) {
    pltest::SpawnOptions options;
    options.arguments = std::move(arguments);
    options.working_directory = work_dir_.path();
    options.unprivileged = unprivileged;
    return std::make_unique<ServerProcess>(program_dir_.program(), options);
  }

  // Starts a server that must fail at start-up; its exit code, or -1 when it kept running.
  // `output` receives what it wrote on standard output and error.
  int RunToFailure(std::vector<std::string> arguments = {}, bool unprivileged = false,
                   std::string* output = nullptr) {
    auto server = Spawn(std::move(arguments), unprivileged);
    std::optional<int> code = server->WaitForExit(10s);
    if (!code) ADD_FAILURE() << "still running; output: " << server->Output();
    if (output) *output = server->Output();
    return code.value_or(-1);
  }

  // Starts a server on a fresh free port pair: `write_ini` writes the configuration file for the
  // port. Another program may take the ports between the pick and the bind; then the start is
  // tried again on other ports. Returns the running server (or null) and sets port_.
  std::unique_ptr<ServerProcess> StartOnFreePorts(const std::function<void(int port)>& write_ini,
                                                  std::vector<std::string> arguments = {},
                                                  const std::string& log_name = "plserver.log",
                                                  bool unprivileged = false) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = pltest::PickFreePortPair();
      write_ini(port_);
      auto server = Spawn(arguments, unprivileged);
      if (server->WaitForLogText(LogPath(log_name), kStarted, 10s)) return server;
      std::vector<std::string> texts = LogTexts(log_name);
      const bool clash = !texts.empty() && texts.back() == kFatalCommunication;
      if (!clash) {
        ADD_FAILURE() << "start failed; output: " << server->Output();
        return nullptr;
      }
      std::remove(LogPath(log_name).c_str());
    }
    ADD_FAILURE() << "no port pair could be bound";
    return nullptr;
  }

  // A player logged in to the started server from `ip` (a 127.0.0.x address), or null.
  std::unique_ptr<plclient::ProtocolClient> Player(const std::string& name,
                                                   uint32_t ip = 0x7F000001) {
    plclient::ClientOptions options;
    options.local_ip = ip;
    auto client =
        plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_), options);
    if (!client || !client->Login(name).accepted) return nullptr;
    return client;
  }

  pltest::Installation program_dir_;
  pltest::TempDir work_dir_;
  int port_ = 0;
};

}  // namespace pltest
