// The banned addresses: automatic bans, which the password-failure count sets for a time, and
// manual bans, which an operator sets and removes (for ever, or for a time). Both are listed with
// what is left of them, so an operator interface can show, add and lift them.
//
// Bounded: at most kMaxAutomatic automatic and kMaxManual manual bans; past that the automatic
// ban used least recently is forgotten, and a further manual ban is refused.
//
// Threading: every operation is safe from any thread (one internal lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "security/bounded_table.h"

namespace security {

enum class BanKind { kAutomatic, kManual };

struct BanEntry {
  uint32_t ip = 0;  // host byte order, as plat::Endpoint holds it
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
  bool AddManual(uint32_t ip, uint32_t now_ms, std::optional<uint32_t> duration_ms);
  // Lifts every ban of `ip`; false when there was none.
  bool Remove(uint32_t ip);
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

  std::mutex mutex_;
  BoundedTable<uint32_t, Ban> automatic_;  // guarded by mutex_
  BoundedTable<uint32_t, Ban> manual_;     // guarded by mutex_
};

}  // namespace security
