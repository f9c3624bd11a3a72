// The operator interface: a local socket on which operators send requests, one JSON object per
// line ({"id": ..., "command": ..., arguments}), and get one answer per line ({"id": ...,
// "ok": true, "result": ...} or {"id": ..., "ok": false, "error": {"code", "message"}}).
// "watch" turns a connection into a stream of the server's event lines ({"id", "ok", "event",
// "line"}: the event as the JSON form of the line, and the text form itself).
//
// One thread serves every operator connection without ever blocking: answers are built with the
// registry locks held only while reading or changing the registries, then written from the
// connection's own output buffer as the socket takes them. Everything is bounded: the request
// line, the number of connections, the output held for a slow reader (a watcher that does not
// keep up is closed), the time a silent operator keeps its place (kIdleCloseMs, on the server's
// clock; a watcher keeps it as long as it watches).
//
// Threading: Start and Stop on the main thread; the rest runs on the operator thread. The event
// listener hands lines over from any thread through WatchFeed.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "operator/commands.h"
#include "platform/local_socket.h"
#include "platform/status.h"

namespace oper {

// Event lines on their way from any thread to the operator thread; bounded.
class WatchFeed {
 public:
  static constexpr size_t kMaxQueued = 4096;
  void SetActive(bool active) { active_.store(active, std::memory_order_release); }
  bool Active() const { return active_.load(std::memory_order_acquire); }
  // False when the queue was full (the line is dropped).
  bool Push(std::string line);
  std::deque<std::string> TakeAll();

 private:
  std::atomic<bool> active_{false};
  std::mutex mutex_;
  std::deque<std::string> lines_;  // guarded by mutex_
};

class OperatorServer {
 public:
  static constexpr size_t kMaxRequestLine = 16384;
  // Output held for one connection; past it a watcher is closed (its events would otherwise
  // pile up), as is a reader that never takes its answers.
  static constexpr size_t kMaxOutput = 1024 * 1024;
  static constexpr unsigned kSocketMode = 0600;
  static constexpr uint64_t kIdleCloseMs = 60000;

  struct Options {
    std::string socket_path;  // empty: no socket
    size_t max_connections = 8;
    unsigned mode = kSocketMode;
  };

  OperatorServer(ServerAccess access, Options options);
  ~OperatorServer();
  OperatorServer(const OperatorServer&) = delete;
  OperatorServer& operator=(const OperatorServer&) = delete;

  // Loads the kept bans, creates the socket and starts the thread. An error text when the
  // socket cannot be served (the bans are in force all the same).
  plat::Status Start();
  // Stops the thread, closes every connection and removes the socket. Safe to call twice.
  void Stop();
  // A reload: the operator limits and the socket's mode of `settings`, and the file's bans.
  // The reload's thread; one at a time.
  void ApplyReload(const core::Settings& settings, const plat::IniFile& file,
                   core::ReloadOutcome& outcome);

 private:
  struct Connection {
    std::unique_ptr<plat::LocalStream> stream;
    std::string input;
    bool discarding = false;  // inside a line that passed the limit
    std::string output;
    size_t output_head = 0;
    bool watching = false;
    Json watch_id;
    bool closed = false;
    uint64_t last_heard_ms = 0;  // when it last sent something (or connected)
  };

  void Run();
  void AcceptWaiting();
  void ReapClosed();
  // Closes the connections that have sent nothing for kIdleCloseMs and are not watching.
  void CloseIdle();
  size_t OpenConnections() const;
  void ReadFrom(Connection& connection);
  void HandleLine(Connection& connection, const std::string& line);
  void Send(Connection& connection, const Json& answer);
  void Flush(Connection& connection);
  void DeliverEvents();
  void OnEvent(const core::EventLine& line, const plat::LocalDateTime& when);

  OperatorCommands commands_;
  Options options_;
  std::atomic<size_t> max_connections_;  // a reload changes it
  unsigned mode_;                        // the socket file's; a reload changes it
  std::unique_ptr<plat::LocalListener> listener_;
  std::unique_ptr<plat::Poller> poller_;
  std::vector<std::unique_ptr<Connection>> connections_;  // operator thread
  WatchFeed feed_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  // The event output's listener while the interface runs.
  std::optional<core::EventOutput::ListenerId> event_listener_;
};

}  // namespace oper
