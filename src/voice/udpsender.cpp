#include "voice/udpsender.h"

#include "core/servermain.h"
#include "platform/process.h"

namespace voice {

void TUDPSender::Start() {
  thread_.Start([this] { Execute(); });
}

void TUDPSender::Execute() {
  plat::RaiseCurrentThreadPriority();  // best effort
  server_.WriteWorkerLine("UDPSender.Execute");
  plat::AutoResetEvent* relay_event = server_.relay_event();
  while (!thread_.Terminated()) {
    relay_event->Wait();
    if (thread_.Terminated()) break;
    RelayQueue();
  }
  server_.WriteWorkerLine("UDPSender.Terminated");
}

void TUDPSender::RelayQueue() {
  server_.voice_queue().TakeAll(batch_);
  server_.voice_queue().Recycle(batch_);
}

}  // namespace voice
