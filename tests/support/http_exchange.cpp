#include "support/http_exchange.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "platform/ascii_case.h"
#include "platform/client_socket.h"

namespace pltest {
namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<plat::TcpClientSocket> Open(int port) {
  std::string error;
  return plat::TcpClientSocket::Connect(
      plat::Endpoint::Ipv4(0x7F000001, static_cast<uint16_t>(port)), {}, &error);
}

// Everything the server sends until it closes; nothing when it is still open at the deadline.
std::optional<std::string> ReadToClose(plat::TcpClientSocket& socket, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string all;
  uint8_t buffer[4096];
  while (Clock::now() < deadline) {
    size_t got = 0;
    const plat::IoStatus status = socket.Receive(buffer, sizeof buffer, 200, &got);
    if (status == plat::IoStatus::kClosed || status == plat::IoStatus::kError) return all;
    if (status == plat::IoStatus::kOk) all.append(reinterpret_cast<char*>(buffer), got);
  }
  return std::nullopt;
}

std::optional<HttpReply> Parse(const std::string& text) {
  const size_t head_end = text.find("\r\n\r\n");
  if (text.compare(0, 9, "HTTP/1.1 ") != 0 || head_end == std::string::npos) return std::nullopt;
  HttpReply reply;
  reply.status = std::atoi(text.c_str() + 9);
  size_t at = text.find("\r\n") + 2;
  while (at < head_end) {
    const size_t end = text.find("\r\n", at);
    const std::string line = text.substr(at, end - at);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      const std::string name = plat::AsciiLower(line.substr(0, colon));
      size_t value = colon + 1;
      while (value < line.size() && line[value] == ' ') ++value;
      reply.headers[name] = line.substr(value);
    }
    at = end + 2;
  }
  reply.body = text.substr(head_end + 4);
  return reply;
}

}  // namespace

std::optional<HttpReply> HttpExchange(int port, const std::string& request, int timeout_ms) {
  auto socket = Open(port);
  if (!socket) return std::nullopt;
  if (socket->SendAll(reinterpret_cast<const uint8_t*>(request.data()), request.size(),
                      timeout_ms) != plat::IoStatus::kOk) {
    return std::nullopt;
  }
  std::optional<std::string> text = ReadToClose(*socket, timeout_ms);
  if (!text) return std::nullopt;
  return Parse(*text);
}

std::optional<HttpReply> HttpGet(int port, const std::string& path, int timeout_ms) {
  return HttpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", timeout_ms);
}

bool ClosedWithoutSuccess(int port, const std::string& request, int timeout_ms) {
  auto socket = Open(port);
  if (!socket) return false;
  // The server may close before everything is sent: that is what is asked.
  socket->SendAll(reinterpret_cast<const uint8_t*>(request.data()), request.size(), timeout_ms);
  std::optional<std::string> text = ReadToClose(*socket, timeout_ms);
  return text && text->find("HTTP/1.1 200") == std::string::npos;
}

}  // namespace pltest
