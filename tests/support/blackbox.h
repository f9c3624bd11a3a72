// Helpers for tests that work with real files and with the real server binary: temporary
// directories, whole-file reads and writes, free port pairs, the binary installed in a program
// directory, and a server process started through fork/exec with standard input not a terminal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace pltest {

// A fresh directory under the system's temporary directory, removed with everything in it.
// Traversable by every user, so a server dropped to an unprivileged user can reach it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);  // empty when missing
// `text` in UTF-16LE with its byte-order mark, as Windows editors save "Unicode".
std::string Utf16Le(const std::u16string& text);
void WriteFile(const std::string& path, const std::string& contents);
bool FileExists(const std::string& path);
// Modification time in nanoseconds, or -1 when missing.
long long ModificationTimeNs(const std::string& path);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> DirectoryEntries(const std::string& path);

// Whether a socket of that kind could bind the port on all local addresses right now.
bool TcpPortFree(int port);
bool UdpPortFree(int port);
// A socket that holds a port on all local addresses for as long as it lives (a TCP one
// listens), without SO_REUSEADDR, so nobody else can bind it.
class PortHolder {
 public:
  PortHolder(bool tcp, int port);
  ~PortHolder();
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  bool holding() const { return holding_; }

 private:
  int fd_ = -1;
  bool holding_ = false;
};
// Whether a TCP connection to 127.0.0.1:port is accepted.
bool TcpConnects(int port);
// A random TCP port p such that TCP p and UDP p + 1 are free at the moment of the call.
int PickFreePortPair();

// The log's lines, split at CRLF; the text of a line is what follows "dd/mm/yyyy hh:nn:ss | ".
std::vector<std::string> ReadLogLines(const std::string& path);
std::string LogText(const std::string& line);
// Seconds since the epoch of a line's time stamp (local time), or -1 when it has none.
long long LogLineSeconds(const std::string& line);
// Whether every line is "dd/mm/yyyy hh:nn:ss | text" and the file ends with CRLF.
bool LogWellFormed(const std::string& contents);

// The built server binary installed under `program_name` in a fresh program directory, where it
// looks for its configuration file; removed with everything in it.
class Installation {
 public:
  explicit Installation(const std::string& program_name = "plserver");
  const std::string& path() const { return directory_.path(); }
  std::string File(const std::string& name) const { return directory_.File(name); }
  const std::string& program() const { return program_; }

 private:
  TempDir directory_;
  std::string program_;
};

struct SpawnOptions {
  std::vector<std::string> arguments;
  std::string working_directory;
  // When the tests run as root: run the server as an unprivileged user, so directory
  // permissions apply to it.
  bool unprivileged = false;
};

// A server process. Its standard input is /dev/null, its output goes to a file beside the log.
// A process still running when the object goes is killed.
class ServerProcess {
 public:
  ServerProcess(const std::string& binary, const SpawnOptions& options);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const { return !exit_code_.has_value() && pid_ > 0; }
  void Signal(int signal_number);
  // The exit code (128 + n for a signal), or nothing when it is still running after the time.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // Polls `log_path` until a line with `text` appears or the process exits; true on the line.
  bool WaitForLogText(const std::string& log_path, const std::string& text,
                      std::chrono::milliseconds timeout);
  std::string Output() const;  // what it wrote to stdout and stderr

 private:
  pid_t pid_ = -1;
  std::optional<int> exit_code_;
  std::string output_path_;
};

}  // namespace pltest
