#include "web/content_policy.h"

#include <cstdint>
#include <string_view>

#include "web/assets.h"

namespace web {
namespace {

// "'sha256-<base64>'" of a digest given as 64 hexadecimal digits.
std::string HashSource(std::string_view hex) {
  static constexpr char kBase64[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1]));
  std::string encoded;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
    for (size_t k = 0; k < 4; ++k)
      encoded += i + k <= bytes.size() ? kBase64[group >> (18 - 6 * k) & 0x3F] : '=';
  }
  return "'sha256-" + encoded + "'";
}

}  // namespace

Headers CommonHeaders() {
  return {{"X-Content-Type-Options", "nosniff"},
          {"Referrer-Policy", "no-referrer"},
          {"Cache-Control", "no-store"}};
}

std::string PagePolicy(bool framable) {
  static const std::string script = HashSource(assets::kViewJsSha256);
  static const std::string style = HashSource(assets::kViewCssSha256);
  return "default-src 'none'; script-src " + script + "; style-src " + style +
         "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors " +
         (framable ? "*" : "'none'");
}

}  // namespace web
