#include "support/blackbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pltest {
namespace fs = std::filesystem;

namespace {

constexpr uid_t kUnprivilegedId = 65534;  // "nobody"

bool PortFree(int type, int port) {
  int fd = socket(AF_INET, type, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "pltest-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Give back write permission first, so an unprivileged run of the tests can clean up too.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) chmod(it->path().c_str(), 0755);
  }
  chmod(path_.c_str(), 0755);
  fs::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::string Utf16Le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

long long ModificationTimeNs(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(path, ignored)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool TcpPortFree(int port) {
  return PortFree(SOCK_STREAM, port);
}
bool UdpPortFree(int port) {
  return PortFree(SOCK_DGRAM, port);
}

PortHolder::PortHolder(bool tcp, int port) {
  fd_ = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
  if (fd_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  holding_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             (!tcp || listen(fd_, 1) == 0);
}

PortHolder::~PortHolder() {
  if (fd_ >= 0) close(fd_);
}

bool TcpConnects(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

int PickFreePortPair() {
  static std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> ports(20000, 59998);
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = ports(random);
    if (TcpPortFree(port) && UdpPortFree(port + 1)) return port;
  }
  throw std::runtime_error("no free port pair found");
}

std::vector<std::string> ReadLogLines(const std::string& path) {
  std::string contents = ReadFile(path);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(contents.substr(start));
      break;
    }
    lines.push_back(contents.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string LogText(const std::string& line) {
  size_t separator = line.find(" | ");
  return separator == std::string::npos ? line : line.substr(separator + 3);
}

long long LogLineSeconds(const std::string& line) {
  tm parts{};
  if (std::sscanf(line.c_str(), "%2d/%2d/%4d %2d:%2d:%2d", &parts.tm_mday, &parts.tm_mon,
                  &parts.tm_year, &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6) {
    return -1;
  }
  parts.tm_mon -= 1;
  parts.tm_year -= 1900;
  parts.tm_isdst = -1;
  return static_cast<long long>(mktime(&parts));
}

bool LogWellFormed(const std::string& contents) {
  static const std::regex kLine(R"((\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2} \| [^\r\n]*\r\n)*)");
  return !contents.empty() && std::regex_match(contents, kLine);
}

Installation::Installation(const std::string& program_name)
    : program_(directory_.File(program_name)) {
  fs::copy_file(PLSERVER_BINARY, program_, fs::copy_options::overwrite_existing);
  chmod(program_.c_str(), 0755);
}

ServerProcess::ServerProcess(const std::string& binary, const SpawnOptions& options) {
  std::string pattern = (fs::temp_directory_path() / "pltest-out-XXXXXX").string();
  int output = mkstemp(pattern.data());
  if (output < 0) throw std::runtime_error("mkstemp failed");
  output_path_ = pattern;

  std::vector<std::string> argv_text{binary};
  argv_text.insert(argv_text.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argv_text) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const bool drop = options.unprivileged && geteuid() == 0;

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // Only async-signal-safe calls from here to exec.
    int input = open("/dev/null", O_RDONLY);
    dup2(input, STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    // The test runner may block or ignore signals; the server must start with the defaults.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0)
      _exit(126);
    if (drop && (setgroups(0, nullptr) != 0 || setgid(kUnprivilegedId) != 0 ||
                 setuid(kUnprivilegedId) != 0)) {
      _exit(125);
    }
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(output);
}

ServerProcess::~ServerProcess() {
  if (running()) {
    kill(pid_, SIGKILL);
    WaitForExit(std::chrono::seconds(5));
  }
  unlink(output_path_.c_str());
}

void ServerProcess::Signal(int signal_number) {
  if (running()) kill(pid_, signal_number);
}

std::optional<int> ServerProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (exit_code_) return exit_code_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exit_code_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ServerProcess::WaitForLogText(const std::string& log_path, const std::string& text,
                                   std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (const std::string& line : ReadLogLines(log_path)) {
      if (LogText(line) == text) return true;
    }
    if (!running() || WaitForExit(std::chrono::milliseconds(0))) {
      // One last look: the line may have landed just before the exit.
      for (const std::string& line : ReadLogLines(log_path)) {
        if (LogText(line) == text) return true;
      }
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string ServerProcess::Output() const {
  return ReadFile(output_path_);
}

}  // namespace pltest
