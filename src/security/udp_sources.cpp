#include "security/udp_sources.h"

namespace security {

UdpSourceFilter::UdpSourceFilter() : sources_(kMaxSources) {}

bool UdpSourceFilter::Ignored(uint32_t ip, uint16_t port, uint32_t now_ms) {
  Source* source = sources_.Find(Key(ip, port));
  if (!source || !source->ignored) return false;
  if (TickBefore(now_ms, source->ignored_until_ms)) return true;
  *source = Source{};  // served its time: a clean start
  return false;
}

bool UdpSourceFilter::RecordForeign(uint32_t ip, uint16_t port, uint32_t now_ms) {
  Source& source = sources_.Touch(Key(ip, port));
  if (source.ignored && TickBefore(now_ms, source.ignored_until_ms)) return true;
  if (source.foreign == 0 || !TickBefore(now_ms, source.window_start_ms + kWindowMs)) {
    source = Source{now_ms, 0, false, 0};
  }
  if (++source.foreign <= kForeignBeforeIgnore) return false;
  source.ignored = true;
  source.ignored_until_ms = now_ms + kIgnoreMs;
  return true;
}

}  // namespace security
