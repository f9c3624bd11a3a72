// The parts of the TCP listener that need no system call: the connection threads, their
// bookkeeping and the wait for them at deactivation. The backends accept and bind.
#include <chrono>
#include <set>
#include <thread>

#include "platform/socket_address.h"
#include "platform/tcp_listener.h"
#include "platform/thread_start.h"

namespace plat {

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

void TcpListener::CloseConnectionsAndWait(uint32_t wait_ms) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  for (const auto& connection : shared_->connections) connection->RequestClose();
  shared_->all_ended_cv.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                 [this] { return shared_->running_threads == 0; });
}

size_t TcpListener::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->connections.size();
}

Status TcpListener::BindAll() {
  ipv4_only_reason_.clear();
  if (!bindings_.empty()) {
    for (const Endpoint& target : bindings_) {
      NativeHandle fd = kNoHandle;
      if (Status bound = BindSocket(target, FamilyOf(target), &fd); !bound.ok()) {
        CloseSockets();
        return bound;
      }
      if (bound_port_ == 0) bound_port_ = PortOf(fd);
      listen_fds_.push_back(fd);
    }
    return Status::Ok();
  }
  NativeHandle fd = kNoHandle;
  if (Status dual = BindSocket({IpAddress{}, default_port_}, AF_INET6, &fd); !dual.ok()) {
    // A host without IPv6 still serves IPv4.
    if (Status bound = BindSocket(Endpoint::Ipv4(0, default_port_), AF_INET, &fd); !bound.ok())
      return bound;
    ipv4_only_reason_ = dual.message();
  }
  bound_port_ = PortOf(fd);
  listen_fds_.push_back(fd);
  return Status::Ok();
}

Status TcpListener::StartAccepting() {
  Status started = StartThread(accept_thread_, "TCP accept", [this] { AcceptLoop(); });
  if (!started.ok()) Deactivate(0);  // the socket is not left bound without its thread
  return started;
}

}  // namespace plat
