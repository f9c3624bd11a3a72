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

std::optional<uint32_t> RemainingMs(const ManualBan& ban, int64_t now_unix) {
  if (!ban.until_unix) return std::nullopt;
  const int64_t seconds = std::clamp<int64_t>(*ban.until_unix - now_unix, 0, kMaxBanSeconds);
  return static_cast<uint32_t>(seconds * 1000);
}

core::EventLine BanEventLine(const ManualBan& ban) {
  core::EventLine line(core::EventLevel::kWarning, "ban");
  line.Word("addr", PrefixText(ban.prefix));
  line.Word("until", ban.until_unix ? UtcText(*ban.until_unix) : "permanent");
  line.Text("reason", ban.reason).Word("by", "operator");
  return line;
}

}  // namespace

void OperatorCommands::Enforce(const security::AddressPrefix& prefix) {
  std::vector<clients::ClientRef> hit;
  {
    clients::ClientList::Lock lock = access_.clients.Acquire();
    for (const clients::ClientRef& client : access_.clients.Entries(lock)) {
      if (prefix.Contains(client->Connection()->Peer().ip)) hit.push_back(client);
    }
  }
  for (const clients::ClientRef& client : hit) {
    if (client->Dropped.exchange(true)) continue;
    client->LeaveReason = "ban";
    access_.clients.BroadcastPlayerLeft(*client, wire::kReasonKicked);
    client->Connection()->RequestClose();
  }
  auto inside = [&](uint32_t ip) { return prefix.Contains(ip); };
  for (const auto& pending : access_.guard.pending().TakeMatching(inside))
    std::static_pointer_cast<plat::TcpConnection>(pending)->RequestClose();
}

bool OperatorCommands::StoreBook(const BanBook& book) {
  return UpdateConfiguration(access_, [&](plat::IniFile& ini) { book.Store(ini); });
}

void OperatorCommands::LoadBans() {
  BanBook loaded;
  std::vector<std::string> bad;
  {
    std::lock_guard<std::mutex> lock(access_.config_mutex);
    std::string error;
    std::optional<plat::IniFile> ini = plat::IniFile::Open(access_.config_path, &error);
    if (!ini) return;
    loaded.Load(*ini, UnixNow(), &bad);
  }
  for (const std::string& key : bad) {
    core::EventLine line(core::EventLevel::kWarning, "setting");
    line.Word("section", kBansSection).Text("key", key);
    line.Text("reason", "not an address or block with an end; ignored");
    access_.events.Emit(line);
  }
  const int64_t now = UnixNow();
  for (const ManualBan& ban : loaded.entries()) {
    if (!access_.guard.bans().AddManual(ban.prefix, plat::TickCount(), RemainingMs(ban, now)))
      continue;
    book_.Put(ban);
    Enforce(ban.prefix);
  }
}

void OperatorCommands::DropEndedBans() {
  BanBook kept = book_;
  if (!kept.DropEnded(UnixNow())) return;
  // The ban list has ended them by itself; the file follows when it can.
  if (StoreBook(kept)) book_ = std::move(kept);
}

Json OperatorCommands::Ban(const Json& request) {
  const std::string action = StringArgument(request, "action");
  if (action == "add") return BanAdd(request);
  if (action == "remove") return BanRemove(request);
  if (action == "list") return BanList();
  throw CommandError(error_code::kBadArgument, "\"action\" must be add, remove or list");
}

Json OperatorCommands::BanAdd(const Json& request) {
  std::optional<security::AddressPrefix> prefix = ParsePrefix(StringArgument(request, "address"));
  if (!prefix)
    throw CommandError(error_code::kBadArgument,
                       "\"address\" must be an IPv4 address or a block such as 198.51.100.0/24");
  ManualBan ban{*prefix, std::nullopt, ""};
  if (request.contains("reason") && !request["reason"].is_null()) {
    ban.reason = StringArgument(request, "reason");
    if (ban.reason.size() > kMaxReasonLength ||
        std::any_of(ban.reason.begin(), ban.reason.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
      throw CommandError(error_code::kBadArgument,
                         "\"reason\" must be one line of at most 200 bytes");
  }
  const int64_t now = UnixNow();
  if (request.contains("duration") && !request["duration"].is_null()) {
    const int64_t seconds = IntegerArgument(request, "duration");
    if (seconds < 1 || seconds > kMaxBanSeconds)
      throw CommandError(error_code::kBadArgument,
                         "\"duration\" must be 1 to " + std::to_string(kMaxBanSeconds) +
                             " seconds (24 days), or null for a ban without end");
    ban.until_unix = now + seconds;
  }
  // The file first: a ban answered with success comes back after a restart.
  BanBook next = book_;
  next.Put(ban);
  if (!StoreBook(next))
    throw CommandError(error_code::kNotSaved, "the configuration file cannot be written");
  if (!access_.guard.bans().AddManual(ban.prefix, plat::TickCount(), RemainingMs(ban, now))) {
    StoreBook(book_);
    throw CommandError(error_code::kFull, "the ban list is full");
  }
  book_ = std::move(next);
  access_.events.Emit(BanEventLine(ban));
  Enforce(ban.prefix);
  Json result{{"address", PrefixText(ban.prefix)},
              {"until", ban.until_unix ? Json(UtcText(*ban.until_unix)) : Json(nullptr)},
              {"reason", text::JsonSafeText(ban.reason)}};
  return result;
}

Json OperatorCommands::BanRemove(const Json& request) {
  std::optional<security::AddressPrefix> prefix = ParsePrefix(StringArgument(request, "address"));
  if (!prefix)
    throw CommandError(error_code::kBadArgument,
                       "\"address\" must be an IPv4 address or a block such as 198.51.100.0/24");
  BanBook next = book_;
  const bool in_book = next.Erase(*prefix);
  if (in_book && !StoreBook(next))
    throw CommandError(error_code::kNotSaved, "the configuration file cannot be written");
  const bool held = access_.guard.bans().Remove(*prefix);
  book_ = std::move(next);
  if (!in_book && !held)
    throw CommandError(error_code::kNotFound, "no ban of " + PrefixText(*prefix));
  access_.events.Emit(ActionLine("unban", "ok").Word("addr", PrefixText(*prefix)));
  return Json{{"address", PrefixText(*prefix)}};
}

Json OperatorCommands::BanList() {
  const int64_t now = UnixNow();
  Json bans = Json::array();
  for (const security::BanEntry& entry : access_.guard.bans().List(plat::TickCount())) {
    const security::AddressPrefix prefix{entry.ip, entry.prefix_length};
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
