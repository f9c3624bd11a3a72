#include "security/ban_list.h"

#include <algorithm>
#include <limits>

namespace security {

BanList::BanList() : automatic_(kMaxAutomatic), manual_(kMaxManual) {}

BanList::Ban* BanList::FindManual(const plat::IpAddress& ip, plat::IpPrefix* found) {
  // One look-up per block length in use: at most 129, usually one or two.
  for (int length = 128; length >= 0; --length) {
    if (!manual_lengths_[static_cast<size_t>(length)]) continue;
    const plat::IpPrefix prefix{plat::Masked(ip, length), length};
    if (Ban* ban = manual_.Find(prefix)) {
      *found = prefix;
      return ban;
    }
  }
  return nullptr;
}

bool BanList::BannedManuallyLocked(const plat::IpAddress& ip, uint64_t now_ms) {
  plat::IpPrefix prefix;
  while (Ban* ban = FindManual(ip, &prefix)) {
    if (!ban->Ended(now_ms)) return true;
    manual_.Erase(prefix);
    Recount();  // the block lengths FindManual walks
  }
  return false;
}

bool BanList::AutomaticallyBanned(const AddressGroup& group, uint64_t now_ms) {
  const size_t before = automatic_.Size();
  const bool banned = automatic_.Find(group, now_ms) != nullptr;
  if (automatic_.Size() != before) Recount();
  return banned;
}

bool BanList::IsBanned(const plat::IpAddress& ip, uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (BannedManuallyLocked(ip, now_ms)) return true;
  return AutomaticallyBanned(AddressGroup::Host(ip), now_ms) ||
         AutomaticallyBanned(AddressGroup::Block(ip), now_ms);
}

bool BanList::IsBannedManually(const plat::IpAddress& ip, uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  return BannedManuallyLocked(ip, now_ms);
}

bool BanList::BanAutomatically(const AddressGroup& group, uint64_t now_ms, uint32_t duration_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t until = now_ms + duration_ms;
  Ban* ban = automatic_.FindOrAdd(group, now_ms);
  if (!ban) return false;
  ban->until_ms = std::max(ban->until_ms, until);
  Recount();
  return true;
}

bool BanList::AddManual(const plat::IpPrefix& prefix, uint64_t now_ms,
                        std::optional<uint32_t> duration_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired(now_ms);
  // Operators' bans are never forgotten to make room: a full list refuses the next one.
  if (!manual_.Find(prefix) && manual_.Size() >= manual_.Capacity()) return false;
  manual_.Touch(prefix) = Ban{!duration_ms.has_value(), now_ms + duration_ms.value_or(0)};
  Recount();
  return true;
}

bool BanList::Remove(const plat::IpPrefix& prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool found = manual_.Find(prefix) != nullptr;
  manual_.Erase(prefix);
  for (const AddressGroup group :
       {AddressGroup::Host(prefix.address), AddressGroup::Block(prefix.address)}) {
    // An IPv6 host is banned by its /64: lifting the address lifts it.
    const plat::IpPrefix banned = group.Prefix();
    if (banned != prefix && !(group.kind() == AddressGroup::Kind::kHost6 && prefix.length == 128))
      continue;
    found = found || automatic_.Find(group, 0) != nullptr;
    automatic_.Erase(group);
  }
  Recount();
  return found;
}

std::vector<BanEntry> BanList::List(uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired(now_ms);
  std::vector<BanEntry> entries;
  manual_.ForEach([&](const plat::IpPrefix& prefix, const Ban& ban) {
    entries.push_back(Describe(prefix, BanKind::kManual, ban, now_ms));
  });
  automatic_.ForEach([&](const AddressGroup& group, const Ban& ban) {
    entries.push_back(Describe(group.Prefix(), BanKind::kAutomatic, ban, now_ms));
  });
  return entries;
}

BanEntry BanList::Describe(const plat::IpPrefix& prefix, BanKind kind, const Ban& ban,
                           uint64_t now_ms) {
  BanEntry entry;
  entry.prefix = prefix;
  entry.kind = kind;
  if (!ban.permanent) {
    entry.remaining_ms = static_cast<uint32_t>(
        std::min<uint64_t>(ban.until_ms - now_ms, std::numeric_limits<uint32_t>::max()));
  }
  return entry;
}

void BanList::DropExpired(uint64_t now_ms) {
  manual_.EraseIf([now_ms](const plat::IpPrefix&, const Ban& ban) { return ban.Ended(now_ms); });
  automatic_.SweepEnded(now_ms);
  Recount();
}

void BanList::Recount() {
  manual_lengths_.reset();
  manual_.ForEach([&](const plat::IpPrefix& prefix, const Ban&) {
    manual_lengths_.set(static_cast<size_t>(prefix.length));
  });
  manual_held_.store(manual_.Size(), std::memory_order_relaxed);
  held_.store(manual_.Size() + automatic_.Size(), std::memory_order_relaxed);
}

}  // namespace security
