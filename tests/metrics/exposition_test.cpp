// The text form of a snapshot: label values escaped so that no room name can end a value or a
// line, and a whole rendering read back by a parser written by others.
#include "metrics/exposition.h"

#include <gtest/gtest.h>

#include "support/exposition_parser.h"

namespace metrics {
namespace {

TEST(ExpositionTest, LabelValuesEscapeQuotesBackslashesLineBreaksControlsAndBrokenUtf8) {
  EXPECT_EQ(EscapeLabelValue("Lobby"), "Lobby");
  EXPECT_EQ(EscapeLabelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
  EXPECT_EQ(EscapeLabelValue("red\x1b[31m\r\t"), "red\\\\x1B[31m\\\\x0D\\\\x09");
  EXPECT_EQ(EscapeLabelValue("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xC3\xA9 \xE2\x82\xAC");
  // Latin-1 bytes, an overlong slash, a lone continuation byte, a cut sequence, a C1 control.
  EXPECT_EQ(EscapeLabelValue("\xE9t\xE9"), "\\\\xE9t\\\\xE9");
  EXPECT_EQ(EscapeLabelValue("\xC0\xAF"), "\\\\xC0\\\\xAF");
  EXPECT_EQ(EscapeLabelValue("\x80"), "\\\\x80");
  EXPECT_EQ(EscapeLabelValue("\xE2\x82"), "\\\\xE2\\\\x82");
  EXPECT_EQ(EscapeLabelValue("\xC2\x85"), "\\\\xC2\\\\x85");
}

TEST(ExpositionTest, SecondsAreWrittenWithoutExponent) {
  EXPECT_EQ(SecondsText(0), "0");
  EXPECT_EQ(SecondsText(50), "0.00005");
  EXPECT_EQ(SecondsText(2500000), "2.5");
  EXPECT_EQ(SecondsText(1000001), "1.000001");
}

Snapshot Example() {
  Snapshot s;
  s.server_version = "v1.2.0 Win32 Service";
  s.build_version = "1.2.0.19";
  s.uptime_ms = 61500;
  s.players = 3;
  s.rooms = {{1, "Lobby", 2}, {2, "Lobby", 0}, {3, "x\"} 1\nplserver_players 99\n\xE9", 1}};
  s.platform = "linux";
  // Past 2^32: the counters go on where the protocol's wrap.
  for (size_t i = 0; i < s.traffic.size(); ++i) s.traffic[i] = 5000000000u + i;
  s.player_traffic[2] = 17;
  s.player_traffic[4] = 6;
  s.datagrams_faulty = 5;
  s.relay_passes = 5;
  s.datagrams_relayed = 9;
  s.datagrams_queue_full = 1;
  s.datagrams_rate_limited = 2;
  s.relay_delay.counts[0] = 4;
  s.relay_delay.counts[3] = 3;
  s.relay_delay.counts[voice::kLatencyBuckets - 1] = 2;
  s.relay_delay.sum_us = 1234567;
  s.refused_banned = 7;
  s.failed_logins = 3;
  s.failed_admin_logins = 4;
  s.active_bans = 1;
  s.process.resident_bytes = 8u << 20;
  s.process.cpu_seconds = 1.25;
  s.process.start_time_unix = 1767225600.5;
  return s;
}

TEST(ExpositionTest, ARenderingParsesWithPrometheusClientAndSaysWhatTheSnapshotHolds) {
  std::string error;
  auto parsed = pltest::ParseExposition(RenderExposition(Example()), &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->Value("plserver_players"), 3);
  EXPECT_EQ(parsed->Value("plserver_rooms"), 3);
  // Rooms of the same name stay apart by number; a hostile name stays one label value.
  EXPECT_EQ(parsed->Value("plserver_room_players", {{"room", "1"}, {"name", "Lobby"}}), 2);
  EXPECT_EQ(parsed->Value("plserver_room_players", {{"room", "2"}, {"name", "Lobby"}}), 0);
  EXPECT_EQ(parsed->Value("plserver_room_players",
                          {{"room", "3"}, {"name", "x\"} 1\nplserver_players 99\n\\xE9"}}),
            1);
  EXPECT_EQ(parsed->TypeOf("plserver_udp_packets_sent_total"), "counter");
  EXPECT_EQ(parsed->Value("plserver_udp_packets_sent_total"), 5000000000.0);
  EXPECT_EQ(parsed->Value("plserver_control_frames_sent_total"), 5000000004.0);
  EXPECT_EQ(parsed->Value("plserver_tcp_bytes_received_total"), 5000000007.0);
  // Each unit a family of its own.
  EXPECT_EQ(parsed->Value("plserver_players_udp_packets_received"), 17);
  EXPECT_EQ(parsed->Value("plserver_players_control_frames_sent"), 6);
  EXPECT_EQ(parsed->Value("plserver_voice_datagrams_faulty_total"), 5);
  EXPECT_EQ(parsed->Value("plserver_voice_datagrams_dropped_total", {{"reason", "queue_full"}}), 1);
  EXPECT_EQ(parsed->Value("plserver_voice_datagrams_dropped_total", {{"reason", "rate_limit"}}), 2);
  EXPECT_EQ(parsed->Value("plserver_connections_refused_total", {{"reason", "banned"}}), 7);
  EXPECT_EQ(parsed->Value("plserver_failed_logins_total", {{"kind", "admin"}}), 4);
  EXPECT_EQ(parsed->Value("plserver_active_bans"), 1);
  EXPECT_EQ(parsed->Value("process_resident_memory_bytes"), 8 << 20);
  EXPECT_EQ(parsed->Value("process_cpu_seconds_total"), 1.25);
  EXPECT_EQ(parsed->TypeOf("process_cpu_seconds_total"), "counter");
  EXPECT_EQ(parsed->Value("process_start_time_seconds"), 1767225600.5);
  EXPECT_FALSE(parsed->Value("process_open_fds"));  // not known: not written
  EXPECT_EQ(parsed->Value("plserver_uptime_seconds"), 61.5);
  EXPECT_EQ(parsed->Value("plserver_build_info", {{"version", "1.2.0.19"},
                                                  {"platform", "linux"},
                                                  {"server_version", "v1.2.0 Win32 Service"}}),
            1);
  // The previous release's names, for one more release.
  EXPECT_EQ(parsed->Value("plserver_tcp_packets_sent_total"), 5000000004.0);
  EXPECT_EQ(parsed->Value("plserver_players_traffic", {{"counter", "udp_packets_received"}}), 17);
  // The histogram: cumulative buckets, the last one the count.
  const std::string h = "plserver_voice_relay_delay_seconds";
  EXPECT_EQ(parsed->TypeOf(h + "_bucket"), "histogram");
  EXPECT_EQ(parsed->Value(h + "_bucket", {{"le", "0.00005"}}), 4);
  EXPECT_EQ(parsed->Value(h + "_bucket", {{"le", "0.0005"}}), 7);
  EXPECT_EQ(parsed->Value(h + "_bucket", {{"le", "0.25"}}), 7);
  EXPECT_EQ(parsed->Value(h + "_bucket", {{"le", "+Inf"}}), 9);
  EXPECT_EQ(parsed->Value(h + "_count"), 9);
  EXPECT_DOUBLE_EQ(parsed->Value(h + "_sum").value_or(0), 1.234567);
}

}  // namespace
}  // namespace metrics
