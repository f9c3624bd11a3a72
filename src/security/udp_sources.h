// Datagram sources (address and port) that send Ids not their own: unknown Ids, or Ids of clients
// whose recorded UDP address is another. A client's own datagrams from a new port (NAT
// rebinding) meet this once; a source that does it more than kForeignBeforeIgnore times within
// kWindowMs is probing for Ids and is ignored for kIgnoreMs: no pong, no address change, no relay
// for anything but its own datagrams.
//
// Bounded: at most kMaxSources sources; the one used least recently is forgotten.
//
// Threading: none; the datagram intake uses it under the server lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "security/bounded_table.h"

namespace security {

class UdpSourceFilter {
 public:
  static constexpr uint32_t kForeignBeforeIgnore = 4;
  static constexpr uint32_t kWindowMs = 10000;
  static constexpr uint32_t kIgnoreMs = 60000;
  static constexpr size_t kMaxSources = 4096;

  UdpSourceFilter();

  // Whether the source is being ignored at `now_ms`.
  bool Ignored(uint32_t ip, uint16_t port, uint32_t now_ms);
  // Records a datagram with an Id not the source's own. True when the source is ignored from now
  // on (this datagram included).
  bool RecordForeign(uint32_t ip, uint16_t port, uint32_t now_ms);
  size_t Size() const { return sources_.Size(); }

 private:
  struct Source {
    uint32_t window_start_ms = 0;
    uint32_t foreign = 0;
    bool ignored = false;
    uint32_t ignored_until_ms = 0;
  };
  static uint64_t Key(uint32_t ip, uint16_t port) { return static_cast<uint64_t>(ip) << 16 | port; }

  BoundedTable<uint64_t, Source> sources_;
};

}  // namespace security
