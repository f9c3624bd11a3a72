// Control channel benchmark: logins per second (one connecting thread and several), and the time
// for one PlayerMoved to reach 255 logged-in clients.
//
//   control_bench                  starts an in-process server on a free loopback port pair
//   control_bench HOST PORT        uses a running server (MaxClients must allow 255 clients)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/servermain.h"
#include "protoclient/protocol_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using plclient::ProtocolClient;

constexpr int kSequentialLogins = 500;
constexpr int kThreads = 8;
constexpr int kLoginsPerThread = 100;
constexpr int kFanOutClients = 255;
constexpr int kFanOutRounds = 20;

struct InProcessServer {
  std::string directory;
  std::unique_ptr<core::TParlowindServer> server;
  uint16_t port = 0;

  bool Start() {
    std::mt19937 random(std::random_device{}());
    directory =
        (std::filesystem::temp_directory_path() / ("plbench-" + std::to_string(random()))).string();
    std::filesystem::create_directories(directory);
    for (int attempt = 0; attempt < 20; ++attempt) {
      port = static_cast<uint16_t>(20000 + random() % 40000);
      std::ofstream(directory + "/plserver.ini", std::ios::trunc)
          << "[Version]\nServerVersion=v1.2.0\n[Networking]\nTCPPort=" << port
          << "\n[General]\nMaxClients=255\n"
          // It measures the control channel at full speed, not the abuse limits.
          << "[Security]\nMaxFramesPerSecond=0\nMaxPendingPerAddress=0\nMaxLoginsPerAddress=0\n"
          << "MaxBroadcastFramesPerAddress=0\n";
      core::StartupEnvironment environment;
      environment.program_file = directory + "/plserver";
      environment.arguments = {"-LOG=" + directory + "/plserver.log"};
      server = std::make_unique<core::TParlowindServer>(std::move(environment));
      if (server->Server_Init()) return true;
      server.reset();
    }
    return false;
  }
  ~InProcessServer() {
    server.reset();
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
  }
};

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// Connect, log in, wait for LoginAccepted, leave; false on any failure.
bool OneLogin(const std::string& host, uint16_t port, const std::string& name) {
  auto client = ProtocolClient::Connect(host, port);
  if (!client || !client->Login(name).accepted) return false;
  client->SendLeave();
  return client->WaitForClose(2000);
}

void MeasureLogins(const std::string& host, uint16_t port) {
  int failures = 0;
  auto started = Clock::now();
  for (int i = 0; i < kSequentialLogins; ++i)
    failures += OneLogin(host, port, "Seq" + std::to_string(i)) ? 0 : 1;
  double elapsed = Seconds(Clock::now() - started);
  std::printf("sequential logins: %d in %.3f s = %.0f logins/s (%d failed)\n", kSequentialLogins,
              elapsed, kSequentialLogins / elapsed, failures);

  std::atomic<int> failed{0};
  started = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLoginsPerThread; ++i) {
        if (!OneLogin(host, port, "T" + std::to_string(t) + "-" + std::to_string(i))) ++failed;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  elapsed = Seconds(Clock::now() - started);
  const int total = kThreads * kLoginsPerThread;
  std::printf("parallel logins (%d threads): %d in %.3f s = %.0f logins/s (%d failed)\n", kThreads,
              total, elapsed, total / elapsed, failed.load());
}

void MeasureFanOut(const std::string& host, uint16_t port) {
  std::vector<std::unique_ptr<ProtocolClient>> clients;
  for (int i = 0; i < kFanOutClients; ++i) {
    auto client = ProtocolClient::Connect(host, port);
    if (!client || !client->Login("F" + std::to_string(i)).accepted) {
      std::printf("fan-out: login %d failed\n", i + 1);
      return;
    }
    clients.push_back(std::move(client));
  }
  // Drain the PlayerJoined notices of the later logins.
  for (auto& client : clients) {
    while (client->ReadFrame(20)) {
    }
  }
  std::vector<double> samples;
  for (int round = 0; round < kFanOutRounds; ++round) {
    const uint8_t room_byte = static_cast<uint8_t>(2 + round % 2);
    std::atomic<int> received{0};
    std::vector<std::thread> readers;
    const int kReaders = 5;
    auto started = Clock::now();
    clients[0]->SendChangeRoom(room_byte);
    for (int r = 0; r < kReaders; ++r) {
      readers.emplace_back([&, r] {
        for (size_t i = static_cast<size_t>(r); i < clients.size(); i += kReaders) {
          auto moved = clients[i]->Await(&plclient::ParsePlayerMoved, 5000);
          if (moved && moved->room_byte == room_byte) ++received;
        }
      });
    }
    for (auto& reader : readers) reader.join();
    double elapsed = Seconds(Clock::now() - started);
    if (received.load() != kFanOutClients)
      std::printf("fan-out round %d: only %d received\n", round, received.load());
    samples.push_back(elapsed * 1000.0);
  }
  std::sort(samples.begin(), samples.end());
  std::printf(
      "PlayerMoved to %d clients: median %.2f ms, best %.2f ms, worst %.2f ms over %d rounds\n",
      kFanOutClients, samples[samples.size() / 2], samples.front(), samples.back(), kFanOutRounds);
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  InProcessServer local;
  if (argc >= 3) {
    host = argv[1];
    port = static_cast<uint16_t>(std::stoi(argv[2]));
  } else {
    if (!local.Start()) {
      std::fprintf(stderr, "could not start an in-process server\n");
      return 1;
    }
    port = local.port;
    std::printf("in-process server on 127.0.0.1:%u\n", port);
  }
  MeasureLogins(host, port);
  MeasureFanOut(host, port);
  return 0;
}
