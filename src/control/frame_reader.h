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

// What one read of the control stream found.
struct FrameRead {
  size_t size = 0;                // the frame's bytes at the start of the buffer
  bool connection_ended = false;  // the connection failed or closed: no frame to handle
};

// Reads one frame into `frame`. When the connection failed or closed, the size is 0 if not
// even the first byte came, else 1. For a client that is `leaving` the read stops after the
// first byte (or the close) and the result says the connection ended.
FrameRead ReadFrame(plat::TcpConnection& connection, std::array<uint8_t, wire::kMaxFrame>& frame,
                    bool leaving);

}  // namespace control
