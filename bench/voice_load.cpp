#include "voice_load.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "protoclient/voice_datagrams.h"

namespace bench {
namespace {

constexpr int kReceiverThreads = 2;
constexpr size_t kSlotSize = 2048;
constexpr size_t kSlots = 32;
constexpr uint64_t kGraceNs = 500'000'000;  // copies still on their way after the last send
constexpr size_t kTagOffset = 16;           // in the datagram: payload offset 0
constexpr size_t kMinPayload = 18;          // send time, sequence, speaker, run number
constexpr size_t kRoomByteOffset = 12;      // in the registration keep-alive

uint64_t LoadU64(const uint8_t* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}
void StoreU64(uint8_t* at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t LoadU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}
void StoreU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t RoomByteFor(int index, int rooms) {
  return static_cast<uint8_t>(index % rooms + 1);
}

// On loopback of the target's family.
bool OpenUdp(Participant& participant, const Target& target, std::string* error) {
  participant.udp = BenchUdpSocket::Open(0, false, error, !target.udp.ip.IsIpv4());
  return participant.udp != nullptr;
}

// A keep-alive that the server takes as a ping (it answers, which confirms the address) and
// the reflector as a registration (byte 12: the room).
std::vector<uint8_t> RegistrationDatagram(const Participant& participant) {
  std::vector<uint8_t> datagram =
      plclient::KeepAliveDatagram(participant.id, plclient::kKeepAlivePing, 1);
  datagram.resize(kRoomByteOffset + 1);
  datagram[kRoomByteOffset] = participant.room_byte;
  return datagram;
}

bool AwaitPongs(Target& target, std::string* error) {
  std::vector<bool> answered(target.participants.size(), false);
  size_t missing = answered.size();
  const uint64_t deadline = NowNs() + 5'000'000'000ull;
  uint8_t buffer[kSlotSize];
  while (missing > 0 && NowNs() < deadline) {
    for (size_t i = 0; i < answered.size(); ++i) {
      if (answered[i]) continue;
      size_t size = 0;
      if (target.participants[i].udp->ReceiveBatch(buffer, sizeof buffer, 1, &size) == 1) {
        auto pong = plclient::ParseKeepAlive({buffer, size});
        if (pong && pong->type == plclient::kKeepAlivePong) {
          answered[i] = true;
          --missing;
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (missing > 0 && error) *error = std::to_string(missing) + " UDP registrations unanswered";
  return missing == 0;
}

bool JoinOne(Participant& participant, const std::string& host, uint16_t tcp_port, int index,
             std::string* error) {
  participant.control = plclient::ProtocolClient::Connect(host, tcp_port, {}, error);
  if (!participant.control) return false;
  plclient::LoginOutcome outcome = participant.control->Login("bench" + std::to_string(index));
  if (!outcome.accepted) {
    if (error) *error = "login " + std::to_string(index) + " refused";
    return false;
  }
  participant.control->SendListsReq();
  auto lists = participant.control->Await(&plclient::ParseServerLists, 3000);
  if (!lists) {
    if (error) *error = "no ServerLists for client " + std::to_string(index);
    return false;
  }
  participant.id = lists->id;
  const uint8_t own = static_cast<uint8_t>(lists->own_player_byte);
  uint8_t current = 1;
  for (const plclient::PlayerRecord& player : lists->players) {
    if (player.player_byte == own) current = player.room_byte;
  }
  if (participant.room_byte != current) {
    participant.control->SendChangeRoom(participant.room_byte);
    auto moved = participant.control->ReadUntil(
        [own](const plclient::Frame& frame) {
          auto notice = plclient::ParsePlayerMoved(frame);
          return notice && notice->player_byte == own;
        },
        3000);
    if (!moved) {
      if (error) *error = "client " + std::to_string(index) + " was not moved";
      return false;
    }
  }
  return true;
}

struct ReceiverStats {
  std::vector<uint32_t> latency_ns;
  uint64_t delivered = 0;
  uint64_t malformed = 0;
};

class Receiver {
 public:
  Receiver(Target& target, std::vector<size_t> members, size_t datagram_size, uint32_t run)
      : target_(target), members_(std::move(members)), size_(datagram_size), run_(run) {
    for (uint32_t slot = 0; slot < members_.size(); ++slot) {
      set_.Add(target_.participants[members_[slot]].udp->fd(), slot);
    }
    slots_.resize(kSlots * kSlotSize);
  }
  void Start() {
    thread_ = std::thread([this] { Loop(); });
  }
  void Stop() {
    stop_.store(true);
    thread_.join();
  }
  ReceiverStats& stats() { return stats_; }

 private:
  void Loop() {
    uint32_t ready[256];
    size_t sizes[kSlots];
    while (!stop_.load(std::memory_order_relaxed)) {
      size_t count = set_.Wait(ready, 256, 50);
      for (size_t r = 0; r < count; ++r) {
        Participant& member = target_.participants[members_[ready[r]]];
        for (;;) {
          size_t received = member.udp->ReceiveBatch(slots_.data(), kSlotSize, kSlots, sizes);
          const uint64_t now = NowNs();
          for (size_t i = 0; i < received; ++i)
            Take(member, slots_.data() + i * kSlotSize, sizes[i], now);
          if (received < kSlots) break;
        }
      }
    }
  }

  void Take(const Participant& member, const uint8_t* datagram, size_t size, uint64_t now) {
    if (size < 4 || datagram[0] != 0xBA || datagram[1] != 0xB0) return;  // not voice
    if (LoadU32(datagram + kTagOffset + 14) != run_) return;  // warm-up or an earlier run
    const uint16_t id = static_cast<uint16_t>(datagram[2] | (datagram[3] << 8));
    if (size != size_ || id != member.id || !plclient::VoiceCrcValid({datagram, size})) {
      ++stats_.malformed;
      return;
    }
    ++stats_.delivered;
    const uint64_t sent = LoadU64(datagram + kTagOffset);
    const uint64_t latency = now > sent ? now - sent : 0;
    stats_.latency_ns.push_back(static_cast<uint32_t>(std::min<uint64_t>(latency, UINT32_MAX)));
  }

  Target& target_;
  std::vector<size_t> members_;
  size_t size_;
  uint32_t run_;
  ReadySet set_;
  std::vector<uint8_t> slots_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  ReceiverStats stats_;
};

struct SendTotals {
  uint64_t datagrams = 0;
  uint64_t expected = 0;
};

// Speakers take turns on one even grid: datagram n comes from speaker n % K at t0 + n / (K * rate).
SendTotals Speak(Target& target, const LoadSpec& load_spec, uint64_t start_ns, uint64_t measure_ns,
                 uint64_t end_ns, uint32_t run) {
  const size_t speakers = static_cast<size_t>(load_spec.speakers);
  std::vector<std::vector<uint8_t>> templates;
  std::vector<uint64_t> copies_per_datagram;
  for (size_t s = 0; s < speakers; ++s) {
    const Participant& speaker = target.participants[s];
    templates.push_back(plclient::VoiceDatagramForRoom(
        speaker.id, 0, std::vector<uint8_t>(load_spec.payload, 0x5A)));
    uint64_t others = 0;
    for (const Participant& p : target.participants) others += (p.room_byte == speaker.room_byte);
    copies_per_datagram.push_back(others - 1);
  }
  const double interval_ns = 1e9 / (load_spec.rate * static_cast<double>(speakers));
  SendTotals totals;
  std::vector<uint32_t> sequence(speakers, 0);
  const plat::Endpoint to = target.udp;
  for (uint64_t n = 0;; ++n) {
    const uint64_t due = start_ns + static_cast<uint64_t>(static_cast<double>(n) * interval_ns);
    if (due >= end_ns) break;
    if (NowNs() < due) SleepUntilNs(due);
    const size_t s = n % speakers;
    Participant& speaker = target.participants[s];
    std::vector<uint8_t>& datagram = templates[s];
    StoreU32(datagram.data() + 8, speaker.next_packet_id++);
    const bool measured = due >= measure_ns;
    StoreU32(datagram.data() + kTagOffset + 8, sequence[s]++);
    datagram[kTagOffset + 12] = static_cast<uint8_t>(s);
    datagram[kTagOffset + 13] = static_cast<uint8_t>(s >> 8);
    StoreU32(datagram.data() + kTagOffset + 14, measured ? run : 0);
    const uint64_t now = NowNs();
    StoreU64(datagram.data() + kTagOffset, now);
    plclient::SealVoiceDatagram(datagram);
    if (speaker.udp->SendTo(datagram.data(), datagram.size(), to) && measured) {
      ++totals.datagrams;
      totals.expected += copies_per_datagram[s];
    }
  }
  return totals;
}

double SecondsBetween(uint64_t from_ns, uint64_t to_ns) {
  return static_cast<double>(to_ns - from_ns) / 1e9;
}

}  // namespace

bool JoinServer(Target& target, const std::string& host, uint16_t tcp_port, int clients, int rooms,
                std::string* error) {
  target.participants.resize(static_cast<size_t>(clients));
  for (int i = 0; i < clients; ++i) {
    Participant& participant = target.participants[static_cast<size_t>(i)];
    participant.room_byte = RoomByteFor(i, rooms);
    if (!JoinOne(participant, host, tcp_port, i, error) || !OpenUdp(participant, target, error))
      return false;
    // Every login tells all earlier clients; keep their connections read.
    if (i % 16 == 15) DrainControl(target);
  }
  DrainControl(target);
  for (Participant& participant : target.participants) {
    std::vector<uint8_t> datagram = RegistrationDatagram(participant);
    participant.udp->SendTo(datagram.data(), datagram.size(), target.udp);
  }
  return AwaitPongs(target, error);
}

bool JoinReflector(Target& target, int clients, int rooms, std::string* error) {
  target.participants.resize(static_cast<size_t>(clients));
  for (int i = 0; i < clients; ++i) {
    Participant& participant = target.participants[static_cast<size_t>(i)];
    participant.id = static_cast<uint16_t>(i + 1);
    participant.room_byte = RoomByteFor(i, rooms);
    if (!OpenUdp(participant, target, error)) return false;
    std::vector<uint8_t> datagram = RegistrationDatagram(participant);
    participant.udp->SendTo(datagram.data(), datagram.size(), target.udp);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return true;
}

void DrainControl(Target& target) {
  for (Participant& participant : target.participants) {
    if (!participant.control) continue;
    while (participant.control->ReadFrame(0)) {
    }
  }
}

void LeaveAll(Target& target) {
  for (Participant& participant : target.participants) {
    if (participant.control) participant.control->SendLeave();
  }
}

RunResult RunLoad(Target& target, const LoadSpec& load_spec) {
  static std::atomic<uint32_t> runs{0};
  const uint32_t run = ++runs;
  RunResult result;
  result.target = target.name;
  result.load_spec = load_spec;
  result.rss_after_login_kb = target.rss_after_login_kb;
  const size_t payload = std::max(load_spec.payload, kMinPayload);
  result.load_spec.payload = payload;
  LoadSpec effective = load_spec;
  effective.payload = payload;

  std::vector<std::vector<size_t>> shares(kReceiverThreads);
  for (size_t i = 0; i < target.participants.size(); ++i) shares[i % kReceiverThreads].push_back(i);
  std::vector<std::unique_ptr<Receiver>> receivers;
  for (auto& share : shares) {
    receivers.push_back(
        std::make_unique<Receiver>(target, share, plclient::kVoiceHeaderSize + payload, run));
    receivers.back()->stats().latency_ns.reserve(
        static_cast<size_t>(load_spec.rate * load_spec.speakers * load_spec.seconds *
                            load_spec.clients / load_spec.rooms));
    receivers.back()->Start();
  }

  const uint64_t start = NowNs() + 50'000'000;
  const uint64_t measure = start + static_cast<uint64_t>(load_spec.warmup_seconds * 1e9);
  const uint64_t end = measure + static_cast<uint64_t>(load_spec.seconds * 1e9);
  SendTotals totals;
  std::thread speaker([&] { totals = Speak(target, effective, start, measure, end, run); });

  // The main thread keeps the control connections read and takes the process figures at the
  // edges of the measured phase.
  std::optional<uint64_t> cpu_before;
  while (NowNs() < measure) {
    DrainControl(target);
    SleepUntilNs(std::min(measure, NowNs() + 100'000'000));
  }
  if (target.pid > 0) cpu_before = ProcessCpuNs(target.pid);
  while (NowNs() < end + kGraceNs) {
    DrainControl(target);
    SleepUntilNs(std::min(end + kGraceNs, NowNs() + 100'000'000));
  }
  speaker.join();
  if (target.pid > 0) {
    std::optional<uint64_t> cpu_after = ProcessCpuNs(target.pid);
    if (cpu_before && cpu_after) {
      result.cpu_ns = *cpu_after - *cpu_before;
      result.cpu_known = true;
    }
    result.rss_end_kb = ProcessRssKb(target.pid).value_or(0);
  }
  for (auto& receiver : receivers) {
    receiver->Stop();
    ReceiverStats& stats = receiver->stats();
    result.delivered += stats.delivered;
    result.malformed += stats.malformed;
    result.latency_ns.insert(result.latency_ns.end(), stats.latency_ns.begin(),
                             stats.latency_ns.end());
  }
  std::sort(result.latency_ns.begin(), result.latency_ns.end());
  result.datagrams_sent = totals.datagrams;
  result.expected = totals.expected;
  result.measured_seconds = SecondsBetween(measure, end);
  return result;
}

void Accumulate(RunResult& total, RunResult&& round) {
  if (total.target.empty()) {
    total = std::move(round);
    return;
  }
  total.datagrams_sent += round.datagrams_sent;
  total.expected += round.expected;
  total.delivered += round.delivered;
  total.malformed += round.malformed;
  total.measured_seconds += round.measured_seconds;
  total.load_spec.seconds += round.load_spec.seconds;
  total.cpu_ns += round.cpu_ns;
  total.cpu_known = total.cpu_known && round.cpu_known;
  total.rss_end_kb = round.rss_end_kb;
  std::vector<uint32_t> merged(total.latency_ns.size() + round.latency_ns.size());
  std::merge(total.latency_ns.begin(), total.latency_ns.end(), round.latency_ns.begin(),
             round.latency_ns.end(), merged.begin());
  total.latency_ns = std::move(merged);
}

double RunResult::Loss() const {
  if (expected == 0) return 0;
  return delivered >= expected
             ? 0
             : static_cast<double>(expected - delivered) / static_cast<double>(expected);
}

double RunResult::CopiesPerSecond() const {
  return measured_seconds > 0 ? static_cast<double>(delivered) / measured_seconds : 0;
}

double RunResult::LatencyQuantileMs(double q) const {
  if (latency_ns.empty()) return 0;
  size_t index = static_cast<size_t>(std::ceil(q * static_cast<double>(latency_ns.size())));
  index = std::min(latency_ns.size() - 1, index == 0 ? 0 : index - 1);
  return latency_ns[index] / 1e6;
}

double RunResult::LatencyMaxMs() const {
  return latency_ns.empty() ? 0 : latency_ns.back() / 1e6;
}

double RunResult::CpuNsPerCopy() const {
  return cpu_known && delivered > 0 ? static_cast<double>(cpu_ns) / static_cast<double>(delivered)
                                    : 0;
}

bool RunResult::Held() const {
  return Loss() <= 0.005 && LatencyQuantileMs(0.99) <= 5.0;
}

}  // namespace bench
