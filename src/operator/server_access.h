// What the operator interface may use of the server: the registries, the defences with their
// ban list, the counters, the administration operations, the event lines, the configuration
// file, the settings in force, the reload and the server's clock. The operator never holds the server object itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "clients/serverfunctions.h"
#include "core/admin_operations.h"
#include "core/configuration_file.h"
#include "core/event_output.h"
#include "core/reload.h"
#include "core/vars.h"
#include "platform/clock.h"
#include "security/guard.h"
#include "voice/voice_queue.h"

namespace oper {

struct ServerAccess {
  clients::ClientList& clients;
  clients::RoomList& rooms;
  security::Guard& guard;
  core::TrafficCounters& counters;
  core::AdminOperations& admin;
  core::EventOutput& events;
  voice::VoiceQueue& voice_queue;
  core::ConfigurationFile& config;
  const plat::Clock& clock;  // the server's
  const core::LiveSettings& settings;  // the settings in force
  // Reloads the configuration file (the server's reload, by the operator).
  std::function<core::ReloadOutcome()> reload;
  std::string version;
  uint32_t start_tick = 0;
};

}  // namespace oper
