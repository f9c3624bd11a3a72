#include "security/id_probes.h"

#include <algorithm>

namespace security {

IdProbeQuarantine::IdProbeQuarantine() : addresses_(kMaxAddresses) {}

bool IdProbeQuarantine::Quarantined(const plat::IpAddress& ip, uint64_t now_ms) {
  const Address* address = addresses_.Find(AddressGroup::Host(ip), now_ms);
  return address && now_ms < address->quarantined_until_ms;
}

bool IdProbeQuarantine::RecordProbe(const plat::IpAddress& ip, uint16_t id, bool unknown_id,
                                    uint64_t now_ms) {
  Address* address = addresses_.FindOrAdd(AddressGroup::Host(ip), now_ms);
  if (!address) return true;
  if (now_ms < address->quarantined_until_ms) return true;
  if (address->probes == 0 || now_ms >= address->window_start_ms + kWindowMs)
    *address = Address{now_ms, 0, {}, 0, 0};
  if (unknown_id) {
    const auto seen = address->unknown_ids.begin() + address->unknown_count;
    if (std::find(address->unknown_ids.begin(), seen, id) != seen) return false;
    if (address->unknown_count < kProbesBeforeQuarantine)
      address->unknown_ids[address->unknown_count++] = id;
  }
  if (++address->probes <= kProbesBeforeQuarantine) return false;
  address->quarantined_until_ms = now_ms + kQuarantineMs;
  return true;
}

}  // namespace security
