// TWebPoster: announces the server to web server lists, once at start and then every 175
// seconds, over HTTP. It never reads the answers.
//
// Ownership: the server object builds its parts, owns the poster and joins its thread on
// shutdown. At each cycle the poster asks for the settings it announces (a reload may have
// changed them), the number of registered clients and whether a server password is set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/status.h"
#include "platform/worker_thread.h"

namespace webpost {

// The settings an announcement carries or is sent by.
struct PostSettings {
  bool active = true;  // [WebStatus] Active: a cycle while it is off posts nothing
  int32_t tcp_port = 0;
  std::string servername;
  int32_t max_clients = 0;
  std::string server_version;
  bool site_active = false;          // [WebStatus] ParlowindSite_Active
  bool display_in_web_list = false;  // [WebStatus] ParlowindSite_DisplayInWebList
  std::string web_post_url;          // empty: none
  std::string local_ip;              // [Networking] IP: the requests' local address
};

// What the poster works with.
struct PosterParts {
  std::function<PostSettings()> settings;  // the settings in force; any thread
  std::function<size_t()> client_count;
  std::function<bool()> password_protected;
  const plat::Clock& clock;  // measures the period between cycles
  // The thread's start and end lines.
  std::function<void(const char*)> write_line;
};

// The built-in list server: host (and optional ":port") and the path announcements go to.
inline constexpr char kBuiltInListServer[] = "servers.parlowind.net";
inline constexpr char kListServerPath[] = "/webpost.php";
// When set (host:port), replaces the built-in list server, so tests can run their own.
inline constexpr char kListServerVariable[] = "PLSERVER_LIST_SERVER";

class TWebPoster {
 public:
  // A cycle starts this many milliseconds after the start of the last; the wait looks at the
  // clock every step.
  static constexpr uint32_t kPeriodMs = 175000;
  static constexpr uint32_t kWaitStepMs = 500;
  // A list server that never accepts or never reads must not hold the poster (or shutdown)
  // longer than this per request.
  static constexpr uint32_t kRequestTimeLimitMs = 10000;

  // Reads the list server's address (the environment variable or the built-in one).
  explicit TWebPoster(PosterParts parts);
  // An error text when the thread cannot be created.
  plat::Status Start();
  // Sets the terminate flag and returns at once. A request still waiting for its list server is
  // given up; one that is being answered at once still goes out.
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  void WaitStarted() { thread_.WaitStarted(); }

  // One cycle: build the status query and send it to each configured list server. Never throws;
  // every failure of a request is ignored.
  void PostStatus() noexcept;

  // For tests: a shorter limit than kRequestTimeLimitMs. Set before Start.
  void SetRequestTimeLimit(uint32_t milliseconds) { request_time_limit_ms_ = milliseconds; }

 private:
  void Execute();
  // The status query before EncodeSpaces, from the settings, password and client count.
  std::string StatusQuery(const PostSettings& settings);
  // The URLs one cycle posts to, in order, for a given encoded query.
  std::string BuiltInListServerUrl(const std::string& encoded_query) const;
  std::string ConfiguredListServerUrl(const PostSettings& settings,
                                      const std::string& encoded_query) const;
  // One request; a URL that cannot be parsed counts as a failed request.
  void Post(const std::string& url, const std::string& local_ip) noexcept;

  PosterParts parts_;
  const std::string list_server_;  // host[:port]
  uint32_t request_time_limit_ms_ = kRequestTimeLimitMs;
  plat::WorkerThread thread_;
};

// The text with every space replaced by "%20"; every other byte is left unchanged.
std::string EncodeSpaces(std::string text);

}  // namespace webpost
