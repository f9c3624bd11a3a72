#include "core/vars.h"

#include <cctype>

namespace core {

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

namespace {

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) !=
                                std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

void ReadCommandLine(const std::vector<std::string>& arguments, Settings& settings) {
  constexpr size_t kPrefixLength = 5;
  for (const std::string& argument : arguments) {
    if (StartsWithIgnoringCase(argument, "-INI=")) {
      settings.IniFileName = argument.substr(kPrefixLength);
    } else if (StartsWithIgnoringCase(argument, "-LOG=")) {
      settings.LogFileName = argument.substr(kPrefixLength);
    } else if (StartsWithIgnoringCase(argument, "-PID=")) {
      settings.PidValue = argument.substr(kPrefixLength);
    }
  }
}

}  // namespace core
