// The layouts of the voice channel's datagrams: voice (magic 0xB0BA, a 16-byte header, in mode 1
// a player list before the payload) and keep-alive (magic 0xAABB, 12 bytes: ping and pong), with
// the checking and sealing of a voice datagram's CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "wire/global_types.h"

namespace wire {

// Voice datagram.
constexpr size_t kVoiceHeaderSize = 16;
constexpr size_t kOffsetMode = 6;
constexpr size_t kOffsetPacketId = 8;
constexpr size_t kOffsetCrc = 12;
constexpr size_t kOffsetListCount = 16;  // mode 1
constexpr size_t kOffsetList = 17;       // mode 1
constexpr uint8_t kModeRoom = 0;
constexpr uint8_t kModeList = 1;

// Keep-alive datagram.
constexpr size_t kKeepAliveSize = 12;
constexpr size_t kOffsetKeepAliveType = 6;
constexpr size_t kOffsetMarker = 7;
constexpr uint8_t kTypePing = 1;
constexpr uint8_t kTypePong = 2;
constexpr uint8_t kServerPingMarker = 200;
constexpr uint8_t kHighestClientPingMarker = 4;  // markers above this are pongs
constexpr uint32_t kKeepAliveTrailer = 0xEEFF;

enum class KeepAliveKind { kPing, kPong, kIgnored };
KeepAliveKind ClassifyKeepAlive(uint8_t type, uint8_t marker);

// Builds the 12-byte keep-alive datagram into `out`.
void BuildKeepAlive(uint8_t* out, uint16_t id, uint8_t type, uint8_t marker);

// Takes the CRC field, stores 0 there, and tells whether the CRC-32 over the datagram matches.
// The field stays 0. REQUIRES: size >= 16.
bool CheckAndClearCrc(uint8_t* datagram, size_t size);
// Stores 0 in the CRC field, computes the CRC-32 over the datagram and stores it there.
// REQUIRES: size >= 16.
void Seal(uint8_t* datagram, size_t size);

// For mode 1: whether the count and the list lie within the datagram.
bool ListFits(std::span<const uint8_t> datagram);

}  // namespace wire
