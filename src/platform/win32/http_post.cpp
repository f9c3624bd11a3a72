#include "platform/http_post.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/win32/winsock_util.h"

namespace plat {
namespace {

// How often a wait looks at the request's abandon hook.
constexpr int kAbandonCheckMs = 50;

class Deadline {
 public:
  Deadline(uint32_t limit_ms, const std::function<bool()>& abandon)
      : started_(TickCount()), limit_ms_(limit_ms), abandon_(abandon) {}
  int RemainingMs() const {
    uint32_t spent = TickCount() - started_;
    return spent >= limit_ms_ ? 0 : static_cast<int>(limit_ms_ - spent);
  }
  int NextWaitMs() const { return std::min(RemainingMs(), kAbandonCheckMs); }
  // Why waiting must end now (a Winsock error number), or nothing.
  std::optional<int> StopReason() const {
    if (abandon_ && abandon_()) return WSAECANCELLED;
    if (RemainingMs() == 0) return WSAETIMEDOUT;
    return std::nullopt;
  }

 private:
  const uint32_t started_;
  const uint32_t limit_ms_;
  const std::function<bool()>& abandon_;
};

// getaddrinfo has no time limit of its own, so it runs on a helper thread that the caller stops
// waiting for when the deadline passes; the helper then finishes on its own and frees the state.
struct Resolution {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  std::optional<sockaddr_in> address;
  std::string error;
};

std::optional<std::string> Resolve(const std::string& host, uint16_t port, const Deadline& deadline,
                                   sockaddr_in* out) {
  if (auto ip = ParseIpv4(host)) {
    *out = ToSockaddr(Endpoint{*ip, port});
    return std::nullopt;
  }
  auto resolution = std::make_shared<Resolution>();
  std::thread([resolution, host] {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    std::lock_guard<std::mutex> lock(resolution->mutex);
    if (status == 0 && found != nullptr) {
      resolution->address = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    } else {
      resolution->error = "resolve(" + host + "): " + SystemErrorText(static_cast<DWORD>(status));
    }
    if (found != nullptr) freeaddrinfo(found);
    resolution->done = true;
    resolution->done_cv.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(resolution->mutex);
  while (!resolution->done) {
    resolution->done_cv.wait_for(lock, std::chrono::milliseconds(deadline.NextWaitMs()));
    if (resolution->done) break;
    if (auto reason = deadline.StopReason()) {
      return "resolve(" + host + "): " + SystemErrorText(static_cast<DWORD>(*reason));
    }
  }
  if (!resolution->address) return resolution->error;
  *out = *resolution->address;
  out->sin_port = htons(port);
  return std::nullopt;
}

// Closes the socket on every way out.
class SocketHandle {
 public:
  explicit SocketHandle(SOCKET fd) : fd_(fd) {}
  ~SocketHandle() {
    if (fd_ != INVALID_SOCKET) closesocket(fd_);
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  SOCKET get() const { return fd_; }

 private:
  SOCKET fd_;
};

// Waits until the socket is writable (or its connect failed). Returns the error number that
// ends the wait, 0 when ready.
int WaitWritable(SOCKET fd, const Deadline& deadline) {
  for (;;) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(fd, &writable);
    FD_SET(fd, &failed);
    int wait_ms = deadline.NextWaitMs();
    timeval wait{wait_ms / 1000, (wait_ms % 1000) * 1000};
    int ready = select(0, nullptr, &writable, &failed, &wait);
    if (ready > 0) return 0;
    if (ready < 0) return WSAGetLastError();
    if (auto reason = deadline.StopReason()) return *reason;
  }
}

std::optional<std::string> Connect(SOCKET fd, const sockaddr_in& remote, const Deadline& deadline) {
  Endpoint target = FromSockaddr(remote);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0)
    return std::nullopt;
  int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return SocketErrorText("connect", target, error);
  if (int failure = WaitWritable(fd, deadline)) return SocketErrorText("connect", target, failure);
  error = 0;
  int length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    error = WSAGetLastError();
  }
  if (error != 0) return SocketErrorText("connect", target, error);
  return std::nullopt;
}

std::optional<std::string> SendAll(SOCKET fd, const std::string& bytes, Endpoint target,
                                   const Deadline& deadline) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    int sent = send(fd, bytes.data() + offset,
                    static_cast<int>(std::min<size_t>(bytes.size() - offset, 1 << 20)), 0);
    if (sent >= 0) {
      offset += static_cast<size_t>(sent);
      continue;
    }
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return SocketErrorText("send", target, error);
    if (int failure = WaitWritable(fd, deadline)) return SocketErrorText("send", target, failure);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> SendRequest(const OutgoingRequest& request) {
  EnsureWinsock();
  Deadline deadline(request.time_limit_ms, request.abandon);
  sockaddr_in remote{};
  if (auto error = Resolve(request.host, request.port, deadline, &remote)) return error;
  Endpoint target = FromSockaddr(remote);
  SocketHandle socket_handle(
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  const SOCKET fd = socket_handle.get();
  if (fd == INVALID_SOCKET) return SocketErrorText("socket", target, WSAGetLastError());
  MakeNonBlocking(fd);
  if (!request.local_ip.empty()) {
    std::optional<uint32_t> address = ParseIpv4(request.local_ip);
    if (!address) return "bind(" + request.local_ip + "): not an IPv4 address";
    sockaddr_in local = ToSockaddr(Endpoint{*address, 0});
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      return SocketErrorText("bind", target, WSAGetLastError());
    }
  }
  if (auto error = Connect(fd, remote, deadline)) return error;
  if (auto error = SendAll(fd, request.bytes, target, deadline)) return error;
  // Our side is done; the peer's answer is not wanted.
  shutdown(fd, SD_SEND);
  return std::nullopt;
}

}  // namespace plat
