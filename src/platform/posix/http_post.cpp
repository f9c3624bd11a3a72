#include "platform/http_post.h"

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/posix/socket_util.h"

namespace plat {
namespace {

// How often a wait looks at the request's abandon hook.
constexpr int kAbandonCheckMs = 50;

class Deadline {
 public:
  Deadline(uint32_t limit_ms, const std::function<bool()>& abandon)
      : started_(TickCount()), limit_ms_(limit_ms), abandon_(abandon) {}
  // Milliseconds left, 0 once the limit has passed.
  int RemainingMs() const {
    uint32_t spent = TickCount() - started_;
    return spent >= limit_ms_ ? 0 : static_cast<int>(limit_ms_ - spent);
  }
  // The next wait: at most one abandon-check interval.
  int NextWaitMs() const { return std::min(RemainingMs(), kAbandonCheckMs); }
  bool Abandoned() const { return abandon_ && abandon_(); }
  // Why waiting must end now, or nothing.
  std::optional<int> StopReason() const {
    if (Abandoned()) return ECANCELED;
    if (RemainingMs() == 0) return ETIMEDOUT;
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
      resolution->error = "resolve(" + host + "): " + gai_strerror(status);
    }
    if (found != nullptr) freeaddrinfo(found);
    resolution->done = true;
    resolution->done_cv.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(resolution->mutex);
  while (!resolution->done) {
    resolution->done_cv.wait_for(lock, std::chrono::milliseconds(deadline.NextWaitMs()));
    if (resolution->done) break;
    if (auto reason = deadline.StopReason()) return "resolve(" + host + "): " + strerror(*reason);
  }
  if (!resolution->address) return resolution->error;
  *out = *resolution->address;
  out->sin_port = htons(port);
  return std::nullopt;
}

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
int WaitWritable(int fd, const Deadline& deadline) {
  // The socket is looked at before the stop reasons, so a peer that is ready at once is still
  // served after the request was abandoned.
  for (;;) {
    pollfd fds[1] = {{fd, POLLOUT, 0}};
    int ready = poll(fds, 1, deadline.NextWaitMs());
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return errno;
    if (auto reason = deadline.StopReason()) return *reason;
  }
}

std::optional<std::string> BindLocal(int fd, const std::string& local_ip, Endpoint target) {
  std::optional<uint32_t> address = ParseIpv4(local_ip);
  if (!address) return "bind(" + local_ip + "): not an IPv4 address";
  sockaddr_in local = ToSockaddr(Endpoint{*address, 0});
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    return SocketErrorText("bind", target, errno);
  }
  return std::nullopt;
}

std::optional<std::string> Connect(int fd, const sockaddr_in& remote, const Deadline& deadline) {
  Endpoint target = FromSockaddr(remote);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0)
    return std::nullopt;
  if (errno != EINPROGRESS && errno != EINTR) return SocketErrorText("connect", target, errno);
  if (int error = WaitWritable(fd, deadline)) return SocketErrorText("connect", target, error);
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) return SocketErrorText("connect", target, error);
  return std::nullopt;
}

std::optional<std::string> SendAll(int fd, const std::string& bytes, Endpoint target,
                                   const Deadline& deadline) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    ssize_t sent = send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
    if (sent >= 0) {
      offset += static_cast<size_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SocketErrorText("send", target, errno);
    if (int error = WaitWritable(fd, deadline)) return SocketErrorText("send", target, error);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> SendRequest(const OutgoingRequest& request) {
  Deadline deadline(request.time_limit_ms, request.abandon);
  sockaddr_in remote{};
  if (auto error = Resolve(request.host, request.port, deadline, &remote)) return error;
  Endpoint target = FromSockaddr(remote);
  SocketHandle socket_handle(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int fd = socket_handle.get();
  if (fd < 0) return SocketErrorText("socket", target, errno);
  if (!request.local_ip.empty()) {
    if (auto error = BindLocal(fd, request.local_ip, target)) return error;
  }
  if (auto error = Connect(fd, remote, deadline)) return error;
  if (auto error = SendAll(fd, request.bytes, target, deadline)) return error;
  // Our side is done; the peer's answer is not wanted.
  shutdown(fd, SHUT_WR);
  return std::nullopt;
}

}  // namespace plat
