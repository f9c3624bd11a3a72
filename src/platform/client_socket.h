// Client-side sockets for the protocol client library (tests, benchmark, operator tools): a
// blocking-style TCP socket whose every operation has a time limit, and a UDP socket.
//
// Threading: one object is used by one thread at a time; sending on a TcpClientSocket while
// another thread receives on it is allowed (the kernel serialises the two directions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/endpoint.h"
#include "platform/native_handle.h"

namespace plat {

// Reads a dotted IPv4 address, an IPv6 literal (with or without brackets) or "localhost" (taken
// as 127.0.0.1) without any name lookup.
std::optional<IpAddress> ParseClientHost(const std::string& host);
// As ParseClientHost, then a host name looked up for every IPv4 and IPv6 address, in the
// resolver's order; none and an error text when there is none.
std::vector<IpAddress> ResolveHost(const std::string& host, std::string* error);

enum class IoStatus { kOk, kTimeout, kClosed, kError };

struct TcpClientOptions {
  int connect_timeout_ms = 2000;
  // When above 0, the kernel receive buffer asked for before connecting (a small value makes a
  // reader that stops reading fill up quickly).
  int receive_buffer_bytes = 0;
  bool no_delay = true;
  // When not 0, the local IPv4 address to connect to an IPv4 server from (tests stand for other
  // hosts with 127.0.0.x).
  uint32_t local_ip = 0;
};

class TcpClientSocket {
 public:
  // Connects to `to`; nothing and an error text when it cannot within the time limit.
  static std::unique_ptr<TcpClientSocket> Connect(Endpoint to, const TcpClientOptions& options,
                                                  std::string* error);
  ~TcpClientSocket();
  TcpClientSocket(const TcpClientSocket&) = delete;
  TcpClientSocket& operator=(const TcpClientSocket&) = delete;

  // Sends every byte, waiting at most timeout_ms in all.
  IoStatus SendAll(const uint8_t* data, size_t size, int timeout_ms);
  // Receives what is there (at most `size` bytes), waiting at most timeout_ms for the first byte.
  // `received` is set on kOk; kClosed means the peer closed its side (or reset the connection).
  IoStatus Receive(uint8_t* buffer, size_t size, int timeout_ms, size_t* received);
  // Closes the sending side only.
  void ShutdownWrite();
  Endpoint Local() const { return local_; }

 private:
  TcpClientSocket(NativeHandle fd, Endpoint local) : fd_(fd), local_(local) {}
  NativeHandle fd_;
  Endpoint local_;
};

class UdpClientSocket {
 public:
  // Binds a UDP socket to `local` (port 0: any free port).
  static std::unique_ptr<UdpClientSocket> Bind(Endpoint local, std::string* error);
  ~UdpClientSocket();
  UdpClientSocket(const UdpClientSocket&) = delete;
  UdpClientSocket& operator=(const UdpClientSocket&) = delete;

  bool SendTo(const uint8_t* data, size_t size, Endpoint to);
  // One datagram of at most `size` bytes within timeout_ms.
  IoStatus Receive(uint8_t* buffer, size_t size, int timeout_ms, size_t* received, Endpoint* from);
  // Asks the system to report each datagram's TOS byte; false where it cannot.
  bool ReportTrafficClass();
  // The TOS byte of the last datagram received after ReportTrafficClass (0 before).
  uint8_t LastTrafficClass() const { return last_traffic_class_; }
  Endpoint Local() const { return local_; }

 private:
  UdpClientSocket(NativeHandle fd, Endpoint local) : fd_(fd), local_(local) {}
  NativeHandle fd_;
  Endpoint local_;
  uint8_t last_traffic_class_ = 0;
};

}  // namespace plat
