// Reload: the configuration file read again and put in force without dropping anyone, or
// refused whole. Runs on the thread that asks (the shell on SIGHUP, the operator thread), one at
// a time under the reload lock.
#include <algorithm>

#include "core/config_check.h"
#include "core/servermain.h"
#include "metrics/metrics_endpoint.h"
#include "platform/ascii_case.h"
#include "platform/clock.h"
#include "platform/endpoint.h"
#include "platform/files.h"
#include "webpost/webpostthread.h"

namespace core {
namespace {

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

// "line 12 [General] MaxClients "abc": not an integer; the default is used"
std::string ProblemText(const SettingWarning& warning) {
  std::string text;
  if (warning.line != 0) text += "line " + std::to_string(warning.line) + " ";
  if (!warning.section.empty()) text += "[" + warning.section + "] ";
  if (!warning.key.empty()) text += warning.key + " ";
  return text + QuoteForLine(warning.read) + ": " + warning.reason;
}

EventLine ReloadLine(const char* by, const ReloadOutcome& outcome, uint64_t duration_us) {
  // A warning when the file was refused, or taken with something it asks for left undone.
  const bool clean = outcome.applied && outcome.notes.empty();
  EventLine line(clean ? EventLevel::kInfo : EventLevel::kWarning, "reload");
  line.Word("result", outcome.applied ? "ok" : "refused").Word("by", by);
  line.Number("duration_us", static_cast<int64_t>(duration_us));
  if (!outcome.applied) {
    line.Number("problems", static_cast<int64_t>(outcome.problems.size()));
    return line.Text("reason", Joined(outcome.problems, "; "));
  }
  line.Text("changed", Joined(outcome.changed, " "));
  if (!outcome.needs_restart.empty())
    line.Text("needs_restart", Joined(outcome.needs_restart, " "));
  if (!outcome.notes.empty()) line.Text("notes", Joined(outcome.notes, "; "));
  return line;
}

// What the file does not set: the command line's choices and what start-up derived.
Settings OutsideTheFile(const Settings& running) {
  Settings base;
  base.IniFileName = running.IniFileName;
  base.LogFileName = running.LogFileName;
  base.PidValue = running.PidValue;
  base.ProgramDir = running.ProgramDir;
  base.ServerVersion = running.ServerVersion;
  base.UdpPort = running.UdpPort;
  return base;
}

// The running values of the keys only a restart changes, kept in `next`.
void KeepRestartValues(const Settings& running, Settings& next) {
  next.TCPPort = running.TCPPort;
  next.UdpPort = running.UdpPort;
  next.IP = running.IP;
  next.VoiceDscp = running.VoiceDscp;
  next.OperatorSocket = running.OperatorSocket;
  next.WebListen = running.WebListen;
  next.WebMaxStreams = running.WebMaxStreams;
  next.WebMaxStreamsPerAddress = running.WebMaxStreamsPerAddress;
}

// Whether `names` holds `name`, letter case of ASCII letters aside (as room names compare).
bool Lists(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& other) {
    return plat::EqualsIgnoringAsciiCase(other, name);
  });
}

}  // namespace

ReloadOutcome TParlowindServer::Reload(const char* by) {
  std::lock_guard<std::mutex> lock(reload_mutex_);
  const uint64_t started = plat::MonotonicMicroseconds();
  ReloadOutcome outcome = ReloadLocked();
  const uint64_t duration_us = plat::MonotonicMicroseconds() - started;
  auto& count = outcome.applied ? reload_counters_.applied : reload_counters_.refused;
  count.fetch_add(1, std::memory_order_relaxed);
  event_output_.Emit(ReloadLine(by, outcome, duration_us));
  return outcome;
}

void TParlowindServer::AddReloadStep(ReloadStep step) {
  std::lock_guard<std::mutex> lock(reload_mutex_);
  reload_steps_.push_back(std::move(step));
}

ReloadOutcome TParlowindServer::ReloadLocked() {
  ReloadOutcome outcome;
  const std::shared_ptr<const Settings> running = settings_.Get();
  const std::string path = running->ConfigurationPath();
  const plat::FileContents contents = config_file_.ReadBytes();
  if (contents.status != plat::ReadStatus::kOk) {
    outcome.problems.push_back(contents.status == plat::ReadStatus::kMissing
                                   ? "the configuration file " + QuoteForLine(path) +
                                         " does not exist"
                                   : contents.error);
    return outcome;
  }
  const plat::IniFile ini = plat::IniFile::Parse(path, contents.bytes);
  FileSettings next = ReadFileSettings(ini, OutsideTheFile(*running));
  for (const SettingWarning& problem : ConfigurationProblems(ini, next)) {
    event_output_.Emit(SettingWarningLine(problem));
    outcome.problems.push_back(ProblemText(problem));
  }
  if (!outcome.problems.empty()) return outcome;

  // What is in force: the file as loaded last, with the server's own changes since (passwords,
  // saved rooms), and what the running server could not take from it.
  const FileSettings before = ReadFileSettings(config_file_.Loaded(), OutsideTheFile(*running));
  SettingValues in_force = before.values;
  in_force["Networking.TCPPort"] = std::to_string(running->TCPPort);
  in_force["Networking.IP"] = running->IP;
  in_force["Voice.DSCP"] = std::to_string(running->VoiceDscp);
  in_force["Operator.Socket"] = running->OperatorSocket;
  in_force["Metrics.Listen"] = running->MetricsListen;
  for (const char* key : kRestartKeys) {
    if (next.values[key] == in_force[key]) continue;
    outcome.needs_restart.push_back(key);
    next.values[key] = in_force[key];
  }
  KeepRestartValues(*running, next.settings);
  ApplyReload(*running, next, ini, outcome);
  ApplyRooms(before.rooms, next.rooms, outcome);
  for (const auto& [key, value] : next.values) {
    if (in_force[key] != value) outcome.changed.push_back(key);
  }
  std::sort(outcome.changed.begin(), outcome.changed.end());
  config_file_.MarkLoaded(contents.bytes);
  outcome.applied = true;
  return outcome;
}

