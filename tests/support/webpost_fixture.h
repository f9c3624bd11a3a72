// An in-process server for the web poster's tests: a temporary program directory with its
// plserver.ini and log, a free port pair, the list server variable pointed where the test wants,
// and logins to put clients in the registry.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/servermain.h"
#include "protoclient/protocol_client.h"
#include "support/blackbox.h"
#include "webpost/webpostthread.h"

namespace pltest {

struct WebPostConfig {
  bool active = true;                // [WebStatus] Active
  bool site_active = false;          // [WebStatus] ParlowindSite_Active
  bool display_in_web_list = false;  // [WebStatus] ParlowindSite_DisplayInWebList
  std::string web_post_url;          // [WebStatus] WebPostURL, as written in the file
  std::string servername = "Test Server";
  std::string server_password;
  std::string ip;  // [Networking] IP
  int max_clients = 16;
};

// Sets an environment variable for its lifetime and restores the previous state after.
// Not thread-safe: set it before any server thread that reads the environment starts.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const std::string& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

class WebPostFixture {
 public:
  WebPostFixture();
  ~WebPostFixture();  // stops the server quietly, removes the directory
  WebPostFixture(const WebPostFixture&) = delete;
  WebPostFixture& operator=(const WebPostFixture&) = delete;

  // Writes plserver.ini and runs Server_Init on a free port pair (retried on a clash). Returns
  // the server, or null after a failed start (the failure is reported through gtest).
  core::TParlowindServer* Start(const WebPostConfig& config);
  core::TParlowindServer* server() { return server_.get(); }
  // The server's poster parts for a poster the test runs itself while the server's own is off
  // ([WebStatus] Active=0): its cycles post as if Active were on.
  webpost::PosterParts PosterParts();
  uint16_t tcp_port() const { return tcp_port_; }

  // The log's texts, time stamps removed.
  std::vector<std::string> LogLines() const;
  const std::string& directory() const { return directory_.path(); }

  // Logs a client in over a real connection and waits until it is registered. The connection
  // stays open until the fixture ends. False when the server did not register it in time.
  bool LoginClient(const std::string& name);

 private:
  TempDir directory_;
  std::vector<std::unique_ptr<plclient::ProtocolClient>> clients_;
  std::unique_ptr<core::TParlowindServer> server_;
  uint16_t tcp_port_ = 0;
};

}  // namespace pltest
