#include "wire/crc.h"

#include <array>

namespace wire {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Eight tables, so the loop takes eight bytes per step (slicing by eight): the relay seals every
// copy it sends.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t value = byte;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ kPolynomial : value >> 1;
    tables[0][byte] = value;
  }
  for (uint32_t byte = 0; byte < 256; ++byte) {
    for (size_t k = 1; k < 8; ++k) {
      uint32_t previous = tables[k - 1][byte];
      tables[k][byte] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr Tables kTables = MakeTables();

inline uint32_t LoadLittleEndian32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length) {
  if (length > kMaxCrcLength) return 0xFFFFFFFFu;
  uint32_t crc = 0xFFFFFFFFu;
  while (length >= 8) {
    uint32_t low = LoadLittleEndian32(data) ^ crc;
    uint32_t high = LoadLittleEndian32(data + 4);
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
          kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
    data += 8;
    length -= 8;
  }
  while (length-- > 0) crc = kTables[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace wire
