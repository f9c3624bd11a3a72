// Local stream sockets (Unix-domain) for the operator interface: a listener that owns its path
// in the file system, non-blocking streams for the server side, a poller that waits on several
// of them and can be woken from another thread, and a client socket with time limits for the
// tools. Access is guarded by the socket file's mode: whoever may write to it may connect.
//
// Threading: a listener, a stream and a client socket each belong to one thread; Poller::Wake
// may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/native_handle.h"
#include "platform/status.h"

namespace plat {

// Whether this build can serve local sockets at all (the Windows build cannot).
bool LocalSocketsSupported();

enum class LocalIo { kOk, kWouldBlock, kClosed };

// One accepted connection, non-blocking.
class LocalStream {
 public:
  explicit LocalStream(NativeHandle fd) : fd_(fd) {}
  ~LocalStream();
  LocalStream(const LocalStream&) = delete;
  LocalStream& operator=(const LocalStream&) = delete;

  // kOk with *count > 0, kWouldBlock when nothing is there, kClosed at the end or on an error.
  LocalIo Read(char* buffer, size_t size, size_t* count);
  // kOk with *count bytes taken (possibly fewer than size), kWouldBlock, or kClosed.
  LocalIo Write(const char* data, size_t size, size_t* count);
  NativeHandle handle() const { return fd_; }

 private:
  NativeHandle fd_;
};

class LocalListener {
 public:
  // Creates the socket file at `path` with exactly `mode` (it is never reachable with a wider
  // one). A socket file left by a process that is gone is replaced; a path that is something
  // else, or a socket another process still listens on, is an error. Nothing and an error text
  // on failure.
  static std::unique_ptr<LocalListener> Create(const std::string& path, unsigned mode,
                                               std::string* error);
  // Closes the socket and removes its file, if the file is still the one it created.
  ~LocalListener();
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  // One waiting connection, or null when there is none.
  std::unique_ptr<LocalStream> Accept();
  // Gives the socket file `mode` (who may connect from now on), if it is still the one this
  // listener made. Any thread.
  Status SetMode(unsigned mode) const;
  NativeHandle handle() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  LocalListener(NativeHandle fd, std::string path, uint64_t device, uint64_t inode)
      : fd_(fd), path_(std::move(path)), device_(device), inode_(inode) {}
  NativeHandle fd_;
  std::string path_;
  uint64_t device_;
  uint64_t inode_;
};

// Waits until one of several handles is ready, or Wake is called, or the time is up.
class Poller {
 public:
  struct Item {
    NativeHandle handle = kNoHandle;
    bool want_write = false;
    // Results of the last Wait.
    bool readable = false;  // data, an end of stream or an error to learn by reading
    bool writable = false;
  };

  // Throws std::runtime_error when the wake-up channel cannot be made.
  Poller();
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // Any thread: the current or next Wait returns.
  void Wake();
  // Marks the items that are ready; returns at the latest after timeout_ms (-1: no limit).
  void Wait(std::vector<Item>& items, int timeout_ms);

 private:
  NativeHandle wake_read_ = kNoHandle;
  NativeHandle wake_write_ = kNoHandle;
};

// The client side: a connection to a local socket whose every operation has a time limit.
class LocalClientSocket {
 public:
  static std::unique_ptr<LocalClientSocket> Connect(const std::string& path, std::string* error);
  ~LocalClientSocket();
  LocalClientSocket(const LocalClientSocket&) = delete;
  LocalClientSocket& operator=(const LocalClientSocket&) = delete;

  // Sends every byte within timeout_ms; false on a time-out or a closed connection.
  bool SendAll(const std::string& data, int timeout_ms);
  // Receives what is there (at most `size` bytes) within timeout_ms: kOk with *count > 0,
  // kWouldBlock on a time-out, kClosed at the end.
  LocalIo Receive(char* buffer, size_t size, int timeout_ms, size_t* count);

 private:
  explicit LocalClientSocket(NativeHandle fd) : fd_(fd) {}
  NativeHandle fd_;
};

// Whether `path` names a socket file, and its permission bits (for tests and checks).
std::optional<unsigned> LocalSocketMode(const std::string& path);

}  // namespace plat
