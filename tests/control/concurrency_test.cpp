// Many clients at once: logins, moves, lists and departures on 64 connections while an
// administrator creates and deletes rooms. Each client checks that what it hears is consistent;
// a watcher checks that no player number or Id is ever held twice.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "support/test_server.h"

namespace {

using plclient::Frame;
using pltest::TestServer;

constexpr int kClients = 64;
constexpr auto kRunTime = std::chrono::milliseconds(3000);

// What one session heard, checked as it goes. Returns an error text, empty when all was well.
class SessionChecker {
 public:
  std::string Check(const Frame& frame) {
    if (frames_++ == 0)
      return plclient::ParseLoginAccepted(frame)
                 ? ""
                 : "first frame is " + plclient::DescribeFrame(frame);
    if (id_ == 0) id_ = frame.Id();
    if (frame.Id() != id_)
      return "frame for Id " + std::to_string(frame.Id()) + " on the connection of " +
             std::to_string(id_);
    if (auto joined = plclient::ParsePlayerJoined(frame)) return Enter(joined->player_byte);
    if (auto left = plclient::ParsePlayerLeft(frame)) return Leave(left->player_byte);
    if (auto moved = plclient::ParsePlayerMoved(frame)) {
      return state_[moved->player_byte] == kAbsent
                 ? "PlayerMoved for absent player " + std::to_string(moved->player_byte)
                 : "";
    }
    if (auto created = plclient::ParseRoomCreated(frame))
      return Flip(rooms_, created->room_byte, true);
    if (auto deleted = plclient::ParseRoomDeleted(frame))
      return Flip(rooms_, deleted->room_byte, false);
    return "";
  }
  uint16_t id() const { return id_; }

