#include "platform/tcp_listener.h"

#include <chrono>
#include <set>

#include "platform/win32/winsock_util.h"

namespace plat {
namespace {

HANDLE AsEvent(NativeHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

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
  EnsureWinsock();
  std::vector<Endpoint> targets = bindings_;
  if (targets.empty()) targets.push_back(Endpoint{INADDR_ANY, default_port_});
  for (const Endpoint& target : targets) {
    SOCKET fd =
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (fd == INVALID_SOCKET) return SocketErrorText("socket", target, WSAGetLastError());
    // A port another program holds is an error here, as it is elsewhere: never share it.
    BOOL yes = TRUE;
    setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
    sockaddr_in address = ToSockaddr(target);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, kBacklog) != 0) {
      std::string error = SocketErrorText("bind", target, WSAGetLastError());
      closesocket(fd);
      for (NativeHandle open_fd : listen_fds_) closesocket(AsSocket(open_fd));
      listen_fds_.clear();
      return error;
    }
    if (bound_port_ == 0) {
      int length = sizeof address;
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
      bound_port_ = ntohs(address.sin_port);
    }
    listen_fds_.push_back(AsHandle(fd));
  }
  wake_fd_ = reinterpret_cast<NativeHandle>(WSACreateEvent());
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return std::nullopt;
}

void TcpListener::AcceptLoop() {
  // One event per listening socket, then the wake-up event last.
  std::vector<WSAEVENT> events;
  for (NativeHandle fd : listen_fds_) {
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(AsSocket(fd), event, FD_ACCEPT);
    events.push_back(event);
  }
  events.push_back(AsEvent(wake_fd_));
  for (;;) {
    DWORD which = WSAWaitForMultipleEvents(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                           WSA_INFINITE, FALSE);
    if (which == WSA_WAIT_FAILED || which == WSA_WAIT_EVENT_0 + events.size() - 1) break;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
      WSANETWORKEVENTS happened{};
      if (WSAEnumNetworkEvents(AsSocket(listen_fds_[i]), events[i], &happened) != 0) continue;
      if (!(happened.lNetworkEvents & FD_ACCEPT)) continue;
      // Take every connection that is waiting; FD_ACCEPT is posted again after each accept.
      for (;;) {
        sockaddr_in peer{};
        int length = sizeof peer;
        SOCKET fd = accept(AsSocket(listen_fds_[i]), reinterpret_cast<sockaddr*>(&peer), &length);
        if (fd == INVALID_SOCKET) {
          int error = WSAGetLastError();
          // Out of sockets or memory: wait a moment before the next try.
          if (error == WSAEMFILE || error == WSAENOBUFS) Sleep(50);
          break;
        }
        SetHandleInformation(reinterpret_cast<HANDLE>(fd), HANDLE_FLAG_INHERIT, 0);
        BOOL yes = TRUE;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
        sockaddr_in local{};
        length = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
        StartConnection(AsHandle(fd), FromSockaddr(peer), FromSockaddr(local));
      }
    }
  }
  for (size_t i = 0; i + 1 < events.size(); ++i) WSACloseEvent(events[i]);
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
        if (connection->PeerGone() && connection->Buffered() == 0 && ++passes_after_peer_gone > 2)
          break;
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
    WSASetEvent(AsEvent(wake_fd_));
    accept_thread_.join();
  }
  for (NativeHandle fd : listen_fds_) closesocket(AsSocket(fd));
  listen_fds_.clear();
  if (wake_fd_ != kNoHandle) WSACloseEvent(AsEvent(wake_fd_));
  wake_fd_ = kNoHandle;

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
