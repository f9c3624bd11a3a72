#include "core/configuration_file.h"

#include <optional>

namespace core {

plat::Status ConfigurationFile::Change(const std::function<void(plat::IniFile&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string path = Path();
  std::string error;
  std::optional<plat::IniFile> ini = plat::IniFile::Open(path, &error);
  if (!ini) return plat::Status::Error(error);
  change(*ini);
  if (plat::Status written = ini->Commit(); !written.ok()) return written;
  // The server's own change is in force already: hand edits made meanwhile still show.
  plat::IniFile in_force = plat::IniFile::Parse(path, loaded_);
  change(in_force);
  loaded_ = in_force.Text();
  return plat::Status::Ok();
}

plat::Status ConfigurationFile::WriteKey(const std::string& section, const std::string& key,
                                         const std::string& value) {
  return Change([&](plat::IniFile& ini) { ini.WriteString(section, key, value); });
}

plat::Status ConfigurationFile::Read(const std::function<void(const plat::IniFile&)>& read) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string error;
  std::optional<plat::IniFile> ini = plat::IniFile::Open(Path(), &error);
  if (!ini) return plat::Status::Error(error);
  read(*ini);
  return plat::Status::Ok();
}

plat::FileContents ConfigurationFile::ReadBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return plat::ReadWholeFile(Path());
}

void ConfigurationFile::MarkLoaded(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  loaded_ = plat::IniFile::Parse(Path(), bytes).Text();
}

plat::IniFile ConfigurationFile::Loaded() {
  std::lock_guard<std::mutex> lock(mutex_);
  return plat::IniFile::Parse(Path(), loaded_);
}

bool ConfigurationFile::ChangedOnDisk() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string path = Path();
  const plat::FileContents contents = plat::ReadWholeFile(path);
  return contents.status != plat::ReadStatus::kOk ||
         plat::IniFile::Parse(path, contents.bytes).Text() != loaded_;
}

}  // namespace core
