#include "core/servermain.h"

#include <cstdio>

#include "core/config_check.h"
#include "core/configuration.h"
#include "core/server_events.h"
#include "metrics/metrics_endpoint.h"
#include "platform/ascii_case.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "voice/pingthread.h"
#include "voice/udpsender.h"
#include "webpost/webpostthread.h"

namespace core {
namespace {

constexpr char kFatalLocks[] = "FATAL ERROR: Unable to create CriticalSections";
constexpr char kFatalPriority[] = "FATAL ERROR: Cant set PriorityClass";
constexpr char kFatalConfig[] = "FATAL ERROR: Unable to create config file";
constexpr char kFatalBind[] = "FATAL ERROR: Unable to bind IP and Port";
constexpr char kFatalEvent[] = "FATAL ERROR: Cant create SystemEvent";
constexpr char kFatalCommunication[] = "FATAL ERROR: Unable to initialize communication";

bool ValidPortPair(int32_t tcp_port) {
  return tcp_port >= 1 && tcp_port <= 65534;
}

std::string PortPairError(int32_t tcp_port) {
  return "[Networking] TCPPort " + std::to_string(tcp_port) +
         " does not leave a port pair (TCP 1 to 65534, UDP the next)";
}

}  // namespace

StartupEnvironment CurrentProcessEnvironment(int argc, char** argv) {
  StartupEnvironment environment;
  environment.arguments = plat::CommandLineArguments(argc, argv);
  environment.program_file = plat::ProgramFilePath();
  environment.stdin_is_terminal = plat::StdinIsTerminal();
  return environment;
}

TParlowindServer::TParlowindServer(StartupEnvironment environment, const plat::Clock& clock)
    : environment_(std::move(environment)), clock_(clock), start_tick_(clock.Now()) {
  event_output_.SetClock(clock_);
}

TParlowindServer::~TParlowindServer() {
  StopEverything();
}

bool TParlowindServer::Fail(const char* message, std::string reason) {
  fatal_message_ = message;
  fatal_reason_ = std::move(reason);
  return false;
}

void TParlowindServer::WriteWorkerLine(const char* text) noexcept {
  try {
    log_.WriteLogLine(text);
  } catch (...) {
    // A worker's start or end line is not worth a failure.
  }
}

bool TParlowindServer::Server_Init() {
  // The settings as start-up reads them; published before any listener or worker runs.
  Settings settings;
  // 1. The command line. (Client Ids come from the system's random source, which needs no
  // seed: a seed from the time of day would let one login foretell every other Id.)
  ReadCommandLine(environment_.arguments, settings);
  log_.SetFileName(settings.LogFileName);
  // 2. The process-wide locks.
  try {
    server_lock_ = std::make_unique<std::mutex>();
    log_.CreateLock();
  } catch (const std::exception& error) {
    return Fail(kFatalLocks, error.what());
  }
  // 3. The program directory.
  settings.ProgramDir = plat::DirectoryOf(environment_.program_file);
  if (settings.ProgramDir.empty()) settings.ProgramDir = "./";
  // 4. Priority: best effort, only a genuine error of the call is fatal.
  if (plat::RaiseProcessPriority() == plat::PriorityResult::kFailed)
    return Fail(kFatalPriority, "the process priority could not be raised to the high class");
  // 5, 6. The lists and the defaults exist with the object. 7. The configuration file.
  FileSettings read;
  try {
    read = ReadConfiguration(settings, passwords_, rooms_);
  } catch (const std::exception& error) {
    return Fail(kFatalConfig, settings.ConfigurationPath() + ": " + error.what());
  }
  ApplyGuardLimits(settings);
  guard_.pending().SetSpokeTest([](const security::PendingConnections::Connection& connection) {
    return std::static_pointer_cast<plat::TcpConnection>(connection)->ReceivedAny();
  });
  if (plat::Status opened = ApplyEventOutput(settings); !opened.ok()) {
    // The lines still reach standard output; the file is not worth a failed start.
    event_output_.Emit(EventFileFailedLine(settings.EventFile, opened.message()));
    std::fprintf(stderr, "plserver: warning: no event file: %s\n", opened.message().c_str());
  }
  for (const SettingWarning& warning : read.warnings)
    event_output_.Emit(SettingWarningLine(warning));
  // Everybody knows the default: a server open to the world should not keep it.
  if (passwords_.AdminPassword() == kDefaultAdminPassword) {
    event_output_.Emit(DefaultAdminPasswordLine());
    // The text names the setting, never the password itself.
    std::fputs(
        "plserver: warning: the administrator password is still the default; "
        "set [Passwords] AdminPassword before opening the ports to the world\n",
        stderr);
  }
  // 8. The platform, and whether this is the interactive desktop program under its own name.
  // " Win32" on every platform: clients, the web lists and the configuration file's version
  // check know the server's version text only in this form.
  settings.ServerVersion += " Win32";
  std::string base_name = plat::BaseNameOf(environment_.program_file);
  // With a window system the desktop program is recognised by its application window, whose
  // title is still the program file's base name at this point; without one, by its own name on
  // a terminal.
  const std::optional<bool> desktop_window =
      plat::TopLevelWindowExists(kApplicationWindowClass, kDesktopProgramName);
  const bool desktop = desktop_window.has_value()
                           ? *desktop_window
                           : environment_.stdin_is_terminal &&
                                 plat::EqualsIgnoringAsciiCase(base_name, kDesktopProgramName);
  if (!desktop) {
    settings.ServerVersion += " Service";
  }
  settings_.Publish(settings);
  config_file_.MarkLoaded(config_file_.ReadBytes().bytes);
  // 9 to 11. The listeners and their handlers.
  udp_listener_ = std::make_unique<plat::UdpListener>();
  tcp_listener_ = std::make_unique<plat::TcpListener>();
  const bool ports_valid = ValidPortPair(settings.TCPPort);
  tcp_listener_->SetDefaultPort(static_cast<uint16_t>(ports_valid ? settings.TCPPort : 0));
  tcp_listener_->SetHandler([this](plat::TcpConnection& connection) { TcpExecute(connection); });
  tcp_listener_->SetAcceptFilter(
      [this](plat::TcpConnection& connection) { return AdmitConnection(connection); });
  udp_listener_->SetDefaultPort(static_cast<uint16_t>(ports_valid ? settings.UdpPort : 0));
  udp_listener_->SetHandler(
      [this](uint8_t* data, size_t size, const plat::Endpoint& from,
             const plat::IpAddress& local_ip) { Server_UDPRead(data, size, from, local_ip); });
  udp_listener_->SetDscp(settings.VoiceDscp);
  // 12. Bindings to one address.
  if (!settings.IP.empty()) {
    std::optional<plat::IpAddress> address = plat::ParseIpAddress(settings.IP);
    if (!address)
      return Fail(kFatalBind, "[Networking] IP \"" + settings.IP + "\" is no IPv4 or IPv6 address");
    if (!ports_valid) return Fail(kFatalBind, PortPairError(settings.TCPPort));
    tcp_listener_->ClearBindings();
    tcp_listener_->AddBinding({*address, static_cast<uint16_t>(settings.TCPPort)});
    udp_listener_->ClearBindings();
    udp_listener_->AddBinding({*address, static_cast<uint16_t>(settings.UdpPort)});
  }
  // 13, 14. The ping thread and, when announcing, the web status poster.
  ping_thread_ = std::make_unique<voice::TPingThread>(PingerParts());
  if (settings.WebStatusActive) web_poster_ = std::make_unique<webpost::TWebPoster>(PosterParts());
  // 15. RelayEvent.
  try {
    relay_event_ = std::make_unique<plat::AutoResetEvent>();
  } catch (const std::exception& error) {
    return Fail(kFatalEvent, error.what());
  }
  // 16, 17. The relay thread, then the poster.
  // A thread the system cannot give ends start-up like any other failure to set up the
  // communication.
  relay_thread_ = std::make_unique<voice::TUDPSender>(RelayParts());
  if (plat::Status status = relay_thread_->Start(); !status.ok())
    return Fail(kFatalCommunication, status.message());
  relay_thread_->WaitStarted();
  if (web_poster_) {
    if (plat::Status status = web_poster_->Start(); !status.ok())
      return Fail(kFatalCommunication, status.message());
    web_poster_->WaitStarted();
  }
  // 18. The listeners, then the ping thread.
  if (!ports_valid) return Fail(kFatalCommunication, PortPairError(settings.TCPPort));
  if (plat::Status status = udp_listener_->Activate(); !status.ok())
    return Fail(kFatalCommunication, status.message());
  if (plat::Status status = tcp_listener_->Activate(); !status.ok())
    return Fail(kFatalCommunication, status.message());
  NoteIpv4Only();
  if (plat::Status status = ping_thread_->Start(); !status.ok())
    return Fail(kFatalCommunication, status.message());
  const std::string metrics = StartMetrics(settings.MetricsListen);
  if (metrics == "off" && !settings.MetricsListen.empty()) {
    // Not in force: the next reload tries the address again.
    settings.MetricsListen.clear();
    settings_.Publish(settings);
  }
  // 19. The start line; without it the start does not count as successful.
  event_output_.Emit(StartLine(settings, metrics));
  if (plat::Status status = log_.WriteLogLine("Parlowind server started"); !status.ok())
    return Fail("FATAL ERROR: Unable to write the log file", status.message());
  return true;
}

void TParlowindServer::NoteIpv4Only() {
  std::string reason = tcp_listener_->Ipv4OnlyReason();
  if (reason.empty()) reason = udp_listener_->Ipv4OnlyReason();
  if (reason.empty()) return;
  // A host without IPv6 is served on IPv4; the operator learns why IPv6 players cannot come.
  log_.WriteLogLine("Listening on IPv4 only, no IPv6: " + reason);
}

std::string TParlowindServer::StartMetrics(const std::string& listen) {
  if (listen.empty()) return "off";
  const std::optional<plat::Endpoint> address = plat::ParseEndpoint(listen);
  if (!address) return "off";  // refused with a warning when the file was read
  auto endpoint = std::make_unique<metrics::MetricsEndpoint>(MetricsSources());
  if (plat::Status status = endpoint->Start(*address); !status.ok()) {
    event_output_.Emit(MetricsFailedLine(listen, status.message()));
    std::fprintf(stderr, "plserver: warning: no metrics endpoint: %s\n", status.message().c_str());
    return "off";
  }
  const std::string bound = plat::Endpoint{address->ip, endpoint->BoundPort()}.ToString();
  std::lock_guard<std::mutex> lock(metrics_mutex_);
  metrics_ = std::move(endpoint);
  return bound;
}

metrics::Sources TParlowindServer::MetricsSources() {
  return metrics::Sources{
      clients_,         rooms_,       counters_,        guard_,
      voice_queue_,     relay_stats_, reload_counters_, settings_.Get()->ServerVersion,
      PL_BUILD_VERSION, start_tick_,  clock_};
}

uint16_t TParlowindServer::MetricsPort() const {
  std::lock_guard<std::mutex> lock(metrics_mutex_);
  return metrics_ ? metrics_->BoundPort() : 0;
}

void TParlowindServer::ApplyGuardLimits(const Settings& settings) {
  security::Limits limits;
  limits.max_pending_per_address = static_cast<uint32_t>(settings.MaxPendingPerAddress);
  limits.max_pending_connections = static_cast<uint32_t>(settings.MaxPendingConnections);
  limits.max_clients_per_address = static_cast<uint32_t>(settings.MaxClientsPerAddress);
  limits.max_frames_per_second = static_cast<uint32_t>(settings.MaxFramesPerSecond);
  limits.max_voice_packets_per_second = static_cast<uint32_t>(settings.MaxVoicePacketsPerSecond);
  limits.max_voice_bytes_per_second = static_cast<uint32_t>(settings.MaxVoiceBytesPerSecond);
  limits.max_logins_per_address = static_cast<uint32_t>(settings.MaxLoginsPerAddress);
  limits.max_broadcast_frames_per_address =
      static_cast<uint32_t>(settings.MaxBroadcastFramesPerAddress);
  limits.auth.failures_before_ban = static_cast<uint32_t>(settings.AuthFailuresBeforeBan);
  limits.auth.ban_ms = static_cast<uint32_t>(settings.AuthBanSeconds) * 1000;
  guard_.Configure(limits);
}

plat::Status TParlowindServer::ApplyEventOutput(const Settings& settings) {
  event_output_.Configure(settings.LogEvents, settings.LogFormatJson);
  return event_output_.OpenFile(settings.EventFile);
}

bool TParlowindServer::AdmitConnection(plat::TcpConnection& connection) {
  const plat::IpAddress ip = connection.Peer().ip;
  if (guard_.bans().IsBanned(ip, clock_.MonotonicMs())) {
    security::Count(guard_.counters().BannedConnections);
    return false;
  }
  // Each connection costs a thread: those without a client are limited in number and in time,
  // while logged-in clients are never affected. At a limit the oldest makes room, so idle
  // connections cannot keep a newcomer out.
  for (const auto& oldest : guard_.pending().Admit(ip, connection.shared_from_this())) {
    security::Count(guard_.counters().PendingEvicted);
    std::static_pointer_cast<plat::TcpConnection>(oldest)->RequestClose();
  }
  connection.SetInputDeadline(static_cast<uint32_t>(settings_.Get()->LoginTimeoutMs), clock_);
  return true;
}

voice::PingerParts TParlowindServer::PingerParts() {
  auto ping = [this] {
    const std::shared_ptr<const Settings> settings = settings_.Get();
    return voice::PingSettings{settings->IdleTimeBeforePing, settings->PingWaitTime,
                               settings->MaxPingTries};
  };
  return voice::PingerParts{clients_,
                            *udp_listener_,
                            counters_,
                            ping,
                            clock_,
                            [this](const char* text) { WriteWorkerLine(text); },
                            [this](const clients::TServerClient& client) {
                              events_.Report("TCP/IP", "Initiated Ping Disconnect",
                                             EventHook::kNoCode, &client);
                            }};
}

voice::RelayParts TParlowindServer::RelayParts() {
  return voice::RelayParts{clients_,
                           voice_queue_,
                           *relay_event_,
                           *udp_listener_,
                           counters_,
                           relay_stats_,
                           [this](const char* text) { WriteWorkerLine(text); }};
}

webpost::PosterParts TParlowindServer::PosterParts() {
  auto post = [this] {
    const std::shared_ptr<const Settings> settings = settings_.Get();
    webpost::PostSettings now;
    now.active = settings->WebStatusActive;
    now.tcp_port = settings->TCPPort;
    now.servername = settings->Servername;
    now.max_clients = settings->MaxClients;
    now.server_version = settings->ServerVersion;
    now.site_active = settings->ParlowindSite_Active;
    now.display_in_web_list = settings->ParlowindSite_DisplayInWebList;
    now.web_post_url = settings->WebPostURL;
    // The poster speaks IPv4 only (its list servers do): an IPv6 IP leaves it the system's
    // choice of IPv4 address.
    const std::optional<plat::IpAddress> ip = plat::ParseIpAddress(settings->IP);
    now.local_ip = ip && ip->IsIpv4() ? settings->IP : "";
    return now;
  };
  return webpost::PosterParts{post, [this] { return clients_.Count(); },
                              [this] { return passwords_.HasServerPassword(); }, clock_,
                              [this](const char* text) { WriteWorkerLine(text); }};
}

Actor TParlowindServer::ActorOf(const clients::TServerClient& client) {
  Actor who;
  who.player = client.PlayerNo + 1;
  who.name = client.Name;
  if (client.Connection()) who.addr = client.Connection()->Peer().IpText();
  return who;
}

bool TParlowindServer::RecordAuthFailure(const plat::IpAddress& ip) {
  security::Count(guard_.counters().AuthFailures);
  const security::AuthOutcome outcome = guard_.auth().RecordFailure(ip, clock_.MonotonicMs());
  if (outcome.banned) AnnounceAutomaticBan(*outcome.banned);
  return outcome.verdict != security::AuthVerdict::kBannedNoAnswer;
}

void TParlowindServer::AnnounceAutomaticBan(const security::AddressGroup& group) {
  const plat::IpPrefix banned = group.Prefix();
  const std::string text = banned.Text();
  security::Count(guard_.counters().AddressesBanned);
  const auto ban_seconds = static_cast<uint32_t>(settings_.Get()->AuthBanSeconds);
  event_output_.Emit(BanLine(text, ban_seconds, plat::LocalAfter(ban_seconds)));
  events_.Report("ALERT", "Address banned after failed passwords: " + text, EventHook::kNoCode);
  // Its connections without a client go now; its new ones are closed at accept. Players already
  // logged in from it stay, voice and all: they may be others behind the same address.
  for (const auto& pending : guard_.pending().TakeMatching(
           [&banned](const plat::IpAddress& candidate) { return banned.Contains(candidate); }))
    std::static_pointer_cast<plat::TcpConnection>(pending)->RequestClose();
}

void TParlowindServer::RunShutdownSteps() {
  std::vector<std::function<void()>> steps = std::move(shutdown_steps_);
  shutdown_steps_.clear();
  for (auto& step : steps) step();
}

void TParlowindServer::Server_DeInit() {
  if (stopped_) return;
  RunShutdownSteps();
  // A log file that has become unwritable must not keep the shutdown from completing.
  auto line = [this](const char* text) { log_.WriteLogLine(text); };
  line("Server_DeInit -- enter");
  // Nothing reads the registries for a scrape once the shutdown is under way.
  StopMetrics();
  TerminateWorkers(line);
  plat::SleepMs(1000);
  // The pause is one second; the line's text stays as it always was, because log readers and
  // their filters look for it word for word.
  line("Server_DeInit -- Slept 2 secs");
  StopListeners(line);
  JoinWorkersAndDropClients();
  line("Parlowind server shutdown");
  event_output_.FlushSummaries();
  event_output_.Emit(StopLine());
  server_lock_.reset();
  log_.DestroyLock();
  stopped_ = true;
}

void TParlowindServer::StopEverything() {
  if (stopped_) return;
  StopMetrics();
  RunShutdownSteps();
  auto silent = [](const char*) {};
  TerminateWorkers(silent);
  StopListeners(silent);
  JoinWorkersAndDropClients();
  stopped_ = true;
}

void TParlowindServer::StopMetrics() {
  std::lock_guard<std::mutex> lock(metrics_mutex_);
  if (metrics_) metrics_->Stop();
}

void TParlowindServer::TerminateWorkers(const std::function<void(const char*)>& line) {
  // Each stop request's line is written before the thread is told: a woken thread writes its
  // end line at once, and the log must show the request first.
  if (ping_thread_) {
    line("Server_DeInit -- pingpong term sent");
    ping_thread_->Terminate();
  }
  if (web_poster_) {
    line("Server_DeInit -- Web term sent");
    web_poster_->Terminate();
  }
  if (relay_thread_) {
    line("Server_DeInit -- UDPThread term + event sent");
    relay_thread_->Terminate();
  }
  if (relay_event_) relay_event_->Set();
}

void TParlowindServer::StopListeners(const std::function<void(const char*)>& line) {
  if (tcp_listener_) tcp_listener_->Deactivate(5000);
  line("Server_DeInit -- Stopped TCP");
  if (udp_listener_) udp_listener_->Deactivate();
  line("Server_DeInit -- Stopped UDP");
}

void TParlowindServer::JoinWorkersAndDropClients() {
  // Every worker has ended before the clients and the locks go, so none touches them after.
  if (ping_thread_) ping_thread_->Join();
  if (web_poster_) web_poster_->Join();
  if (relay_thread_) relay_thread_->Join();
  for (const clients::ClientRef& client : clients_.TakeAll()) client->Destroy();
}

}  // namespace core
