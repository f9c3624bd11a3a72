// Listeners on 127.0.0.1 for the web poster's tests: one that records the raw bytes of every
// request, one that accepts and never reads, one whose accept queue is full so that connection
// attempts get no answer at all.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pltest {

struct RecordedRequest {
  std::string bytes;    // everything the peer sent before closing its side
  std::string peer_ip;  // the connecting side's address
  size_t sequence = 0;  // order of acceptance
};

// Records each connection's bytes until the peer closes. Complete requests are reported in the
// order their connections were accepted. Thread-safe.
class HttpRecorder {
 public:
  HttpRecorder();
  ~HttpRecorder();
  HttpRecorder(const HttpRecorder&) = delete;
  HttpRecorder& operator=(const HttpRecorder&) = delete;

  uint16_t port() const { return port_; }
  // Waits until `count` requests are complete or timeout_ms passed; returns those complete.
  std::vector<RecordedRequest> WaitForRequests(size_t count, int timeout_ms);
  std::vector<RecordedRequest> Requests();
  // Connections accepted so far, complete or not.
  size_t Accepted() const { return accepted_.load(); }

 private:
  void Run();

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> accepted_{0};
  std::mutex mutex_;
  std::vector<RecordedRequest> requests_;  // guarded by mutex_
  std::thread thread_;
};

// Accepts connections and then neither reads nor answers; keeps them open until destroyed.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  uint16_t port() const { return port_; }
  size_t Accepted() const { return accepted_.load(); }

 private:
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> accepted_{0};
  std::vector<int> open_fds_;  // accept thread only
  std::thread thread_;
};

// A listener that never accepts, with its queue filled by connections of its own: a further
// connection attempt is not answered (the kernel drops its SYN) until it gives up.
class StalledListener {
 public:
  StalledListener();
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;
  uint16_t port() const { return port_; }
  // False when the queue could not be filled (then connecting would not stall).
  bool stalled() const { return stalled_; }

 private:
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  bool stalled_ = false;
  std::vector<int> filler_fds_;
};

// A port on 127.0.0.1 on which nothing listens (was free a moment ago).
uint16_t ClosedPort();

}  // namespace pltest
