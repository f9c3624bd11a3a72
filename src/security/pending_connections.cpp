#include "security/pending_connections.h"

#include <algorithm>

namespace security {

void PendingConnections::Configure(size_t per_address, size_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  per_address_ = per_address;
  total_ = std::max<size_t>(total, 1);
}

void PendingConnections::SetSpokeTest(SpokeTest spoke) {
  std::lock_guard<std::mutex> lock(mutex_);
  spoke_ = std::move(spoke);
}

std::vector<PendingConnections::Connection> PendingConnections::Admit(
    const plat::IpAddress& ip, const Connection& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropGone();
  std::vector<Connection> evicted;
  const AddressGroup group = AddressGroup::Host(ip);
  while (per_address_ > 0 && CountForLocked(group) >= per_address_)
    EvictOldest(true, group, evicted);
  while (entries_.size() >= total_) EvictOldest(false, group, evicted);
  entries_.push_back(Entry{ip, group, connection});
  return evicted;
}

void PendingConnections::Remove(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(entries_, [connection](const Entry& entry) {
    Connection held = entry.connection.lock();
    return !held || held.get() == connection;
  });
}

std::vector<PendingConnections::Connection> PendingConnections::TakeAddress(
    const plat::IpAddress& ip) {
  return TakeMatching([&ip](const plat::IpAddress& candidate) { return candidate == ip; });
}

std::vector<PendingConnections::Connection> PendingConnections::TakeMatching(
    const std::function<bool(const plat::IpAddress& ip)>& matches) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Connection> taken;
  std::erase_if(entries_, [&](const Entry& entry) {
    if (!matches(entry.ip)) return false;
    if (Connection held = entry.connection.lock()) taken.push_back(std::move(held));
    return true;
  });
  return taken;
}

size_t PendingConnections::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  DropGone();
  return entries_.size();
}

size_t PendingConnections::CountFor(const plat::IpAddress& ip) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropGone();
  return CountForLocked(AddressGroup::Host(ip));
}

void PendingConnections::DropGone() {
  std::erase_if(entries_, [](const Entry& entry) { return entry.connection.expired(); });
}

void PendingConnections::EvictOldest(bool only_group, const AddressGroup& group,
                                     std::vector<Connection>& evicted) {
  auto candidate = [&](const Entry& entry) { return !only_group || entry.group == group; };
  auto idle = [&](const Entry& entry) {
    if (!candidate(entry)) return false;
    Connection held = entry.connection.lock();
    return !held || !spoke_ || !spoke_(held);
  };
  auto oldest = std::find_if(entries_.begin(), entries_.end(), idle);
  if (oldest == entries_.end()) oldest = std::find_if(entries_.begin(), entries_.end(), candidate);
  if (oldest == entries_.end()) return;
  if (Connection held = oldest->connection.lock()) evicted.push_back(std::move(held));
  entries_.erase(oldest);
}

size_t PendingConnections::CountForLocked(const AddressGroup& group) const {
  return static_cast<size_t>(
      std::count_if(entries_.begin(), entries_.end(),
                    [&group](const Entry& entry) { return entry.group == group; }));
}

}  // namespace security
