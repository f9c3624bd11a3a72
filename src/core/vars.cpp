#include "core/vars.h"

#include "platform/ascii_case.h"
#include "platform/files.h"

namespace core {

std::string Settings::ConfigurationPath() const {
  return plat::ResolvedAgainst(ProgramDir, IniFileName);
}

std::shared_ptr<const Settings> LiveSettings::Get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_;
}

void LiveSettings::Publish(Settings settings) {
  auto next = std::make_shared<const Settings>(std::move(settings));
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = std::move(next);
}

std::string PasswordStore::ServerPassword() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_password_;
}

std::string PasswordStore::AdminPassword() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return admin_password_;
}

bool PasswordStore::HasServerPassword() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !server_password_.empty();
}

void PasswordStore::SetServerPassword(std::string value) {
  std::lock_guard<std::mutex> lock(mutex_);
  server_password_ = std::move(value);
}

void PasswordStore::SetAdminPassword(std::string value) {
  std::lock_guard<std::mutex> lock(mutex_);
  admin_password_ = std::move(value);
}

void ReadCommandLine(const std::vector<std::string>& arguments, Settings& settings) {
  constexpr size_t kPrefixLength = 5;
  for (const std::string& argument : arguments) {
    if (plat::StartsWithIgnoringAsciiCase(argument, "-INI=")) {
      settings.IniFileName = argument.substr(kPrefixLength);
    } else if (plat::StartsWithIgnoringAsciiCase(argument, "-LOG=")) {
      settings.LogFileName = argument.substr(kPrefixLength);
    } else if (plat::StartsWithIgnoringAsciiCase(argument, "-PID=")) {
      settings.PidValue = argument.substr(kPrefixLength);
    }
  }
}

}  // namespace core
