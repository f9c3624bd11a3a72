// The Win32 connection: a non-blocking socket whose network events (FD_READ, FD_WRITE, FD_CLOSE)
// are selected into the same event object that other threads set to wake the connection's own
// thread. Every reason to wake (a close request, pending output) is also kept as state that the
// thread looks at before each wait, so a wake-up that coincides with a network event is never
// lost.
#include "platform/tcp_connection.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/win32/winsock_util.h"

namespace plat {
namespace {

HANDLE AsEvent(NativeHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

TcpConnection::TcpConnection(NativeHandle fd, Endpoint peer, Endpoint local)
    : fd_(fd), peer_(peer), local_(local) {
  WSAEVENT event = WSACreateEvent();
  if (event != WSA_INVALID_EVENT) {
    wake_fd_ = reinterpret_cast<NativeHandle>(event);
    // Also makes the socket non-blocking.
    WSAEventSelect(AsSocket(fd_), event, FD_READ | FD_WRITE | FD_CLOSE);
  }
  MakeNonBlocking(AsSocket(fd_));
}

TcpConnection::~TcpConnection() {
  std::lock_guard<std::mutex> lock(output_mutex_);
  if (!socket_closed_) closesocket(AsSocket(fd_));
  socket_closed_ = true;
  if (wake_fd_ != kNoHandle) WSACloseEvent(AsEvent(wake_fd_));
}

bool TcpConnection::PollOnce(int timeout_ms) {
  {
    // Sending what the socket takes now also re-arms FD_WRITE when it takes nothing.
    std::lock_guard<std::mutex> lock(output_mutex_);
    if (pending_head_ < pending_.size()) DrainPendingLocked();
  }
  if (wake_fd_ == kNoHandle) {
    // Without an event object the socket is looked at in short steps.
    Sleep(10);
    return ReceiveOnce() || Buffered() > 0 || !peer_gone_;
  }
  WSAWaitForMultipleEvents(1, reinterpret_cast<const WSAEVENT*>(&wake_fd_), FALSE,
                           timeout_ms < 0 ? WSA_INFINITE : static_cast<DWORD>(timeout_ms), FALSE);
  WSANETWORKEVENTS events{};
  if (WSAEnumNetworkEvents(AsSocket(fd_), AsEvent(wake_fd_), &events) != 0) {
    if (IsOpen()) peer_gone_ = true;
    return false;
  }
  if (events.lNetworkEvents & FD_WRITE) {
    std::lock_guard<std::mutex> lock(output_mutex_);
    DrainPendingLocked();
  }
  if (events.lNetworkEvents & FD_READ) {
    if (!ReceiveOnce() && Buffered() == 0 && peer_gone_) return false;
  }
  if (events.lNetworkEvents & FD_CLOSE) {
    // No further read event follows the close: take everything the peer sent before it.
    while (ReceiveOnce()) {
    }
    peer_gone_ = true;
    if (Buffered() == 0) return false;
  }
  return true;
}

void TcpConnection::LimitSendBuffer(int bytes) {
  setsockopt(AsSocket(fd_), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
             sizeof bytes);
}

bool TcpConnection::ReadAvailable(int timeout_ms) {
  if (!peer_gone_ && IsOpen() && Buffered() < kMaxBufferedInput) {
    if (!ReceiveOnce() && !peer_gone_ && timeout_ms > 0) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(AsSocket(fd_), &readable);
      timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
      if (select(0, &readable, nullptr, nullptr, &wait) > 0) ReceiveOnce();
    }
  }
  return !(peer_gone_ && Buffered() == 0);
}

bool TcpConnection::ReceivedAny() const {
  if (received_any_.load(std::memory_order_acquire)) return true;
  std::lock_guard<std::mutex> lock(output_mutex_);
  u_long waiting = 0;
  return !socket_closed_ && ioctlsocket(AsSocket(fd_), FIONREAD, &waiting) == 0 && waiting > 0;
}

bool TcpConnection::ReceiveOnce() {
  if (input_head_ > 0 && input_head_ == input_.size()) {
    input_.clear();
    input_head_ = 0;
  }
  size_t old_size = input_.size();
  input_.resize(old_size + kReadChunk);
  int got = recv(AsSocket(fd_), reinterpret_cast<char*>(input_.data() + old_size),
                 static_cast<int>(kReadChunk), 0);
  if (got > 0) {
    input_.resize(old_size + static_cast<size_t>(got));
    received_any_.store(true, std::memory_order_release);
    return true;
  }
  input_.resize(old_size);
  if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) peer_gone_ = true;
  return false;
}

ptrdiff_t TcpConnection::TrySend(const uint8_t* data, size_t size) {
  int sent = send(AsSocket(fd_), reinterpret_cast<const char*>(data),
                  static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
  if (sent != SOCKET_ERROR) return sent;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

void TcpConnection::WaitWritable(int milliseconds) {
  Sleep(static_cast<DWORD>(std::min(milliseconds, 20)));
}

void TcpConnection::CloseSocketLocked() {
  shutdown(AsSocket(fd_), SD_BOTH);
  closesocket(AsSocket(fd_));
}

void TcpConnection::WakeLocked() {
  if (wake_fd_ == kNoHandle || socket_closed_) return;
  WSASetEvent(AsEvent(wake_fd_));
}

void TcpConnection::ConsumeWake() {
  if (wake_fd_ != kNoHandle) WSAResetEvent(AsEvent(wake_fd_));
}

}  // namespace plat