 private:
  enum State { kUnknown, kPresent, kAbsent };
  std::string Enter(uint8_t player) {
    if (state_[player] == kPresent)
      return "PlayerJoined twice for player " + std::to_string(player);
    state_[player] = kPresent;
    return "";
  }
  std::string Leave(uint8_t player) {
    if (state_[player] == kAbsent) return "PlayerLeft twice for player " + std::to_string(player);
    state_[player] = kAbsent;
    return "";
  }
  static std::string Flip(std::map<uint8_t, bool>& rooms, uint8_t room, bool exists) {
    auto at = rooms.find(room);
    if (at != rooms.end() && at->second == exists)
      return "room " + std::to_string(room) + " announced twice alike";
    rooms[room] = exists;
    return "";
  }
  int frames_ = 0;
  uint16_t id_ = 0;
  std::map<uint8_t, State> state_;
  std::map<uint8_t, bool> rooms_;
};

// One session: log in, ask for the lists, move, leave; returns an error text or "".
std::string RunSession(uint16_t port, int index, int round) {
  // The listen backlog is small; under a sanitizer a refused SYN is retried after a second or more.
  plclient::ClientOptions options;
  options.connect_timeout_ms = 10000;
  std::string connect_error;
  auto client = plclient::ProtocolClient::Connect("127.0.0.1", port, options, &connect_error);
  if (!client) return "cannot connect: " + connect_error;
  const uint8_t room_byte = static_cast<uint8_t>(1 + (index + round) % 5);
  SessionChecker checker;
  if (!client->SendLogin("C" + std::to_string(index), "", index % 2 ? "1.2.0" : "1.3.0"))
    return "login not sent";
  bool moved_seen = false;
  uint8_t own_player = 0;
  std::optional<Frame> frame;
  auto next = [&]() -> std::string {
    frame = client->ReadFrame(5000);
    if (!frame) return "no frame in time";
    return checker.Check(*frame);
  };
  if (std::string error = next(); !error.empty()) return error;
  if (!client->SendListsReq()) return "lists not sent";
  for (;;) {
    if (std::string error = next(); !error.empty()) return error;
    if (auto lists = plclient::ParseServerLists(*frame)) {
      own_player = static_cast<uint8_t>(lists->own_player_byte);
      std::set<uint8_t> players;
      for (const auto& player : lists->players) {
        if (!players.insert(player.player_byte).second) return "ServerLists names a player twice";
      }
      break;
    }
  }
  if (!client->SendChangeRoom(room_byte)) return "move not sent";
  while (!moved_seen) {
    if (std::string error = next(); !error.empty()) return error;
    auto moved = plclient::ParsePlayerMoved(*frame);
    moved_seen = moved && moved->player_byte == own_player && moved->room_byte == room_byte;
  }
  if (!client->SendLeave()) return "leave not sent";
  for (;;) {
    if (std::string error = next(); !error.empty()) return error;
    auto left = plclient::ParsePlayerLeft(*frame);
    if (left && left->player_byte == own_player) {
      if (left->reason != 0) return "own PlayerLeft with reason " + std::to_string(left->reason);
      break;
    }
  }
  return client->WaitForClose(5000) ? "" : "not closed after leaving";
}

TEST(Concurrency, ManyClientsComeAndGoWhileRoomsChange) {
  // A stress test: every client connects from 127.0.0.1 at once and the administrator changes
  // rooms as fast as it can, so the limits per address and per connection are turned off here.
  TestServer server(pltest::IniKeys()
                        .Set("General", "MaxClients", "200")
                        .Set("Security", "MaxPendingPerAddress", "0")
                        .Set("Security", "MaxFramesPerSecond", "0")
                        .Set("Security", "MaxLoginsPerAddress", "0")
                        .Set("Security", "MaxBroadcastFramesPerAddress", "0"));
  const auto deadline = std::chrono::steady_clock::now() + kRunTime;
  std::atomic<bool> stop{false};
  std::mutex errors_mutex;
  std::vector<std::string> errors;
  auto report = [&](const std::string& error) {
    std::lock_guard<std::mutex> lock(errors_mutex);
    if (errors.size() < 10) errors.push_back(error);
  };
  std::atomic<int> sessions{0};

  std::thread watcher([&] {
    while (!stop) {
      clients::ClientList& list = server.server().clients();
      clients::ClientList::Lock lock = list.Acquire();
      std::set<int> numbers, ids;
      for (const auto& client : list.Entries(lock)) {
        if (!numbers.insert(client->PlayerNo).second) report("PlayerNo held twice");
        if (!ids.insert(client->Id).second) report("Id held twice");
        if (client->Id < 1 || client->Id > 50000) report("Id out of range");
      }
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::thread admin([&] {
    pltest::Member boss = server.JoinAsAdmin("Boss");
    std::thread drain([&] {
      while (!stop) boss->ReadFrame(50);
    });
    for (int i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
      boss->SendAdminCreateRoom("Room" + std::to_string(i));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      boss->SendAdminDeleteRoom(2);  // the created room takes the lowest free number, 1
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    drain.join();
  });
  std::vector<std::thread> workers;
  for (int index = 0; index < kClients; ++index) {
    workers.emplace_back([&, index] {
      for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
        std::string error = RunSession(server.tcp_port(), index, round);
        if (!error.empty()) {
          report("client " + std::to_string(index) + ": " + error);
          return;
        }
        ++sessions;
      }
    });
  }
  for (auto& worker : workers) worker.join();
  admin.join();
  watcher.join();
  for (const auto& error : errors) ADD_FAILURE() << error;
  EXPECT_GT(sessions.load(), kClients);
  EXPECT_TRUE(pltest::WaitUntil([&] { return server.server().clients().Count() == 0; }, 3000));
  {
    clients::ClientList::Lock lock = server.server().clients().Acquire();
    for (const auto& client : server.server().clients().Entries(lock)) {
      ADD_FAILURE() << "still registered: " << client->Name << " dropped " << client->Dropped.load()
                    << " queued " << client->QueuedFrames() << " open "
                    << client->Connection()->IsOpen();
    }
  }
}

}  // namespace
