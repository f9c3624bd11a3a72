// TParlowindServer: the one server object. It owns the settings, the registries, the locks, the
// listeners and the worker threads; start-up (Server_Init) creates and starts them in a fixed
// order and shutdown (Server_DeInit) stops them in a fixed order. Its operations are the control
// channel's command handlers and the voice channel's datagram handler.
//
// No state outside the object: a test may run several servers in one process on different ports.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "clients/serverfunctions.h"
#include "core/admin_operations.h"
#include "core/configuration.h"
#include "core/configuration_file.h"
#include "core/event_output.h"
#include "core/log.h"
#include "core/reload.h"
#include "core/server_events.h"
#include "core/vars.h"
#include "metrics/snapshot.h"
#include "platform/clock.h"
#include "platform/endpoint.h"
#include "platform/event.h"
#include "platform/tcp_listener.h"
#include "platform/udp_socket.h"
#include "security/guard.h"
#include "voice/relay_stats.h"
#include "voice/voice_queue.h"

namespace voice {
class TUDPSender;
class TPingThread;
struct PingerParts;
struct RelayParts;
}  // namespace voice
namespace webpost {
class TWebPoster;
struct PosterParts;
}  // namespace webpost
namespace metrics {
class MetricsEndpoint;
}

namespace core {

// What start-up learns from the process: its arguments, its program file and whether it runs
// as the interactive desktop program (its own name on a terminal).
struct StartupEnvironment {
  std::vector<std::string> arguments;  // without the program's own path
  std::string program_file;            // full path of the program file
  bool stdin_is_terminal = false;
};
StartupEnvironment CurrentProcessEnvironment(int argc, char** argv);

// The name under which the program counts as the interactive desktop program. Installations
// name the program file so, and the desktop window is titled with it: the spelling is fixed.
inline constexpr char kDesktopProgramName[] = "RERivize";
// The window class of the desktop program's hidden application window.
inline constexpr char kApplicationWindowClass[] = "TApplication";

class TParlowindServer {
 public:
  // Every time the server keeps or measures (login deadlines, pings, ages, bans, uptime, the
  // poster's period, the figures of the operator interface and the metrics) is read from
  // `clock`, which outlives the server. Only the system's own spans stay on the system clock:
  // a socket's wait for the rest of a frame, the relay delay in microseconds and the calendar
  // time stamps of the log and the event lines.
  explicit TParlowindServer(StartupEnvironment environment,
                            const plat::Clock& clock = plat::SystemClock());
  ~TParlowindServer();
  TParlowindServer(const TParlowindServer&) = delete;
  TParlowindServer& operator=(const TParlowindServer&) = delete;

  // Start-up; false after setting FatalMessage.
  bool Server_Init();
  // Shutdown; once, after a successful Server_Init.
  void Server_DeInit();
  const std::string& FatalMessage() const { return fatal_message_; }
  // Why start-up failed, for the operator (address and port, path, system error text); the log
  // keeps only the fixed FatalMessage.
  const std::string& FatalReason() const { return fatal_reason_; }

  // --- Control channel (one pass per call, on the connection's own thread) -------------------
  void TcpExecute(plat::TcpConnection& connection);

  // --- Voice channel (on the UDP listener thread) ---------------------------------------------
  void Server_UDPRead(uint8_t* data, size_t size, const plat::Endpoint& from,
                      const plat::IpAddress& local_ip = plat::IpAddress{});

  // --- Reload (any thread; one at a time) -----------------------------------------------------
  // Reads the configuration file again and puts it in force without dropping anyone, or refuses
  // it whole when the check finds a problem; writes the reload event line and says what it did.
  // `by` names who asked ("signal", "operator"). After a successful Server_Init.
  ReloadOutcome Reload(const char* by);
  // Runs `step` at each reload that takes the file, after the server's own settings are in
  // force, with the settings before and after and the file itself (the operator interface
  // applies its limits and the file's bans there). Main thread, after Server_Init.
  using ReloadStep = std::function<void(const Settings& before, const Settings& after,
                                        const plat::IniFile& file, ReloadOutcome& outcome)>;
  void AddReloadStep(ReloadStep step);

