// Crc32: the standard CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, preset and final
// complement, as zlib's crc32). No state: its tables are constant data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

// Blocks longer than this are not checked: the result is 0xFFFFFFFF without reading the data.
constexpr size_t kMaxCrcLength = 65521;

uint32_t Crc32(const uint8_t* data, size_t length);

}  // namespace wire
