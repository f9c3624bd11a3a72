// File operations the server needs: append a line to the log, read a whole file, and replace a
// file atomically (the configuration file is never left half-written).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Opens (creating when missing) `path` for appending, writes `text`, closes. Returns an error
// text on failure, nothing on success.
std::optional<std::string> AppendToFile(const std::string& path, std::string_view text);

enum class ReadStatus { kOk, kMissing, kError };
struct FileContents {
  ReadStatus status = ReadStatus::kError;
  std::string bytes;
  std::string error;
};
FileContents ReadWholeFile(const std::string& path);

// Writes `contents` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. After a crash the file holds either its old or its new contents.
std::optional<std::string> ReplaceFileAtomically(const std::string& path,
                                                 std::string_view contents);

// The directory part of `path`, ending in '/': "" for a bare name.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

}  // namespace plat
