// A thread that the system cannot give at start-up ends the start like any other failure to set
// up the communication: the fixed fatal message, and a reason that names the thread.
#include <gtest/gtest.h>

#include <string>

#include "core/servermain.h"
#include "platform/thread_start.h"
#include "support/blackbox.h"

namespace {

class ThreadStartFailure : public ::testing::TestWithParam<const char*> {};

TEST_P(ThreadStartFailure, IsTheCommunicationFailureAndNamesTheThread) {
  const std::string role = GetParam();
  pltest::TempDir directory;
  std::string reason;
  // Another program may take the picked ports first; that failure names a bind, and then the
  // start is tried again on other ports.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int port = pltest::PickFreePortPair();
    pltest::WriteFile(directory.File("plserver.ini"),
                      "[Version]\r\nServerVersion=v1.2.0\r\n[Networking]\r\nTCPPort=" +
                          std::to_string(port) + "\r\n[WebStatus]\r\nActive=1\r\n");
    core::StartupEnvironment environment;
    environment.program_file = directory.File("plserver");
    environment.arguments = {"-LOG=" + directory.File("plserver.log")};
    core::TParlowindServer server(environment);
    plat::FailNextThreadStart(role);
    ASSERT_FALSE(server.Server_Init());
    EXPECT_EQ(server.FatalMessage(), "FATAL ERROR: Unable to initialize communication");
    reason = server.FatalReason();
    if (reason.find("bind(") == std::string::npos) break;
  }
  EXPECT_EQ(reason.rfind("thread(" + role + "): ", 0), 0u) << reason;
}

INSTANTIATE_TEST_SUITE_P(EachThread, ThreadStartFailure,
                         ::testing::Values("relay", "web poster", "UDP listener", "TCP accept",
                                           "ping"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::erase(name, ' ');
                           return name;
                         });

}  // namespace
