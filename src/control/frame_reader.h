// Framing of the control stream. After the first byte and a 1 ms window for what follows it:
// when at least 6 bytes are at hand and the header's length L lies in 8..4096, the frame is
// exactly L bytes (missing bytes are awaited up to 1000 ms; if they do not come, what arrived is
// the frame). Otherwise the frame is everything at hand, at most 4096 bytes. Bytes beyond the
// frame stay buffered for the next pass.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/tcp_connection.h"
#include "wire/global_types.h"

namespace control {

constexpr size_t kMinFramedLength = 8;
constexpr int kFirstWindowMs = 1;
constexpr uint32_t kMissingBytesWaitMs = 1000;

// Reads one frame into `frame` and returns its size. Sets `disconnect` when the connection
// failed or closed; the size is then 0 when not even the first byte came.
size_t ReadFrame(plat::TcpConnection& connection, std::array<uint8_t, wire::kMaxFrame>& frame,
                 bool& disconnect);

}  // namespace control
