// File operations the server needs: append a line to the log, read a whole file, and replace a
// file atomically (the configuration file is never left half-written).
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace plat {

// Opens (creating when missing) `path` for appending, writes `text`, closes. Fails with an error
// text. Where the platform has file modes, a file it creates gets 0640 (owner writes, group
// reads); an existing file keeps its mode.
Status AppendToFile(const std::string& path, std::string_view text);

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

// The directory part of `path`, ending in '/': "" for a bare name.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

}  // namespace plat
