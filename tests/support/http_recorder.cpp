#include "support/http_recorder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace pltest {
namespace {

constexpr int kPollMs = 20;
constexpr size_t kMaxRequestBytes = 1 << 20;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A listening socket on 127.0.0.1 on a free port.
int ListenOnLoopback(int backlog, uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address = Loopback(0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0) {
    close(fd);
    throw std::runtime_error("bind/listen on 127.0.0.1");
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

struct OpenConnection {
  int fd;
  RecordedRequest request;
};

std::string IpText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

std::vector<RecordedRequest> InAcceptOrder(std::vector<RecordedRequest> requests) {
  std::sort(
      requests.begin(), requests.end(),
      [](const RecordedRequest& a, const RecordedRequest& b) { return a.sequence < b.sequence; });
  return requests;
}

}  // namespace

HttpRecorder::HttpRecorder() {
  listen_fd_ = ListenOnLoopback(16, &port_);
  thread_ = std::thread([this] { Run(); });
}

HttpRecorder::~HttpRecorder() {
  stop_ = true;
  thread_.join();
  close(listen_fd_);
}

void HttpRecorder::Run() {
  std::vector<OpenConnection> open;
  while (!stop_) {
    std::vector<pollfd> fds{{listen_fd_, POLLIN, 0}};
    for (const OpenConnection& connection : open) fds.push_back({connection.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), kPollMs) <= 0) continue;
    // Connections first, in order, so that earlier connections are recorded first.
    for (size_t i = open.size(); i-- > 0;) {
      if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      ssize_t got = recv(open[i].fd, buffer, sizeof buffer, 0);
      if (got > 0 && open[i].request.bytes.size() < kMaxRequestBytes) {
        open[i].request.bytes.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got > 0) continue;
      close(open[i].fd);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(open[i].request));
      }
      open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (fds[0].revents & POLLIN) {
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
      if (fd >= 0) {
        open.push_back({fd, RecordedRequest{{}, IpText(peer), accepted_++}});
      }
    }
  }
  for (const OpenConnection& connection : open) close(connection.fd);
}

std::vector<RecordedRequest> HttpRecorder::WaitForRequests(size_t count, int timeout_ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (requests_.size() >= count || std::chrono::steady_clock::now() >= until) {
        return InAcceptOrder(requests_);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<RecordedRequest> HttpRecorder::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return InAcceptOrder(requests_);
}

SilentListener::SilentListener() {
  listen_fd_ = ListenOnLoopback(16, &port_);
  thread_ = std::thread([this] {
    while (!stop_) {
      pollfd fds[1] = {{listen_fd_, POLLIN, 0}};
      if (poll(fds, 1, kPollMs) <= 0) continue;
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      open_fds_.push_back(fd);
      ++accepted_;
    }
  });
}

SilentListener::~SilentListener() {
  stop_ = true;
  thread_.join();
  for (int fd : open_fds_) close(fd);
  close(listen_fd_);
}

StalledListener::StalledListener() {
  listen_fd_ = ListenOnLoopback(0, &port_);
  // Connect until an attempt hangs: from then on the queue is full and SYNs are dropped.
  for (int attempt = 0; attempt < 16 && !stalled_; ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address = Loopback(port_);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd fds[1] = {{fd, POLLOUT, 0}};
    stalled_ = poll(fds, 1, 200) == 0;
    filler_fds_.push_back(fd);
  }
}

StalledListener::~StalledListener() {
  for (int fd : filler_fds_) close(fd);
  close(listen_fd_);
}

uint16_t ClosedPort() {
  uint16_t port = 0;
  close(ListenOnLoopback(1, &port));
  return port;
}

}  // namespace pltest
