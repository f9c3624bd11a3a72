// One accepted TCP control connection: its input buffer, the reads the control channel's pass
// needs, and writes that never block the writer.
//
// Threading: the read side (WaitForData, Await, ReadAvailable, Buffered, Take, PeekByte, Close)
// belongs to the connection's own thread. Write, Wake, PendingOutput, RequestClose, IsOpen, Peer
// and the slot may be used from any thread.
//
// Writes never wait for a slow reader: what the kernel does not take stays pending and is sent as
// the socket drains (by the connection's own thread while it waits for input, and by every later
// Write). A connection whose pending output passes kMaxPendingOutput bytes, or stays undrained for
// kMaxUndrainedMs, is closed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/endpoint.h"
#include "platform/native_handle.h"

namespace plat {

// What a connection's user keeps with it (the control channel: its logged-in client). The
// connection only holds it; the user's type derives from this and casts back.
class ConnectionSlot {
 public:
  virtual ~ConnectionSlot() = default;
};

class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
 public:
  static constexpr size_t kReadChunk = 32768;
  // Read size when the kernel reports nothing waiting (an end of stream or an error to learn).
  static constexpr int kSmallRead = 256;
  // Above this many unconsumed input bytes the connection stops reading from the socket, so a
  // peer that sends faster than it is served is held back by TCP flow control.
  static constexpr size_t kMaxBufferedInput = 65536;
  static constexpr size_t kMaxPendingOutput = 256 * 1024;
  static constexpr uint32_t kMaxUndrainedMs = 10000;
  // How long Close lets already queued output drain before the socket is closed.
  static constexpr uint32_t kCloseLingerMs = 1000;
  // How long one wait of that drain lasts at most.
  static constexpr int kCloseLingerPollMs = 50;

  TcpConnection(NativeHandle fd, Endpoint peer, Endpoint local);
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Waits until at least one input byte is buffered. Returns false when the connection is closed,
  // was asked to close, or the peer closed it with nothing left in the buffer.
  bool WaitForData();
  // One wait of at most timeout_ms for input, a Wake, a close request or the peer's end, sending
  // pending output as the socket takes it (a connection that writes more than it reads: an
  // answer streamed for as long as its reader listens). False once the connection has ended:
  // closed, asked to close, its peer gone, its output undrained too long.
  bool Await(int timeout_ms);
  // Ends the current or next wait of Await early. Any thread.
  void Wake();
  // One socket read waiting at most timeout_ms, appending what arrives. Returns false when the
  // peer has closed the connection (or it failed) and the input buffer is empty.
  bool ReadAvailable(int timeout_ms);
  size_t Buffered() const { return input_.size() - input_head_; }
  // Byte `offset` of the buffered input; 0 beyond it.
  uint8_t PeekByte(size_t offset) const;
  // Moves up to `count` buffered bytes to `dest`; returns how many.
  size_t Take(uint8_t* dest, size_t count);
  // True once the peer has closed its side or the socket failed.
  bool PeerGone() const { return peer_gone_; }
  // True once any byte has arrived from the peer, whether the connection's own thread has read it
  // yet or it still waits in the socket (that thread may not have run yet on a busy host). Any
  // thread.
  bool ReceivedAny() const;

  // Queues `size` bytes for the peer. Returns false when the bytes will not be sent: the
  // connection is closed or failed, or its pending output overflowed (which closes it).
  bool Write(const uint8_t* data, size_t size);
  // Output bytes the socket has not taken yet. Any thread.
  size_t PendingOutput() const;
  // Caps what the kernel holds of this connection's output at about `bytes`, so that a reader
  // that stops reading shows up as pending output here rather than as megabytes in the kernel.
  void LimitSendBuffer(int bytes);
  // Asks the connection to close: its own thread's wait returns and the pass closes it.
  void RequestClose();
  bool IsOpen() const { return !close_requested_.load(std::memory_order_acquire); }
  // Own thread: lets pending output drain (bounded), then closes the socket.
  void Close();
  // True once Close has closed the socket.
  bool IsClosed() const;

  // Input must arrive before this many milliseconds have passed on `clock`, or WaitForData gives
  // the connection up (a connection that never logs in is not held for ever). Any thread; the
  // clock outlives the connection.
  void SetInputDeadline(uint32_t milliseconds_from_now, const Clock& clock = SystemClock());
  void ClearInputDeadline() { input_deadline_.store(0, std::memory_order_release); }

  Endpoint Peer() const { return peer_; }
  Endpoint Local() const { return local_; }

  // The control channel's per-connection state (its logged-in client), held for it. Any thread;
  // the old state is released outside the slot's lock.
  void SetSlot(std::shared_ptr<ConnectionSlot> value);
  std::shared_ptr<ConnectionSlot> Slot() const;
  void ClearSlot() { SetSlot(nullptr); }

 private:
  bool ReceiveOnce();
  // The backend's wait: one wait of at most timeout_ms (negative: no limit) for input, the
  // socket taking pending output, or a wake; takes in what arrived and sends what the socket
  // takes. False when the wait failed, or nothing is buffered and the receive found the peer
  // gone or nothing at all.
  bool PollOnce(int timeout_ms);
  // REQUIRES: output_mutex_ held.
  void DrainPendingLocked();
  // The backend's primitives. TrySend hands the kernel what it takes of the bytes without
  // waiting: the count, 0 when it would block, -1 when the connection failed.
  ptrdiff_t TrySend(const uint8_t* data, size_t size);
  // Waits up to `milliseconds` for the socket to take more output.
  void WaitWritable(int milliseconds);
  // Shuts the socket down and closes it. REQUIRES: output_mutex_ held.
  void CloseSocketLocked();
  void WakeLocked();
  void ConsumeWake();
  int PollTimeoutMs();
  // Whether WaitForData must end before any input: the connection is closed or its peer gone,
  // or the input deadline passed or its output stayed undrained too long (these two ask the
  // connection to close).
  bool WaitMustEnd();
  bool InputDeadlinePassed() const;

  const NativeHandle fd_;
  // Wakes the connection's own thread out of its wait (an event descriptor or event object).
  NativeHandle wake_fd_ = kNoHandle;
  const Endpoint peer_;
  const Endpoint local_;

  std::vector<uint8_t> input_;
  size_t input_head_ = 0;
  bool peer_gone_ = false;

  mutable std::mutex output_mutex_;
  std::string pending_;  // guarded by output_mutex_
  size_t pending_head_ = 0;
  uint32_t pending_since_ = 0;
  bool socket_closed_ = false;  // guarded by output_mutex_
  std::atomic<bool> close_requested_{false};
  std::atomic<bool> write_failed_{false};
  std::atomic<bool> received_any_{false};
  std::atomic<uint32_t> input_deadline_{0};  // on deadline_clock_; 0 for none
  std::atomic<const Clock*> deadline_clock_{&SystemClock()};

  mutable std::mutex slot_mutex_;
  std::shared_ptr<ConnectionSlot> slot_;
};

}  // namespace plat
