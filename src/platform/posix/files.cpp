#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

std::string ErrorText(const char* what, const std::string& path) {
  return std::string(what) + "(" + path + "): " + strerror(errno);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Opens the log for appending. A log the server creates is 0640 whatever the umask, so the
// service's group can read it while others cannot; an existing file keeps its mode.
int OpenLogForAppend(const std::string& path) {
  constexpr mode_t kNewLogMode = 0640;
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, kNewLogMode);
  if (fd >= 0) {
    fchmod(fd, kNewLogMode);
    return fd;
  }
  if (errno != EEXIST) return fd;
  // Created meanwhile, or a link to a file yet to be made: opened as before, the link followed.
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kNewLogMode);
}

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, std::string* error) {
  int fd = OpenLogForAppend(path);
  if (fd < 0) {
    if (error) *error = ErrorText("open", path);
    return nullptr;
  }
  return std::unique_ptr<AppendFile>(new AppendFile(path, fd));
}

AppendFile::~AppendFile() {
  close(static_cast<int>(handle_));
}

Status AppendFile::Write(std::string_view text) {
  // One write for the whole text: with O_APPEND it lands whole at the end of the file.
  if (!WriteAll(static_cast<int>(handle_), text)) return Status::Error(ErrorText("write", path_));
  return Status::Ok();
}

Status AppendToFile(const std::string& path, std::string_view text) {
  int fd = OpenLogForAppend(path);
  if (fd < 0) return Status::Error(ErrorText("open", path));
  if (!WriteAll(fd, text)) {
    std::string error = ErrorText("write", path);
    close(fd);
    return Status::Error(error);
  }
  if (close(fd) != 0) return Status::Error(ErrorText("close", path));
  return Status::Ok();
}

FileContents ReadWholeFile(const std::string& path) {
  FileContents result;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.status = errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kError;
    result.error = ErrorText("open", path);
    return result;
  }
  char chunk[16384];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      result.error = ErrorText("read", path);
      close(fd);
      return result;
    }
    if (got == 0) break;
    result.bytes.append(chunk, static_cast<size_t>(got));
  }
  close(fd);
  result.status = ReadStatus::kOk;
  return result;
}

namespace {

// A file that is a symbolic link is replaced where the link points, and the link stays.
std::string ReplacedFile(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

// The file's own write permission counts, as it would for a direct write: a read-only file is
// not replaced behind its back by the rename (which needs only the directory's).
Status OwnWritePermission(const std::string& path) {
  int probe = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (probe < 0 && errno != ENOENT) return Status::Error(ErrorText("open", path));
  if (probe >= 0) close(probe);
  return Status::Ok();
}

}  // namespace

Status CheckReplaceable(const std::string& given_path) {
  const std::string path = ReplacedFile(given_path);
  if (Status writable = OwnWritePermission(path); !writable.ok()) return writable;
  const std::string directory = DirectoryOf(path);
  const char* where = directory.empty() ? "." : directory.c_str();
  if (access(where, W_OK | X_OK) != 0) return Status::Error(ErrorText("access", where));
  return Status::Ok();
}

Status ReplaceFileAtomically(const std::string& given_path, std::string_view contents) {
  const std::string path = ReplacedFile(given_path);
  if (Status writable = OwnWritePermission(path); !writable.ok()) return writable;
  // The temporary file gets a name no one can predict and is created exclusively (mkstemp:
  // O_CREAT|O_EXCL, mode 0600), so a link planted beside the file is never followed.
  std::string temporary = path + ".tmp-XXXXXX";
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return Status::Error(ErrorText("mkstemp", temporary));
  // The replacement keeps the old file's permissions: a file holding passwords that only its
  // owner may read must not become readable by everyone. A new file stays 0600: it holds the
  // administrator password.
  struct stat old_file;
  if (stat(path.c_str(), &old_file) == 0) fchmod(fd, old_file.st_mode & 07777);
  if (!WriteAll(fd, contents) || fsync(fd) != 0) {
    std::string error = ErrorText("write", temporary);
    close(fd);
    unlink(temporary.c_str());
    return Status::Error(error);
  }
  if (close(fd) != 0) {
    std::string error = ErrorText("close", temporary);
    unlink(temporary.c_str());
    return Status::Error(error);
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    std::string error = ErrorText("rename", path);
    unlink(temporary.c_str());
    return Status::Error(error);
  }
  // Make the rename itself durable.
  std::string directory = DirectoryOf(path);
  int dir_fd =
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return Status::Ok();
}

}  // namespace plat
