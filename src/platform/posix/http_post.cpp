#include "platform/http_post.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/socket_util.h"
#include "platform/request_deadline.h"

namespace plat {

int StopErrorNumber(StopReason reason) {
  return reason == StopReason::kAbandoned ? ECANCELED : ETIMEDOUT;
}

std::string ErrorNumberText(int error) {
  return strerror(error);
}

namespace {

// Closes the socket on every way out.
class SocketHandle {
 public:
  explicit SocketHandle(int fd) : fd_(fd) {}
  ~SocketHandle() {
    if (fd_ >= 0) close(fd_);
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Waits until the socket is writable. Returns the error number that ends the wait, 0 when
// writable.
int WaitWritable(int fd, const RequestDeadline& deadline) {
  // The socket is looked at before the stop reasons, so a peer that is ready at once is still
  // served after the request was abandoned.
  for (;;) {
    pollfd fds[1] = {{fd, POLLOUT, 0}};
    int ready = poll(fds, 1, deadline.NextWaitMs());
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return errno;
    if (auto reason = deadline.Stop()) return StopErrorNumber(*reason);
  }
}

Status BindLocal(int fd, const std::string& local_ip, Endpoint target) {
  std::optional<uint32_t> address = ParseIpv4(local_ip);
  if (!address) return Status::Error("bind(" + local_ip + "): not an IPv4 address");
  SocketAddress local = ToSockaddr(Endpoint::Ipv4(*address, 0));
  if (bind(fd, local.get(), local.length) != 0) {
    return Status::Error(SocketErrorText("bind", target, errno));
  }
  return Status::Ok();
}

Status Connect(int fd, const SocketAddress& remote, const RequestDeadline& deadline) {
  Endpoint target = FromSockaddr(remote);
  if (connect(fd, remote.get(), remote.length) == 0) return Status::Ok();
  if (errno != EINPROGRESS && errno != EINTR)
    return Status::Error(SocketErrorText("connect", target, errno));
  if (int error = WaitWritable(fd, deadline))
    return Status::Error(SocketErrorText("connect", target, error));
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) return Status::Error(SocketErrorText("connect", target, error));
  return Status::Ok();
}

Status SendAll(int fd, const std::string& bytes, Endpoint target, const RequestDeadline& deadline) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    ssize_t sent = send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
    if (sent >= 0) {
      offset += static_cast<size_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      return Status::Error(SocketErrorText("send", target, errno));
    if (int error = WaitWritable(fd, deadline))
      return Status::Error(SocketErrorText("send", target, error));
  }
  return Status::Ok();
}

}  // namespace

Status SendRequest(const OutgoingRequest& request) {
  RequestDeadline deadline(request.time_limit_ms, request.abandon);
  uint32_t ip = 0;
  if (Status error = ResolveWithin(request.host, deadline, &ip); !error.ok()) return error;
  const SocketAddress remote = ToSockaddr(Endpoint::Ipv4(ip, request.port));
  Endpoint target = FromSockaddr(remote);
  SocketHandle socket_handle(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int fd = socket_handle.get();
  if (fd < 0) return Status::Error(SocketErrorText("socket", target, errno));
  if (!request.local_ip.empty()) {
    if (Status error = BindLocal(fd, request.local_ip, target); !error.ok()) return error;
  }
  if (Status error = Connect(fd, remote, deadline); !error.ok()) return error;
  if (Status error = SendAll(fd, request.bytes, target, deadline); !error.ok()) return error;
  // Our side is done; the peer's answer is not wanted.
  shutdown(fd, SHUT_WR);
  return Status::Ok();
}

}  // namespace plat
