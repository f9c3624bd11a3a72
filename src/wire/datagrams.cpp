#include "wire/datagrams.h"

#include "wire/crc.h"

namespace wire {

KeepAliveKind ClassifyKeepAlive(uint8_t type, uint8_t marker) {
  if (marker > kHighestClientPingMarker) return KeepAliveKind::kPong;
  if (type == kTypePing) return KeepAliveKind::kPing;
  if (type == kTypePong) return KeepAliveKind::kPong;
  return KeepAliveKind::kIgnored;
}

void BuildKeepAlive(uint8_t* out, uint16_t id, uint8_t type, uint8_t marker) {
  wire::StoreU16(out, wire::kKeepAliveMagic);
  wire::StoreU16(out + wire::kOffsetId, id);
  wire::StoreU16(out + wire::kOffsetLength, kKeepAliveSize);
  out[kOffsetKeepAliveType] = type;
  out[kOffsetMarker] = marker;
  wire::StoreU32(out + 8, kKeepAliveTrailer);
}

bool CheckAndClearCrc(uint8_t* datagram, size_t size) {
  uint32_t carried = wire::ReadU32({datagram, size}, kOffsetCrc);
  wire::StoreU32(datagram + kOffsetCrc, 0);
  return Crc32(datagram, size) == carried;
}

void Seal(uint8_t* datagram, size_t size) {
  wire::StoreU32(datagram + kOffsetCrc, 0);
  wire::StoreU32(datagram + kOffsetCrc, Crc32(datagram, size));
}

bool ListFits(std::span<const uint8_t> datagram) {
  return datagram.size() > kOffsetListCount &&
         kOffsetList + static_cast<size_t>(datagram[kOffsetListCount]) <= datagram.size();
}

}  // namespace wire
