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

int TcpConnection::PollTimeoutMs() {
  int timeout = -1;
  const uint32_t now = TickCount();
  if (uint32_t deadline = input_deadline_.load(std::memory_order_acquire); deadline != 0) {
    int32_t left = static_cast<int32_t>(deadline - now);
    timeout = left <= 0 ? 0 : left + 1;
  }
  std::lock_guard<std::mutex> lock(output_mutex_);
  if (pending_head_ >= pending_.size()) return timeout;
  uint32_t waited = now - pending_since_;
  int drain_left = waited >= kMaxUndrainedMs ? 0 : static_cast<int>(kMaxUndrainedMs - waited) + 1;
  return timeout < 0 ? drain_left : std::min(timeout, drain_left);
}

void TcpConnection::SetInputDeadline(uint32_t milliseconds_from_now) {
  uint32_t deadline = TickCount() + milliseconds_from_now;
  input_deadline_.store(deadline == 0 ? 1 : deadline, std::memory_order_release);
}

bool TcpConnection::WaitForData() {
  while (Buffered() == 0) {
    if (!IsOpen() || peer_gone_) return false;
    if (InputDeadlinePassed()) {
      close_requested_.store(true, std::memory_order_release);
      return false;
    }
    bool want_output;
    {
      std::lock_guard<std::mutex> lock(output_mutex_);
      want_output = pending_head_ < pending_.size();
      if (want_output && TickCount() - pending_since_ >= kMaxUndrainedMs) {
        // A peer that has not taken its output for this long is not reading: give it up.
        close_requested_.store(true, std::memory_order_release);
        return false;
      }
    }
    pollfd fds[2] = {
        {static_cast<int>(fd_), static_cast<short>(POLLIN | (want_output ? POLLOUT : 0)), 0},
        {static_cast<int>(wake_fd_), POLLIN, 0}};
    int ready = poll(fds, 2, PollTimeoutMs());
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
  }
  return true;
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

void TcpConnection::DrainPendingLocked() {
  while (pending_head_ < pending_.size() && !socket_closed_) {
    ssize_t sent = send(fd_, pending_.data() + pending_head_, pending_.size() - pending_head_,
                        MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        write_failed_ = true;
        pending_.clear();
        pending_head_ = 0;
      }
      return;
    }
    pending_head_ += static_cast<size_t>(sent);
    pending_since_ = TickCount();  // progress restarts the undrained clock
  }
  if (pending_head_ >= pending_.size()) {
    pending_.clear();
    pending_head_ = 0;
  }
}

bool TcpConnection::Write(const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> lock(output_mutex_);
  if (socket_closed_ || write_failed_ || close_requested_.load(std::memory_order_acquire))
    return false;
  bool was_idle = pending_head_ >= pending_.size();
  if (!was_idle) DrainPendingLocked();
  size_t offset = 0;
  if (pending_head_ >= pending_.size()) {
    while (offset < size) {
      ssize_t sent = send(fd_, data + offset, size - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        write_failed_ = true;
        return false;
      }
      offset += static_cast<size_t>(sent);
    }
  }
  if (offset == size) return true;
  if (pending_.size() - pending_head_ + (size - offset) > kMaxPendingOutput) {
    // The peer does not read: give the connection up rather than hold its output without bound.
    close_requested_.store(true, std::memory_order_release);
    WakeLocked();
    return false;
  }
  if (pending_head_ >= pending_.size()) pending_since_ = TickCount();
  pending_.append(reinterpret_cast<const char*>(data) + offset, size - offset);
  WakeLocked();  // the connection's own thread now also waits for the socket to drain
  return true;
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

void TcpConnection::Close() {
  close_requested_.store(true, std::memory_order_release);
  uint32_t started = TickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(output_mutex_);
      if (socket_closed_) return;
      DrainPendingLocked();
      if (pending_head_ >= pending_.size() || write_failed_ ||
          TickCount() - started >= kCloseLingerMs) {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        socket_closed_ = true;
        pending_.clear();
        pending_head_ = 0;
        return;
      }
    }
    pollfd fds[1] = {{static_cast<int>(fd_), POLLOUT, 0}};
    poll(fds, 1, 50);
  }
}

}  // namespace plat
