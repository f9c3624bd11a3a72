// The quarantine of addresses that probe for client Ids. A datagram whose Id is not recorded at
// its exact source (address and port) is a probe when it carries an Id nobody holds, or the Id
// of a player recorded elsewhere that the datagram may not claim; such datagrams are counted per
// address group (one IPv4 address), whatever their ports. Past kProbesBeforeQuarantine of them
// within kWindowMs the address is quarantined for kQuarantineMs: from it, only datagrams whose Id
// is recorded at their exact source are taken then.
//
// An Id nobody holds counts once per window, however often it comes: a client that still sends
// the Id of an earlier login (after a restart of the server, say) probes for nothing, while a
// sweep must vary the Id. An Id of a player recorded elsewhere counts each time.
//
// Times are the server clock's 64-bit monotonic milliseconds.
//
// Bounded, and no address is forgotten while it counts or is quarantined: at kMaxAddresses, a
// probe from an address without a record is ignored at once (it has no budget then).
//
// Threading: none; the datagram intake uses it under the server lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "security/address_group.h"
#include "security/expiring_table.h"

namespace security {

class IdProbeQuarantine {
 public:
  static constexpr uint32_t kProbesBeforeQuarantine = 4;
  static constexpr uint64_t kWindowMs = 10000;
  static constexpr uint64_t kQuarantineMs = 60000;
  static constexpr size_t kMaxAddresses = 16384;

  IdProbeQuarantine();

  // Whether the address is quarantined at `now_ms`.
  bool Quarantined(const plat::IpAddress& ip, uint64_t now_ms);
  // Records a probe from `ip` carrying `id`; `unknown_id`: an Id nobody holds. True when the
  // probe is to be ignored: the address is quarantined from now on (this probe included), or
  // there is no room to count it.
  bool RecordProbe(const plat::IpAddress& ip, uint16_t id, bool unknown_id, uint64_t now_ms);
  size_t Size() const { return addresses_.Size(); }

 private:
  struct Address {
    uint64_t window_start_ms = 0;
    uint32_t probes = 0;
    // The unknown Ids counted in this window (each counts once).
    std::array<uint16_t, kProbesBeforeQuarantine> unknown_ids{};
    uint32_t unknown_count = 0;
    uint64_t quarantined_until_ms = 0;
    bool Ended(uint64_t now_ms) const {
      return now_ms >= window_start_ms + kWindowMs && now_ms >= quarantined_until_ms;
    }
  };

  ExpiringTable<AddressGroup, Address, AddressGroup::Hash> addresses_;
};

}  // namespace security
