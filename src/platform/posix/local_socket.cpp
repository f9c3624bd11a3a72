#include "platform/local_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "platform/clock.h"

namespace plat {
namespace {

std::string ErrorText(const char* call, const std::string& path, int error) {
  return std::string(call) + "(" + path + "): " + strerror(error);
}

bool FillAddress(const std::string& path, sockaddr_un& address, std::string* error) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    if (error)
      *error = "socket path \"" + path + "\" is empty or longer than " +
               std::to_string(sizeof address.sun_path - 1) + " bytes";
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// A socket file that nobody listens on any more may go; anything else stays.
bool RemoveIfStale(const std::string& path, std::string* error) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return true;  // nothing there
  if (!S_ISSOCK(info.st_mode)) {
    if (error) *error = path + " exists and is not a socket; not replaced";
    return false;
  }
  sockaddr_un address;
  if (!FillAddress(path, address, error)) return false;
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) {
    if (error) *error = ErrorText("socket", path, errno);
    return false;
  }
  const bool answered = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  const int connect_error = errno;
  close(probe);
  if (answered) {
    if (error) *error = "another process listens on " + path;
    return false;
  }
  if (connect_error != ECONNREFUSED && connect_error != ENOENT) {
    if (error) *error = ErrorText("connect", path, connect_error);
    return false;
  }
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    if (error) *error = ErrorText("unlink", path, errno);
    return false;
  }
  return true;
}

int Remaining(uint32_t started, int timeout_ms) {
  uint32_t waited = TickCount() - started;
  return waited >= static_cast<uint32_t>(timeout_ms) ? 0 : timeout_ms - static_cast<int>(waited);
}

