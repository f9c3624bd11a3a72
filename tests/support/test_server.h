// An in-process server for integration tests: its own temporary program directory with an INI
// file, a free TCP/UDP port pair on loopback, and quiet teardown in the destructor.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/servermain.h"
#include "protoclient/protocol_client.h"
#include "support/blackbox.h"

namespace pltest {

// INI keys the test wants beside [Version] and [Networking] TCPPort, grouped by section.
class IniKeys {
 public:
  IniKeys& Set(const std::string& section, const std::string& key, const std::string& value) {
    sections_[section].emplace_back(key, value);
    return *this;
  }
  // Raw lines appended after the keys (comments, odd sections).
  IniKeys& Raw(const std::string& text) {
    raw_ += text;
    return *this;
  }
  std::string Render(uint16_t tcp_port) const;

 private:
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections_;
  std::string raw_;
};

// A logged-in client that has fetched its lists, so it knows its own Id and player byte.
struct Member {
  std::unique_ptr<plclient::ProtocolClient> connection;
  uint16_t id = 0;
  uint8_t player_byte = 0;
  plclient::ServerLists lists;
  plclient::ProtocolClient* operator->() const { return connection.get(); }
};

class TestServer {
 public:
  // The server reads its time from `clock` (which must outlive it).
  explicit TestServer(const IniKeys& keys = {}, const plat::Clock& clock = plat::SystemClock());
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  bool started() const { return server_ != nullptr; }
  uint16_t tcp_port() const { return tcp_port_; }
  uint16_t udp_port() const { return static_cast<uint16_t>(tcp_port_ + 1); }
  const std::string& directory() const { return directory_.path(); }
  std::string ini_path() const { return directory_.File("plserver.ini"); }
  std::string ReadIni() const;
  core::TParlowindServer& server() { return *server_; }
  // Stops the server and starts a new one on the same program directory, which reads the
  // configuration file as the last run left it (the port pair stays when it is still free;
  // otherwise the file's TCPPort is moved to a free pair). Connections of the old run are gone.
  bool Restart();

  // A new control connection to the server at `host` (fails the test when it cannot connect).
  std::unique_ptr<plclient::ProtocolClient> Connect(const plclient::ClientOptions& options = {},
                                                    const std::string& host = "127.0.0.1");
  // Connects and logs in; fails the test unless LoginAccepted arrives.
  std::unique_ptr<plclient::ProtocolClient> LoggedIn(const std::string& name,
                                                     const std::string& version = "1.3.0",
                                                     const std::string& password = "",
                                                     const std::string& host = "127.0.0.1");
  // Logs in and fetches the lists; fails the test when either does not come.
  Member Join(const std::string& name, const std::string& version = "1.3.0");
  // Joins and makes the member an administrator (newer dialect: waits for its PlayerIsAdmin).
  Member JoinAsAdmin(const std::string& name, const std::string& password = "rivet");

 private:
  TempDir directory_;
  const plat::Clock& clock_;
  uint16_t tcp_port_ = 0;
  bool StartOnCurrentFile();

  std::unique_ptr<core::TParlowindServer> server_;
};

// Polls `condition` every few milliseconds until it holds or `timeout_ms` passes.
bool WaitUntil(const std::function<bool()>& condition, int timeout_ms = 2000);

}  // namespace pltest
