// The real binary warns once on standard error when the administrator password is still the
// well-known default, and not at all otherwise.
#include <signal.h>

#include "blackbox/server_fixture.h"
#include "core/vars.h"

namespace pltest {
namespace {

using DefaultPasswordTest = ServerFixture;

constexpr char kWarning[] = "the administrator password is still the default";

size_t Occurrences(const std::string& text, const std::string& wanted) {
  size_t count = 0;
  for (size_t at = text.find(wanted); at != std::string::npos; at = text.find(wanted, at + 1))
    ++count;
  return count;
}

TEST_F(DefaultPasswordTest, TheDefaultIsNamedOnceOnStandardErrorAndAnOwnPasswordIsNot) {
  for (const bool own_password : {false, true}) {
    SCOPED_TRACE(own_password ? "own password" : "default password");
    auto server = StartOnFreePorts([&](int port) {
      pltest::WriteFile(
          IniPath(),
          CurrentIni(port, own_password ? "[Passwords]\r\nAdminPassword=Xq7-long\r\n" : ""));
    });
    ASSERT_TRUE(server);
    server->Signal(SIGTERM);
    ASSERT_TRUE(server->WaitForExit(15s).has_value());
    EXPECT_EQ(Occurrences(server->Output(), kWarning), own_password ? 0u : 1u) << server->Output();
    // Not even the well-known default is printed.
    EXPECT_EQ(server->Output().find(core::kDefaultAdminPassword), std::string::npos);
    // The log holds its lifecycle lines only.
    for (const std::string& text : LogTexts()) EXPECT_EQ(text.find(kWarning), std::string::npos);
  }
}

}  // namespace
}  // namespace pltest
