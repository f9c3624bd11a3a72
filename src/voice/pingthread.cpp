#include "voice/pingthread.h"

#include "core/servermain.h"

namespace voice {

void TPingThread::Start() {
  thread_.Start([this] { Execute(); });
}

void TPingThread::Execute() {
  server_.WriteWorkerLine("PingThread.Execute");
  while (!thread_.Terminated()) {
    thread_.Sleep(kPassPeriodMs);
    if (thread_.Terminated()) break;
    PingClients();
  }
  server_.WriteWorkerLine("PingThread.Terminated");
}

void TPingThread::PingClients() {}

bool TPingThread::PingClient(clients::TServerClient&) { return false; }

}  // namespace voice
