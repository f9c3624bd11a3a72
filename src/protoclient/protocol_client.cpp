#include "protoclient/protocol_client.h"

#include "platform/clock.h"
#include "wire/global_types.h"

namespace plclient {

std::unique_ptr<ProtocolClient> ProtocolClient::Connect(const std::string& host, uint16_t port,
                                                        const ClientOptions& options,
                                                        std::string* error) {
  std::optional<plat::IpAddress> ip = plat::ParseClientHost(host);
  if (!ip) {
    if (error) *error = "not an IPv4 or IPv6 address: " + host;
    return nullptr;
  }
  plat::TcpClientOptions socket_options;
  socket_options.connect_timeout_ms = options.connect_timeout_ms;
  socket_options.receive_buffer_bytes = options.receive_buffer_bytes;
  socket_options.local_ip = options.local_ip;
  std::unique_ptr<plat::TcpClientSocket> socket =
      plat::TcpClientSocket::Connect(plat::Endpoint{*ip, port}, socket_options, error);
  if (!socket) return nullptr;
  return std::unique_ptr<ProtocolClient>(new ProtocolClient(std::move(socket), options));
}

bool ProtocolClient::Send(std::span<const uint8_t> bytes) {
  return socket_->SendAll(bytes.data(), bytes.size(), options_.send_timeout_ms) ==
         plat::IoStatus::kOk;
}

bool ProtocolClient::Fill(size_t wanted, uint32_t started, int timeout_ms) {
  uint8_t chunk[16384];
  while (input_.size() < wanted) {
    size_t received = 0;
    last_status_ =
        socket_->Receive(chunk, sizeof chunk, plat::RemainingMs(started, timeout_ms), &received);
    if (last_status_ != plat::IoStatus::kOk) return false;
    input_.insert(input_.end(), chunk, chunk + received);
  }
  return true;
}

std::optional<Frame> ProtocolClient::ReadFrame(int timeout_ms) {
  const uint32_t started = plat::TickCount();
  if (!Fill(wire::kOffsetLength + 2, started, timeout_ms)) return std::nullopt;
  const size_t length = wire::ReadU16(input_, wire::kOffsetLength);
  if (length < wire::kHeaderSize) {
    last_status_ = plat::IoStatus::kError;  // a length no server frame has: the stream is lost
    return std::nullopt;
  }
  if (!Fill(length, started, timeout_ms)) return std::nullopt;
  Frame frame{
      std::vector<uint8_t>(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(length))};
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(length));
  return frame;
}

std::optional<Frame> ProtocolClient::ReadUntil(const std::function<bool(const Frame&)>& match,
                                               int timeout_ms) {
  const uint32_t started = plat::TickCount();
  for (;;) {
    std::optional<Frame> frame = ReadFrame(plat::RemainingMs(started, timeout_ms));
    if (!frame || match(*frame)) return frame;
  }
}

bool ProtocolClient::WaitForClose(int timeout_ms) {
  const uint32_t started = plat::TickCount();
  input_.clear();
  uint8_t chunk[16384];
  for (;;) {
    size_t received = 0;
    last_status_ =
        socket_->Receive(chunk, sizeof chunk, plat::RemainingMs(started, timeout_ms), &received);
    if (last_status_ == plat::IoStatus::kClosed) return true;
    if (last_status_ != plat::IoStatus::kOk) return false;
  }
}

bool ProtocolClient::ExpectSilence(int timeout_ms) {
  if (!input_.empty()) return false;
  uint8_t byte;
  size_t received = 0;
  last_status_ = socket_->Receive(&byte, 1, timeout_ms, &received);
  if (last_status_ == plat::IoStatus::kOk) input_.push_back(byte);
  return last_status_ == plat::IoStatus::kTimeout;
}

LoginOutcome ProtocolClient::Login(const std::string& name, const std::string& password,
                                   const std::string& version, int timeout_ms) {
  LoginOutcome outcome;
  if (!SendLogin(name, password, version)) return outcome;
  std::optional<Frame> frame = ReadFrame(timeout_ms);
  if (!frame) return outcome;
  outcome.accepted = ParseLoginAccepted(*frame);
  if (!outcome.accepted) outcome.refused = ParseResult(*frame);
  return outcome;
}

}  // namespace plclient
