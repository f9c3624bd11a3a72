// The manual bans (the operator's, and the file's own): each a block of addresses, an end in
// calendar time (or none) and a reason. They are kept in the configuration file's [Bans] section,
// one key per block:
//
//   [Bans]
//   203.0.113.7=permanent; spam bots
//   198.51.100.0/24=1767225600; flooding until the end of the year (seconds since 1970, UTC)
//   2001:db8:7::/48=permanent; an IPv6 provider's customer
//
// The server's ban list enforces them; the book remembers what to write back and what to show.
// A reload replaces them with the file's.
//
// Threading: none of its own; its owner serialises its use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"
#include "platform/ip_address.h"
#include "security/ban_list.h"

namespace core {

inline constexpr char kBansSection[] = "Bans";
// The longest ban with an end: the server's millisecond clock reaches this far ahead.
inline constexpr int64_t kMaxBanSeconds = 24 * 86400;
inline constexpr size_t kMaxReasonLength = 200;
// What is said of a [Bans] entry that is not one.
inline constexpr char kNotABan[] = "not an address or block with an end; ignored";
// A ban added without a duration: a day, so that a forgotten ban does not stay for ever.
inline constexpr int64_t kDefaultBanSeconds = 86400;
// Blocks shorter than these (for IPv4 more than 65,536 addresses, for IPv6 more than 65,536 /48
// sites: a whole provider, a private range, or every address) are added only when the operator
// insists; a /8 shuts out every player at once.
inline constexpr int kWidestUnforcedBlock = 16;
inline constexpr int kWidestUnforcedBlock6 = 32;

// Whether a ban of `prefix` needs the operator to insist.
bool WiderThanUnforced(const plat::IpPrefix& prefix);

struct ManualBan {
  plat::IpPrefix prefix;
  std::optional<int64_t> until_unix;  // seconds since 1970 (UTC); nothing: no end
  std::string reason;
};

// "203.0.113.7", "198.51.100.0/24", "2001:db8::1" or "2001:db8::/48" (bits past the length are
// cleared); nothing on bad text.
std::optional<plat::IpPrefix> ParsePrefix(std::string_view text);
// The inverse: a single address without "/32" or "/128".
std::string PrefixText(const plat::IpPrefix& prefix);

// "2026-12-08T10:21:07Z"
std::string UtcText(int64_t unix_seconds);

class BanBook {
 public:
  // The entry's value in the file, and back; nothing for a value that is not one.
  static std::string FormatValue(const ManualBan& ban);
  static std::optional<ManualBan> ParseEntry(const std::string& key, const std::string& value);

  // Reads [Bans], leaving out the bans that have ended by `now_unix`; `bad` receives the keys
  // that could not be read.
  void Load(const plat::IniFile& ini, int64_t now_unix, std::vector<std::string>* bad);
  // Replaces [Bans] with the bans held.
  void Store(plat::IniFile& ini) const;

  void Put(ManualBan ban);
  bool Erase(const plat::IpPrefix& prefix);
  // Drops the bans that have ended; true when any did.
  bool DropEnded(int64_t now_unix);
  const ManualBan* Find(const plat::IpPrefix& prefix) const;
  const std::vector<ManualBan>& entries() const { return entries_; }

 private:
  std::vector<ManualBan> entries_;
};

}  // namespace core
