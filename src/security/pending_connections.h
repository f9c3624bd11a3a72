// The connections that have no client yet, in the order they were accepted. A connection costs a
// thread, so their number is limited per address (an IPv6 /64 counts as one address, see
// AddressGroup) and in all; at a limit the oldest one (of that
// address, or of all) makes room for the new one, so a flood of idle connections never keeps a
// player from logging in. The oldest that has sent nothing goes first: a player whose login is
// on its way is not closed for an idle connection that came after it.
//
// Connections are held as opaque weak references: the tracker never keeps one alive, and one
// that has gone counts no more.
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ip_address.h"
#include "security/address_group.h"

namespace security {

class PendingConnections {
 public:
  using Connection = std::shared_ptr<void>;
  // Whether the connection has sent anything yet.
  using SpokeTest = std::function<bool(const Connection&)>;

  // per_address 0: no limit per address. total at least 1.
  void Configure(size_t per_address, size_t total);
  // Without a test every connection counts as idle.
  void SetSpokeTest(SpokeTest spoke);

  // Records `connection` from `ip` and returns the connections to close to make room for it,
  // oldest first.
  std::vector<Connection> Admit(const plat::IpAddress& ip, const Connection& connection);
  // The connection has a client now (or is gone): it no longer counts.
  void Remove(const void* connection);
  // Forgets every connection of `ip` and returns them, to be closed.
  std::vector<Connection> TakeAddress(const plat::IpAddress& ip);
  // Forgets every connection whose address `matches` and returns them, to be closed.
  std::vector<Connection> TakeMatching(
      const std::function<bool(const plat::IpAddress& ip)>& matches);

  size_t Count();
  // The connections counted against the limit of `ip`'s address group.
  size_t CountFor(const plat::IpAddress& ip);

 private:
  struct Entry {
    plat::IpAddress ip;
    AddressGroup group;
    std::weak_ptr<void> connection;
  };
  // REQUIRES: mutex_ held.
  void DropGone();
  // Removes the oldest entry (of `group` when only_group) that is still there; REQUIRES: mutex_
  // held.
  void EvictOldest(bool only_group, const AddressGroup& group, std::vector<Connection>& evicted);
  size_t CountForLocked(const AddressGroup& group) const;

  std::mutex mutex_;
  size_t per_address_ = 8;     // guarded by mutex_
  size_t total_ = 128;         // guarded by mutex_
  SpokeTest spoke_;            // guarded by mutex_
  std::deque<Entry> entries_;  // guarded by mutex_; oldest first
};

}  // namespace security
