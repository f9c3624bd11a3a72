#include "security/ban_list.h"

namespace security {

BanList::BanList() : automatic_(kMaxAutomatic), manual_(kMaxManual) {}

BanList::Ban* BanList::FindManual(uint32_t ip, AddressPrefix* found) {
  // One look-up per block length in use: at most 33, usually one or two.
  for (int length = 32; length >= 0; --length) {
    if (!(manual_lengths_ >> length & 1)) continue;
    const AddressPrefix prefix = AddressPrefix::Of(ip, static_cast<uint8_t>(length));
    if (Ban* ban = manual_.Find(prefix.Key())) {
      *found = prefix;
      return ban;
    }
  }
  return nullptr;
}

bool BanList::IsBanned(uint32_t ip, uint32_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool erased = false;
  AddressPrefix prefix;
  while (Ban* ban = FindManual(ip, &prefix)) {
    if (!Expired(*ban, now_ms)) return true;
    manual_.Erase(prefix.Key());
    Recount();
    erased = true;
  }
  if (Ban* ban = automatic_.Find(ip)) {
    if (!Expired(*ban, now_ms)) return true;
    automatic_.Erase(ip);
    erased = true;
  }
  if (erased) Recount();
  return false;
}

void BanList::BanAutomatically(uint32_t ip, uint32_t now_ms, uint32_t duration_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t until = now_ms + duration_ms;
  Ban* existing = automatic_.Find(ip);
  if (existing && !Expired(*existing, now_ms) && TickBefore(until, existing->until_ms)) return;
  automatic_.Touch(ip) = Ban{false, until};
  Recount();
}

bool BanList::AddManual(AddressPrefix prefix, uint32_t now_ms,
                        std::optional<uint32_t> duration_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired(now_ms);
  // Operators' bans are never forgotten to make room: a full list refuses the next one.
  if (!manual_.Find(prefix.Key()) && manual_.Size() >= manual_.Capacity()) return false;
  manual_.Touch(prefix.Key()) = Ban{!duration_ms.has_value(), now_ms + duration_ms.value_or(0)};
  Recount();
  return true;
}

bool BanList::Remove(AddressPrefix prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool found = manual_.Find(prefix.Key()) != nullptr;
  manual_.Erase(prefix.Key());
  if (prefix.length == 32) {
    found = found || automatic_.Find(prefix.network) != nullptr;
    automatic_.Erase(prefix.network);
  }
  Recount();
  return found;
}

std::vector<BanEntry> BanList::List(uint32_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired(now_ms);
  std::vector<BanEntry> entries;
  manual_.ForEach([&](uint64_t key, const Ban& ban) {
    BanEntry entry = Describe(static_cast<uint32_t>(key >> 8), BanKind::kManual, ban, now_ms);
    entry.prefix_length = static_cast<uint8_t>(key & 0xFF);
    entries.push_back(entry);
  });
  automatic_.ForEach([&](uint32_t ip, const Ban& ban) {
    entries.push_back(Describe(ip, BanKind::kAutomatic, ban, now_ms));
  });
  return entries;
}

BanEntry BanList::Describe(uint32_t ip, BanKind kind, const Ban& ban, uint32_t now_ms) {
  BanEntry entry;
  entry.ip = ip;
  entry.kind = kind;
  if (!ban.permanent) entry.remaining_ms = ban.until_ms - now_ms;
  return entry;
}

void BanList::DropExpired(uint32_t now_ms) {
  manual_.EraseIf([now_ms](uint64_t, const Ban& ban) { return Expired(ban, now_ms); });
  automatic_.EraseIf([now_ms](uint32_t, const Ban& ban) { return Expired(ban, now_ms); });
  Recount();
}

void BanList::Recount() {
  manual_lengths_ = 0;
  manual_.ForEach(
      [&](uint64_t key, const Ban&) { manual_lengths_ |= uint64_t{1} << (key & 0xFF); });
  held_.store(manual_.Size() + automatic_.Size(), std::memory_order_relaxed);
}

}  // namespace security
