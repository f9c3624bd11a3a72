// The parts of a control connection that need no system call: the input buffer, the input
// deadline, the pending output with its limits, the linger close, the slot and the close
// request. The backends read, try a send, wait and close.
#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/tcp_connection.h"

namespace plat {

void TcpConnection::SetInputDeadline(uint32_t milliseconds_from_now, const Clock& clock) {
  deadline_clock_.store(&clock, std::memory_order_release);
  uint32_t deadline = clock.Now() + milliseconds_from_now;
  input_deadline_.store(deadline == 0 ? 1 : deadline, std::memory_order_release);
  // The connection's thread may be waiting without a time limit: let it take the new one.
  std::lock_guard<std::mutex> lock(output_mutex_);
  WakeLocked();
}

bool TcpConnection::InputDeadlinePassed() const {
  uint32_t deadline = input_deadline_.load(std::memory_order_acquire);
  if (deadline == 0) return false;
  return static_cast<int32_t>(deadline_clock_.load(std::memory_order_acquire)->Now() - deadline) >=
         0;
}

bool TcpConnection::WaitMustEnd() {
  if (!IsOpen() || peer_gone_) return true;
  if (InputDeadlinePassed()) {
    close_requested_.store(true, std::memory_order_release);
    return true;
  }
  std::lock_guard<std::mutex> lock(output_mutex_);
  if (pending_head_ < pending_.size() && TickCount() - pending_since_ >= kMaxUndrainedMs) {
    // A peer that has not taken its output for this long is not reading: give it up.
    close_requested_.store(true, std::memory_order_release);
    return true;
  }
  return false;
}

bool TcpConnection::WaitForData() {
  while (Buffered() == 0) {
    if (WaitMustEnd()) return false;
    if (!PollOnce(PollTimeoutMs())) return false;
  }
  return true;
}

bool TcpConnection::Await(int timeout_ms) {
  if (WaitMustEnd()) return false;
  const int limit = PollTimeoutMs();
  PollOnce(limit < 0 ? timeout_ms : std::min(limit, timeout_ms));
  return !WaitMustEnd();
}

void TcpConnection::Wake() {
  std::lock_guard<std::mutex> lock(output_mutex_);
  WakeLocked();
}

size_t TcpConnection::PendingOutput() const {
  std::lock_guard<std::mutex> lock(output_mutex_);
  return pending_.size() - pending_head_;
}

int TcpConnection::PollTimeoutMs() {
  int timeout = -1;
  if (uint32_t deadline = input_deadline_.load(std::memory_order_acquire); deadline != 0) {
    const Clock& clock = *deadline_clock_.load(std::memory_order_acquire);
    int32_t left = static_cast<int32_t>(deadline - clock.Now());
    timeout = left <= 0 ? 0 : left + 1;
    if (clock.MaxWaitMs() >= 0) timeout = std::min(timeout, clock.MaxWaitMs());
  }
  std::lock_guard<std::mutex> lock(output_mutex_);
  if (pending_head_ >= pending_.size()) return timeout;
  uint32_t waited = TickCount() - pending_since_;
  int drain_left = waited >= kMaxUndrainedMs ? 0 : static_cast<int>(kMaxUndrainedMs - waited) + 1;
  return timeout < 0 ? drain_left : std::min(timeout, drain_left);
}

uint8_t TcpConnection::PeekByte(size_t offset) const {
  return offset < Buffered() ? input_[input_head_ + offset] : 0;
}

size_t TcpConnection::Take(uint8_t* dest, size_t count) {
  size_t taken = std::min(count, Buffered());
  if (taken > 0) std::memcpy(dest, input_.data() + input_head_, taken);
  input_head_ += taken;
  if (input_head_ == input_.size()) {
    input_.clear();
    input_head_ = 0;
  } else if (input_head_ > kReadChunk) {
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(input_head_));
    input_head_ = 0;
  }
  return taken;
}

void TcpConnection::DrainPendingLocked() {
  while (pending_head_ < pending_.size() && !socket_closed_) {
    const ptrdiff_t sent =
        TrySend(reinterpret_cast<const uint8_t*>(pending_.data()) + pending_head_,
                pending_.size() - pending_head_);
    if (sent < 0) {
      write_failed_ = true;
      pending_.clear();
      pending_head_ = 0;
      return;
    }
    if (sent == 0) return;  // the kernel takes nothing more for now
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
      const ptrdiff_t sent = TrySend(data + offset, size - offset);
      if (sent < 0) {
        write_failed_ = true;
        return false;
      }
      if (sent == 0) break;
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
        CloseSocketLocked();
        socket_closed_ = true;
        pending_.clear();
        pending_head_ = 0;
        return;
      }
    }
    WaitWritable(kCloseLingerPollMs);
  }
}

void TcpConnection::RequestClose() {
  std::lock_guard<std::mutex> lock(output_mutex_);
  close_requested_.store(true, std::memory_order_release);
  WakeLocked();
}

bool TcpConnection::IsClosed() const {
  std::lock_guard<std::mutex> lock(output_mutex_);
  return socket_closed_;
}

void TcpConnection::SetSlot(std::shared_ptr<ConnectionSlot> value) {
  std::shared_ptr<ConnectionSlot> old;
  {
    std::lock_guard<std::mutex> lock(slot_mutex_);
    old = std::move(slot_);
    slot_ = std::move(value);
  }
  // `old` is released here, outside the slot lock.
}

std::shared_ptr<ConnectionSlot> TcpConnection::Slot() const {
  std::lock_guard<std::mutex> lock(slot_mutex_);
  return slot_;
}

}  // namespace plat
