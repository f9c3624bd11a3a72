#include "support/webpost_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace pltest {
namespace {

int BoundSocket(int type, uint16_t port) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A TCP port whose UDP neighbour (port + 1) is free too, at this moment.
uint16_t FreePortPair() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int tcp = BoundSocket(SOCK_STREAM, 0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(tcp, reinterpret_cast<sockaddr*>(&address), &length);
    uint16_t port = ntohs(address.sin_port);
    int udp = port < 65534 ? BoundSocket(SOCK_DGRAM, static_cast<uint16_t>(port + 1)) : -1;
    close(tcp);
    if (udp >= 0) {
      close(udp);
      return port;
    }
  }
  return 0;
}

std::string IniText(const WebPostConfig& config, uint16_t port) {
  std::ostringstream ini;
  ini << "[Version]\r\nServerVersion=v1.2.0\r\n"
      << "[Passwords]\r\nServerPassword=" << config.server_password << "\r\n"
      << "[General]\r\nServername=" << config.servername << "\r\nMaxClients=" << config.max_clients
      << "\r\n"
      << "[Networking]\r\nTCPPort=" << port << "\r\nIP=" << config.ip << "\r\n"
      << "[WebStatus]\r\nActive=" << (config.active ? 1 : 0)
      << "\r\nParlowindSite_Active=" << (config.site_active ? 1 : 0)
      << "\r\nParlowindSite_DisplayInWebList=" << (config.display_in_web_list ? 1 : 0)
      << "\r\nWebPostURL=" << config.web_post_url << "\r\n";
  return ini.str();
}

void PutCountedText(std::vector<uint8_t>& frame, size_t offset, const std::string& text) {
  frame[offset] = static_cast<uint8_t>(text.size());
  for (size_t i = 0; i < text.size(); ++i) frame[offset + 1 + i] = static_cast<uint8_t>(text[i]);
}

// ClientLogin: header, then name, password and version as counted texts of 30.
std::vector<uint8_t> LoginFrame(const std::string& name) {
  std::vector<uint8_t> frame(101, 0);
  frame[0] = 0xBA;
  frame[1] = 0xB0;
  frame[4] = static_cast<uint8_t>(frame.size());
  frame[6] = 1;
  PutCountedText(frame, 8, name);
  PutCountedText(frame, 70, "1.3.0");
  return frame;
}

}  // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const std::string& value)
    : name_(name) {
  if (const char* previous = getenv(name)) previous_ = previous;
  setenv(name, value.c_str(), 1);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

WebPostFixture::WebPostFixture() {
  std::string pattern = (std::filesystem::temp_directory_path() / "plwebpost.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  directory_ = pattern + "/";
}

WebPostFixture::~WebPostFixture() {
  server_.reset();
  for (int fd : client_fds_) close(fd);
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

core::TParlowindServer* WebPostFixture::Start(const WebPostConfig& config) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    tcp_port_ = FreePortPair();
    std::ofstream(directory_ + "plserver.ini", std::ios::binary | std::ios::trunc)
        << IniText(config, tcp_port_);
    core::StartupEnvironment environment;
    environment.program_file = directory_ + "plserver";
    environment.arguments = {"-LOG=" + directory_ + "plserver.log"};
    server_ = std::make_unique<core::TParlowindServer>(std::move(environment));
    if (server_->Server_Init()) return server_.get();
    std::string message = server_->FatalMessage();
    server_.reset();
    if (message != "FATAL ERROR: Unable to initialize communication") {
      ADD_FAILURE() << "server start failed: " << message;
      return nullptr;
    }
  }
  ADD_FAILURE() << "no free port pair for the server";
  return nullptr;
}

std::vector<std::string> WebPostFixture::LogLines() const {
  std::ifstream file(directory_ + "plserver.log", std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t separator = line.find(" | ");
    lines.push_back(separator == std::string::npos ? line : line.substr(separator + 3));
  }
  return lines;
}

bool WebPostFixture::LoginClient(const std::string& name) {
  if (!server_) return false;
  const size_t before = server_->clients().Count();
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(tcp_port_);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return false;
  }
  client_fds_.push_back(fd);
  std::vector<uint8_t> frame = LoginFrame(name);
  if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size()))
    return false;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < until) {
    if (server_->clients().Count() > before) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace pltest
