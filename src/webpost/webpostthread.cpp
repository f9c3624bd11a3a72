#include "webpost/webpostthread.h"

#include "core/servermain.h"

namespace webpost {

void TWebPoster::Start() {
  thread_.Start([this] { Execute(); });
}

void TWebPoster::Execute() {
  server_.WriteWorkerLine("WebPoster.Execute");
  while (!thread_.Terminated()) {
    PostStatus();
    for (int step = 0; step < kWaitSteps && !thread_.Terminated(); ++step) thread_.Sleep(kWaitStepMs);
  }
  server_.WriteWorkerLine("WebPoster.Terminated");
}

void TWebPoster::PostStatus() {}

std::string EncodeSpaces(std::string text) {
  std::string encoded;
  for (char c : text) {
    if (c == ' ') {
      encoded += "%20";
    } else {
      encoded += c;
    }
  }
  return encoded;
}

}  // namespace webpost
