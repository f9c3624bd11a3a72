// The CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, as zlib's crc32), for the client
// side of the voice channel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plclient {

uint32_t ClientCrc32(const uint8_t* data, size_t length);

}  // namespace plclient
