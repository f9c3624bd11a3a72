// Two connected stream endpoints in this process: a TcpConnection for the server side and a
// plain descriptor for the peer. For driving the control channel without a network (fuzzing).
#pragma once

#include <memory>
#include <optional>
#include <span>

#include "platform/native_handle.h"
#include "platform/tcp_connection.h"

namespace plat {

class ConnectionPeer {
 public:
  explicit ConnectionPeer(NativeHandle fd) : fd_(fd) {}
  ~ConnectionPeer();
  ConnectionPeer(const ConnectionPeer&) = delete;
  ConnectionPeer& operator=(const ConnectionPeer&) = delete;
  // Writes what the socket buffer takes at once; returns how many bytes.
  size_t Write(std::span<const uint8_t> bytes);
  void CloseWrite();
  // Reads and discards whatever the server side sent.
  void Drain();

 private:
  NativeHandle fd_;
};

struct ConnectionPair {
  std::shared_ptr<TcpConnection> server_side;
  std::unique_ptr<ConnectionPeer> peer;
};

std::optional<ConnectionPair> MakeConnectionPair();

}  // namespace plat
