// The TCP listener: binds a default port or a list of address-and-port bindings, accepts
// connections and runs each on a thread of its own, calling the connection handler over and
// over while the connection is open.
//
// Threading: configure and Activate/Deactivate from one thread; the handler runs on the
// connection threads. The destructor waits for every connection thread to end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/endpoint.h"
#include "platform/native_handle.h"
#include "platform/status.h"
#include "platform/tcp_connection.h"

namespace plat {

class TcpListener {
 public:
  using Handler = std::function<void(TcpConnection&)>;
  // Called once per accepted connection before its thread starts; returning false closes the
  // connection at once.
  using AcceptFilter = std::function<bool(TcpConnection&)>;
  // Connections the kernel holds for accepting. A queue of 15, when a flood of connections fills
  // it, made the kernel drop other players' connection attempts (each then waits out a
  // retransmission of a second or more); the accept thread empties a longer one as fast.
  static constexpr int kBacklog = 128;

  TcpListener();
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  void SetDefaultPort(uint16_t port) { default_port_ = port; }
  void ClearBindings() { bindings_.clear(); }
  void AddBinding(Endpoint binding) { bindings_.push_back(binding); }
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  void SetAcceptFilter(AcceptFilter filter) { accept_filter_ = std::move(filter); }

  // Binds, listens and starts accepting. Returns an error text when a socket cannot be bound.
  Status Activate();
  // Stops accepting, asks every open connection to close and waits up to wait_ms for their
  // threads to end.
  void Deactivate(uint32_t wait_ms = 5000);

  size_t ConnectionCount() const;
  // The first bound port (useful when the default port was 0).
  uint16_t BoundPort() const { return bound_port_; }
  // Empty, or why the default binding (every IPv4 and IPv6 address) takes IPv4 only.
  const std::string& Ipv4OnlyReason() const { return ipv4_only_reason_; }

 private:
  struct Shared;
  // Binds and listens on every binding or, without one, on the default port of every IPv4 and
  // IPv6 address (IPv4 only where the host has no IPv6); on failure nothing stays open.
  Status BindAll();
  // The backend's part: a listening socket of `family` on `target` (an unspecified IPv6 target
  // takes IPv4 too), or an error text naming the call and the address; the bound port; closing
  // every listening socket.
  static Status BindSocket(const Endpoint& target, int family, NativeHandle* fd);
  static uint16_t PortOf(NativeHandle fd);
  void CloseSockets();
  void AcceptLoop();
  // Starts the accept thread once the sockets listen; without it they are closed again.
  Status StartAccepting();
  // Asks every open connection to close and waits up to wait_ms for their threads.
  void CloseConnectionsAndWait(uint32_t wait_ms);
  void StartConnection(NativeHandle fd, Endpoint peer, Endpoint local);

  uint16_t default_port_ = 0;
  std::vector<Endpoint> bindings_;
  Handler handler_;
  AcceptFilter accept_filter_;
  std::vector<NativeHandle> listen_fds_;
  NativeHandle wake_fd_ = kNoHandle;
  uint16_t bound_port_ = 0;
  std::string ipv4_only_reason_;
  std::thread accept_thread_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace plat
