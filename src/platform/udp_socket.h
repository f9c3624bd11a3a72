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
  IpAddress from;  // the server's address it leaves from; unspecified: the system chooses
};

class UdpListener {
 public:
  static constexpr size_t kReceiveBufferSize = 8192;
  // `local` is the server's address the datagram was sent to (unspecified where the system does
  // not say): answers leave from it, since a player's NAT or connected socket drops datagrams
  // from any other address of the host.
  using Handler =
      std::function<void(uint8_t* data, size_t size, const Endpoint& from, const IpAddress& local)>;

  UdpListener();
  ~UdpListener();
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;

  void SetDefaultPort(uint16_t port) { default_port_ = port; }
  void ClearBindings() { bindings_.clear(); }
  // The socket binds the first binding given; without one, the default port on every IPv4 and
  // IPv6 address (IPv4 only where the host has no IPv6: Ipv4OnlyReason says why).
  void AddBinding(Endpoint binding) { bindings_.push_back(binding); }
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  // The DSCP every datagram of the socket carries (46: expedited forwarding; 0: unmarked).
  void SetDscp(int dscp) { dscp_ = dscp; }

  // Binds the socket and starts the listener thread; an error text when it cannot bind.
  Status Activate();
  // Closes the socket and ends the listener thread; no handler runs after it returns.
  void Deactivate();

  // Sends one datagram from the server's socket, from the address `from` (unspecified: the
  // system chooses); false when it could not be sent.
  bool SendTo(const uint8_t* data, size_t size, const Endpoint& to,
              const IpAddress& from = IpAddress{}) const;
  // Sends a batch with as few system calls as the platform allows; sent[i] tells whether
  // datagram i went out. Returns how many went out. `sent` is the caller's, so a pass of the
  // relay allocates nothing; datagrams beyond its size are not sent.
  size_t SendBatch(std::span<const OutgoingDatagram> batch, std::span<bool> sent) const;
  uint16_t BoundPort() const { return bound_port_; }
  // Empty, or why the socket bound to every address takes IPv4 only.
  const std::string& Ipv4OnlyReason() const { return ipv4_only_reason_; }

 private:
  // The backend's part: a datagram socket of `family` bound to `target` and the address it got,
  // or an error text naming the call and the address (an unspecified IPv6 target takes IPv4
  // too); the buffer sizes and the receive time-out; the receive loop; closing.
  static Status BindSocket(Endpoint target, int family, NativeHandle* fd, Endpoint* bound);
  static void SetBufferSizes(NativeHandle fd, int bytes);
  static void SetReceiveWait(NativeHandle fd, uint32_t wait_ms);
  // Marks outgoing datagrams with the DSCP (best effort: a system may refuse or ignore it).
  static void SetDscpMark(NativeHandle fd, int family, int dscp);
  void ListenLoop();
  static void CloseSocket(NativeHandle fd);
  // Runs the handler on one datagram; whatever it throws ends with that datagram.
  void Deliver(uint8_t* data, size_t size, const Endpoint& from, const IpAddress& local);

  uint16_t default_port_ = 0;
  std::vector<Endpoint> bindings_;
  Handler handler_;
  int dscp_ = 0;
  std::string ipv4_only_reason_;
  std::atomic<int> family_{0};  // of the open socket
  std::atomic<NativeHandle> fd_{kNoHandle};
  std::atomic<bool> stopping_{false};
  Endpoint bound_;
  uint16_t bound_port_ = 0;
  std::thread thread_;
};

}  // namespace plat
