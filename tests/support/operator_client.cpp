#include "support/operator_client.h"

#include <chrono>
#include <thread>

namespace pltest {

std::unique_ptr<OperatorClient> OperatorClient::Connect(const std::string& path) {
  std::string error;
  auto socket = plat::LocalClientSocket::Connect(path, &error);
  if (!socket) return nullptr;
  return std::unique_ptr<OperatorClient>(new OperatorClient(std::move(socket)));
}

bool OperatorClient::WaitUntilServed(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string error;
    if (plat::LocalClientSocket::Connect(path, &error)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool OperatorClient::SendLine(const std::string& line) {
  return socket_->SendAll(line + "\n", 5000);
}

std::optional<std::string> OperatorClient::ReadLine(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || closed_) return std::nullopt;
    char chunk[65536];
    size_t count = 0;
    switch (socket_->Receive(chunk, sizeof chunk, static_cast<int>(left), &count)) {
      case plat::LocalIo::kOk:
        buffer_.append(chunk, count);
        break;
      case plat::LocalIo::kWouldBlock:
        return std::nullopt;
      case plat::LocalIo::kClosed:
        closed_ = true;
        return std::nullopt;
    }
  }
}

OpJson OperatorClient::Call(const OpJson& request, int timeout_ms) {
  if (!SendLine(request.dump())) return OpJson();
  std::optional<std::string> line = ReadLine(timeout_ms);
  if (!line) return OpJson();
  OpJson answer = OpJson::parse(*line, nullptr, false);
  return answer.is_discarded() ? OpJson() : answer;
}

}  // namespace pltest
