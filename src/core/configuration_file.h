// The configuration file at run time: every change the running server makes to it (passwords,
// the default rooms, the operator's bans) goes through here, one at a time, each as one atomic
// replacement of the file. A change that fails says why, in the system's words ("rename(...):
// Permission denied"), and leaves the file as it was.
//
// It also remembers the file as the server has it in force: as start-up or the last reload
// loaded it, with the server's own changes since. The file on disk differs from that only by
// what was edited by hand and not yet reloaded.
//
// Threading: any thread; one lock serialises the users of the file.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "core/vars.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/status.h"

namespace core {

class ConfigurationFile {
 public:
  // The file is the one the settings in force name (start-up settles the path before anything
  // changes the file, and a reload keeps it).
  explicit ConfigurationFile(const LiveSettings& settings) : settings_(settings) {}
  ConfigurationFile(const ConfigurationFile&) = delete;
  ConfigurationFile& operator=(const ConfigurationFile&) = delete;

  // Loads the file, lets `change` alter it and writes it back; the file as in force takes the
  // same change.
  plat::Status Change(const std::function<void(plat::IniFile&)>& change);
  // Writes one key, keeping everything else in the file.
  plat::Status WriteKey(const std::string& section, const std::string& key,
                        const std::string& value);
  // Loads the file and hands it to `read`, with no change running meanwhile.
  plat::Status Read(const std::function<void(const plat::IniFile&)>& read);

  // The file's bytes now, with no change running meanwhile.
  plat::FileContents ReadBytes();
  // The server has put `bytes` (the file's contents) in force: at start-up and at a reload.
  void MarkLoaded(const std::string& bytes);
  // The file as in force.
  plat::IniFile Loaded();
  // Whether the file on disk differs from the file as in force (or cannot be read).
  bool ChangedOnDisk();

 private:
  std::string Path() const { return settings_.Get()->ConfigurationPath(); }

  const LiveSettings& settings_;
  std::mutex mutex_;
  std::string loaded_;  // guarded by mutex_: the file as in force, as text
};

}  // namespace core
