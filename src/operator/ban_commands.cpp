// The operator's bans: ban add|remove|list, their enforcement (a ban closes the block's
// connections and clients at once) and their keeping in the configuration file.
#include <algorithm>

#include "operator/commands.h"
#include "platform/clock.h"
#include "platform/tcp_connection.h"
#include "text/safe_text.h"
#include "wire/global_types.h"

namespace oper {
namespace {

constexpr char kAddressHelp[] =
    "\"address\" must be an IPv4 or IPv6 address or a block such as 198.51.100.0/24 or "
    "2001:db8::/48";

std::optional<uint32_t> RemainingMs(const ManualBan& ban, int64_t now_unix) {
  if (!ban.until_unix) return std::nullopt;
  const int64_t seconds = std::clamp<int64_t>(*ban.until_unix - now_unix, 0, kMaxBanSeconds);
  return static_cast<uint32_t>(seconds * 1000);
}

// `by`: operator, or reload for a ban the file brought.
core::EventLine BanEventLine(const ManualBan& ban, const char* by) {
  core::EventLine line(core::EventLevel::kWarning, "ban");
  line.Word("addr", PrefixText(ban.prefix));
  line.Word("until", ban.until_unix ? UtcText(*ban.until_unix) : "permanent");
  line.Text("reason", ban.reason).Word("by", by);
  return line;
}

bool SameBan(const ManualBan& a, const ManualBan& b) {
  return a.prefix == b.prefix && a.until_unix == b.until_unix && a.reason == b.reason;
}

}  // namespace

void OperatorCommands::Enforce(const plat::IpPrefix& prefix) {
  std::vector<clients::ClientRef> hit;
  {
    clients::ClientList::Lock lock = access_.clients.Acquire();
    for (const clients::ClientRef& client : access_.clients.Entries(lock)) {
      if (prefix.Contains(client->Connection()->Peer().ip)) hit.push_back(client);
    }
  }
  for (const clients::ClientRef& client : hit) {
    if (clients::AnnounceDeparture(access_.clients, *client, "ban", wire::kReasonKicked))
      client->Connection()->RequestClose();
  }
  auto inside = [&](const plat::IpAddress& ip) { return prefix.Contains(ip); };
  for (const auto& pending : access_.guard.pending().TakeMatching(inside))
    std::static_pointer_cast<plat::TcpConnection>(pending)->RequestClose();
}

plat::Status OperatorCommands::StoreBook(const BanBook& book) {
  return access_.config.Change([&](plat::IniFile& ini) { book.Store(ini); });
}

void OperatorCommands::LoadBans() {
  std::lock_guard<std::mutex> lock(book_mutex_);
  BanBook loaded;
  std::vector<std::string> bad;
  const int64_t now = access_.clock.UnixSeconds();
  const uint64_t tick = access_.clock.MonotonicMs();
  const plat::Status read =
      access_.config.Read([&](const plat::IniFile& ini) { loaded.Load(ini, now, &bad); });
  if (!read.ok()) return;
  for (const std::string& key : bad) {
    core::EventLine line(core::EventLevel::kWarning, "setting");
    line.Word("section", kBansSection).Text("key", key);
    line.Text("reason", core::kNotABan);
    access_.events.Emit(line);
  }
  for (const ManualBan& ban : loaded.entries()) {
    if (!access_.guard.bans().AddManual(ban.prefix, tick, RemainingMs(ban, now))) continue;
    book_.Put(ban);
    Enforce(ban.prefix);
  }
}

void OperatorCommands::DropEndedBans() {
  std::lock_guard<std::mutex> lock(book_mutex_);
  BanBook kept = book_;
  if (!kept.DropEnded(access_.clock.UnixSeconds())) return;
  // The ban list has ended them by itself; the file follows when it can.
  if (StoreBook(kept).ok()) book_ = std::move(kept);
}

void OperatorCommands::ReloadBans(const plat::IniFile& file, core::ReloadOutcome& outcome) {
  const int64_t now = access_.clock.UnixSeconds();
  const uint32_t tick = access_.clock.Now();
  BanBook next;
  next.Load(file, now, nullptr);
  std::lock_guard<std::mutex> lock(book_mutex_);
  bool changed = false;
  for (const ManualBan& held : book_.entries()) {
    if (next.Find(held.prefix)) continue;
    access_.guard.bans().Remove(held.prefix);
    access_.events.Emit(core::AdminActionLine(core::Actor::Reload(), "unban", "ok")
                            .Word("addr", PrefixText(held.prefix)));
    changed = true;
  }
  BanBook in_force;
  for (const ManualBan& ban : next.entries()) {
    const ManualBan* held = book_.Find(ban.prefix);
    if (held && SameBan(*held, ban)) {
      in_force.Put(ban);
      continue;
    }
    if (!access_.guard.bans().AddManual(ban.prefix, tick, RemainingMs(ban, now))) {
      outcome.notes.push_back("[Bans] " + PrefixText(ban.prefix) + ": the ban list is full");
      continue;
    }
    in_force.Put(ban);
    access_.events.Emit(BanEventLine(ban, "reload"));
    Enforce(ban.prefix);
    changed = true;
  }
  book_ = std::move(in_force);
  if (changed) outcome.changed.push_back("Bans");
}

Json OperatorCommands::Ban(const Json& request) {
  const std::string action = StringArgument(request, "action");
  if (action == "add") return BanAdd(request);
  if (action == "remove") return BanRemove(request);
  if (action == "list") return BanList();
  throw CommandError(error_code::kBadArgument, "\"action\" must be add, remove or list");
}

Json OperatorCommands::BanAdd(const Json& request) {
  std::optional<plat::IpPrefix> prefix = ParsePrefix(StringArgument(request, "address"));
  if (!prefix) throw CommandError(error_code::kBadArgument, kAddressHelp);
  const bool forced = request.contains("force") && request["force"] == true;
  if (core::WiderThanUnforced(*prefix) && !forced)
    throw CommandError(error_code::kBadArgument,
                       PrefixText(*prefix) + " is wider than a /" +
                           std::to_string(prefix->address.IsIpv4() ? core::kWidestUnforcedBlock
                                                                   : core::kWidestUnforcedBlock6) +
                           " and would shut out every player in it; "
                           "\"force\": true adds it all the same");
  ManualBan ban{*prefix, std::nullopt, ""};
  if (request.contains("reason") && !request["reason"].is_null()) {
    ban.reason = StringArgument(request, "reason");
    if (ban.reason.size() > kMaxReasonLength ||
        std::any_of(ban.reason.begin(), ban.reason.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
      throw CommandError(error_code::kBadArgument,
                         "\"reason\" must be one line of at most 200 bytes");
  }
  const int64_t now = access_.clock.UnixSeconds();
  if (!request.contains("duration")) {
    ban.until_unix = now + core::kDefaultBanSeconds;
  } else if (!request["duration"].is_null()) {
    const int64_t seconds = IntegerArgument(request, "duration");
    if (seconds < 1 || seconds > kMaxBanSeconds)
      throw CommandError(error_code::kBadArgument,
                         "\"duration\" must be 1 to " + std::to_string(kMaxBanSeconds) +
                             " seconds (24 days), or null for a ban without end");
    ban.until_unix = now + seconds;
  }
  // The file first: a ban answered with success comes back after a restart.
  std::lock_guard<std::mutex> lock(book_mutex_);
  BanBook next = book_;
  next.Put(ban);
  if (plat::Status stored = StoreBook(next); !stored.ok()) throw NotSaved(stored.message());
  if (!access_.guard.bans().AddManual(ban.prefix, access_.clock.MonotonicMs(),
                                      RemainingMs(ban, now))) {
    StoreBook(book_);
    throw CommandError(error_code::kFull, "the ban list is full");
  }
  book_ = std::move(next);
  access_.events.Emit(BanEventLine(ban, "operator"));
  Enforce(ban.prefix);
  Json result{{"address", PrefixText(ban.prefix)},
              {"until", ban.until_unix ? Json(UtcText(*ban.until_unix)) : Json(nullptr)},
              {"reason", text::JsonSafeText(ban.reason)}};
  return result;
}

Json OperatorCommands::BanRemove(const Json& request) {
  std::optional<plat::IpPrefix> prefix = ParsePrefix(StringArgument(request, "address"));
  if (!prefix) throw CommandError(error_code::kBadArgument, kAddressHelp);
  std::lock_guard<std::mutex> lock(book_mutex_);
  BanBook next = book_;
  const bool in_book = next.Erase(*prefix);
  if (in_book) {
    if (plat::Status stored = StoreBook(next); !stored.ok()) throw NotSaved(stored.message());
  }
  const bool held = access_.guard.bans().Remove(*prefix);
  book_ = std::move(next);
  if (!in_book && !held)
    throw CommandError(error_code::kNotFound, "no ban of " + PrefixText(*prefix));
  access_.events.Emit(core::AdminActionLine(core::Actor::Operator(), "unban", "ok")
                          .Word("addr", PrefixText(*prefix)));
  return Json{{"address", PrefixText(*prefix)}};
}

Json OperatorCommands::BanList() {
  std::lock_guard<std::mutex> lock(book_mutex_);
  const int64_t now = access_.clock.UnixSeconds();
  Json bans = Json::array();
  for (const security::BanEntry& entry : access_.guard.bans().List(access_.clock.MonotonicMs())) {
    const plat::IpPrefix& prefix = entry.prefix;
    Json item{{"address", PrefixText(prefix)},
              {"kind", entry.kind == security::BanKind::kManual ? "manual" : "automatic"}};
    const ManualBan* kept = entry.kind == security::BanKind::kManual ? book_.Find(prefix) : nullptr;
    if (kept && kept->until_unix) {
      item["until"] = UtcText(*kept->until_unix);
    } else if (!kept && entry.remaining_ms) {
      item["until"] = UtcText(now + (*entry.remaining_ms + 999) / 1000);
    } else {
      item["until"] = nullptr;
    }
    item["remaining_ms"] = entry.remaining_ms ? Json(*entry.remaining_ms) : Json(nullptr);
    item["reason"] = kept ? text::JsonSafeText(kept->reason)
                     : entry.kind == security::BanKind::kAutomatic ? "failed-passwords"
                                                                   : "";
    bans.push_back(std::move(item));
  }
  return Json{{"bans", std::move(bans)}};
}

}  // namespace oper
