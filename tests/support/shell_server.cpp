#include "support/shell_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace pltest {
namespace {

constexpr uint16_t kMagic = 0xB0BA;
constexpr uint16_t kClientLogin = 1;
constexpr uint16_t kServerStatsReq = 70;
constexpr size_t kLoginAcceptedSize = 43;
constexpr size_t kServerStatsSize = 75;
constexpr size_t kServerStatsVersionOffset = 44;
constexpr size_t kTextLength = 30;

void PutWord(std::vector<uint8_t>& frame, uint16_t value) {
  frame.push_back(static_cast<uint8_t>(value & 0xFF));
  frame.push_back(static_cast<uint8_t>(value >> 8));
}

void PutCountedText(std::vector<uint8_t>& frame, const std::string& text) {
  const size_t length = std::min(text.size(), kTextLength);
  frame.push_back(static_cast<uint8_t>(length));
  for (size_t i = 0; i < kTextLength; ++i)
    frame.push_back(i < length ? static_cast<uint8_t>(text[i]) : 0);
}

std::vector<uint8_t> Header(uint16_t length, uint16_t code) {
  std::vector<uint8_t> frame;
  PutWord(frame, kMagic);
  PutWord(frame, 0);
  PutWord(frame, length);
  PutWord(frame, code);
  return frame;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

TempDirectory::TempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "plshell-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

bool CopyExecutable(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  if (error) return false;
  std::filesystem::permissions(to, std::filesystem::perms::owner_all, error);
  return !error;
}

ProgramDirectory::ProgramDirectory(const std::string& program_name, uint16_t port)
    : program(directory.File(program_name)), log(directory.File("server.log")), port(port) {
  CopyExecutable(PLSERVER_BINARY, program);
  std::ofstream ini(directory.File("plserver.ini"));
  ini << "[Version]\nServerVersion=v1.2.0\n[Networking]\nTCPPort=" << port << "\nIP=127.0.0.1\n";
}

RawControlSocket::~RawControlSocket() {
  if (fd_ >= 0) close(fd_);
}

bool RawControlSocket::Connect(uint16_t port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  return fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool RawControlSocket::Send(const std::vector<uint8_t>& frame) {
  return send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

std::optional<std::vector<uint8_t>> RawControlSocket::Receive(size_t count, int timeout_ms) {
  std::vector<uint8_t> bytes(count);
  size_t done = 0;
  while (done < count) {
    pollfd fd{fd_, POLLIN, 0};
    if (poll(&fd, 1, timeout_ms) <= 0) return std::nullopt;
    ssize_t got = recv(fd_, bytes.data() + done, count - done, 0);
    if (got <= 0) return std::nullopt;
    done += static_cast<size_t>(got);
  }
  return bytes;
}

std::vector<uint8_t> ClientLoginFrame(const std::string& name, const std::string& password,
                                      const std::string& version) {
  std::vector<uint8_t> frame = Header(8 + 3 * (kTextLength + 1), kClientLogin);
  PutCountedText(frame, name);
  PutCountedText(frame, password);
  PutCountedText(frame, version);
  return frame;
}

std::vector<uint8_t> ServerStatsReqFrame() {
  return Header(8, kServerStatsReq);
}

uint16_t FrameWord(const std::vector<uint8_t>& frame, size_t offset) {
  if (offset + 2 > frame.size()) return 0;
  return static_cast<uint16_t>(frame[offset] | frame[offset + 1] << 8);
}

std::string CountedTextAt(const std::vector<uint8_t>& frame, size_t offset) {
  if (offset >= frame.size()) return {};
  size_t length = std::min<size_t>(frame[offset], frame.size() - offset - 1);
  return std::string(frame.begin() + static_cast<long>(offset) + 1,
                     frame.begin() + static_cast<long>(offset + 1 + length));
}

std::optional<std::string> ServerVersionOverTheWire(uint16_t port) {
  RawControlSocket socket;
  if (!socket.Connect(port) || !socket.Send(ClientLoginFrame("shelltest", "", "1.2.4"))) {
    return std::nullopt;
  }
  std::optional<std::vector<uint8_t>> accepted = socket.Receive(kLoginAcceptedSize, 3000);
  if (!accepted || FrameWord(*accepted, 0) != kMagic || FrameWord(*accepted, 6) != kClientLogin ||
      FrameWord(*accepted, 4) != kLoginAcceptedSize) {
    return std::nullopt;
  }
  if (!socket.Send(ServerStatsReqFrame())) return std::nullopt;
  std::optional<std::vector<uint8_t>> stats = socket.Receive(kServerStatsSize, 3000);
  if (!stats || FrameWord(*stats, 6) != kServerStatsReq) return std::nullopt;
  return CountedTextAt(*stats, kServerStatsVersionOffset);
}

}  // namespace pltest
