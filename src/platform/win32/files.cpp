#include "platform/files.h"

#include <windows.h>

#include "platform/win32/wide_text.h"
#include "platform/win32/winsock_util.h"

namespace plat {
namespace {

std::string ErrorText(const char* what, const std::string& path, DWORD error = GetLastError()) {
  return std::string(what) + "(" + path + "): " + SystemErrorText(error);
}

// Closes the file on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (!valid()) return true;
    bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, std::string* error) {
  // Appending access only, shared with renames and deletes, so a rotation can move it away.
  HANDLE file = CreateFileW(Widened(path).c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error) *error = ErrorText("open", path);
    return nullptr;
  }
  return std::unique_ptr<AppendFile>(new AppendFile(path, reinterpret_cast<NativeHandle>(file)));
}

AppendFile::~AppendFile() {
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

Status AppendFile::Write(std::string_view text) {
  if (!WriteAll(reinterpret_cast<HANDLE>(handle_), text))
    return Status::Error(ErrorText("write", path_));
  return Status::Ok();
}

Status AppendToFile(const std::string& path, std::string_view text) {
  // Appending access only: every write lands at the end, also when another process appends too.
  FileHandle file(CreateFileW(Widened(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return Status::Error(ErrorText("open", path));
  if (!WriteAll(file.get(), text)) return Status::Error(ErrorText("write", path));
  if (!file.Close()) return Status::Error(ErrorText("close", path));
  return Status::Ok();
}

FileContents ReadWholeFile(const std::string& path) {
  FileContents result;
  FileHandle file(CreateFileW(Widened(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    DWORD error = GetLastError();
    bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    result.status = missing ? ReadStatus::kMissing : ReadStatus::kError;
    result.error = ErrorText("open", path, error);
    return result;
  }
  char chunk[16384];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
      result.error = ErrorText("read", path);
      return result;
    }
    if (got == 0) break;
    result.bytes.append(chunk, got);
  }
  result.status = ReadStatus::kOk;
  return result;
}

namespace {

// A read-only file is not replaced behind its back: the attribute counts as it would for a
// direct write.
Status OwnWritePermission(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Widened(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return Status::Error(ErrorText("open", path, ERROR_ACCESS_DENIED));
  return Status::Ok();
}

}  // namespace

Status CheckReplaceable(const std::string& path) {
  if (Status writable = OwnWritePermission(path); !writable.ok()) return writable;
  std::string directory = DirectoryOf(path);
  if (directory.empty()) directory = ".";
  const DWORD directory_attributes = GetFileAttributesW(Widened(directory).c_str());
  if (directory_attributes == INVALID_FILE_ATTRIBUTES ||
      !(directory_attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Status::Error(ErrorText("open", directory));
  return Status::Ok();
}

Status ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  if (Status writable = OwnWritePermission(path); !writable.ok()) return writable;
  const std::string temporary = path + ".tmp-" + std::to_string(GetCurrentProcessId());
  const std::wstring wide_temporary = Widened(temporary);
  {
    FileHandle file(CreateFileW(wide_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Status::Error(ErrorText("open", temporary));
    // The new contents are on the disk before the name points at them.
    if (!WriteAll(file.get(), contents) || !FlushFileBuffers(file.get())) {
      std::string error = ErrorText("write", temporary);
      file.Close();
      DeleteFileW(wide_temporary.c_str());
      return Status::Error(error);
    }
    if (!file.Close()) {
      std::string error = ErrorText("close", temporary);
      DeleteFileW(wide_temporary.c_str());
      return Status::Error(error);
    }
  }
  if (!MoveFileExW(wide_temporary.c_str(), Widened(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    std::string error = ErrorText("rename", path);
    DeleteFileW(wide_temporary.c_str());
    return Status::Error(error);
  }
  return Status::Ok();
}

}  // namespace plat
