#include "support/operator_client.h"

#include <chrono>
#include <thread>

namespace pltest {

std::unique_ptr<OperatorClient> OperatorClient::Connect(const std::string& path) {
  std::string error;
  auto lines = plat::LocalLineClient::Connect(path, &error);
  if (!lines) return nullptr;
  return std::unique_ptr<OperatorClient>(new OperatorClient(std::move(lines)));
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
  return lines_->SendLine(line, 5000);
}

std::optional<std::string> OperatorClient::ReadLine(int timeout_ms) {
  std::string line;
  switch (lines_->ReadLine(timeout_ms, &line)) {
    case plat::LocalLineClient::ReadResult::kLine:
      return line;
    case plat::LocalLineClient::ReadResult::kTimedOut:
      return std::nullopt;
    case plat::LocalLineClient::ReadResult::kClosed:
      closed_ = true;
      return std::nullopt;
  }
  return std::nullopt;
}

OpJson OperatorClient::Call(const OpJson& request, int timeout_ms) {
  if (!SendLine(request.dump())) return OpJson();
  std::optional<std::string> line = ReadLine(timeout_ms);
  if (!line) return OpJson();
  OpJson answer = OpJson::parse(*line, nullptr, false);
  return answer.is_discarded() ? OpJson() : answer;
}

}  // namespace pltest