bool WaitFor(int fd, short events, int timeout_ms) {
  pollfd entry{fd, events, 0};
  for (;;) {
    int ready = poll(&entry, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

}  // namespace

bool LocalSocketsSupported() {
  return true;
}

LocalStream::~LocalStream() {
  if (fd_ != kNoHandle) close(static_cast<int>(fd_));
}

LocalIo LocalStream::Read(char* buffer, size_t size, size_t* count) {
  for (;;) {
    ssize_t got = recv(static_cast<int>(fd_), buffer, size, 0);
    if (got > 0) {
      *count = static_cast<size_t>(got);
      return LocalIo::kOk;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return LocalIo::kWouldBlock;
    return LocalIo::kClosed;
  }
}

LocalIo LocalStream::Write(const char* data, size_t size, size_t* count) {
  for (;;) {
    ssize_t sent = send(static_cast<int>(fd_), data, size, MSG_NOSIGNAL);
    if (sent >= 0) {
      *count = static_cast<size_t>(sent);
      return LocalIo::kOk;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return LocalIo::kWouldBlock;
    return LocalIo::kClosed;
  }
}

std::unique_ptr<LocalListener> LocalListener::Create(const std::string& path, unsigned mode,
                                                     std::string* error) {
  sockaddr_un address;
  if (!FillAddress(path, address, error)) return nullptr;
  if (!RemoveIfStale(path, error)) return nullptr;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = ErrorText("socket", path, errno);
    return nullptr;
  }
  // The file is created no wider than `mode` (no moment in which others could connect), then
  // given exactly `mode`.
  const mode_t old_mask = umask(static_cast<mode_t>(~mode & 0777));
  const int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int bind_error = errno;
  umask(old_mask);
  if (bound != 0) {
    if (error) *error = ErrorText("bind", path, bind_error);
    close(fd);
    return nullptr;
  }
  struct stat info;
  if (chmod(path.c_str(), static_cast<mode_t>(mode)) != 0 || lstat(path.c_str(), &info) != 0 ||
      listen(fd, 16) != 0) {
    if (error) *error = ErrorText("listen", path, errno);
    close(fd);
    unlink(path.c_str());
    return nullptr;
  }
  return std::unique_ptr<LocalListener>(new LocalListener(
      fd, path, static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)));
}

Status LocalListener::SetMode(unsigned mode) const {
  struct stat info;
  if (lstat(path_.c_str(), &info) != 0 || static_cast<uint64_t>(info.st_dev) != device_ ||
      static_cast<uint64_t>(info.st_ino) != inode_)
    return Status::Error(path_ + " is no longer the server's socket");
  if (chmod(path_.c_str(), static_cast<mode_t>(mode)) != 0)
    return Status::Error(ErrorText("chmod", path_, errno));
  return Status::Ok();
}

LocalListener::~LocalListener() {
  close(static_cast<int>(fd_));
  struct stat info;
  // Only the file this listener made: a later server may have replaced it.
  if (lstat(path_.c_str(), &info) == 0 && static_cast<uint64_t>(info.st_dev) == device_ &&
      static_cast<uint64_t>(info.st_ino) == inode_) {
    unlink(path_.c_str());
  }
}

std::unique_ptr<LocalStream> LocalListener::Accept() {
  for (;;) {
    int fd = accept4(static_cast<int>(fd_), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) return std::make_unique<LocalStream>(fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return nullptr;
  }
}

Poller::Poller() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error(std::string("pipe: ") + strerror(errno));
  wake_read_ = fds[0];
  wake_write_ = fds[1];
}

Poller::~Poller() {
  close(static_cast<int>(wake_read_));
  close(static_cast<int>(wake_write_));
}

void Poller::Wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up.
  ssize_t ignored = write(static_cast<int>(wake_write_), &byte, 1);
  (void)ignored;
}

void Poller::Wait(std::vector<Item>& items, int timeout_ms) {
  std::vector<pollfd> entries;
  entries.reserve(items.size() + 1);
  entries.push_back({static_cast<int>(wake_read_), POLLIN, 0});
  for (const Item& item : items) {
    short events = POLLIN;
    if (item.want_write) events |= POLLOUT;
    entries.push_back({static_cast<int>(item.handle), events, 0});
  }
  int ready = poll(entries.data(), entries.size(), timeout_ms);
  for (size_t i = 0; i < items.size(); ++i) {
    const short revents = ready > 0 ? entries[i + 1].revents : 0;
    items[i].readable = (revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    items[i].writable = (revents & (POLLOUT | POLLERR)) != 0;
  }
  if (ready > 0 && entries[0].revents) {
    char drain[64];
    while (read(static_cast<int>(wake_read_), drain, sizeof drain) > 0) {
    }
  }
}

std::unique_ptr<LocalClientSocket> LocalClientSocket::Connect(const std::string& path,
                                                              std::string* error) {
  sockaddr_un address;
  if (!FillAddress(path, address, error)) return nullptr;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = ErrorText("socket", path, errno);
    return nullptr;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = ErrorText("connect", path, errno);
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return std::unique_ptr<LocalClientSocket>(new LocalClientSocket(fd));
}

LocalClientSocket::~LocalClientSocket() {
  close(static_cast<int>(fd_));
}

bool LocalClientSocket::SendAll(const std::string& data, int timeout_ms) {
  const uint32_t started = TickCount();
  size_t done = 0;
  while (done < data.size()) {
    ssize_t sent =
        send(static_cast<int>(fd_), data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int left = Remaining(started, timeout_ms);
      if (left == 0 || !WaitFor(static_cast<int>(fd_), POLLOUT, left)) return false;
      continue;
    }
    return false;
  }
  return true;
}

LocalIo LocalClientSocket::Receive(char* buffer, size_t size, int timeout_ms, size_t* count) {
  const uint32_t started = TickCount();
  for (;;) {
    ssize_t got = recv(static_cast<int>(fd_), buffer, size, 0);
    if (got > 0) {
      *count = static_cast<size_t>(got);
      return LocalIo::kOk;
    }
    if (got == 0) return LocalIo::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return LocalIo::kClosed;
    int left = Remaining(started, timeout_ms);
    if (timeout_ms >= 0 && (left == 0 || !WaitFor(static_cast<int>(fd_), POLLIN, left)))
      return LocalIo::kWouldBlock;
    if (timeout_ms < 0) WaitFor(static_cast<int>(fd_), POLLIN, -1);
  }
}

std::optional<unsigned> LocalSocketMode(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return std::nullopt;
  return static_cast<unsigned>(info.st_mode & 07777);
}

}  // namespace plat
