// TPingThread: every 500 ms a pass over ClientList that pings clients which have been silent
// for IdleTimeBeforePing, counts unanswered pings and gives up a client after MaxPingTries
// misses. Each pass takes the [Ping] settings in force, so a reload applies at the next pass.
//
// Ownership: the server object builds its parts and owns the pinger; the parts outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "clients/serverfunctions.h"
#include "platform/clock.h"
#include "platform/status.h"
#include "platform/udp_socket.h"
#include "platform/worker_thread.h"

namespace voice {

// The [Ping] settings, in milliseconds and tries.
struct PingSettings {
  int32_t idle_before_ping_ms = 5000;
  int32_t wait_ms = 15000;
  int32_t max_tries = 3;
};

// What the pinger works with.
struct PingerParts {
  clients::ClientList& clients;
  plat::UdpListener& udp;  // the pings go out through the server's UDP socket
  clients::TrafficCounters& counters;
  std::function<PingSettings()> settings;  // the settings in force; any thread
  const plat::Clock& clock;
  // The thread's start and end lines.
  std::function<void(const char*)> write_line;
  // Told of a client given up, before its PlayerLeft is queued. REQUIRES: ClientList lock held.
  std::function<void(const clients::TServerClient&)> report_give_up;
};

class TPingThread {
 public:
  static constexpr uint32_t kPassPeriodMs = 500;

  explicit TPingThread(PingerParts parts) : parts_(std::move(parts)) {}
  // An error text when the thread cannot be created.
  plat::Status Start();
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  void WaitStarted() { thread_.WaitStarted(); }
  // One pass (the ping thread only; tests call it directly).
  void PingClients();
  // True when the client is to be given up. REQUIRES: ClientList lock held.
  bool PingClient(clients::TServerClient& client, const PingSettings& settings);

 private:
  void Execute();

  PingerParts parts_;
  plat::WorkerThread thread_;
};

}  // namespace voice
