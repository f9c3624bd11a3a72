// The UDP socket of the voice channel and its listener thread.
//
// Threading: SendTo and SendBatch may be called from any thread once the socket is bound. The
// handler runs on the listener thread, one datagram at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/endpoint.h"
#include "platform/native_handle.h"
#include "platform/status.h"

namespace plat {

struct OutgoingDatagram {
  const uint8_t* data = nullptr;
  size_t size = 0;
  Endpoint to;
};

class UdpListener {
 public:
  static constexpr size_t kReceiveBufferSize = 8192;
  using Handler = std::function<void(uint8_t* data, size_t size, Endpoint from)>;

  UdpListener();
  ~UdpListener();
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;

  void SetDefaultPort(uint16_t port) { default_port_ = port; }
  void ClearBindings() { bindings_.clear(); }
  // The socket binds the first binding given; without one, the default port on every address.
  void AddBinding(Endpoint binding) { bindings_.push_back(binding); }
  void SetHandler(Handler handler) { handler_ = std::move(handler); }

  // Binds the socket and starts the listener thread; an error text when it cannot bind.
  Status Activate();
  // Closes the socket and ends the listener thread; no handler runs after it returns.
  void Deactivate();

  // Sends one datagram from the server's socket; false when it could not be sent.
  bool SendTo(const uint8_t* data, size_t size, Endpoint to) const;
  // Sends a batch with as few system calls as the platform allows; sent[i] tells whether
  // datagram i went out. Returns how many went out. `sent` is the caller's, so a pass of the
  // relay allocates nothing; datagrams beyond its size are not sent.
  size_t SendBatch(std::span<const OutgoingDatagram> batch, std::span<bool> sent) const;
  uint16_t BoundPort() const { return bound_port_; }

 private:
  void ListenLoop();
  static void CloseSocket(NativeHandle fd);

  uint16_t default_port_ = 0;
  std::vector<Endpoint> bindings_;
  Handler handler_;
  std::atomic<NativeHandle> fd_{kNoHandle};
  std::atomic<bool> stopping_{false};
  Endpoint bound_;
  uint16_t bound_port_ = 0;
  std::thread thread_;
};

}  // namespace plat
