// TUDPSender: the relay thread. It sleeps on RelayEvent and, on each wake-up, sends every queued
// voice datagram to its recipients: in mode 0 to the other clients of the sender's room, in mode 1
// to the listed players. Each copy carries the recipient's Id and a fresh CRC-32. The copies of a
// pass are sent in batches, with as few system calls as the platform allows.
//
// Ownership: the server object builds its parts and owns the relay thread; the parts outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clients/serverfunctions.h"
#include "platform/event.h"
#include "platform/status.h"
#include "platform/udp_socket.h"
#include "platform/worker_thread.h"
#include "voice/relay_stats.h"
#include "voice/voice_queue.h"

namespace voice {

// What the relay thread works with.
struct RelayParts {
  clients::ClientList& clients;
  VoiceQueue& queue;
  plat::AutoResetEvent& relay_event;  // set when the queue has datagrams, and at shutdown
  plat::UdpListener& udp;             // the copies go out through the server's UDP socket
  clients::TrafficCounters& counters;
  voice::RelayStats& relay_stats;  // the passes' figures, read by the metrics endpoint
  // The thread's start and end lines.
  std::function<void(const char*)> write_line;
};

class TUDPSender {
 public:
  // Copies are sent once this many are ready, or at the end of a pass.
  static constexpr size_t kBatchCopies = 64;

  explicit TUDPSender(RelayParts parts);
  // An error text when the thread cannot be created.
  plat::Status Start();
  // Sets the terminate flag; the caller then signals RelayEvent.
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  void WaitStarted() { thread_.WaitStarted(); }
  // One pass over VoiceQueue (the relay thread only; tests call it directly).
  void RelayQueue();

 private:
  void Execute();
  void RelayToRoom(const clients::TServerClient& sender, const uint8_t* datagram, size_t size);
  void RelayToList(const clients::TServerClient& sender, const uint8_t* datagram, size_t size);
  // Copies the datagram for one recipient: its Id, then the seal.
  void AddCopy(clients::TServerClient& recipient, const uint8_t* datagram, size_t size);
  void SendBatch();
  // The pass's figures: datagrams relayed and not, and each one's delay since its arrival.
  void RecordPass(uint64_t relayed);

  RelayParts parts_;
  plat::WorkerThread thread_;
  std::vector<VoiceBuffer> batch_;
  std::vector<uint64_t> arrivals_;      // of the datagrams in batch_
  LocalHistogram delays_;               // of the pass, merged at its end
  std::vector<uint8_t> list_datagram_;  // a mode-1 datagram without its list
  // The copies of one batch, packed one after the other.
  static constexpr size_t kCopyStorage = 256 * 1024;
  std::unique_ptr<uint8_t[]> copies_;
  size_t copies_used_ = 0;
  std::vector<plat::OutgoingDatagram> outgoing_;
  std::vector<clients::TServerClient*> recipients_;
  bool sent_[kBatchCopies];
  uint32_t pass_packets_ = 0;
  uint32_t pass_bytes_ = 0;
};

}  // namespace voice
