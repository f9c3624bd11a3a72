#include "control/frame_reader.h"

#include <algorithm>

#include "platform/clock.h"

namespace control {
namespace {

// The header's length field, when enough of the header is at hand (byte 0 is in `frame`, the
// rest in the connection's buffer).
size_t DeclaredLength(const plat::TcpConnection& connection) {
  if (1 + connection.Buffered() < 6) return 0;
  return static_cast<size_t>(connection.PeekByte(wire::kOffsetLength - 1)) |
         (static_cast<size_t>(connection.PeekByte(wire::kOffsetLength)) << 8);
}

void AwaitBytes(plat::TcpConnection& connection, size_t wanted) {
  uint32_t started = plat::TickCount();
  // A connection asked to close (a kick, the shutdown) or left by its peer gets nothing more:
  // waiting on would only spin, as its reads return at once.
  while (connection.Buffered() < wanted && connection.IsOpen() && !connection.PeerGone()) {
    uint32_t waited = plat::TickCount() - started;
    if (waited >= kMissingBytesWaitMs) return;
    if (!connection.ReadAvailable(static_cast<int>(kMissingBytesWaitMs - waited))) return;
  }
}

}  // namespace

FrameRead ReadFrame(plat::TcpConnection& connection, std::array<uint8_t, wire::kMaxFrame>& frame,
                    bool leaving) {
  if (!connection.WaitForData()) return {0, true};
  connection.Take(frame.data(), 1);
  const bool readable = connection.ReadAvailable(kFirstWindowMs);
  if (!readable || !connection.IsOpen() || leaving) return {1, true};

  size_t length = DeclaredLength(connection);
  size_t rest;
  if (length >= kMinFramedLength && length <= wire::kMaxFrame) {
    AwaitBytes(connection, length - 1);
    rest = std::min(length - 1, connection.Buffered());
  } else {
    rest = std::min(wire::kMaxFrame - 1, connection.Buffered());
  }
  return {1 + connection.Take(frame.data() + 1, rest), false};
}

}  // namespace control
