#include "platform/ip_address.h"

#include <cstdio>
#include <vector>

namespace plat {
namespace {

constexpr std::array<uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

std::string Ipv4Text(uint32_t ip) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF,
                (ip >> 8) & 0xFF, ip & 0xFF);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Colon-separated groups of one to four hex digits; the last may be a dotted IPv4 address (two
// groups) when `last_may_be_ipv4`. Empty text gives no groups. False on any other text.
bool ParseGroups(const std::string& text, bool last_may_be_ipv4, std::vector<uint16_t>& groups) {
  if (text.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    const std::string part = text.substr(start, colon == std::string::npos ? colon : colon - start);
    if (colon == std::string::npos && last_may_be_ipv4 && part.find('.') != std::string::npos) {
      std::optional<uint32_t> ipv4 = ParseIpv4(part);
      if (!ipv4) return false;
      groups.push_back(static_cast<uint16_t>(*ipv4 >> 16));
      groups.push_back(static_cast<uint16_t>(*ipv4 & 0xFFFF));
      return true;
    }
    if (part.empty() || part.size() > 4) return false;
    uint16_t group = 0;
    for (char c : part) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      group = static_cast<uint16_t>(group << 4 | digit);
    }
    groups.push_back(group);
    if (groups.size() > 8) return false;
    if (colon == std::string::npos) return true;
    start = colon + 1;
  }
}

std::optional<IpAddress> ParseIpv6(const std::string& text) {
  if (text.size() > 45) return std::nullopt;  // the longest literal: eight groups with an IPv4 tail
  const size_t gap = text.find("::");
  std::vector<uint16_t> head, tail;
  if (gap == std::string::npos) {
    if (!ParseGroups(text, true, head) || head.size() != 8) return std::nullopt;
  } else {
    if (text.find("::", gap + 1) != std::string::npos) return std::nullopt;
    if (!ParseGroups(text.substr(0, gap), false, head) ||
        !ParseGroups(text.substr(gap + 2), true, tail) || head.size() + tail.size() > 7) {
      return std::nullopt;
    }
  }
  IpAddress address;
  auto store = [&address](size_t index, uint16_t group) {
    address.bytes[index * 2] = static_cast<uint8_t>(group >> 8);
    address.bytes[index * 2 + 1] = static_cast<uint8_t>(group & 0xFF);
  };
  for (size_t i = 0; i < head.size(); ++i) store(i, head[i]);
  for (size_t i = 0; i < tail.size(); ++i) store(8 - tail.size() + i, tail[i]);
  return address;
}

std::string Ipv6Text(const IpAddress& address) {
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i)
    groups[i] = static_cast<uint16_t>(address.bytes[i * 2] << 8 | address.bytes[i * 2 + 1]);
  int best_start = -1, best_length = 1;  // a single zero group is written out
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > best_length) {
      best_start = i;
      best_length = end - i;
    }
    i = end;
  }
  std::string text;
  char group[8];
  for (int i = 0; i < 8; ++i) {
    if (i == best_start) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return text;
}

}  // namespace

IpAddress IpAddress::FromIpv4(uint32_t ip) {
  IpAddress address;
  for (size_t i = 0; i < kMappedPrefix.size(); ++i) address.bytes[i] = kMappedPrefix[i];
  for (int i = 0; i < 4; ++i) address.bytes[12 + i] = static_cast<uint8_t>(ip >> (24 - 8 * i));
  return address;
}

bool IpAddress::IsIpv4() const {
  for (size_t i = 0; i < kMappedPrefix.size(); ++i)
    if (bytes[i] != kMappedPrefix[i]) return false;
  return true;
}

uint32_t IpAddress::Ipv4() const {
  if (!IsIpv4()) return 0;
  return static_cast<uint32_t>(bytes[12]) << 24 | static_cast<uint32_t>(bytes[13]) << 16 |
         static_cast<uint32_t>(bytes[14]) << 8 | bytes[15];
}

bool IpAddress::IsUnspecified() const {
  return *this == IpAddress{} || *this == FromIpv4(0);
}

bool IpAddress::IsLoopback() const {
  if (IsIpv4()) return (Ipv4() >> 24) == 127;
  return High() == 0 && Low() == 1;
}

uint64_t IpAddress::High() const {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | bytes[i];
  return value;
}

uint64_t IpAddress::Low() const {
  uint64_t value = 0;
  for (int i = 8; i < 16; ++i) value = value << 8 | bytes[i];
  return value;
}

std::string IpAddress::Text() const {
  return IsIpv4() ? Ipv4Text(Ipv4()) : Ipv6Text(*this);
}

std::optional<uint32_t> ParseIpv4(const std::string& text) {
  uint32_t result = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    uint32_t part = 0;
    int digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      if (++digits > 3 || part > 255) return std::nullopt;
      ++i;
    }
    result = (result << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return result;
}

std::optional<IpAddress> ParseIpAddress(const std::string& text) {
  if (text.find(':') == std::string::npos) {
    std::optional<uint32_t> ipv4 = ParseIpv4(text);
    if (!ipv4) return std::nullopt;
    return IpAddress::FromIpv4(*ipv4);
  }
  return ParseIpv6(text);
}

IpAddress Masked(const IpAddress& address, int length) {
  IpAddress masked = address;
  for (int i = 0; i < 16; ++i) {
    const int kept = length - i * 8;
    if (kept >= 8) continue;
    masked.bytes[i] &= kept <= 0 ? 0 : static_cast<uint8_t>(0xFF << (8 - kept));
  }
  return masked;
}

bool IpPrefix::Contains(const IpAddress& candidate) const {
  return Masked(candidate, length) == address;
}

int IpPrefix::ShownLength() const {
  return address.IsIpv4() && length >= 96 ? length - 96 : length;
}

std::string IpPrefix::Text() const {
  if (length == 128) return address.Text();
  return address.Text() + "/" + std::to_string(ShownLength());
}

std::optional<IpPrefix> ParseIpPrefix(const std::string& text) {
  const size_t slash = text.find('/');
  std::optional<IpAddress> address = ParseIpAddress(text.substr(0, slash));
  if (!address) return std::nullopt;
  const int width = address->IsIpv4() ? 32 : 128;
  int length = width;
  if (slash != std::string::npos) {
    const std::string digits = text.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    length = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      length = length * 10 + (c - '0');
    }
    if (length > width) return std::nullopt;
  }
  if (address->IsIpv4()) length += 96;
  return IpPrefix{Masked(*address, length), length};
}

IpAddress AddressGroup(const IpAddress& address) {
  return address.IsIpv4() ? address : Masked(address, 64);
}

}  // namespace plat
