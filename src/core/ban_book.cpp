#include "core/ban_book.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace core {
namespace {

std::string Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

std::optional<plat::IpPrefix> ParsePrefix(std::string_view text) {
  return plat::ParseIpPrefix(std::string(text));
}

std::string PrefixText(const plat::IpPrefix& prefix) {
  return prefix.Text();
}

bool WiderThanUnforced(const plat::IpPrefix& prefix) {
  if (prefix.address.IsIpv4() && prefix.length >= 96)
    return prefix.ShownLength() < kWidestUnforcedBlock;
  return prefix.length < kWidestUnforcedBlock6;
}

std::string UtcText(int64_t unix_seconds) {
  int64_t days = unix_seconds / 86400;
  int64_t rest = unix_seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

std::string BanBook::FormatValue(const ManualBan& ban) {
  std::string value = ban.until_unix ? std::to_string(*ban.until_unix) : "permanent";
  if (!ban.reason.empty()) value += "; " + ban.reason;
  return value;
}

std::optional<ManualBan> BanBook::ParseEntry(const std::string& key, const std::string& value) {
  std::optional<plat::IpPrefix> prefix = ParsePrefix(Trim(key));
  if (!prefix) return std::nullopt;
  const size_t semicolon = value.find(';');
  const std::string end = Trim(std::string_view(value).substr(0, semicolon));
  ManualBan ban{*prefix, std::nullopt, ""};
  if (semicolon != std::string::npos)
    ban.reason = Trim(std::string_view(value).substr(semicolon + 1));
  if (end != "permanent") {
    int64_t until = 0;
    auto [stop, error] = std::from_chars(end.data(), end.data() + end.size(), until);
    if (end.empty() || error != std::errc() || stop != end.data() + end.size()) return std::nullopt;
    ban.until_unix = until;
  }
  return ban;
}

void BanBook::Load(const plat::IniFile& ini, int64_t now_unix, std::vector<std::string>* bad) {
  entries_.clear();
  for (const std::string& key : ini.KeysOf(kBansSection)) {
    std::optional<ManualBan> ban = ParseEntry(key, ini.ReadString(kBansSection, key, ""));
    if (!ban) {
      if (bad) bad->push_back(key);
      continue;
    }
    if (ban->until_unix && *ban->until_unix <= now_unix) continue;
    Put(std::move(*ban));
  }
}

void BanBook::Store(plat::IniFile& ini) const {
  ini.EraseSection(kBansSection);
  for (const ManualBan& ban : entries_)
    ini.WriteString(kBansSection, PrefixText(ban.prefix), FormatValue(ban));
}

void BanBook::Put(ManualBan ban) {
  for (ManualBan& held : entries_) {
    if (held.prefix == ban.prefix) {
      held = std::move(ban);
      return;
    }
  }
  entries_.push_back(std::move(ban));
}

bool BanBook::Erase(const plat::IpPrefix& prefix) {
  return std::erase_if(entries_, [&](const ManualBan& ban) { return ban.prefix == prefix; }) > 0;
}

bool BanBook::DropEnded(int64_t now_unix) {
  return std::erase_if(entries_, [&](const ManualBan& ban) {
           return ban.until_unix && *ban.until_unix <= now_unix;
         }) > 0;
}

const ManualBan* BanBook::Find(const plat::IpPrefix& prefix) const {
  for (const ManualBan& ban : entries_) {
    if (ban.prefix == prefix) return &ban;
  }
  return nullptr;
}

}  // namespace core
