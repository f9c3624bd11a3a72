// TUDPSender: the relay thread. It sleeps on RelayEvent and, on each wake-up, sends every queued
// voice datagram to its recipients, each copy with the recipient's Id and a fresh CRC-32.
#pragma once

#include <vector>

#include "core/worker_thread.h"
#include "voice/voice_queue.h"

namespace core {
class TParlowindServer;
}

namespace voice {

class TUDPSender {
 public:
  explicit TUDPSender(core::TParlowindServer& server) : server_(server) {}
  void Start();
  // Sets the terminate flag; the caller then signals RelayEvent.
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  // One pass over VoiceQueue (the relay thread only; tests call it directly).
  void RelayQueue();

 private:
  void Execute();

  core::TParlowindServer& server_;
  core::WorkerThread thread_;
  std::vector<VoiceBuffer> batch_;
};

}  // namespace voice
