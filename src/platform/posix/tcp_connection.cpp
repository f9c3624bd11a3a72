#include "platform/tcp_connection.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/clock.h"

namespace plat {

TcpConnection::TcpConnection(NativeHandle fd, Endpoint peer, Endpoint local)
    : fd_(fd), peer_(peer), local_(local) {
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TcpConnection::~TcpConnection() {
  std::lock_guard<std::mutex> lock(output_mutex_);
  if (!socket_closed_) close(fd_);
  socket_closed_ = true;
  if (wake_fd_ >= 0) close(wake_fd_);
}

bool TcpConnection::PollOnce(int timeout_ms) {
  bool want_output;
  {
    std::lock_guard<std::mutex> lock(output_mutex_);
    want_output = pending_head_ < pending_.size();
  }
  pollfd fds[2] = {
      {static_cast<int>(fd_), static_cast<short>(POLLIN | (want_output ? POLLOUT : 0)), 0},
      {static_cast<int>(wake_fd_), POLLIN, 0}};
  int ready = poll(fds, 2, timeout_ms);
  if (ready < 0 && errno != EINTR) {
    peer_gone_ = true;
    return false;
  }
  if (fds[1].revents & POLLIN) ConsumeWake();
  if (fds[0].revents & POLLOUT) {
    std::lock_guard<std::mutex> lock(output_mutex_);
    DrainPendingLocked();
  }
  if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
    if (!ReceiveOnce() && Buffered() == 0) return false;
  }
  return true;
}

void TcpConnection::LimitSendBuffer(int bytes) {
  setsockopt(static_cast<int>(fd_), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

bool TcpConnection::ReadAvailable(int timeout_ms) {
  if (!peer_gone_ && IsOpen() && Buffered() < kMaxBufferedInput) {
    pollfd fds[1] = {{static_cast<int>(fd_), POLLIN, 0}};
    if (poll(fds, 1, timeout_ms) > 0) ReceiveOnce();
  }
  return !(peer_gone_ && Buffered() == 0);
}

bool TcpConnection::ReceivedAny() const {
  if (received_any_.load(std::memory_order_acquire)) return true;
  std::lock_guard<std::mutex> lock(output_mutex_);
  int waiting = 0;
  return !socket_closed_ && ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool TcpConnection::ReceiveOnce() {
  if (input_head_ > 0 && input_head_ == input_.size()) {
    input_.clear();
    input_head_ = 0;
  }
  // Grow by what is there rather than by a whole chunk: a chunk per idle connection, kept as
  // capacity, would make hundreds of connections cost megabytes of resident memory.
  int available = 0;
  if (ioctl(fd_, FIONREAD, &available) != 0 || available <= 0) available = kSmallRead;
  const size_t chunk = std::min(kReadChunk, static_cast<size_t>(available));
  size_t old_size = input_.size();
  input_.resize(old_size + chunk);
  ssize_t got;
  do {
    got = recv(fd_, input_.data() + old_size, chunk, MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    input_.resize(old_size + static_cast<size_t>(got));
    received_any_.store(true, std::memory_order_release);
    return true;
  }
  input_.resize(old_size);
  if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) peer_gone_ = true;
  return false;
}

ptrdiff_t TcpConnection::TrySend(const uint8_t* data, size_t size) {
  for (;;) {
    ssize_t sent = send(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

void TcpConnection::WaitWritable(int milliseconds) {
  pollfd fds[1] = {{static_cast<int>(fd_), POLLOUT, 0}};
  poll(fds, 1, milliseconds);
}

void TcpConnection::CloseSocketLocked() {
  shutdown(fd_, SHUT_RDWR);
  close(fd_);
}

void TcpConnection::WakeLocked() {
  if (wake_fd_ < 0 || socket_closed_) return;
  uint64_t one = 1;
  if (write(wake_fd_, &one, sizeof one) < 0) { /* already signalled */
  }
}

void TcpConnection::ConsumeWake() {
  uint64_t value;
  if (read(wake_fd_, &value, sizeof value) < 0) { /* nothing to consume */
  }
}

}  // namespace plat
