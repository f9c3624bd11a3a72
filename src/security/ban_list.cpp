#include "security/ban_list.h"

namespace security {

BanList::BanList() : automatic_(kMaxAutomatic), manual_(kMaxManual) {}

bool BanList::IsBanned(uint32_t ip, uint32_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (BoundedTable<uint32_t, Ban>* table : {&manual_, &automatic_}) {
    Ban* ban = table->Find(ip);
    if (!ban) continue;
    if (!Expired(*ban, now_ms)) return true;
    table->Erase(ip);
  }
  return false;
}

void BanList::BanAutomatically(uint32_t ip, uint32_t now_ms, uint32_t duration_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t until = now_ms + duration_ms;
  Ban* existing = automatic_.Find(ip);
  if (existing && !Expired(*existing, now_ms) && TickBefore(until, existing->until_ms)) return;
  automatic_.Touch(ip) = Ban{false, until};
}

bool BanList::AddManual(uint32_t ip, uint32_t now_ms, std::optional<uint32_t> duration_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired(now_ms);
  // Operators' bans are never forgotten to make room: a full list refuses the next one.
  if (!manual_.Find(ip) && manual_.Size() >= manual_.Capacity()) return false;
  manual_.Touch(ip) = Ban{!duration_ms.has_value(), now_ms + duration_ms.value_or(0)};
  return true;
}

bool BanList::Remove(uint32_t ip) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool found = manual_.Find(ip) != nullptr || automatic_.Find(ip) != nullptr;
  manual_.Erase(ip);
  automatic_.Erase(ip);
  return found;
}

std::vector<BanEntry> BanList::List(uint32_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired(now_ms);
  std::vector<BanEntry> entries;
  manual_.ForEach([&](uint32_t ip, const Ban& ban) {
    entries.push_back(Describe(ip, BanKind::kManual, ban, now_ms));
  });
  automatic_.ForEach([&](uint32_t ip, const Ban& ban) {
    entries.push_back(Describe(ip, BanKind::kAutomatic, ban, now_ms));
  });
  return entries;
}

BanEntry BanList::Describe(uint32_t ip, BanKind kind, const Ban& ban, uint32_t now_ms) {
  BanEntry entry{ip, kind, std::nullopt};
  if (!ban.permanent) entry.remaining_ms = ban.until_ms - now_ms;
  return entry;
}

void BanList::DropExpired(uint32_t now_ms) {
  auto expired = [now_ms](uint32_t, const Ban& ban) { return Expired(ban, now_ms); };
  manual_.EraseIf(expired);
  automatic_.EraseIf(expired);
}

}  // namespace security
