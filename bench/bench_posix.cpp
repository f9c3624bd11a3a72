#include "bench_posix.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/socket_address.h"

namespace bench {
namespace {

bool CanBind(int type, uint16_t port) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  plat::SocketAddress address = plat::ToSockaddr(plat::Endpoint::Ipv4(INADDR_ANY, port));
  bool bound = bind(fd, address.get(), address.length) == 0;
  close(fd);
  return bound;
}

}  // namespace

uint64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void SleepUntilNs(uint64_t deadline_ns) {
  timespec until{static_cast<time_t>(deadline_ns / 1000000000u),
                 static_cast<long>(deadline_ns % 1000000000u)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

void RaiseFileLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

std::unique_ptr<BenchUdpSocket> BenchUdpSocket::Open(uint16_t port, bool blocking,
                                                     std::string* error, bool ipv6) {
  int fd = socket(ipv6 ? AF_INET6 : AF_INET,
                  SOCK_DGRAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) {
    if (error) *error = std::string("socket: ") + strerror(errno);
    return nullptr;
  }
  plat::IpAddress loopback = plat::IpAddress::FromIpv4(INADDR_LOOPBACK);
  if (ipv6) loopback = *plat::ParseIpAddress("::1");
  plat::SocketAddress address = plat::ToSockaddr(plat::Endpoint{loopback, port});
  if (bind(fd, address.get(), address.length) != 0) {
    if (error) *error = std::string("bind: ") + strerror(errno);
    close(fd);
    return nullptr;
  }
  int buffer_bytes = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer_bytes, sizeof buffer_bytes);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer_bytes, sizeof buffer_bytes);
  return std::unique_ptr<BenchUdpSocket>(new BenchUdpSocket(fd, plat::LocalEndpointOf(fd).port));
}

BenchUdpSocket::~BenchUdpSocket() {
  close(fd_);
}

