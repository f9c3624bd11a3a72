// The benchmark's own operating-system helpers, kept apart from the server's platform layer:
// non-blocking UDP sockets with batch receive, a readiness set over many of them, child
// processes and their figures from /proc. Everything POSIX in bench/ lives in bench_posix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/endpoint.h"

namespace bench {

// Steady clock in nanoseconds.
uint64_t NowNs();
// Sleeps until the steady clock reaches `deadline_ns`.
void SleepUntilNs(uint64_t deadline_ns);

// Raises the open-file limit to its hard limit (hundreds of sockets per run).
void RaiseFileLimit();

class BenchUdpSocket {
 public:
  // A non-blocking UDP socket bound to 127.0.0.1 (::1 when `ipv6`) on `port` (0: any free
  // port).
  static std::unique_ptr<BenchUdpSocket> Open(uint16_t port = 0, bool blocking = false,
                                              std::string* error = nullptr, bool ipv6 = false);
  ~BenchUdpSocket();
  BenchUdpSocket(const BenchUdpSocket&) = delete;
  BenchUdpSocket& operator=(const BenchUdpSocket&) = delete;

  bool SendTo(const uint8_t* data, size_t size, plat::Endpoint to);
  // One datagram (blocking sockets wait); its size, or nothing.
  std::optional<size_t> ReceiveFrom(uint8_t* buffer, size_t size, plat::Endpoint* from);
  // Up to `count` datagrams into `count` slots of `slot_size` bytes each; returns how many came
  // and their sizes. Never waits.
  size_t ReceiveBatch(uint8_t* slots, size_t slot_size, size_t count, size_t* sizes);
  int fd() const { return fd_; }
  uint16_t port() const { return port_; }

 private:
  BenchUdpSocket(int fd, uint16_t port) : fd_(fd), port_(port) {}
  int fd_;
  uint16_t port_;
};

// Readiness of many sockets, each registered with a caller's index.
class ReadySet {
 public:
  ReadySet();
  ~ReadySet();
  ReadySet(const ReadySet&) = delete;
  ReadySet& operator=(const ReadySet&) = delete;
  void Add(int fd, uint32_t index);
  // Indices of sockets with data, waiting at most timeout_ms.
  size_t Wait(uint32_t* indices, size_t capacity, int timeout_ms);

 private:
  int fd_;
};

// Event streams of the server's web view held open, as browsers showing the page would hold
// them: each sends its request, and one thread reads and drops what comes.
class WebStreams {
 public:
  // `count` streams to 127.0.0.1:`port`, each answered 200; nothing and an error text when one
  // is not.
  static std::unique_ptr<WebStreams> Open(uint16_t port, int count, std::string* error);
  ~WebStreams();
  WebStreams(const WebStreams&) = delete;
  WebStreams& operator=(const WebStreams&) = delete;

 private:
  struct Reader;
  explicit WebStreams(std::unique_ptr<Reader> reader);
  std::unique_ptr<Reader> reader_;
};

// Whether TCP `port` and UDP `port` + 1 can both be bound on every address just now.
bool PortPairFree(uint16_t port);

class ChildProcess {
 public:
  // Starts `program` with `arguments` in `directory`, standard input from /dev/null and the
  // other two to `output_file`.
  static std::unique_ptr<ChildProcess> Spawn(const std::string& program,
                                             const std::vector<std::string>& arguments,
                                             const std::string& directory,
                                             const std::string& output_file);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  int pid() const { return pid_; }
  bool Running();
  // Sends SIGTERM and waits up to timeout_ms, then kills it; the exit code or -1.
  int Stop(int timeout_ms = 5000);

 private:
  explicit ChildProcess(int pid) : pid_(pid) {}
  int pid_;
  bool reaped_ = false;
};

// CPU time (user + system) of a process so far, in nanoseconds; nothing when unreadable.
std::optional<uint64_t> ProcessCpuNs(int pid);
// Resident memory of a process in kB (VmRSS); nothing when unreadable.
std::optional<uint64_t> ProcessRssKb(int pid);

// The nice value of a process's main thread, and setting every thread of a process to one.
std::optional<int> ProcessNice(int pid);
bool SetProcessNice(int pid, int nice);

// A fresh temporary directory.
std::string MakeTemporaryDirectory(const std::string& prefix);
void RemoveDirectory(const std::string& path);

}  // namespace bench
