// Floods and churn while four real clients talk: the server keeps serving them, and its threads
// and memory return to where they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "platform/client_socket.h"
#include "support/voice_fixture.h"

namespace pltest {
namespace {

using std::chrono::milliseconds;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A field of /proc/self/status (kB for memory), the in-process server's figures.
long StatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  }
  return -1;
}

// Four clients in one room; one talks, three listen. Counts what the listeners hear.
class Conversation {
 public:
  explicit Conversation(TestServer& server) {
    for (int i = 0; i < 4; ++i)
      members_.push_back(JoinWithVoice(server, "Real" + std::to_string(i)));
  }
  void Start() {
    speaker_ = std::thread([this] {
      for (uint32_t packet = 1; !stop_; ++packet) {
        members_[0].udp->Send(plclient::VoiceDatagramForRoom(members_[0].id, packet, Payload(60)));
        ++sent_;
        std::this_thread::sleep_for(milliseconds(20));
      }
    });
    for (int i = 1; i < 4; ++i) {
      listeners_.emplace_back([this, i] {
        while (!stop_) {
          // Voice only: the pinger's keep-alives do not count.
          auto datagram = members_[i].udp->Receive(50);
          if (datagram && datagram->size() > 1 && (*datagram)[0] == 0xBA && (*datagram)[1] == 0xB0)
            ++heard_;
        }
      });
    }
  }
  // The share of copies that arrived while the flood ran: a figure, not a promise, since what
  // UDP loses under a flood depends on how much processor time the machine gives the server.
  double Stop() {
    stop_ = true;
    speaker_.join();
    std::this_thread::sleep_for(milliseconds(200));
    for (std::thread& listener : listeners_) listener.join();
    return sent_ == 0 ? 0.0 : static_cast<double>(heard_) / (3.0 * sent_);
  }
  // After the flood: `count` datagrams, each sent only once the one before it reached all three
  // listeners, so no socket buffer can overflow; true when every one arrived. This is what the
  // flood must not take from the real clients.
  bool EveryDatagramArrivesAfterwards(int count) {
    for (int k = 0; k < count; ++k) {
      const uint32_t packet = 1000000u + static_cast<uint32_t>(k);
      if (!members_[0].udp->Send(
              plclient::VoiceDatagramForRoom(members_[0].id, packet, Payload(60))))
        return false;
      for (int i = 1; i < 4; ++i) {
        if (!HearsPacket(members_[i], packet)) return false;
      }
    }
    return true;
  }

 private:
  // Reads until the copy of `packet` comes (copies from the flood may still be queued).
  static bool HearsPacket(VoiceClient& listener, uint32_t packet) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(5000);
    while (std::chrono::steady_clock::now() < deadline) {
      auto datagram = listener.udp->Receive(100);
      if (datagram && datagram->size() >= 12 && (*datagram)[0] == 0xBA && (*datagram)[1] == 0xB0 &&
          wire::ReadU32(*datagram, 8) == packet)
        return true;
    }
    return false;
  }

  std::vector<VoiceClient> members_;
  std::thread speaker_;
  std::vector<std::thread> listeners_;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::atomic<int> heard_{0};
};

