// The banned addresses: automatic bans, which the password-failure count sets for a time, and
// manual bans, which an operator sets and removes (for ever, or for a time). Both are listed with
// what is left of them, so an operator interface can show, add and lift them.
//
// Bounded: at most kMaxAutomatic automatic and kMaxManual manual bans; past that the automatic
// ban used least recently is forgotten, and a further manual ban is refused.
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "security/bounded_table.h"

namespace security {

enum class BanKind { kAutomatic, kManual };

// An IPv4 address (length 32) or a block of them: the addresses whose first `length` bits are
// those of `network`.
struct AddressPrefix {
  uint32_t network = 0;  // host byte order; bits past the length are zero
  uint8_t length = 32;   // 0..32

  static uint32_t Mask(uint8_t length) { return length == 0 ? 0 : ~uint32_t{0} << (32 - length); }
  // The block of `length` bits that holds `ip`.
  static AddressPrefix Of(uint32_t ip, uint8_t length) {
    return AddressPrefix{ip & Mask(length), length};
  }
  bool Contains(uint32_t ip) const { return (ip & Mask(length)) == network; }
  uint64_t Key() const { return (uint64_t{network} << 8) | length; }
  bool operator==(const AddressPrefix&) const = default;
};

struct BanEntry {
  uint32_t ip = 0;  // host byte order, as plat::Endpoint holds it; the network of a block
  uint8_t prefix_length = 32;
  BanKind kind = BanKind::kAutomatic;
  // Milliseconds until the ban ends; nothing for a manual ban without end.
  std::optional<uint32_t> remaining_ms;
};

class BanList {
 public:
  static constexpr size_t kMaxAutomatic = 4096;
  static constexpr size_t kMaxManual = 1024;

  BanList();

  // Whether `ip` is banned at `now_ms` (an expired ban is dropped on the way).
  bool IsBanned(uint32_t ip, uint32_t now_ms);
  // Bans `ip` for `duration_ms` from now; a longer ban already in force stays.
  void BanAutomatically(uint32_t ip, uint32_t now_ms, uint32_t duration_ms);
  // A manual ban, for `duration_ms` or (nothing) for ever; false when the manual list is full.
  bool AddManual(uint32_t ip, uint32_t now_ms, std::optional<uint32_t> duration_ms) {
    return AddManual(AddressPrefix{ip, 32}, now_ms, duration_ms);
  }
  // The same for a block of addresses (replacing a ban of the same block).
  bool AddManual(AddressPrefix prefix, uint32_t now_ms, std::optional<uint32_t> duration_ms);
  // Lifts every ban of `ip`; false when there was none.
  bool Remove(uint32_t ip) { return Remove(AddressPrefix{ip, 32}); }
  // Lifts the manual ban of exactly that block (and, for one address, its automatic ban).
  bool Remove(AddressPrefix prefix);
  // Whether no ban is held at all (a quick test without the lock, for the voice path).
  bool Empty() const { return held_.load(std::memory_order_relaxed) == 0; }
  // The bans in force at `now_ms`, manual ones first.
  std::vector<BanEntry> List(uint32_t now_ms);

 private:
  struct Ban {
    bool permanent = false;
    uint32_t until_ms = 0;
  };
  static bool Expired(const Ban& ban, uint32_t now_ms) {
    return !ban.permanent && !TickBefore(now_ms, ban.until_ms);
  }
  static BanEntry Describe(uint32_t ip, BanKind kind, const Ban& ban, uint32_t now_ms);
  // REQUIRES: mutex_ held.
  void DropExpired(uint32_t now_ms);
  // Recounts the held bans and the block lengths in use; REQUIRES: mutex_ held.
  void Recount();
  // The manual ban whose block holds `ip`, or null; REQUIRES: mutex_ held.
  Ban* FindManual(uint32_t ip, AddressPrefix* found);

  std::mutex mutex_;
  BoundedTable<uint32_t, Ban> automatic_;  // guarded by mutex_
  BoundedTable<uint64_t, Ban> manual_;     // guarded by mutex_; keyed by AddressPrefix::Key
  uint64_t manual_lengths_ = 0;            // guarded by mutex_; bit n: a block of length n
  std::atomic<size_t> held_{0};
};

}  // namespace security
