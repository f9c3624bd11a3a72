// What the operator interface may use of the server: the registries, the defences with their
// ban list, the counters, the passwords, the event lines and the configuration file. The
// operator never holds the server object itself.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "clients/serverfunctions.h"
#include "core/event_output.h"
#include "core/vars.h"
#include "security/guard.h"
#include "voice/voice_queue.h"

namespace oper {

struct ServerAccess {
  clients::ClientList& clients;
  clients::RoomList& rooms;
  security::Guard& guard;
  core::TrafficCounters& counters;
  core::PasswordStore& passwords;
  core::EventOutput& events;
  voice::VoiceQueue& voice_queue;
  std::string version;
  uint32_t start_tick = 0;
  int32_t max_clients = 0;
  // The configuration file and the lock that serialises its changes at run time.
  std::string config_path;
  std::mutex& config_mutex;
  // Saves the rooms as the default room list; false when the file cannot take it.
  std::function<bool()> save_rooms;
};

}  // namespace oper
