// The banned addresses: automatic bans, which the password-failure count sets for a time on an
// address (or, when it can no longer keep track of every address, on its whole block), and
// manual bans, which an operator sets and removes (for ever, or for a time). Both are listed
// with what is left of them, so an operator interface can show, add and lift them.
//
// Times are the server clock's 64-bit monotonic milliseconds, so a ban that has ended stays
// ended however long the server runs.
//
// Bounded, and nothing in force is ever forgotten: at most kMaxAutomatic automatic bans (a
// further one is refused until one ends; the caller then refuses the address's guesses
// unanswered) and kMaxManual manual ones (a further one is refused).
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "platform/ip_address.h"

#include "security/address_group.h"
#include "security/bounded_table.h"
#include "security/expiring_table.h"

namespace security {

enum class BanKind { kAutomatic, kManual };

// Keys the manual bans by block, spread with a secret of the process like AddressGroup::Hash.
struct PrefixHash {
  size_t operator()(const plat::IpPrefix& prefix) const {
    const uint64_t high = AddressGroup::Hash::Mix(prefix.address.High() ^ Secret());
    return static_cast<size_t>(AddressGroup::Hash::Mix(high ^ prefix.address.Low() ^
                                                       static_cast<uint64_t>(prefix.length)));
  }
  static uint64_t Secret() {
    static const uint64_t secret = [] {
      std::random_device source;
      return (uint64_t{source()} << 32) ^ source();
    }();
    return secret;
  }
};

struct BanEntry {
  plat::IpPrefix prefix;  // a single address, or the block
  BanKind kind = BanKind::kAutomatic;
  // Milliseconds until the ban ends; nothing for a manual ban without end.
  std::optional<uint32_t> remaining_ms;
};

class BanList {
 public:
  // About 80 bytes each in memory: 2.5 MiB when full.
  static constexpr size_t kMaxAutomatic = 32768;
  static constexpr size_t kMaxManual = 1024;

  BanList();

  // Whether `ip` is banned at `now_ms`, by either kind of ban.
  bool IsBanned(const plat::IpAddress& ip, uint64_t now_ms);
  // Whether an operator's ban holds `ip` (these close everything; an automatic ban only keeps
  // new connections out).
  bool IsBannedManually(const plat::IpAddress& ip, uint64_t now_ms);
  // Bans the group for `duration_ms` from now; a longer ban already in force stays. False when
  // the table is full of bans in force (nothing is banned then).
  bool BanAutomatically(const AddressGroup& group, uint64_t now_ms, uint32_t duration_ms);
  bool BanAutomatically(const plat::IpAddress& ip, uint64_t now_ms, uint32_t duration_ms) {
    return BanAutomatically(AddressGroup::Host(ip), now_ms, duration_ms);
  }
  // A manual ban, for `duration_ms` or (nothing) for ever; false when the manual list is full.
  bool AddManual(const plat::IpAddress& ip, uint64_t now_ms, std::optional<uint32_t> duration_ms) {
    return AddManual(plat::IpPrefix{ip, 128}, now_ms, duration_ms);
  }
  // The same for a block of addresses (replacing a ban of the same block).
  bool AddManual(const plat::IpPrefix& prefix, uint64_t now_ms,
                 std::optional<uint32_t> duration_ms);
  // Lifts every ban of `ip`; false when there was none.
  bool Remove(const plat::IpAddress& ip) { return Remove(plat::IpPrefix{ip, 128}); }
  // Lifts the manual ban of exactly that block and the automatic ban of exactly that address or
  // block (an IPv6 host's automatic ban is its /64's).
  bool Remove(const plat::IpPrefix& prefix);
  // Whether no ban is held at all, or no manual one (quick tests without the lock, for the voice
  // path).
  bool Empty() const { return held_.load(std::memory_order_relaxed) == 0; }
  bool NoManualBans() const { return manual_held_.load(std::memory_order_relaxed) == 0; }
  // The bans in force at `now_ms`, manual ones first.
  std::vector<BanEntry> List(uint64_t now_ms);

 private:
  struct Ban {
    bool permanent = false;
    uint64_t until_ms = 0;
    bool Ended(uint64_t now_ms) const { return !permanent && now_ms >= until_ms; }
  };
  static BanEntry Describe(const plat::IpPrefix& prefix, BanKind kind, const Ban& ban,
                           uint64_t now_ms);
  // The automatic ban of `group` unless it has ended; REQUIRES: mutex_ held.
  bool AutomaticallyBanned(const AddressGroup& group, uint64_t now_ms);
  // REQUIRES: mutex_ held.
  bool BannedManuallyLocked(const plat::IpAddress& ip, uint64_t now_ms);
  // REQUIRES: mutex_ held.
  void DropExpired(uint64_t now_ms);
  // Recounts the held bans and the block lengths in use; REQUIRES: mutex_ held.
  void Recount();
  // The manual ban whose block holds `ip`, or null; REQUIRES: mutex_ held.
  Ban* FindManual(const plat::IpAddress& ip, plat::IpPrefix* found);

  std::mutex mutex_;
  ExpiringTable<AddressGroup, Ban, AddressGroup::Hash> automatic_;  // guarded by mutex_
  BoundedTable<plat::IpPrefix, Ban, PrefixHash> manual_;            // guarded by mutex_
  std::bitset<129> manual_lengths_;  // guarded by mutex_; bit n: a block of length n (IPv6 form)
  std::atomic<size_t> held_{0};
  std::atomic<size_t> manual_held_{0};
};

}  // namespace security