void TParlowindServer::ApplyReload(const Settings& before, FileSettings& next,
                                   const plat::IniFile& file, ReloadOutcome& outcome) {
  if (next.server_password != passwords_.ServerPassword())
    passwords_.SetServerPassword(next.server_password);
  if (next.admin_password != passwords_.AdminPassword())
    passwords_.SetAdminPassword(next.admin_password);
  ApplyMetrics(before, next, outcome);
  settings_.Publish(next.settings);
  ApplyGuardLimits(next.settings);
  if (plat::Status opened = ApplyEventOutput(next.settings); !opened.ok()) {
    event_output_.Emit(EventFileFailedLine(next.settings.EventFile, opened.message()));
    outcome.notes.push_back("[Logging] File: " + opened.message() +
                            "; the event lines go where they went");
  }
  ApplyPoster(next.settings, outcome);
  for (const ReloadStep& step : reload_steps_) step(before, next.settings, file, outcome);
}

void TParlowindServer::ApplyPoster(const Settings& settings, ReloadOutcome& outcome) {
  // A poster that runs idles while [WebStatus] Active is off; one is started when it comes on.
  if (!settings.WebStatusActive || web_poster_) return;
  auto poster = std::make_unique<webpost::TWebPoster>(PosterParts());
  if (plat::Status started = poster->Start(); !started.ok()) {
    outcome.notes.push_back("[WebStatus] Active: no poster: " + started.message());
    return;
  }
  web_poster_ = std::move(poster);
}

void TParlowindServer::ApplyMetrics(const Settings& before, FileSettings& next,
                                    ReloadOutcome& outcome) {
  const std::string& listen = next.settings.MetricsListen;
  if (listen == before.MetricsListen) return;
  std::unique_ptr<metrics::MetricsEndpoint> old;
  {
    std::lock_guard<std::mutex> lock(metrics_mutex_);
    old = std::move(metrics_);
  }
  std::unique_ptr<metrics::MetricsEndpoint> endpoint;
  plat::Status started = plat::Status::Ok();
  if (!listen.empty()) {
    const plat::Endpoint address = *plat::ParseEndpoint(listen);
    endpoint = std::make_unique<metrics::MetricsEndpoint>(MetricsSources());
    started = endpoint->Start(address);
    // The new address may share the old one's port (another interface): the old one gives it
    // up first, and takes it back should the new one fail all the same.
    if (!started.ok() && old && address.port == old->BoundPort()) {
      const plat::Endpoint old_address{plat::ParseEndpoint(before.MetricsListen)->ip,
                                       old->BoundPort()};
      old->Stop();
      started = endpoint->Start(address);
      if (!started.ok()) {
        old = std::make_unique<metrics::MetricsEndpoint>(MetricsSources());
        if (!old->Start(old_address).ok()) old.reset();
      }
    }
  }
  if (started.ok()) {
    if (old) old->Stop();
    old = std::move(endpoint);
  } else {
    // The file's value counts as not in force, so the next reload tries it again.
    event_output_.Emit(MetricsFailedLine(listen, started.message()));
    outcome.notes.push_back("[Metrics] Listen " + listen + ": " + started.message() +
                            "; the endpoint stays " +
                            (old ? before.MetricsListen : std::string("off")));
    next.settings.MetricsListen = before.MetricsListen;
    next.values["Metrics.Listen"] = before.MetricsListen;
  }
  std::lock_guard<std::mutex> lock(metrics_mutex_);
  metrics_ = std::move(old);
}

void TParlowindServer::ApplyRooms(const std::vector<std::string>& before,
                                  const std::vector<std::string>& after, ReloadOutcome& outcome) {
  bool changed = false;
  for (const std::string& name : after) {
    if (Lists(before, name)) continue;
    try {
      changed = admin_.CreateRoom(Actor::Reload(), name).has_value() || changed;
    } catch (const clients::RegistryFull&) {
      outcome.notes.push_back("[Channels] " + QuoteForLine(name) + ": every room number is taken");
    }
  }
  for (const std::string& name : before) {
    if (Lists(after, name)) continue;
    clients::TRoom removed;
    switch (rooms_.RemoveRoomNamedIfEmpty(name, &removed)) {
      case clients::RoomRemoval::kRemoved:
        event_output_.Emit(AdminActionLine(Actor::Reload(), "room-delete", "ok")
                               .Number("room", removed.RoomId + 1)
                               .Text("room_name", removed.Name));
        changed = true;
        break;
      case clients::RoomRemoval::kOccupied:
        outcome.notes.push_back("room " + QuoteForLine(name) +
                                " is gone from [Channels] but kept: players are in it");
        break;
      case clients::RoomRemoval::kNoSuchRoom:
        break;
    }
  }
  if (changed) outcome.changed.push_back("Channels");
}

}  // namespace core
