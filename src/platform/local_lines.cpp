#include "platform/local_lines.h"

#include "platform/clock.h"

namespace plat {

std::unique_ptr<LocalLineClient> LocalLineClient::Connect(const std::string& path,
                                                          std::string* error) {
  std::unique_ptr<LocalClientSocket> socket = LocalClientSocket::Connect(path, error);
  if (!socket) return nullptr;
  return std::unique_ptr<LocalLineClient>(new LocalLineClient(std::move(socket)));
}

bool LocalLineClient::SendLine(const std::string& line, int timeout_ms) {
  return socket_->SendAll(line + "\n", timeout_ms);
}

LocalLineClient::ReadResult LocalLineClient::ReadLine(int timeout_ms, std::string* line) {
  const uint32_t started = TickCount();
  for (;;) {
    if (TakeLine(line)) return ReadResult::kLine;
    if (closed_) return ReadResult::kClosed;
    int left = -1;
    if (timeout_ms >= 0) {
      const uint32_t waited = TickCount() - started;
      if (waited >= static_cast<uint32_t>(timeout_ms)) return ReadResult::kTimedOut;
      left = timeout_ms - static_cast<int>(waited);
    }
    char chunk[16384];
    size_t count = 0;
    switch (socket_->Receive(chunk, sizeof chunk, left, &count)) {
      case LocalIo::kOk:
        buffer_.append(chunk, count);
        break;
      case LocalIo::kWouldBlock:
        return ReadResult::kTimedOut;
      case LocalIo::kClosed:
        closed_ = true;
        break;
    }
  }
}

bool LocalLineClient::TakeLine(std::string* line) {
  const size_t end = buffer_.find('\n');
  if (end == std::string::npos) return false;
  line->assign(buffer_, 0, end);
  buffer_.erase(0, end + 1);
  return true;
}

}  // namespace plat
