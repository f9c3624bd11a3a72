// The installation as operators get it: the Debian package's contents and control data, and
// the installed layout actually running (the unit's program path and its -INI= path reaching
// the state directory, the log beside it), driven by plctl.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::random_device random;
    path_ = fs::temp_directory_path() /
            ("plpkg-" + std::to_string(random()) + std::to_string(getpid()));
    fs::create_directories(path_);
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string Which(const std::string& program) {
  for (const char* dir : {"/usr/bin", "/bin", "/usr/local/bin"}) {
    fs::path candidate = fs::path(dir) / program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

// The value of `key=` in the unit's text.
std::string UnitValue(const std::string& unit, const std::string& key) {
  std::smatch match;
  if (!std::regex_search(unit, match, std::regex("(^|\\n)" + key + "=([^\\n]*)"))) return {};
  return match[2];
}

TEST(PackagingTest, DebianPackageCarriesServerToolUnitAndConfiguration) {
  const std::string dpkg_deb = Which("dpkg-deb");
  if (dpkg_deb.empty()) GTEST_SKIP() << "dpkg-deb is not installed";
  TemporaryDirectory output;
  pltest::ToolOptions options;
  // Building and compressing the package takes a minute or more on a busy machine; the limit
  // only stops a hung cpack, within the test's own time limit.
  options.timeout_ms = 240000;
  options.working_directory = PL_BUILD_DIR;
  pltest::ToolResult built =
      pltest::RunTool(PL_CPACK_COMMAND,
                      {"-G", "DEB", "--config", std::string(PL_BUILD_DIR) + "/CPackConfig.cmake",
                       "-B", output.path().string()},
                      options);
  ASSERT_EQ(built.exit_code, 0) << built.out << built.err;
  fs::path package = output.path() / "parlowind-server_1.2.0_amd64.deb";
  for (const auto& entry : fs::directory_iterator(output.path())) {
    if (entry.path().extension() == ".deb") package = entry.path();
  }
  ASSERT_TRUE(fs::exists(package)) << built.out;

  pltest::ToolResult info = pltest::RunTool(dpkg_deb, {"-I", package.string()});
  ASSERT_EQ(info.exit_code, 0) << info.err;
  EXPECT_NE(info.out.find("Package: parlowind-server"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Version: 1.2.0"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Maintainer: "), std::string::npos) << info.out;
  // A sanitizer build depends on its runtime too, so only the presence of libc6 is checked.
  const size_t depends = info.out.find("Depends: ");
  ASSERT_NE(depends, std::string::npos) << info.out;
  EXPECT_NE(info.out.substr(depends, info.out.find('\n', depends) - depends).find("libc6"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("libstdc++6"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("postinst"), std::string::npos) << info.out;

  pltest::ToolResult contents = pltest::RunTool(dpkg_deb, {"-c", package.string()});
  ASSERT_EQ(contents.exit_code, 0) << contents.err;
  for (const char* file :
       {"./usr/lib/plserver/plserver", "./usr/bin/plctl",
        "./usr/lib/systemd/system/plserver.service", "./usr/share/plserver/plserver.ini"}) {
    EXPECT_NE(contents.out.find(file), std::string::npos) << file << " missing from\n"
                                                          << contents.out;
  }

  TemporaryDirectory unpacked;
  ASSERT_EQ(pltest::RunTool(dpkg_deb, {"-x", package.string(), unpacked.path().string()}).exit_code,
            0);
  const std::string unit = ReadFile(unpacked.path() / "usr/lib/systemd/system/plserver.service");
  EXPECT_EQ(UnitValue(unit, "Type"), "simple");
  EXPECT_EQ(UnitValue(unit, "Restart"), "on-failure");
  EXPECT_EQ(UnitValue(unit, "StateDirectory"), "plserver");
  EXPECT_EQ(UnitValue(unit, "WorkingDirectory"), "/var/lib/plserver");
  EXPECT_EQ(UnitValue(unit, "KillSignal"), "SIGTERM");
  EXPECT_EQ(UnitValue(unit, "ExecStart")
                .rfind("/usr/lib/plserver/plserver -INI=../../../var/lib/plserver/", 0),
            0u)
      << unit;
  // The shipped configuration is current, so the server never rewrites it (and its comments).
  EXPECT_NE(
      ReadFile(unpacked.path() / "usr/share/plserver/plserver.ini").find("ServerVersion=v1.2.0"),
      std::string::npos);
}

// Installs into a staging root with the prefix /usr and runs the server there exactly as the
// unit does: the -INI= path, taken from the program directory, must reach <root>/var/lib/plserver.
TEST(PackagingTest, InstalledServerRunsAsTheUnitStartsIt) {
  TemporaryDirectory root;
  pltest::ToolOptions install_options;
  install_options.environment["DESTDIR"] = root.path().string();
  install_options.timeout_ms = 240000;  // a hung install only; a busy machine is slow
  pltest::ToolResult installed = pltest::RunTool(
      PL_CMAKE_COMMAND, {"--install", PL_BUILD_DIR, "--prefix", "/usr"}, install_options);
  ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;

  const std::string unit = ReadFile(root.path() / "usr/lib/systemd/system/plserver.service");
  std::istringstream exec(UnitValue(unit, "ExecStart"));
  std::string program;
  exec >> program;
  std::vector<std::string> arguments;
  for (std::string word; exec >> word;) arguments.push_back(word);
  ASSERT_EQ(program, "/usr/lib/plserver/plserver");

  // What the unit's ExecStartPre does: the shipped configuration becomes the state's; a test
  // port replaces the default one.
  const fs::path state = root.path() / "var/lib/plserver";
  fs::create_directories(state);
  std::string ini = ReadFile(root.path() / "usr/share/plserver/plserver.ini");
  std::uniform_int_distribution<int> draw(20000, 60000);
  std::random_device random;
  const std::string port = std::to_string(draw(random));
  ini = std::regex_replace(ini, std::regex("TCPPort=8765"), "TCPPort=" + port);
  std::ofstream(state / "plserver.ini", std::ios::binary) << ini;

  pltest::ToolOptions run_options;
  run_options.working_directory = state.string();
  pltest::ToolProcess server((root.path() / "usr/lib/plserver/plserver").string(), arguments,
                             run_options);
  ASSERT_TRUE(server.started());
  const std::string plctl = (root.path() / "usr/bin/plctl").string();
  // Until the server listens: a sanitised build on a busy machine takes seconds to start, so
  // the wait is bounded by time (well inside the test's limit), not by a count of quick tries.
  pltest::ToolResult status;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  do {
    status = pltest::RunTool(plctl, {"--port", port, "--timeout", "1", "status"});
    if (status.exit_code != 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  ASSERT_EQ(status.exit_code, 0) << status.err;

  pltest::ToolOptions admin;
  admin.environment["PLCTL_ADMIN_PASSWORD"] = "rivet";
  ASSERT_EQ(
      pltest::RunTool(plctl, {"--port", port, "password", "admin", "changed"}, admin).exit_code, 0);
  // The server confirms a change only once the file holds it.
  const std::string written = ReadFile(state / "plserver.ini");
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Finish().exit_code, 0);

  EXPECT_NE(written.find("AdminPassword=changed"), std::string::npos) << written;
  EXPECT_NE(written.find("; Parlowind server configuration."), std::string::npos)
      << "comments were lost";
  EXPECT_FALSE(fs::exists(root.path() / "usr/lib/plserver/plserver.ini"));
  EXPECT_TRUE(fs::exists(state / "plserver.log"));
}

}  // namespace