  // --- Parts, for the channels, the workers and the tests -------------------------------------
  // The settings in force: a reader keeps the value it took while it works with it.
  std::shared_ptr<const Settings> settings() const { return settings_.Get(); }
  const LiveSettings& live_settings() const { return settings_; }
  PasswordStore& passwords() { return passwords_; }
  EventLog& log() { return log_; }
  EventHook& events() { return events_; }
  // Event lines on standard output (or where a test sends them).
  EventOutput& event_output() { return event_output_; }
  TrafficCounters& counters() { return counters_; }
  uint32_t StartTick() const { return start_tick_; }
  clients::ClientList& clients() { return clients_; }
  clients::RoomList& rooms() { return rooms_; }
  voice::VoiceQueue& voice_queue() { return voice_queue_; }
  plat::AutoResetEvent* relay_event() { return relay_event_.get(); }
  plat::UdpListener& udp() { return *udp_listener_; }
  plat::TcpListener& tcp() { return *tcp_listener_; }
  const plat::Clock& clock() const { return clock_; }
  security::Guard& guard() { return guard_; }
  voice::RelayStats& relay_stats() { return relay_stats_; }
  // The metrics endpoint's port; 0 when it does not run.
  uint16_t MetricsPort() const;
  // The configuration file as the running server changes it.
  ConfigurationFile& config_file() { return config_file_; }
  // The administration operations, for the control channel and the operator interface.
  AdminOperations& admin() { return admin_; }

  // What each worker is given: only what it uses. The UDP listener and RelayEvent must exist
  // (after start-up has created them).
  voice::PingerParts PingerParts();
  voice::RelayParts RelayParts();
  webpost::PosterParts PosterParts();

  // A client as event lines name it: number, name, address of its connection.
  static Actor ActorOf(const clients::TServerClient& client);

  // Runs `step` first when the server shuts down, before any worker stops (the operator
  // interface, started beside the server, stops there). Main thread, after Server_Init.
  void AddShutdownStep(std::function<void()> step) { shutdown_steps_.push_back(std::move(step)); }

  // Writes a worker's start or end line; a failure to write it is ignored.
  void WriteWorkerLine(const char* text) noexcept;

  // The command handlers (control/*.cpp). A true result closes the connection.
  bool ClientLogin(plat::TcpConnection& connection, std::span<const uint8_t> frame);
  bool ClientListsReq(plat::TcpConnection& connection, std::span<const uint8_t> frame,
                      clients::TServerClient& client);
  void ClientChangeRoom(std::span<const uint8_t> frame, clients::TServerClient& client);
  bool ClientLeave(clients::TServerClient& client);
  // True when the connection is to close: a third failure on it, or a banned address.
  bool AdminLogin(std::span<const uint8_t> frame, clients::TServerClient& client);
  void AdminCreateRoom(std::span<const uint8_t> frame, clients::TServerClient& client);
  void AdminDeleteRoom(std::span<const uint8_t> frame, clients::TServerClient& client);
  void AdminKickPlayer(std::span<const uint8_t> frame, clients::TServerClient& client);
  void AdminChangeServerPassword(std::span<const uint8_t> frame, clients::TServerClient& client);
  void AdminSaveAsDefaultChannels(clients::TServerClient& client);
  void AdminChangeAdminPassword(std::span<const uint8_t> frame, clients::TServerClient& client);
  void PlayerStatsReq(std::span<const uint8_t> frame, clients::TServerClient& client);
  void ServerStatsReq(clients::TServerClient& client);