bool BenchUdpSocket::SendTo(const uint8_t* data, size_t size, plat::Endpoint to) {
  plat::SocketAddress address = plat::ToSockaddr(to);
  ssize_t sent;
  do {
    sent = sendto(fd_, data, size, MSG_NOSIGNAL, address.get(), address.length);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

std::optional<size_t> BenchUdpSocket::ReceiveFrom(uint8_t* buffer, size_t size,
                                                  plat::Endpoint* from) {
  plat::SocketAddress source;
  ssize_t received = recvfrom(fd_, buffer, size, 0, source.get(), &source.length);
  if (received < 0) return std::nullopt;
  if (from) *from = plat::FromSockaddr(source);
  return static_cast<size_t>(received);
}

size_t BenchUdpSocket::ReceiveBatch(uint8_t* slots, size_t slot_size, size_t count, size_t* sizes) {
  constexpr size_t kMaxBatch = 64;
  count = std::min(count, kMaxBatch);
  iovec vectors[kMaxBatch];
  mmsghdr messages[kMaxBatch];
  for (size_t i = 0; i < count; ++i) {
    vectors[i] = {slots + i * slot_size, slot_size};
    messages[i] = {};
    messages[i].msg_hdr.msg_iov = &vectors[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  int received = recvmmsg(fd_, messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  if (received <= 0) return 0;
  for (int i = 0; i < received; ++i) sizes[i] = messages[i].msg_len;
  return static_cast<size_t>(received);
}

ReadySet::ReadySet() : fd_(epoll_create1(EPOLL_CLOEXEC)) {}

ReadySet::~ReadySet() {
  close(fd_);
}

void ReadySet::Add(int fd, uint32_t index) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u32 = index;
  epoll_ctl(fd_, EPOLL_CTL_ADD, fd, &event);
}

size_t ReadySet::Wait(uint32_t* indices, size_t capacity, int timeout_ms) {
  constexpr size_t kMaxEvents = 256;
  epoll_event events[kMaxEvents];
  int ready = epoll_wait(fd_, events, static_cast<int>(std::min(capacity, kMaxEvents)), timeout_ms);
  if (ready <= 0) return 0;
  for (int i = 0; i < ready; ++i) indices[i] = events[i].data.u32;
  return static_cast<size_t>(ready);
}

struct WebStreams::Reader {
  std::vector<int> fds;
  std::atomic<bool> stop{false};
  std::thread thread;

  void Run() {
    std::vector<pollfd> polled;
    for (int fd : fds) polled.push_back({fd, POLLIN, 0});
    char buffer[16384];
    while (!stop.load()) {
      if (poll(polled.data(), polled.size(), 100) <= 0) continue;
      for (pollfd& entry : polled) {
        if (!(entry.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        // A stream the server closed is no longer watched.
        if (recv(entry.fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0) entry.fd = -1;
      }
    }
  }
};

namespace {

// One stream: connected, asked for, and its answer's head read; the descriptor, or -1 when the
// answer is not 200 within two seconds.
int OpenWebStream(uint16_t port, std::string* error) {
  static const std::string kRequest = "GET /events HTTP/1.1\r\nHost: bench\r\n\r\n";
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  plat::SocketAddress address = plat::ToSockaddr(plat::Endpoint::Ipv4(0x7F000001, port));
  if (fd < 0 || connect(fd, address.get(), address.length) != 0 ||
      send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(kRequest.size())) {
    *error = std::string("web stream: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  pollfd readable{fd, POLLIN, 0};
  char head[12] = {};
  if (poll(&readable, 1, 2000) != 1 || recv(fd, head, sizeof head, MSG_WAITALL) != sizeof head ||
      std::string(head, sizeof head) != "HTTP/1.1 200") {
    *error = "web stream: no 200 answer";
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

WebStreams::WebStreams(std::unique_ptr<Reader> reader) : reader_(std::move(reader)) {}

std::unique_ptr<WebStreams> WebStreams::Open(uint16_t port, int count, std::string* error) {
  auto reader = std::make_unique<Reader>();
  // One after the other, as readers arrive: the view answers a few requests per address at once.
  for (int i = 0; i < count; ++i) {
    const int fd = OpenWebStream(port, error);
    if (fd < 0) {
      for (int open_fd : reader->fds) close(open_fd);
      return nullptr;
    }
    reader->fds.push_back(fd);
  }
  Reader* running = reader.get();
  reader->thread = std::thread([running] { running->Run(); });
  return std::unique_ptr<WebStreams>(new WebStreams(std::move(reader)));
}

WebStreams::~WebStreams() {
  reader_->stop = true;
  reader_->thread.join();
  for (int fd : reader_->fds) close(fd);
}

bool PortPairFree(uint16_t port) {
  return port < 65535 && CanBind(SOCK_STREAM, port) && CanBind(SOCK_DGRAM, port + 1);
}

std::unique_ptr<ChildProcess> ChildProcess::Spawn(const std::string& program,
                                                  const std::vector<std::string>& arguments,
                                                  const std::string& directory,
                                                  const std::string& output_file) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return nullptr;
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    int input = open("/dev/null", O_RDONLY);
    int output = open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input >= 0) dup2(input, 0);
    if (output >= 0) {
      dup2(output, 1);
      dup2(output, 2);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

ChildProcess::~ChildProcess() {
  if (!reaped_) Stop(2000);
}

bool ChildProcess::Running() {
  if (reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

int ChildProcess::Stop(int timeout_ms) {
  if (reaped_) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  reaped_ = true;
  return -1;
}

std::optional<uint64_t> ProcessCpuNs(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name may hold spaces; the fields after its closing parenthesis are fixed.
  size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  uint64_t utime = 0, stime = 0;
  // Field 3 (state) is the first after the name; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::stoull(field);
    if (index == 15) stime = std::stoull(field);
  }
  const uint64_t ticks_per_second = static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
  return (utime + stime) * 1000000000u / ticks_per_second;
}

std::optional<uint64_t> ProcessRssKb(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
  }
  return std::nullopt;
}

std::optional<int> ProcessNice(int pid) {
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
  if (nice == -1 && errno != 0) return std::nullopt;
  return nice;
}

bool SetProcessNice(int pid, int nice) {
  bool all = true;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    id_t tid = static_cast<id_t>(std::stoul(task.path().filename().string()));
    all = setpriority(PRIO_PROCESS, tid, nice) == 0 && all;
  }
  return all && !error;
}

std::string MakeTemporaryDirectory(const std::string& prefix) {
  std::mt19937_64 random(std::random_device{}());
  for (;;) {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / (prefix + std::to_string(random() % 100000000));
    if (std::filesystem::create_directory(path)) return path.string();
  }
}

void RemoveDirectory(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace bench
