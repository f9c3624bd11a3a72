// File operations the server needs: append a line to the log, keep a file open for appending,
// read a whole file, and replace a file atomically (the configuration file is never left
// half-written).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/native_handle.h"
#include "platform/status.h"

namespace plat {

// Opens (creating when missing) `path` for appending, writes `text`, closes. Fails with an error
// text. Where the platform has file modes, a file it creates gets 0640 (owner writes, group
// reads); an existing file keeps its mode.
Status AppendToFile(const std::string& path, std::string_view text);

// A file held open for appending (the event lines' file). Every write lands whole at the end of
// the file, also when another writer appends too; a file renamed away (by log rotation) keeps
// receiving the writes until a new one is opened under the name, so no line is lost. Where the
// platform has file modes, a file it creates gets 0640; an existing file keeps its mode.
// Not thread-safe: the owner serialises its writes.
class AppendFile {
 public:
  // Opens (creating when missing) `path`; nothing, with `error` set, when it cannot.
  static std::unique_ptr<AppendFile> Open(const std::string& path, std::string* error);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  Status Write(std::string_view text);
  const std::string& path() const { return path_; }

 private:
  AppendFile(std::string path, NativeHandle handle) : path_(std::move(path)), handle_(handle) {}
  std::string path_;
  NativeHandle handle_;
};

enum class ReadStatus { kOk, kMissing, kError };
struct FileContents {
  ReadStatus status = ReadStatus::kError;
  std::string bytes;
  std::string error;
};
FileContents ReadWholeFile(const std::string& path);

// Writes `contents` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. After a crash the file holds either its old or its new contents. The temporary file
// is created exclusively under a name no one can predict. Where the platform has file modes, the
// file keeps its old mode, and a new one gets 0600 (it may hold passwords).
Status ReplaceFileAtomically(const std::string& path, std::string_view contents);

// Whether ReplaceFileAtomically could replace `path` now: the file (when it exists) may be
// written and its directory may take the temporary file and the rename. Writes nothing.
Status CheckReplaceable(const std::string& path);

// The directory part of `path`, ending in '/': "" for a bare name.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);
// Whether `path` names a file from the root (on Windows also from a drive or a share).
bool IsAbsolutePath(const std::string& path);
// `path` itself when it is absolute, otherwise `directory` (ending in a separator) + `path`.
std::string ResolvedAgainst(const std::string& directory, const std::string& path);

}  // namespace plat
