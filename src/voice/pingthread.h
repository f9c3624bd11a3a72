// TPingThread: every 500 ms a pass over ClientList that pings clients which have been silent
// for IdleTimeBeforePing, counts unanswered pings and gives up a client after MaxPingTries
// misses.
#pragma once

#include <optional>
#include <string>

#include "core/worker_thread.h"

namespace core {
class TParlowindServer;
}
namespace clients {
class TServerClient;
}

namespace voice {

class TPingThread {
 public:
  static constexpr uint32_t kPassPeriodMs = 500;

  explicit TPingThread(core::TParlowindServer& server) : server_(server) {}
  // An error text when the thread cannot be created.
  std::optional<std::string> Start();
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  void WaitStarted() { thread_.WaitStarted(); }
  // One pass (the ping thread only; tests call it directly).
  void PingClients();
  // True when the client is to be given up. REQUIRES: ClientList lock held.
  bool PingClient(clients::TServerClient& client);

 private:
  void Execute();

  core::TParlowindServer& server_;
  core::WorkerThread thread_;
};

}  // namespace voice
