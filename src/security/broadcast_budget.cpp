#include "security/broadcast_budget.h"

namespace security {

BroadcastBudget::BroadcastBudget() : buckets_(kMaxAddresses) {}

void BroadcastBudget::Configure(uint32_t per_second) {
  std::lock_guard<std::mutex> lock(mutex_);
  per_second_ = per_second;
  // The buckets of the old rate go; each address starts with a full one of the new.
  buckets_ = BoundedTable<AddressGroup, TokenBucket, AddressGroup::Hash>(kMaxAddresses);
}

bool BroadcastBudget::Admit(const plat::IpAddress& ip, uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (per_second_ == 0) return true;
  const AddressGroup group = AddressGroup::Host(ip);
  TokenBucket* bucket = buckets_.Find(group);
  if (!bucket) {
    bucket = &buckets_.Touch(group);
    *bucket = TokenBucket(per_second_, per_second_ * kBurstSeconds);
  } else {
    buckets_.Touch(group);
  }
  return bucket->TryTake(now_ms);
}

}  // namespace security
