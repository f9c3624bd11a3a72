// Wire constants of the control frames and datagrams, and the bounds-checked little-endian
// readers and writers every frame and datagram goes through. A field that lies beyond the bytes
// at hand reads as zero, never as memory outside the buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

constexpr uint16_t kFrameMagic = 0xB0BA;      // control frames and voice datagrams
constexpr uint16_t kKeepAliveMagic = 0xAABB;  // ping and pong datagrams
constexpr size_t kHeaderSize = 8;             // magic, Id, length, code
constexpr size_t kOffsetMagic = 0;
constexpr size_t kOffsetId = 2;
constexpr size_t kOffsetLength = 4;
constexpr size_t kOffsetCode = 6;
constexpr size_t kMaxFrame = 4096;  // the per-pass frame buffer

constexpr size_t kNameLength = 30;     // names, room names, passwords, version texts
constexpr size_t kAddressLength = 15;  // the address in PlayerStats
constexpr int kMaxNumbers = 255;       // PlayerNo and RoomId run from 0 to 254

// Command codes of client frames.
enum Command : int16_t {
  kClientLogin = 1,
  kClientListsReq = 2,
  kClientChangeRoom = 50,
  kClientLeave = 51,
  kPlayerStatsReq = 60,
  kServerStatsReq = 70,
  kAdminLogin = 100,
  kAdminCreateRoom = 110,
  kAdminDeleteRoom = 120,
  kAdminKickPlayer = 130,
  kAdminChangeServerPassword = 140,
  kAdminSaveAsDefaultChannels = 150,
  kAdminChangeAdminPassword = 160,
};

// Codes of server frames.
enum Reply : int16_t {
  kLoginAccepted = 1,
  kServerListsOlder = 2,
  kServerListsNewer = 3,
  kPlayerMoved = 10,
  kPlayerJoined = 11,
  kPlayerLeft = 12,
  kRoomCreated = 13,
  kRoomDeleted = 14,
  kPlayerIsAdmin = 15,
  kPlayerStatsOlder = 60,
  kPlayerStatsNewer = 61,
  kServerStats = 70,
};

// Result values.
enum Result : int16_t {
  kResultServerFull = -1,
  kResultWrongServerPassword = -2,
  kResultListsRefused = -5,
  kResultNoSuchPlayerStats = -60,
  kResultNotAdmin = -100,
  kResultWrongAdminPassword = -101,
  kResultAdminAccepted = 100,
  kResultRoomExists = -111,
  kResultNoSuchRoom = -120,
  kResultNoSuchPlayer = -130,
  kResultServerPasswordChanged = 140,
  // Our refusals of a change the configuration file cannot keep (a line break in a password, a
  // failed write) or that would open administration to anyone (an empty administrator
  // password): nothing has changed, in memory or in the file.
  kResultServerPasswordRefused = -140,
  kResultChannelsNotSaved = -150,
  kResultAdminPasswordRefused = -160,
  kResultChannelsSaved = 150,
  kResultAdminPasswordChanged = 160,
};

// PlayerLeft reasons.
constexpr uint8_t kReasonLeft = 0;
constexpr uint8_t kReasonPingTimeout = 2;
constexpr uint8_t kReasonKicked = 4;

// The version text that selects the older dialect of several frames.
inline constexpr std::string_view kOlderDialectVersion = "1.2.0";

// A value does not fit its wire field: the operation that builds the frame fails.
class FieldRangeError : public std::range_error {
 public:
  using std::range_error::range_error;
};

inline uint8_t ReadU8(std::span<const uint8_t> bytes, size_t offset) {
  return offset < bytes.size() ? bytes[offset] : 0;
}
inline uint16_t ReadU16(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint16_t>(ReadU8(bytes, offset) | (ReadU8(bytes, offset + 1) << 8));
}
inline int16_t ReadI16(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<int16_t>(ReadU16(bytes, offset));
}
inline uint32_t ReadU32(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint32_t>(ReadU16(bytes, offset)) |
         (static_cast<uint32_t>(ReadU16(bytes, offset + 2)) << 16);
}
// A counted text[max_length]: a length byte, then the characters. A length above max_length is
// taken as max_length; characters beyond the bytes at hand are dropped.
std::string ReadCountedText(std::span<const uint8_t> bytes, size_t offset, size_t max_length);

// Unchecked stores for buffers whose size the caller has established.
inline void StoreU16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
inline void StoreU32(uint8_t* at, uint32_t value) {
  StoreU16(at, static_cast<uint16_t>(value));
  StoreU16(at + 2, static_cast<uint16_t>(value >> 16));
}

// Builds a frame field by field. Values that do not fit their field throw FieldRangeError.
class FrameWriter {
 public:
  explicit FrameWriter(size_t reserve = 64) { bytes_.reserve(reserve); }
  FrameWriter& U8(int64_t value);
  FrameWriter& U16(int64_t value);
  FrameWriter& I16(int64_t value);
  FrameWriter& U32(uint32_t value);
  FrameWriter& F32(float value);
  FrameWriter& CountedText(std::string_view text, size_t max_length);
  // The common 8-byte header; the length is filled in by Finish.
  FrameWriter& Header(int64_t id, int64_t code);
  FrameWriter& Append(std::span<const uint8_t> bytes);
  // The bytes written so far, for record runs that become part of a frame.
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Fills the length field (offset 4) with the total size and hands the frame over. For whole
  // frames only: a frame longer than its length field throws FieldRangeError.
  std::vector<uint8_t> Finish();
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace wire
