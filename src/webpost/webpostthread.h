// TWebPoster: announces the server to web server lists, once at start and then every 175
// seconds, over HTTP. It never reads the answers.
//
// Ownership: the server object owns the poster and joins its thread on shutdown. The poster
// reads the settings (fixed after start-up), the current server password and the number of
// registered clients (under the ClientList lock, held only for the count).
#pragma once

#include <optional>
#include <string>

#include <atomic>
#include <cstdint>
#include <string>

#include "core/worker_thread.h"

namespace core {
class TParlowindServer;
}

namespace webpost {

// The built-in list server: host (and optional ":port") and the path announcements go to.
inline constexpr char kBuiltInListServer[] = "servers.parlowind.net";
inline constexpr char kListServerPath[] = "/webpost.php";
// When set (host:port), replaces the built-in list server, so tests can run their own.
inline constexpr char kListServerVariable[] = "PLSERVER_LIST_SERVER";

class TWebPoster {
 public:
  static constexpr int kWaitSteps = 350;
  static constexpr uint32_t kWaitStepMs = 500;
  // A list server that never accepts or never reads must not hold the poster (or shutdown)
  // longer than this per request.
  static constexpr uint32_t kRequestTimeLimitMs = 10000;

  // Reads the list server's address (the environment variable or the built-in one).
  explicit TWebPoster(core::TParlowindServer& server);
  // An error text when the thread cannot be created.
  std::optional<std::string> Start();
  // Sets the terminate flag and returns at once. A request still waiting for its list server is
  // given up; one that is being answered at once still goes out.
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  void WaitStarted() { thread_.WaitStarted(); }

  // One cycle: build the status query and send it to each configured list server. Never throws;
  // every failure of a request is ignored.
  void PostStatus() noexcept;

  // The status query before EncodeSpaces, from the current settings, password and client count.
  std::string StatusQuery();
  // The URLs one cycle posts to, in order, for a given encoded query.
  std::string BuiltInListServerUrl(const std::string& encoded_query) const;
  std::string ConfiguredListServerUrl(const std::string& encoded_query) const;

  // For tests: a shorter limit than kRequestTimeLimitMs. Set before Start.
  void SetRequestTimeLimit(uint32_t milliseconds) { request_time_limit_ms_ = milliseconds; }

 private:
  void Execute();
  // One request; a URL that cannot be parsed counts as a failed request.
  void Post(const std::string& url) noexcept;

  core::TParlowindServer& server_;
  const std::string list_server_;  // host[:port]
  uint32_t request_time_limit_ms_ = kRequestTimeLimitMs;
  core::WorkerThread thread_;
};

// The text with every space replaced by "%20"; every other byte is left unchanged.
std::string EncodeSpaces(std::string text);

}  // namespace webpost
