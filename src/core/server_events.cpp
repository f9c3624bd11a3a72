#include "core/server_events.h"

#include "core/vars.h"

namespace core {
namespace {

EventLine& AddActor(EventLine& line, const Actor& who) {
  return line.Number("player", who.player).Text("name", who.name).Word("addr", who.addr);
}

std::string BindText(const std::string& ip, int32_t port) {
  // An IPv6 address goes in brackets, so that its last group is not taken for the port.
  if (ip.find(':') != std::string::npos) return "[" + ip + "]:" + std::to_string(port);
  return (ip.empty() ? std::string("0.0.0.0") : ip) + ":" + std::to_string(port);
}

}  // namespace

EventLine DefaultAdminPasswordLine() {
  EventLine line(EventLevel::kWarning, "default-admin-password");
  line.Word("section", "Passwords").Word("key", "AdminPassword");
  line.Text("reason", "the well-known default; set it before opening the ports to the world");
  return line;
}

EventLine StartLine(const Settings& settings, const std::string& metrics) {
  EventLine line(EventLevel::kInfo, "start");
  line.Text("version", settings.ServerVersion);
  line.Word("tcp", BindText(settings.IP, settings.TCPPort));
  line.Word("udp", BindText(settings.IP, settings.UdpPort));
  line.Text("config", settings.ConfigurationPath()).Text("log", settings.LogFileName);
  line.Word("metrics", metrics);
  return line;
}

EventLine MetricsFailedLine(const std::string& listen, const std::string& error) {
  EventLine line(EventLevel::kWarning, "metrics-failed");
  line.Text("listen", listen).Text("error", error);
  return line;
}

EventLine EventFileFailedLine(const std::string& file, const std::string& error) {
  EventLine line(EventLevel::kWarning, "event-file-failed");
  line.Text("file", file).Text("error", error);
  return line;
}

EventLine StopLine() {
  return EventLine(EventLevel::kInfo, "stop");
}

EventLine JoinLine(const Actor& who, int room) {
  EventLine line(EventLevel::kInfo, "join");
  AddActor(line, who).Number("room", room);
  return line;
}

EventLine MoveLine(const Actor& who, int from_room, int to_room) {
  EventLine line(EventLevel::kInfo, "move");
  AddActor(line, who).Number("from", from_room).Number("room", to_room);
  return line;
}

EventLine LeaveLine(const Actor& who, const char* reason) {
  EventLine line(EventLevel::kInfo, "leave");
  AddActor(line, who).Word("reason", reason);
  return line;
}

EventLine LoginFailedLine(const std::string& name, const std::string& addr, const char* reason) {
  EventLine line(EventLevel::kWarning, "login-failed");
  line.Word("addr", addr).Text("name", name).Word("reason", reason);
  return line;
}

EventLine AdminLoginLine(const Actor& who) {
  EventLine line(EventLevel::kInfo, "admin-login");
  AddActor(line, who);
  return line;
}

EventLine AdminLoginFailedLine(const Actor& who, uint32_t failures_on_connection) {
  EventLine line(EventLevel::kWarning, "admin-login-failed");
  line.Word("addr", who.addr).Number("player", who.player).Text("name", who.name);
  line.Number("failures", failures_on_connection);
  return line;
}

EventLine AdminActionLine(const Actor& who, const char* action, const char* result) {
  EventLine line(EventLevel::kInfo, "admin");
  line.Word("action", action).Word("result", result);
  if (who.role) {
    line.Word("by", who.role);
  } else {
    line.Number("by", who.player).Text("by_name", who.name).Word("addr", who.addr);
  }
  return line;
}

EventLine BanLine(const std::string& addr, uint32_t seconds, const plat::LocalDateTime& until) {
  EventLine line(EventLevel::kWarning, "ban");
  line.Word("addr", addr).Number("seconds", seconds).Word("until", Iso8601(until));
  line.Word("reason", "failed-passwords");
  return line;
}

}  // namespace core
