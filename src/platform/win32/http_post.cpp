#include "platform/http_post.h"

#include <algorithm>

#include "platform/request_deadline.h"
#include "platform/win32/winsock_util.h"

namespace plat {

int StopErrorNumber(StopReason reason) {
  return reason == StopReason::kAbandoned ? WSAECANCELLED : WSAETIMEDOUT;
}

std::string ErrorNumberText(int error) {
  return SystemErrorText(static_cast<DWORD>(error));
}

namespace {

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
int WaitWritable(SOCKET fd, const RequestDeadline& deadline) {
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
    if (auto reason = deadline.Stop()) return StopErrorNumber(*reason);
  }
}

Status Connect(SOCKET fd, const SocketAddress& remote, const RequestDeadline& deadline) {
  Endpoint target = FromSockaddr(remote);
  if (connect(fd, remote.get(), remote.length) == 0) return Status::Ok();
  int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return Status::Error(SocketErrorText("connect", target, error));
  if (int failure = WaitWritable(fd, deadline))
    return Status::Error(SocketErrorText("connect", target, failure));
  error = 0;
  int length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    error = WSAGetLastError();
  }
  if (error != 0) return Status::Error(SocketErrorText("connect", target, error));
  return Status::Ok();
}

Status SendAll(SOCKET fd, const std::string& bytes, Endpoint target,
               const RequestDeadline& deadline) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    int sent = send(fd, bytes.data() + offset,
                    static_cast<int>(std::min<size_t>(bytes.size() - offset, 1 << 20)), 0);
    if (sent >= 0) {
      offset += static_cast<size_t>(sent);
      continue;
    }
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return Status::Error(SocketErrorText("send", target, error));
    if (int failure = WaitWritable(fd, deadline))
      return Status::Error(SocketErrorText("send", target, failure));
  }
  return Status::Ok();
}

}  // namespace

Status SendRequest(const OutgoingRequest& request) {
  EnsureWinsock();
  RequestDeadline deadline(request.time_limit_ms, request.abandon);
  uint32_t ip = 0;
  if (Status error = ResolveWithin(request.host, deadline, &ip); !error.ok()) return error;
  const SocketAddress remote = ToSockaddr(Endpoint::Ipv4(ip, request.port));
  Endpoint target = FromSockaddr(remote);
  SocketHandle socket_handle(
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  const SOCKET fd = socket_handle.get();
  if (fd == INVALID_SOCKET)
    return Status::Error(SocketErrorText("socket", target, WSAGetLastError()));
  MakeNonBlocking(fd);
  if (!request.local_ip.empty()) {
    std::optional<uint32_t> address = ParseIpv4(request.local_ip);
    if (!address) return Status::Error("bind(" + request.local_ip + "): not an IPv4 address");
    SocketAddress local = ToSockaddr(Endpoint::Ipv4(*address, 0));
    if (bind(fd, local.get(), local.length) != 0) {
      return Status::Error(SocketErrorText("bind", target, WSAGetLastError()));
    }
  }
  if (Status error = Connect(fd, remote, deadline); !error.ok()) return error;
  if (Status error = SendAll(fd, request.bytes, target, deadline); !error.ok()) return error;
  // Our side is done; the peer's answer is not wanted.
  shutdown(fd, SD_SEND);
  return Status::Ok();
}

}  // namespace plat
