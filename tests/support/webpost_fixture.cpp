#include "support/webpost_fixture.h"

#include <stdlib.h>

#include <chrono>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace pltest {
namespace {

std::string IniText(const WebPostConfig& config, uint16_t port) {
  std::ostringstream ini;
  ini << "[Version]\r\nServerVersion=v1.2.0\r\n"
      << "[Passwords]\r\nServerPassword=" << config.server_password << "\r\n"
      << "[General]\r\nServername=" << config.servername << "\r\nMaxClients=" << config.max_clients
      << "\r\n"
      << "[Networking]\r\nTCPPort=" << port << "\r\nIP=" << config.ip << "\r\n"
      << "[WebStatus]\r\nActive=" << (config.active ? 1 : 0)
      << "\r\nParlowindSite_Active=" << (config.site_active ? 1 : 0)
      << "\r\nParlowindSite_DisplayInWebList=" << (config.display_in_web_list ? 1 : 0)
      << "\r\nWebPostURL=" << config.web_post_url << "\r\n";
  return ini.str();
}

}  // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const std::string& value)
    : name_(name) {
  if (const char* previous = getenv(name)) previous_ = previous;
  setenv(name, value.c_str(), 1);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

WebPostFixture::WebPostFixture() = default;

// The server stops before the clients' connections close and the directory goes: the members
// end in that order.
WebPostFixture::~WebPostFixture() = default;

core::TParlowindServer* WebPostFixture::Start(const WebPostConfig& config) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    tcp_port_ = static_cast<uint16_t>(PickFreePortPair());
    WriteFile(directory_.File("plserver.ini"), IniText(config, tcp_port_));
    core::StartupEnvironment environment;
    environment.program_file = directory_.File("plserver");
    environment.arguments = {"-LOG=" + directory_.File("plserver.log")};
    server_ = std::make_unique<core::TParlowindServer>(std::move(environment));
    if (server_->Server_Init()) return server_.get();
    std::string message = server_->FatalMessage();
    server_.reset();
    if (message != "FATAL ERROR: Unable to initialize communication") {
      ADD_FAILURE() << "server start failed: " << message;
      return nullptr;
    }
  }
  ADD_FAILURE() << "no free port pair for the server";
  return nullptr;
}

webpost::PosterParts WebPostFixture::PosterParts() {
  webpost::PosterParts parts = server_->PosterParts();
  parts.settings = [settings = parts.settings] {
    webpost::PostSettings active = settings();
    active.active = true;
    return active;
  };
  return parts;
}

std::vector<std::string> WebPostFixture::LogLines() const {
  std::vector<std::string> texts;
  for (const std::string& line : ReadLogLines(directory_.File("plserver.log"))) {
    texts.push_back(LogText(line));
  }
  return texts;
}

bool WebPostFixture::LoginClient(const std::string& name) {
  if (!server_) return false;
  const size_t before = server_->clients().Count();
  auto client = plclient::ProtocolClient::Connect("127.0.0.1", tcp_port_);
  if (!client || !client->SendLogin(name, "", "1.3.0")) return false;
  clients_.push_back(std::move(client));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < until) {
    if (server_->clients().Count() > before) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace pltest
