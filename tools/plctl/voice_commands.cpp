// The voice check: one client pings the server's UDP port (which also registers its UDP
// address) and times the pongs; a second client then receives a test datagram that the first
// sends through the relay. The test datagram is addressed to the second client alone (a
// player-list datagram), so no real player hears it.
#include <algorithm>
#include <chrono>
#include <iostream>

#include "commands.h"
#include "failure.h"
#include "platform/client_socket.h"
#include "protoclient/voice_datagrams.h"
#include "session.h"
#include "wire/global_types.h"

namespace plctl {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kPingMarkers = 5;  // markers 0..4 ask for a pong; above 4 a datagram is a pong
const std::string kTestPayload = "plctl voice check";

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int RemainingMs(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::unique_ptr<plclient::VoicePeer> OpenPeer(plat::Endpoint server) {
  std::string error;
  auto peer = plclient::VoicePeer::Open(server, &error);
  if (!peer) throw CommandFailure(kExitFailure, "connect", "cannot open a UDP socket: " + error);
  return peer;
}

// Sends one ping and waits for its pong; the round trip in milliseconds, nothing on time-out.
std::optional<double> Ping(plclient::VoicePeer& peer, uint16_t id, uint8_t marker, int timeout_ms) {
  const Clock::time_point sent = Clock::now();
  if (!peer.Send(plclient::KeepAliveDatagram(id, plclient::kKeepAlivePing, marker)))
    return std::nullopt;
  const Clock::time_point deadline = sent + std::chrono::milliseconds(timeout_ms);
  while (int left = RemainingMs(deadline)) {
    std::optional<std::vector<uint8_t>> datagram = peer.Receive(left);
    if (!datagram) break;
    auto pong = plclient::ParseKeepAlive(*datagram);
    if (pong && pong->id == id && pong->type == plclient::kKeepAlivePong &&
        pong->marker == marker) {
      return MillisecondsSince(sent);
    }
  }
  return std::nullopt;
}

struct RelayOutcome {
  bool relayed = false;
  bool intact = false;
  double milliseconds = 0;
};

RelayOutcome RelayCheck(Session& sender, plclient::VoicePeer& sender_peer,
                        const Invocation& invocation, plat::Endpoint udp) {
  GlobalOptions receiver_options = invocation.global;
  receiver_options.name = invocation.global.name + "-echo";
  auto receiver = Session::Open(receiver_options);
  auto receiver_peer = OpenPeer(udp);
  // The receiver's first datagram gives the server its UDP address.
  if (!Ping(*receiver_peer, receiver->id(), 0, receiver->timeout_ms())) return {};

  const std::vector<uint8_t> payload(kTestPayload.begin(), kTestPayload.end());
  const std::vector<uint8_t> recipients = {receiver->own_player_byte()};
  const Clock::time_point sent = Clock::now();
  RelayOutcome outcome;
  if (!sender_peer.Send(plclient::VoiceDatagramForPlayers(sender.id(), 1, recipients, payload)))
    return outcome;
  const Clock::time_point deadline = sent + std::chrono::milliseconds(receiver->timeout_ms());
  while (int left = RemainingMs(deadline)) {
    std::optional<std::vector<uint8_t>> datagram = receiver_peer->Receive(left);
    if (!datagram) break;
    if (wire::ReadU16(*datagram, 0) != wire::kFrameMagic ||
        wire::ReadU16(*datagram, 2) != receiver->id())
      continue;
    outcome.milliseconds = MillisecondsSince(sent);
    outcome.relayed = true;
    outcome.intact =
        plclient::VoiceCrcValid(*datagram) &&
        datagram->size() == plclient::kVoiceHeaderSize + payload.size() &&
        std::equal(payload.begin(), payload.end(), datagram->begin() + plclient::kVoiceHeaderSize);
    break;
  }
  return outcome;
}

int VoiceCheck(const Invocation& invocation, const Output& output) {
  if (!invocation.arguments.empty())
    ThrowUsage("usage: plctl voice-check [--count N] [--no-relay]");
  const int count =
      invocation.Has("count") ? ParseNumber("--count", *invocation.Option("count"), 1, 100) : 3;
  std::optional<plat::IpAddress> ip = plat::ParseClientHost(invocation.global.host);
  if (!ip) ThrowUsage("--host takes a host name, a dotted IPv4 address or an IPv6 literal");
  const plat::Endpoint udp{*ip, static_cast<uint16_t>(invocation.global.port + 1)};

  auto session = Session::Open(invocation.global);
  auto peer = OpenPeer(udp);
  std::vector<double> round_trips;
  for (int i = 0; i < count; ++i) {
    const uint8_t marker = static_cast<uint8_t>(i % kPingMarkers);
    if (auto rtt = Ping(*peer, session->id(), marker, session->timeout_ms()))
      round_trips.push_back(*rtt);
  }

  Json ping =
      Json::MakeObject().Add("sent", count).Add("answered", static_cast<int>(round_trips.size()));
  std::string text = "UDP port " + std::to_string(udp.port) + ": " +
                     std::to_string(round_trips.size()) + " of " + std::to_string(count) +
                     " pings answered";
  if (!round_trips.empty()) {
    const double low = *std::min_element(round_trips.begin(), round_trips.end());
    const double high = *std::max_element(round_trips.begin(), round_trips.end());
    double sum = 0;
    for (double rtt : round_trips) sum += rtt;
    const double average = sum / static_cast<double>(round_trips.size());
    ping.Add("rtt_ms", Json::MakeObject().Add("min", low).Add("avg", average).Add("max", high));
    text += ", round trip min/avg/max " + FormatMilliseconds(low) + " / " +
            FormatMilliseconds(average) + " / " + FormatMilliseconds(high);
  }
  text += "\n";

  bool ok = !round_trips.empty();
  Json relay = Json::MakeObject();
  const bool test_relay = ok && !invocation.Has("no-relay");
  relay.Add("tested", test_relay);
  if (test_relay) {
    RelayOutcome outcome = RelayCheck(*session, *peer, invocation, udp);
    relay.Add("relayed", outcome.relayed).Add("intact", outcome.intact);
    relay.Add("ms", outcome.relayed ? Json(outcome.milliseconds) : Json());
    text += outcome.relayed
                ? "relay: test datagram came back after " +
                      FormatMilliseconds(outcome.milliseconds) +
                      (outcome.intact ? ", intact\n" : ", DAMAGED (bad CRC or payload)\n")
                : "relay: test datagram did not come back\n";
    ok = outcome.relayed && outcome.intact;
  }
  session->Leave();
  output.Print(Json::MakeObject()
                   .Add("ok", ok)
                   .Add("udp_port", static_cast<int>(udp.port))
                   .Add("ping", std::move(ping))
                   .Add("relay", std::move(relay)),
               text);
  if (!ok) std::cerr << "plctl: voice check failed: no answer in time over UDP\n";
  return ok ? kExitDone : kExitFailure;
}

}  // namespace

std::vector<CommandSpec> VoiceCommands() {
  return {
      {"voice-check",
       "ping the UDP port and test the voice relay",
       "Usage: plctl voice-check [--count N] [--no-relay]\n"
       "Logs in, pings the server's UDP port (the TCP port + 1) N times and reports the round\n"
       "trips; then logs in a second client and sends it a test datagram through the relay,\n"
       "reporting whether and how fast it came back intact. Only the second client receives\n"
       "the test datagram.\n"
       "  --count N       pings to send, 1 to 100 (3)\n"
       "  --no-relay      ping only\n"
       "Exit code 2 when pings or the test datagram get no answer within --timeout.\n",
       {{"count", true}, {"no-relay", false}},
       VoiceCheck},
  };
}

}  // namespace plctl
