#include "metrics/exposition.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "clients/traffic_counters.h"

namespace metrics {
namespace {

// Length of the valid UTF-8 sequence at the start of `rest`, or 0 when it is not one (overlong
// forms, surrogates and values past U+10FFFF are not).
size_t Utf8SequenceLength(std::string_view rest) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(rest[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (rest.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void AppendHexByte(std::string& out, unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\\\x%02X", byte);
  out += text;
}

// Writes families in order; each family's HELP and TYPE come once, before its samples.
class Writer {
 public:
  void Family(const char* name, const char* type, const char* help) {
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
  }
  // A sample: name, then "{labels}" when labels is not empty, then the value.
  void Sample(const std::string& name, const std::string& labels, const std::string& value) {
    out_ += name;
    if (!labels.empty()) out_ += "{" + labels + "}";
    out_ += ' ';
    out_ += value;
    out_ += '\n';
  }
  void Sample(const std::string& name, const std::string& labels, uint64_t value) {
    Sample(name, labels, std::to_string(value));
  }
  // A family with one sample and no labels.
  void Single(const char* name, const char* type, const char* help, uint64_t value) {
    Family(name, type, help);
    Sample(name, "", value);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

std::string Label(const char* key, std::string_view value) {
  return std::string(key) + "=\"" + EscapeLabelValue(value) + "\"";
}

void WritePlayers(Writer& w, const Snapshot& s) {
  w.Single("plserver_players", "gauge", "Players logged in.", s.players);
  w.Single("plserver_rooms", "gauge", "Rooms.", s.rooms.size());
  w.Family("plserver_room_players", "gauge", "Players in each room, by room number and name.");
  for (const RoomPlayers& room : s.rooms) {
    w.Sample("plserver_room_players",
             Label("room", std::to_string(room.room)) + "," + Label("name", room.name),
             room.players);
  }
}

// The eight traffic counters in the order of clients::kTrafficCounterNames: the server's own
// (counters) and the sums over the players logged in now (gauges, which fall when one leaves).
struct TrafficFamily {
  const char* server;
  const char* players;
  const char* what;
};
constexpr std::array<TrafficFamily, 8> kTrafficFamilies = {{
    {"plserver_udp_packets_sent_total", "plserver_players_udp_packets_sent",
     "UDP datagrams sent (voice copies, pings and pongs)"},
    {"plserver_udp_bytes_sent_total", "plserver_players_udp_bytes_sent", "UDP bytes sent"},
    {"plserver_udp_packets_received_total", "plserver_players_udp_packets_received",
     "UDP datagrams received"},
    {"plserver_udp_bytes_received_total", "plserver_players_udp_bytes_received",
     "UDP bytes received"},
    {"plserver_control_frames_sent_total", "plserver_players_control_frames_sent",
     "Control frames sent on the TCP connections"},
    {"plserver_tcp_bytes_sent_total", "plserver_players_tcp_bytes_sent",
     "Bytes of control frames sent"},
    {"plserver_control_frames_received_total", "plserver_players_control_frames_received",
     "Control frames received on the TCP connections"},
    {"plserver_tcp_bytes_received_total", "plserver_players_tcp_bytes_received",
     "Bytes of control frames received"},
}};

void WriteTraffic(Writer& w, const Snapshot& s) {
  for (size_t i = 0; i < kTrafficFamilies.size(); ++i) {
    const std::string help = std::string(kTrafficFamilies[i].what) +
                             "; ServerStats reports the low 32 bits of this counter.";
    w.Single(kTrafficFamilies[i].server, "counter", help.c_str(), s.traffic[i]);
  }
  for (size_t i = 0; i < kTrafficFamilies.size(); ++i) {
    const std::string help =
        std::string(kTrafficFamilies[i].what) + ", summed over the players logged in now.";
    w.Single(kTrafficFamilies[i].players, "gauge", help.c_str(), s.player_traffic[i]);
  }
}

void WriteRelay(Writer& w, const Snapshot& s) {
  w.Single("plserver_relay_passes_total", "counter", "Passes of the relay over the voice queue.",
           s.relay_passes);
  w.Single("plserver_voice_datagrams_relayed_total", "counter",
           "Voice datagrams the relay sent on to their recipients.", s.datagrams_relayed);
  w.Single("plserver_voice_datagrams_faulty_total", "counter",
           "Voice datagrams that failed a check (a gap in the packet ids, a wrong CRC-32, too "
           "short); those with a header are relayed all the same.",
           s.datagrams_faulty);
  w.Family("plserver_voice_datagrams_dropped_total", "counter",
           "Voice datagrams not relayed, by reason.");
  const std::string name = "plserver_voice_datagrams_dropped_total";
  w.Sample(name, Label("reason", "queue_full"), s.datagrams_queue_full);
  w.Sample(name, Label("reason", "rate_limit"), s.datagrams_rate_limited);
  w.Sample(name, Label("reason", "foreign_source"), s.datagrams_foreign_ignored);
  w.Sample(name, Label("reason", "sender_gone_or_bad_mode"), s.datagrams_not_relayable);

  const char* histogram = "plserver_voice_relay_delay_seconds";
  w.Family(histogram, "histogram",
           "Time from a voice datagram's arrival to the end of the relay pass that sent it.");
  uint64_t cumulative = 0;
  for (size_t i = 0; i < voice::kLatencyBuckets; ++i) {
    cumulative += s.relay_delay.counts[i];
    const std::string bound =
        i < voice::kLatencyBoundsUs.size() ? SecondsText(voice::kLatencyBoundsUs[i]) : "+Inf";
    w.Sample(std::string(histogram) + "_bucket", Label("le", bound), cumulative);
  }
  w.Sample(std::string(histogram) + "_sum", "", SecondsText(s.relay_delay.sum_us));
  w.Sample(std::string(histogram) + "_count", "", cumulative);
}

void WriteDefences(Writer& w, const Snapshot& s) {
  w.Single("plserver_pending_connections", "gauge",
           "Control connections without a logged-in client.", s.pending_connections);
  const std::string refused = "plserver_connections_refused_total";
  w.Family(refused.c_str(), "counter",
           "Connections closed or logins refused by the server's limits, by reason.");
  w.Sample(refused, Label("reason", "banned"), s.refused_banned);
  w.Sample(refused, Label("reason", "idle_evicted"), s.refused_idle_evicted);
  w.Sample(refused, Label("reason", "server_full"), s.refused_server_full);
  w.Sample(refused, Label("reason", "per_address_limit"), s.refused_per_address);
  w.Sample(refused, Label("reason", "frame_flood"), s.refused_flood);
  w.Sample(refused, Label("reason", "login_churn"), s.refused_login_churn);
  const std::string dropped = "plserver_control_frames_dropped_total";
  w.Family(dropped.c_str(), "counter", "Control frames dropped, by the limit they passed.");
  w.Sample(dropped, Label("limit", "connection"), s.frames_dropped);
  w.Sample(dropped, Label("limit", "address_broadcasts"), s.broadcast_frames_dropped);
  const std::string failed = "plserver_failed_logins_total";
  w.Family(failed.c_str(), "counter",
           "Password checks that failed, by kind: the server password at login, the "
           "administrator password at AdminLogin.");
  w.Sample(failed, Label("kind", "server"), s.failed_logins);
  w.Sample(failed, Label("kind", "admin"), s.failed_admin_logins);
  w.Single("plserver_bans_total", "counter", "Addresses banned after failed passwords.",
           s.bans_set);
  w.Single("plserver_active_bans", "gauge", "Bans in force now.", s.active_bans);
}

std::string SecondsFrom(double seconds) {
  return SecondsText(static_cast<uint64_t>(std::llround(std::max(seconds, 0.0) * 1e6)));
}

// The process's figures by the names every Prometheus client library gives them.
void WriteProcess(Writer& w, const Snapshot& s) {
  const plat::ProcessResources& p = s.process;
  if (p.start_time_unix) {
    w.Family("process_start_time_seconds", "gauge",
             "Start time of the process since unix epoch in seconds.");
    w.Sample("process_start_time_seconds", "", SecondsFrom(*p.start_time_unix));
  }
  if (p.cpu_seconds) {
    w.Family("process_cpu_seconds_total", "counter",
             "Total user and system CPU time spent in seconds.");
    w.Sample("process_cpu_seconds_total", "", SecondsFrom(*p.cpu_seconds));
  }
  if (p.max_descriptors)
    w.Single("process_max_fds", "gauge", "Maximum number of open file descriptors.",
             *p.max_descriptors);
  if (p.open_descriptors)
    w.Single("process_open_fds", "gauge", "Number of open file descriptors.", *p.open_descriptors);
  if (p.resident_bytes)
    w.Single("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
             *p.resident_bytes);
  if (p.virtual_bytes)
    w.Single("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
             *p.virtual_bytes);
}

void WriteServer(Writer& w, const Snapshot& s) {
  const std::string reloads = "plserver_config_reloads_total";
  w.Family(reloads.c_str(), "counter",
           "Reloads of the configuration file, by result (refused: nothing changed).");
  w.Sample(reloads, Label("result", "applied"), s.reloads_applied);
  w.Sample(reloads, Label("result", "refused"), s.reloads_refused);
  w.Family("plserver_uptime_seconds", "gauge", "Time since the server started.");
  w.Sample("plserver_uptime_seconds", "", SecondsText(uint64_t{s.uptime_ms} * 1000));
  w.Family("plserver_build_info", "gauge",
           "The program's version and the system it runs on, always 1 (server_version, the "
           "protocol's version text, goes in the next release).");
  w.Sample("plserver_build_info",
           Label("version", s.build_version) + "," + Label("platform", s.platform) + "," +
               Label("server_version", s.server_version),
           1);
}

// Names of the previous release, served for one more so that dashboards and alerts can move;
// each help says what replaces it.
void WriteDeprecated(Writer& w, const Snapshot& s) {
  w.Single("plserver_tcp_packets_sent_total", "counter",
           "Deprecated: plserver_control_frames_sent_total.", s.traffic[4]);
  w.Single("plserver_tcp_packets_received_total", "counter",
           "Deprecated: plserver_control_frames_received_total.", s.traffic[6]);
  w.Family("plserver_players_traffic", "gauge",
           "Deprecated: plserver_players_{udp_packets,udp_bytes,control_frames,tcp_bytes}_"
           "{sent,received}.");
  for (size_t i = 0; i < clients::kTrafficCounterNames.size(); ++i)
    w.Sample("plserver_players_traffic", Label("counter", clients::kTrafficCounterNames[i]),
             s.player_traffic[i]);
  w.Single("plserver_players_udp_errors", "gauge",
           "Deprecated: plserver_voice_datagrams_faulty_total.", s.player_udp_errors);
  w.Single("plserver_players_voice_dropped", "gauge",
           "Deprecated: plserver_voice_datagrams_dropped_total{reason=\"rate_limit\"}.",
           s.player_voice_dropped);
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  size_t i = 0;
  while (i < value.size()) {
    const auto byte = static_cast<unsigned char>(value[i]);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '"') {
      out += "\\\"";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendHexByte(out, byte);
    } else if (byte >= 0x80) {
      const size_t length = Utf8SequenceLength(value.substr(i));
      // C1 controls (U+0080..U+009F) are control bytes too.
      const bool c1 =
          length == 2 && byte == 0xC2 && static_cast<unsigned char>(value[i + 1]) < 0xA0;
      if (length == 0 || c1) {
        AppendHexByte(out, byte);
      } else {
        out.append(value.substr(i, length));
        i += length;
        continue;
      }
    } else {
      out += static_cast<char>(byte);
    }
    ++i;
  }
  return out;
}

std::string SecondsText(uint64_t microseconds) {
  std::string text = std::to_string(microseconds / 1000000);
  uint64_t fraction = microseconds % 1000000;
  if (fraction == 0) return text;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06llu", static_cast<unsigned long long>(fraction));
  std::string tail = digits;
  while (!tail.empty() && tail.back() == '0') tail.pop_back();
  return text + "." + tail;
}

std::string RenderExposition(const Snapshot& snapshot) {
  Writer writer;
  WritePlayers(writer, snapshot);
  WriteTraffic(writer, snapshot);
  WriteRelay(writer, snapshot);
  WriteDefences(writer, snapshot);
  WriteProcess(writer, snapshot);
  WriteServer(writer, snapshot);
  WriteDeprecated(writer, snapshot);
  return writer.Take();
}

}  // namespace metrics
