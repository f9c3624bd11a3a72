// The Windows build serves no local socket: the operator interface stays off there and the
// server says so when it starts. Every entry point reports that.
#include "platform/local_socket.h"

namespace plat {
namespace {
constexpr char kUnsupported[] = "local sockets are not used by the Windows build";
}

bool LocalSocketsSupported() {
  return false;
}

LocalStream::~LocalStream() = default;

LocalIo LocalStream::Read(char*, size_t, size_t*) {
  return LocalIo::kClosed;
}

LocalIo LocalStream::Write(const char*, size_t, size_t*) {
  return LocalIo::kClosed;
}

std::unique_ptr<LocalListener> LocalListener::Create(const std::string&, unsigned,
                                                     std::string* error) {
  if (error) *error = kUnsupported;
  return nullptr;
}

LocalListener::~LocalListener() = default;

Status LocalListener::SetMode(unsigned) const {
  return Status::Error("this build serves no local sockets");
}

std::unique_ptr<LocalStream> LocalListener::Accept() {
  return nullptr;
}

Poller::Poller() = default;
Poller::~Poller() = default;
void Poller::Wake() {}
void Poller::Wait(std::vector<Item>&, int) {}

std::unique_ptr<LocalClientSocket> LocalClientSocket::Connect(const std::string&,
                                                              std::string* error) {
  if (error) *error = kUnsupported;
  return nullptr;
}

LocalClientSocket::~LocalClientSocket() = default;

bool LocalClientSocket::SendAll(const std::string&, int) {
  return false;
}

LocalIo LocalClientSocket::Receive(char*, size_t, int, size_t*) {
  return LocalIo::kClosed;
}

std::optional<unsigned> LocalSocketMode(const std::string&) {
  return std::nullopt;
}

}  // namespace plat
