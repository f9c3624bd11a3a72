// The frames that make the server tell every player something (a room change, and the
// administrators' room and kick commands), counted per address over all its connections. Each
// connection has its own frame limit, but a few dozen bots behind one address would each stay
// within theirs and together flood every player; the address shares one budget: `per_second`
// with a burst of kBurstSeconds seconds' worth. Frames past it are dropped.
//
// Times are the server clock's 64-bit monotonic milliseconds.
//
// Bounded: at most kMaxAddresses addresses, the one used least recently forgotten (it starts
// with a full budget, as an address that has been quiet that long would have anyway).
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "security/address_group.h"
#include "security/bounded_table.h"
#include "security/rate_limit.h"

namespace security {

class BroadcastBudget {
 public:
  static constexpr size_t kMaxAddresses = 1024;
  static constexpr uint32_t kBurstSeconds = 4;

  BroadcastBudget();
  // 0: no limit.
  void Configure(uint32_t per_second);
  // Whether a frame that causes a broadcast may be handled for `ip` at `now_ms`.
  bool Admit(const plat::IpAddress& ip, uint64_t now_ms);

 private:
  std::mutex mutex_;
  uint32_t per_second_ = 20;  // guarded by mutex_
  BoundedTable<AddressGroup, TokenBucket, AddressGroup::Hash> buckets_;  // guarded by mutex_
};

}  // namespace security
