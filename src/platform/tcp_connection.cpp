// The parts of a control connection that need no system call: the input buffer, the input
// deadline, the slot and the close request. The backends read, write and wait.
#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/tcp_connection.h"

namespace plat {

bool TcpConnection::InputDeadlinePassed() const {
  uint32_t deadline = input_deadline_.load(std::memory_order_acquire);
  return deadline != 0 && static_cast<int32_t>(TickCount() - deadline) >= 0;
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

void TcpConnection::RequestClose() {
  std::lock_guard<std::mutex> lock(output_mutex_);
  close_requested_.store(true, std::memory_order_release);
  WakeLocked();
}

bool TcpConnection::IsClosed() const {
  std::lock_guard<std::mutex> lock(output_mutex_);
  return socket_closed_;
}

void TcpConnection::SetSlot(std::shared_ptr<void> value) {
  std::shared_ptr<void> old;
  {
    std::lock_guard<std::mutex> lock(slot_mutex_);
    old = std::move(slot_);
    slot_ = std::move(value);
  }
  // `old` is released here, outside the slot lock.
}

std::shared_ptr<void> TcpConnection::Slot() const {
  std::lock_guard<std::mutex> lock(slot_mutex_);
  return slot_;
}

}  // namespace plat
