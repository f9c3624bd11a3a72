// TWebPoster: announces the server to web server lists, once at start and then every 175
// seconds, over HTTP.
#pragma once

#include <string>

#include "core/worker_thread.h"

namespace core {
class TParlowindServer;
}

namespace webpost {

class TWebPoster {
 public:
  static constexpr int kWaitSteps = 350;
  static constexpr uint32_t kWaitStepMs = 500;

  explicit TWebPoster(core::TParlowindServer& server) : server_(server) {}
  void Start();
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  // One cycle: build the status query and send it to each configured list server.
  void PostStatus();

 private:
  void Execute();

  core::TParlowindServer& server_;
  core::WorkerThread thread_;
};

// The text with every space replaced by "%20".
std::string EncodeSpaces(std::string text);

}  // namespace webpost
