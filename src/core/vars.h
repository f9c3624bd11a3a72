// The server's settings: read from the command line and the configuration file at start-up and
// from the file again at each reload. The server holds them as LiveSettings, one value that a
// reload replaces whole; the two passwords, which the administration commands also replace at
// run time, live in PasswordStore.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clients/traffic_counters.h"

namespace core {

inline constexpr char kServerVersion[] = "v1.2.0";
inline constexpr char kDefaultIniFileName[] = "plserver.ini";
inline constexpr char kDefaultLogFileName[] = "plserver.log";
inline constexpr char kDefaultAdminPassword[] = "rivet";
inline constexpr char kDefaultServername[] = "Parlowind Server";

struct Settings {
  // [General]
  std::string Servername = kDefaultServername;
  int32_t MaxClients = 16;
  // [Networking]
  int32_t TCPPort = 8765;
  std::string IP;
  // [Ping]
  int32_t MaxPingTries = 3;
  int32_t PingWaitTime = 15000;
  int32_t IdleTimeBeforePing = 5000;
  // [WebStatus]
  bool WebStatusActive = false;
  bool ParlowindSite_Active = false;
  bool ParlowindSite_DisplayInWebList = false;
  std::string WebPostURL;
  // [Security]: limits of our own, left alone by the version rewrite.
  bool UdpFromAnyAddress = false;
  int32_t LoginTimeoutMs = 10000;
  int32_t MaxPendingConnections = 128;
  int32_t MaxPendingPerAddress = 8;    // 0: no limit
  int32_t MaxClientsPerAddress = 0;    // 0: no limit
  int32_t AuthFailuresBeforeBan = 10;  // 0: no ban
  int32_t AuthBanSeconds = 300;
  int32_t MaxFramesPerSecond = 50;         // 0: no limit
  int32_t MaxVoicePacketsPerSecond = 100;  // 0: no limit
  int32_t MaxVoiceBytesPerSecond = 65536;  // 0: no limit
  int32_t MaxLoginsPerAddress = 10;            // within 120 s, beyond its players; 0: no limit
  int32_t MaxBroadcastFramesPerAddress = 20;   // a second; 0: no limit
  // [Logging]: event lines on standard output and, when File names one, in a file as well.
  bool LogEvents = true;
  bool LogFormatJson = false;  // Format=json; text otherwise
  std::string EventFile;       // relative to the current directory; empty: none
  // [Metrics]: the address ("a.b.c.d:port") of the metrics endpoint; empty: none.
  std::string MetricsListen;
  // [Operator]: the local operator socket ("" turns it off) and how many may use it at once.
  std::string OperatorSocket = "plserver.sock";
  int32_t OperatorMaxConnections = 8;
  uint32_t OperatorSocketMode = 0600;  // 0660 lets the file's group in (the service's admins)
  // [Web]: the community's web view ("a.b.c.d:port"; empty: none), whether it names the
  // players (or shows counts only), and its event streams at once, in all and per address.
  std::string WebListen;
  bool WebShowPlayers = true;
  int32_t WebMaxStreams = 64;
  int32_t WebMaxStreamsPerAddress = 4;
  // [Voice]: the DSCP of the voice socket's datagrams (46: expedited forwarding; 0: unmarked).
  int32_t VoiceDscp = 46;
  // Not keys of the file.
  int32_t UdpPort = 8766;
  std::string ServerVersion = kServerVersion;
  std::string IniFileName = kDefaultIniFileName;
  std::string LogFileName = kDefaultLogFileName;
  std::string PidValue;
  std::string ProgramDir;  // ends in '/'

  // IniFileName as given when it is absolute, otherwise in the program directory.
  std::string ConfigurationPath() const;
  // Players who may be logged in at once: MaxClients, at most 255 (the frames carry player
  // numbers in a byte), none when it is negative.
  size_t PlayerCapacity() const {
    return static_cast<size_t>(std::min(255, std::max(0, MaxClients)));
  }
};

// The settings in force, replaced whole by a reload. A reader takes the current value and keeps
// it for as long as it works with it: it sees the settings of one reading of the file, never a
// mixture. Thread-safe.
class LiveSettings {
 public:
  std::shared_ptr<const Settings> Get() const;
  void Publish(Settings settings);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const Settings> current_ = std::make_shared<const Settings>();
};

// The server and administrator passwords, each replaced as one value: a reader sees the whole
// old or the whole new text. Thread-safe.
class PasswordStore {
 public:
  std::string ServerPassword() const;
  std::string AdminPassword() const;
  bool HasServerPassword() const;
  void SetServerPassword(std::string value);
  void SetAdminPassword(std::string value);

 private:
  mutable std::mutex mutex_;
  std::string server_password_;
  std::string admin_password_ = kDefaultAdminPassword;
};

// The server's traffic counters are the client registry's kind.
using clients::Add;
using clients::TrafficCounters;

// Settings of the command line: each argument starting with one of the prefixes (letter case
// ignored) sets its setting to the rest of the argument; a later one overrides an earlier one.
void ReadCommandLine(const std::vector<std::string>& arguments, Settings& settings);

}  // namespace core
