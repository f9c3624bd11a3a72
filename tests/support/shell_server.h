// Test support for the shell's black-box tests: a temporary program directory holding a copy of
// the server binary, and a plain loopback socket that speaks just enough of the control
// protocol to log in and ask for the server's statistics.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/blackbox.h"

namespace pltest {

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Copies `from` to `to`, keeping it executable.
bool CopyExecutable(const std::string& from, const std::string& to);

// A program directory with the server binary under `program_name` and a configuration file
// that keeps it on 127.0.0.1:`port`.
struct ProgramDirectory {
  ProgramDirectory(const std::string& program_name, uint16_t port);
  TempDirectory directory;
  std::string program;
  std::string log;  // the log file, given to the server with -LOG=
  uint16_t port;
  std::vector<std::string> Arguments() const { return {"-LOG=" + log}; }
};

class RawControlSocket {
 public:
  RawControlSocket() = default;
  ~RawControlSocket();
  RawControlSocket(const RawControlSocket&) = delete;
  RawControlSocket& operator=(const RawControlSocket&) = delete;

  bool Connect(uint16_t port);
  bool Send(const std::vector<uint8_t>& frame);
  // Exactly `count` bytes, or nothing when they do not arrive within timeout_ms.
  std::optional<std::vector<uint8_t>> Receive(size_t count, int timeout_ms);

 private:
  int fd_ = -1;
};

// Control frames.
std::vector<uint8_t> ClientLoginFrame(const std::string& name, const std::string& password,
                                      const std::string& version);
std::vector<uint8_t> ServerStatsReqFrame();
uint16_t FrameWord(const std::vector<uint8_t>& frame, size_t offset);
std::string CountedTextAt(const std::vector<uint8_t>& frame, size_t offset);

// Logs in on a new connection and asks for ServerStats: the server's version text, or nothing
// when any step fails.
std::optional<std::string> ServerVersionOverTheWire(uint16_t port);

}  // namespace pltest