 private:
  bool Fail(const char* message, std::string reason);
  bool AdmitConnection(plat::TcpConnection& connection);
  // The settings' parts that the server applies rather than reads at each use.
  void ApplyGuardLimits(const Settings& settings);
  // The event lines' form and file; an error text when the file cannot be opened (the lines
  // keep going where they went).
  plat::Status ApplyEventOutput(const Settings& settings);
  // The reload's steps (core/reload.cpp). REQUIRES: reload_mutex_ held.
  ReloadOutcome ReloadLocked();
  void ApplyReload(const Settings& before, FileSettings& next, const plat::IniFile& file,
                   ReloadOutcome& outcome);
  // The rooms new in [Channels] created, the rooms gone from it deleted unless occupied.
  void ApplyRooms(const std::vector<std::string>& before, const std::vector<std::string>& after,
                  ReloadOutcome& outcome);
  void ApplyPoster(const Settings& settings, ReloadOutcome& outcome);
  // A changed [Metrics] Listen: the endpoint moves there, or stays where it was when the new
  // address cannot be bound (and `next` then keeps the old value).
  void ApplyMetrics(const Settings& before, FileSettings& next, ReloadOutcome& outcome);
  bool AddressRefused(const std::vector<clients::ClientRef>& registered, const plat::IpAddress& ip);
  // A failed password check from `ip`: counted, and the address banned when it has failed too
  // often. True when the refusal may be answered; false when the address is banned.
  bool RecordAuthFailure(const plat::IpAddress& ip);
  // Tells of a ban the failed passwords set and closes its connections without a client.
  void AnnounceAutomaticBan(const security::AddressGroup& group);
  // Whether the datagram is to be ignored: its Id is not recorded at its exact source and its
  // address is quarantined for probing, or becomes so with it. `client`: the Id's player, null
  // when the datagram may not claim any.
  bool ProbeIgnored(const clients::TServerClient* client, uint16_t id, const plat::Endpoint& from,
                    uint64_t now_ms);
  // A voice datagram that failed a check: counted for its sender and for the server.
  void CountFaulty(clients::TServerClient& client);
  void StartListenersAndThreads();
  // Starts the metrics endpoint when `listen` asks for it, in place of the one running; returns
  // what the start line says of it ("off" when it cannot: a warning, not a failed start).
  std::string StartMetrics(const std::string& listen);
  // Writes a log line when the listeners on every address could take IPv4 only.
  void NoteIpv4Only();
  metrics::Sources MetricsSources();
  void StopMetrics();
  void RunShutdownSteps();
  // The stop without log lines, for a server whose start failed or that is destroyed.
  void StopEverything();
  // The steps both stops share; `line` writes (or drops) the shutdown's log lines.
  void TerminateWorkers(const std::function<void(const char*)>& line);
  void StopListeners(const std::function<void(const char*)>& line);
  void JoinWorkersAndDropClients();
  // The frame under the client's frame limit, then to its command handler. Each returns true
  // when the connection is to close after the frame.
  bool HandleFrame(plat::TcpConnection& connection, std::span<const uint8_t> frame,
                   const clients::ClientRef& client);
  bool DispatchFrame(plat::TcpConnection& connection, std::span<const uint8_t> frame,
                     const clients::ClientRef& client);
  // Counts and reports a frame over the limit; a client that keeps exceeding it is to go.
  security::FrameVerdict AdmitFrame(clients::TServerClient* client, int16_t code);
  // The two password commands, which differ only in the password they change.
  void ChangePasswordCommand(std::span<const uint8_t> frame, clients::TServerClient& client,
                             PasswordKind which);

  StartupEnvironment environment_;
  const plat::Clock& clock_;
  LiveSettings settings_;
  PasswordStore passwords_;
  EventLog log_;
  EventHook events_;
  EventOutput event_output_;
  TrafficCounters counters_;
  security::Guard guard_;
  voice::RelayStats relay_stats_;
  const uint32_t start_tick_;
  std::string fatal_message_;
  std::string fatal_reason_;

  std::unique_ptr<std::mutex> server_lock_;
  clients::ClientList clients_;
  clients::RoomList rooms_{clients_};
  voice::VoiceQueue voice_queue_;
  ConfigurationFile config_file_{settings_};
  AdminOperations admin_{clients_, rooms_, passwords_, config_file_, event_output_};

  std::unique_ptr<plat::UdpListener> udp_listener_;
  std::unique_ptr<plat::TcpListener> tcp_listener_;
  std::unique_ptr<plat::AutoResetEvent> relay_event_;
  std::unique_ptr<voice::TPingThread> ping_thread_;
  std::unique_ptr<webpost::TWebPoster> web_poster_;
  std::unique_ptr<voice::TUDPSender> relay_thread_;
  std::unique_ptr<metrics::MetricsEndpoint> metrics_;  // guarded by metrics_mutex_
  mutable std::mutex metrics_mutex_;
  std::vector<std::function<void()>> shutdown_steps_;
  // One reload at a time.
  std::mutex reload_mutex_;
  std::vector<ReloadStep> reload_steps_;  // guarded by reload_mutex_
  metrics::ReloadCounters reload_counters_;
  bool stopped_ = false;
};

}  // namespace core
