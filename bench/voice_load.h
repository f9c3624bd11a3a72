// The voice load: participants of one target (the server or the reflector), each with a UDP
// socket, logged in and placed in a room; speakers that send timestamped mode-0 voice
// datagrams at a fixed rate; receivers that take in every copy and measure its latency.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_posix.h"
#include "protoclient/protocol_client.h"

namespace bench {

struct LoadSpec {
  int clients = 64;
  int rooms = 4;
  int speakers = 8;
  double rate = 50;  // datagrams per second per speaker
  size_t payload = 60;
  double seconds = 20;
  double warmup_seconds = 1;
};

struct Participant {
  uint16_t id = 0;
  uint8_t room_byte = 1;
  uint32_t next_packet_id = 1;
  std::unique_ptr<BenchUdpSocket> udp;
  std::unique_ptr<plclient::ProtocolClient> control;  // server targets only
};

// A system under load: where its datagrams go, its process (for /proc figures) and its members.
struct Target {
  std::string name;
  plat::Endpoint udp;
  int pid = -1;  // -1: not known (an external server)
  std::vector<Participant> participants;
  uint64_t rss_after_login_kb = 0;
};

// Logs `clients` clients in to the server at host:tcp_port, spreads them over `rooms` rooms
// (client i goes to room byte i % rooms + 1) and registers their UDP addresses.
bool JoinServer(Target& target, const std::string& host, uint16_t tcp_port, int clients, int rooms,
                std::string* error);
// Registers `clients` members with the reflector (Ids 1..clients), spread the same way.
bool JoinReflector(Target& target, int clients, int rooms, std::string* error);
// Reads whatever the server has sent on the control connections, so it never waits on them.
void DrainControl(Target& target);
// Leaves the server politely (ClientLeave) where there are control connections.
void LeaveAll(Target& target);

struct RunResult {
  std::string target;
  LoadSpec load_spec;
  uint64_t datagrams_sent = 0;
  uint64_t expected = 0;
  uint64_t delivered = 0;
  uint64_t malformed = 0;  // wrong size, Id or CRC
  double measured_seconds = 0;
  std::vector<uint32_t> latency_ns;  // sorted
  uint64_t cpu_ns = 0;               // of the target's process over the send phase
  bool cpu_known = false;
  uint64_t rss_after_login_kb = 0;
  uint64_t rss_end_kb = 0;

  double Loss() const;
  double CopiesPerSecond() const;
  double LatencyQuantileMs(double q) const;
  double LatencyMaxMs() const;
  double CpuNsPerCopy() const;
  // Loss at most 0.5 % and p99 at most 5 ms.
  bool Held() const;
};

// Runs the load once against the target: warm-up, then the measured send phase.
RunResult RunLoad(Target& target, const LoadSpec& load_spec);
// Adds a further round of the same load to `total` (counts, CPU and samples summed).
void Accumulate(RunResult& total, RunResult&& round);

}  // namespace bench
