#include "platform/tcp_listener.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "platform/posix/socket_util.h"

namespace plat {

std::string SocketErrorText(const char* call, Endpoint endpoint, int error) {
  return std::string(call) + "(" + endpoint.ToString() + "): " + strerror(error);
}

// What the connection threads share with the listener; it outlives the listener object if a
// thread is still finishing.
struct TcpListener::Shared {
  std::mutex mutex;
  std::condition_variable all_ended_cv;
  std::set<std::shared_ptr<TcpConnection>> connections;
  size_t running_threads = 0;
};

TcpListener::TcpListener() : shared_(std::make_shared<Shared>()) {}

TcpListener::~TcpListener() {
  Deactivate(5000);
  // The handler belongs to our owner: no connection thread may still be calling it.
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->all_ended_cv.wait(lock, [this] { return shared_->running_threads == 0; });
}

std::optional<std::string> TcpListener::Activate() {
  std::vector<Endpoint> targets = bindings_;
  if (targets.empty()) targets.push_back(Endpoint{INADDR_ANY, default_port_});
  for (const Endpoint& target : targets) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SocketErrorText("socket", target, errno);
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = ToSockaddr(target);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, kBacklog) != 0) {
      std::string error = SocketErrorText("bind", target, errno);
      close(fd);
      for (NativeHandle open_fd : listen_fds_) close(static_cast<int>(open_fd));
      listen_fds_.clear();
      return error;
    }
    if (bound_port_ == 0) {
      socklen_t length = sizeof address;
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
      bound_port_ = ntohs(address.sin_port);
    }
    listen_fds_.push_back(fd);
  }
  wake_fd_ = eventfd(0, EFD_CLOEXEC);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return std::nullopt;
}

void TcpListener::AcceptLoop() {
  std::vector<pollfd> fds;
  for (NativeHandle fd : listen_fds_) fds.push_back({static_cast<int>(fd), POLLIN, 0});
  fds.push_back({static_cast<int>(wake_fd_), POLLIN, 0});
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds.back().revents & POLLIN) return;  // deactivated
    for (size_t i = 0; i + 1 < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      int fd = accept4(fds[i].fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
      if (fd < 0) {
        // Out of descriptors or a connection reset before it was taken: wait a moment.
        if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) poll(nullptr, 0, 50);
        continue;
      }
      int yes = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      sockaddr_in local{};
      length = sizeof local;
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
      StartConnection(fd, FromSockaddr(peer), FromSockaddr(local));
    }
  }
}

void TcpListener::StartConnection(NativeHandle fd, Endpoint peer, Endpoint local) {
  auto connection = std::make_shared<TcpConnection>(fd, peer, local);
  if (accept_filter_ && !accept_filter_(*connection)) {
    connection->Close();
    return;
  }
  std::shared_ptr<Shared> shared = shared_;
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->connections.insert(connection);
    ++shared->running_threads;
  }
  Handler handler = handler_;
  try {
    std::thread([shared, connection, handler] {
      // The handler runs until it has closed the connection itself, so that its disconnect
      // path (which unregisters the client) always runs: also after a close request from
      // another thread, and when the peer left with frames still buffered.
      int passes_after_close_request = 0;
      int passes_after_peer_gone = 0;
      for (;;) {
        if (handler) {
          handler(*connection);
        } else if (connection->WaitForData()) {
          uint8_t discard[4096];
          connection->Take(discard, sizeof discard);
        } else {
          break;
        }
        if (connection->IsClosed()) break;
        // A handler that fails to close a dead connection must not spin on it.
        if (!connection->IsOpen() && ++passes_after_close_request > 2) break;
        if (connection->PeerGone() && connection->Buffered() == 0 && ++passes_after_peer_gone > 2) break;
      }
      connection->Close();
      connection->ClearSlot();
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->connections.erase(connection);
      --shared->running_threads;
      shared->all_ended_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the connection cannot be served.
    connection->Close();
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->connections.erase(connection);
    --shared->running_threads;
    shared->all_ended_cv.notify_all();
  }
}

void TcpListener::Deactivate(uint32_t wait_ms) {
  if (accept_thread_.joinable()) {
    uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) { /* the thread ends anyway below */ }
    accept_thread_.join();
  }
  for (NativeHandle fd : listen_fds_) close(static_cast<int>(fd));
  listen_fds_.clear();
  if (wake_fd_ >= 0) close(wake_fd_);
  wake_fd_ = -1;

  std::unique_lock<std::mutex> lock(shared_->mutex);
  for (const auto& connection : shared_->connections) connection->RequestClose();
  shared_->all_ended_cv.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                 [this] { return shared_->running_threads == 0; });
}

size_t TcpListener::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->connections.size();
}

}  // namespace plat
