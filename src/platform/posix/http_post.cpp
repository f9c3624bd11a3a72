#include "platform/http_post.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/posix/socket_util.h"

namespace plat {
namespace {

int RemainingMs(uint32_t started, uint32_t limit) {
  uint32_t spent = TickCount() - started;
  return spent >= limit ? 0 : static_cast<int>(limit - spent);
}

std::optional<std::string> Resolve(const std::string& host, uint16_t port, sockaddr_in* out) {
  if (auto ip = ParseIpv4(host)) {
    *out = ToSockaddr(Endpoint{*ip, port});
    return std::nullopt;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) return "resolve(" + host + "): " + gai_strerror(status);
  *out = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
  out->sin_port = htons(port);
  freeaddrinfo(found);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> SendRequest(const OutgoingRequest& request) {
  uint32_t started = TickCount();
  sockaddr_in remote{};
  if (auto error = Resolve(request.host, request.port, &remote)) return error;
  Endpoint target = FromSockaddr(remote);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return SocketErrorText("socket", target, errno);
  auto fail = [&](const char* call, int error) {
    close(fd);
    return SocketErrorText(call, target, error);
  };
  if (!request.local_ip.empty()) {
    auto local_ip = ParseIpv4(request.local_ip);
    if (!local_ip) return fail("bind", EINVAL);
    sockaddr_in local = ToSockaddr(Endpoint{*local_ip, 0});
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return fail("bind", errno);
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 && errno != EINPROGRESS) {
    return fail("connect", errno);
  }
  size_t offset = 0;
  bool connected = false;
  while (offset < request.bytes.size()) {
    int wait = RemainingMs(started, request.time_limit_ms);
    if (wait == 0) return fail(connected ? "send" : "connect", ETIMEDOUT);
    pollfd fds[1] = {{fd, POLLOUT, 0}};
    int ready = poll(fds, 1, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    if (!connected) {
      int error = 0;
      socklen_t length = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      if (error != 0) return fail("connect", error);
      connected = true;
    }
    ssize_t sent = send(fd, request.bytes.data() + offset, request.bytes.size() - offset, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return fail("send", errno);
    }
    offset += static_cast<size_t>(sent);
  }
  shutdown(fd, SHUT_WR);
  close(fd);
  return std::nullopt;
}

}  // namespace plat