// The highest thread count seen while it runs.
class PeakThreads {
 public:
  PeakThreads()
      : sampler_([this] {
          while (!stop_) {
            peak_ = std::max(peak_.load(), StatusField("Threads"));
            std::this_thread::sleep_for(milliseconds(20));
          }
        }) {}
  long Stop() {
    stop_ = true;
    sampler_.join();
    return peak_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> peak_{0};
  std::thread sampler_;
};

void ExpectBaselineRestored(TestServer& server, long threads_before, long rss_before_kb) {
  EXPECT_TRUE(WaitUntil([&] { return StatusField("Threads") <= threads_before; }, 10000))
      << "threads " << StatusField("Threads") << " against " << threads_before;
  EXPECT_LE(server.server().tcp().ConnectionCount(), 4u + 0u);
  // Memory comes back near its level: freed buffers may stay with the allocator, so allow a margin.
  // The sanitizers keep memory of their own that grows with every thread that ever ran.
  if (!kSanitized) {
    EXPECT_LT(StatusField("VmRSS"), rss_before_kb + 16 * 1024);
  }
}

TEST(Flood, ThousandsOfConnectionsSendingRandomBytes) {
  // Measures the threads and memory of thousands of connections, not the policy: the limit of
  // connections without a client per address is turned off here.
  TestServer server(IniKeys().Set("Security", "MaxPendingPerAddress", "0"));
  Conversation conversation(server);
  const long threads_before = StatusField("Threads");
  const long rss_before = StatusField("VmRSS");
  conversation.Start();
  PeakThreads peak;
  std::vector<std::thread> flooders;
  std::atomic<int> connections{0};
  for (int t = 0; t < 4; ++t) {
    flooders.emplace_back([&, t] {
      std::mt19937 random(t);
      for (int i = 0; i < 500; ++i) {
        std::string error;
        auto socket = plat::TcpClientSocket::Connect({0x7F000001, server.tcp_port()}, {}, &error);
        if (!socket) continue;
        ++connections;
        std::vector<uint8_t> garbage(random() % 600);
        for (uint8_t& byte : garbage) byte = static_cast<uint8_t>(random());
        if (i % 3 == 0 && garbage.size() >= 8)
          garbage[0] = 0xBA, garbage[1] = 0xB0;  // a plausible header
        socket->SendAll(garbage.data(), garbage.size(), 500);
        // Some wait for the server to close them, others just vanish.
        if (i % 2 == 0) {
          uint8_t answer[64];
          size_t received = 0;
          socket->Receive(answer, sizeof answer, 300, &received);
        }
      }
    });
  }
  for (std::thread& flooder : flooders) flooder.join();
  double delivered = conversation.Stop();
  std::printf("[ figures  ] %d connections, threads %ld before, peak %ld, delivered %.4f\n",
              connections.load(), threads_before, peak.Stop(), delivered);
  EXPECT_GE(connections.load(), 1500);
  EXPECT_TRUE(conversation.EveryDatagramArrivesAfterwards(20));
  ExpectBaselineRestored(server, threads_before, rss_before);
}

TEST(Flood, HundredsOfThousandsOfRandomDatagramsWithRealIdsFromAnotherHost) {
  TestServer server;
  Conversation conversation(server);
  const long rss_before = StatusField("VmRSS");
  std::vector<uint16_t> ids;
  {
    clients::ClientList::Lock lock = server.server().clients().Acquire();
    for (const auto& client : server.server().clients().Entries(lock)) ids.push_back(client->Id);
  }
  conversation.Start();
  std::string error;
  auto flooder = plat::UdpClientSocket::Bind({0x7F000002, 0}, &error);
  ASSERT_TRUE(flooder) << error;
  std::mt19937 random(7);
  const plat::Endpoint target{0x7F000001, server.udp_port()};
  int sent = 0;
  for (int i = 0; i < 200000; ++i) {
    uint8_t datagram[200];
    size_t size = random() % sizeof datagram;
    for (size_t b = 0; b < size; ++b) datagram[b] = static_cast<uint8_t>(random());
    if (size >= 4 && i % 2 == 0) {  // valid magics and the Ids of the real clients
      datagram[0] = i % 4 ? 0xBA : 0xBB;
      datagram[1] = i % 4 ? 0xB0 : 0xAA;
      uint16_t id = ids[random() % ids.size()];
      datagram[2] = static_cast<uint8_t>(id);
      datagram[3] = static_cast<uint8_t>(id >> 8);
    }
    if (flooder->SendTo(datagram, size, target)) ++sent;
    if (i % 2000 == 0) std::this_thread::sleep_for(milliseconds(1));
  }
  double delivered = conversation.Stop();
  std::printf("[ figures  ] %d datagrams, delivered %.4f, rss %ld kB before %ld kB after\n", sent,
              delivered, rss_before, StatusField("VmRSS"));
  EXPECT_TRUE(conversation.EveryDatagramArrivesAfterwards(20));
  if (!kSanitized) {
    EXPECT_LT(StatusField("VmRSS"), rss_before + 16 * 1024);
  }
}

TEST(Flood, ThousandsOfLoginLeaveCyclesAndAbruptDisconnects) {
  // The cycles are to reach the server: the limit of logins per address is off.
  TestServer server(
      IniKeys().Set("General", "MaxClients", "64").Set("Security", "MaxLoginsPerAddress", "0"));
  Conversation conversation(server);
  const long threads_before = StatusField("Threads");
  const long rss_before = StatusField("VmRSS");
  conversation.Start();
  PeakThreads peak;
  std::vector<std::thread> churners;
  std::atomic<int> cycles{0};
  for (int t = 0; t < 4; ++t) {
    churners.emplace_back([&, t] {
      for (int i = 0; i < 400; ++i) {
        auto client = server.Connect();
        if (!client->Login("Churn" + std::to_string(t)).accepted) continue;
        if (i % 2 == 0) client->SendLeave();  // else the connection simply drops
        ++cycles;
      }
    });
  }
  for (std::thread& churner : churners) churner.join();
  double delivered = conversation.Stop();
  std::printf(
      "[ figures  ] %d cycles, threads %ld before, peak %ld, rss %ld kB before, delivered %.4f\n",
      cycles.load(), threads_before, peak.Stop(), rss_before, delivered);
  EXPECT_GE(cycles.load(), 1500);
  EXPECT_TRUE(conversation.EveryDatagramArrivesAfterwards(20));
  EXPECT_TRUE(WaitUntil([&] { return server.server().clients().Count() == 4; }, 10000));
  ExpectBaselineRestored(server, threads_before, rss_before);
}

}  // namespace
}  // namespace pltest
