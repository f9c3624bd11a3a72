#include "platform/thread_start.h"

#include <mutex>
#include <set>
#include <system_error>

namespace plat {
namespace {

std::mutex& FaultMutex() {
  static std::mutex mutex;
  return mutex;
}

// Roles whose next start is to fail; empty outside tests.
std::multiset<std::string>& PlannedFaults() {
  static std::multiset<std::string> faults;
  return faults;
}

bool TakePlannedFault(const std::string& role) {
  std::lock_guard<std::mutex> lock(FaultMutex());
  auto found = PlannedFaults().find(role);
  if (found == PlannedFaults().end()) return false;
  PlannedFaults().erase(found);
  return true;
}

}  // namespace

Status StartThread(std::thread& thread, const std::string& role, std::function<void()> body) {
  try {
    if (TakePlannedFault(role))
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    thread = std::thread(std::move(body));
    return Status::Ok();
  } catch (const std::system_error& error) {
    return Status::Error("thread(" + role + "): " + error.code().message());
  }
}

void FailNextThreadStart(const std::string& role) {
  std::lock_guard<std::mutex> lock(FaultMutex());
  PlannedFaults().insert(role);
}

}  // namespace plat
