// The installation as operators get it: the Debian package's contents, control data and
// lintian's verdict, and the installed layout actually running as the units start it (the
// program path and the -INI= path reaching the state directory, the log beside it, the unit's
// user, umask and limits), driven by plctl.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/ascii_case.h"
#include "support/blackbox.h"
#include "support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

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

// The words of the unit's `key=` command line with the instance name put in for %i.
std::vector<std::string> UnitCommand(const std::string& unit, const std::string& key,
                                     const std::string& instance = {}) {
  std::istringstream line(std::regex_replace(UnitValue(unit, key), std::regex("%i"), instance));
  std::vector<std::string> words;
  for (std::string word; line >> word;) words.push_back(word);
  return words;
}

bool RunningAsRoot() {
  return geteuid() == 0;
}

constexpr uid_t kNobody = 65534;

// How the unit runs a command of its own, as far as a test can: as an unprivileged user holding
// only the unit's AmbientCapabilities=, under its UMask= and LimitNOFILE=. Without root the
// command runs as the test's user with only the umask applied.
struct UnitProcess {
  std::string program;
  std::vector<std::string> arguments;
};
UnitProcess AsTheUnitRunsIt(const std::string& unit, const std::string& root,
                            const std::vector<std::string>& command) {
  std::vector<std::string> shell = {"/bin/sh", "-c",
                                    "umask " + UnitValue(unit, "UMask") + " && exec \"$0\" \"$@\""};
  shell.push_back(root + command.at(0));
  shell.insert(shell.end(), command.begin() + 1, command.end());
  if (!RunningAsRoot()) return {shell[0], {shell.begin() + 1, shell.end()}};
  // CAP_SYS_NICE as setpriv names it: sys_nice.
  std::string capability = plat::AsciiLower(UnitValue(unit, "AmbientCapabilities"));
  if (capability.rfind("cap_", 0) == 0) capability.erase(0, 4);
  const std::string kept = capability.empty() ? "-all" : "-all,+" + capability;
  const std::string files = UnitValue(unit, "LimitNOFILE");
  std::vector<std::string> arguments = {"--nofile=" + files + ":" + files,
                                        "/usr/bin/setpriv",
                                        "--reuid=" + std::to_string(kNobody),
                                        "--regid=" + std::to_string(kNobody),
                                        "--clear-groups",
                                        "--inh-caps=" + kept,
                                        "--ambient-caps=" + kept,
                                        "--bounding-set=" + kept,
                                        "--no-new-privs",
                                        "--"};
  arguments.insert(arguments.end(), shell.begin(), shell.end());
  return {"/usr/bin/prlimit", arguments};
}

// The nice values of the process's threads.
std::vector<int> ThreadNiceValues(int pid) {
  std::vector<int> values;
  std::error_code ignored;
  for (const auto& task :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
    const std::string stat = pltest::ReadFile(task.path() / "stat");
    const size_t end_of_name = stat.rfind(')');
    if (end_of_name == std::string::npos) continue;
    // After the name: state, then fields 4 to 19 of stat(5); the nice value is field 19.
    std::istringstream fields(stat.substr(end_of_name + 2));
    std::string field;
    for (int index = 3; index <= 19 && fields >> field; ++index) {
      if (index == 19) values.push_back(std::stoi(field));
    }
  }
  return values;
}

// Installs the build into `root` with the prefix /usr, as the package does.
void InstallInto(const fs::path& root) {
  pltest::ToolOptions install_options;
  install_options.environment["DESTDIR"] = root.string();
  install_options.timeout_ms = 240000;  // a hung install only; a busy machine is slow
  pltest::ToolResult installed = pltest::RunTool(
      PL_CMAKE_COMMAND, {"--install", PL_BUILD_DIR, "--prefix", "/usr"}, install_options);
  ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;
}

// The state directory of the unit (or of its instance `below`) under the staging root, owned by
// the unit's user as systemd makes it.
fs::path MakeStateDirectory(const fs::path& root, const std::string& below = {}) {
  fs::path state = root / "var/lib/plserver";
  if (!below.empty()) state /= below;
  fs::create_directories(state);
  if (RunningAsRoot()) {
    EXPECT_EQ(chown(state.c_str(), kNobody, kNobody), 0);
  }
  return state;
}

// Waits until plctl gets the server's status on `port`; its last result.
pltest::ToolResult WaitForStatus(const std::string& plctl, const std::string& port) {
  // Until the server listens: a sanitised build on a busy machine takes seconds to start, so
  // the wait is bounded by time (well inside the test's limit), not by a count of quick tries.
  pltest::ToolResult status;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  do {
    status =
        pltest::RunTool(plctl, {"--host", "127.0.0.1", "--port", port, "--timeout", "1", "status"});
    if (status.exit_code != 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return status;
}

mode_t ModeOf(const fs::path& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

uid_t OwnerOf(const fs::path& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

// Whether the ELF file still carries a symbol table or debug sections.
bool CarriesDebugData(const std::string& readelf, const fs::path& program) {
  pltest::ToolResult sections = pltest::RunTool(readelf, {"-S", "-W", program.string()});
  return sections.exit_code != 0 || sections.out.find(".symtab") != std::string::npos ||
         sections.out.find(".debug_") != std::string::npos;
}

TEST(PackagingTest, DebianPackageCarriesItsFilesAndPassesLintian) {
  const std::string dpkg_deb = Which("dpkg-deb");
  if (dpkg_deb.empty()) GTEST_SKIP() << "dpkg-deb is not installed";
  pltest::TempDir output;
  pltest::ToolOptions options;
  // Building and compressing the package takes a minute or more on a busy machine; the limit
  // only stops a hung cpack, within the test's own time limit.
  options.timeout_ms = 240000;
  options.working_directory = PL_BUILD_DIR;
  pltest::ToolResult built =
      pltest::RunTool(PL_CPACK_COMMAND,
                      {"-G", "DEB", "--config", std::string(PL_BUILD_DIR) + "/CPackConfig.cmake",
                       "-B", output.path()},
                      options);
  ASSERT_EQ(built.exit_code, 0) << built.out << built.err;
  fs::path package = output.File("parlowind-server_1.2.0_amd64.deb");
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
  const std::string depends_line = info.out.substr(depends, info.out.find('\n', depends) - depends);
  for (const char* needed : {"libc6", "libstdc++6", "adduser"}) {
    EXPECT_NE(depends_line.find(needed), std::string::npos) << depends_line;
  }
  for (const char* script : {"postinst", "prerm", "postrm", "conffiles"}) {
    EXPECT_NE(info.out.find(script), std::string::npos) << script << " missing\n" << info.out;
  }

  pltest::ToolResult contents = pltest::RunTool(dpkg_deb, {"-c", package.string()});
  ASSERT_EQ(contents.exit_code, 0) << contents.err;
  for (const char* file :
       {"./usr/lib/plserver/plserver", "./usr/lib/plserver/plserver-prepare", "./usr/bin/plctl",
        "./usr/lib/systemd/system/plserver.service", "./usr/lib/systemd/system/plserver@.service",
        "./usr/share/plserver/plserver.ini", "./usr/share/plserver/fail2ban/plserver.conf",
        "./etc/logrotate.d/plserver", "./usr/share/man/man8/plserver.8.gz",
        "./usr/share/man/man1/plctl.1.gz", "./usr/share/doc/parlowind-server/copyright",
        "./usr/share/doc/parlowind-server/changelog.gz"}) {
    EXPECT_NE(contents.out.find(std::string(file) + "\n"), std::string::npos)
        << file << " missing from\n"
        << contents.out;
  }

  pltest::TempDir unpacked;
  ASSERT_EQ(pltest::RunTool(dpkg_deb, {"-x", package.string(), unpacked.path()}).exit_code, 0);
  const std::string unit =
      pltest::ReadFile(unpacked.File("usr/lib/systemd/system/plserver.service"));
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
  EXPECT_NE(pltest::ReadFile(unpacked.File("usr/share/plserver/plserver.ini"))
                .find("ServerVersion=v1.2.0"),
            std::string::npos);
  const std::string readelf = Which("readelf");
  if (!readelf.empty()) {
    EXPECT_FALSE(CarriesDebugData(readelf, unpacked.File("usr/lib/plserver/plserver")));
    EXPECT_FALSE(CarriesDebugData(readelf, unpacked.File("usr/bin/plctl")));
  }

  const std::string lintian = Which("lintian");
  if (lintian.empty()) GTEST_SKIP() << "lintian is not installed";
  pltest::ToolOptions lintian_options;
  lintian_options.timeout_ms = 240000;
  pltest::ToolResult verdict = pltest::RunTool(lintian, {package.string()}, lintian_options);
  EXPECT_NE(verdict.exit_code, -1) << "lintian did not finish";
  std::istringstream lines(verdict.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
  }
  // What lintian still says, for the record.
  std::cout << verdict.out;
}

// Installs into a staging root with the prefix /usr and runs the service there exactly as the
// unit does: its ExecStartPre= and ExecStart= command lines, as an unprivileged user under the
// unit's umask, limits and single capability. The -INI= path, taken from the program directory,
// must reach <root>/var/lib/plserver; the relay thread gets its priority.
TEST(PackagingTest, InstalledServerRunsAsTheUnitStartsIt) {
  pltest::TempDir root;
  ASSERT_NO_FATAL_FAILURE(InstallInto(root.path()));
  const std::string unit = pltest::ReadFile(root.File("usr/lib/systemd/system/plserver.service"));
  const fs::path state = MakeStateDirectory(root.path());
  pltest::ToolOptions run_options;
  run_options.working_directory = state.string();

  // ExecStartPre=: the shipped configuration becomes the state's, readable by its owner only.
  const UnitProcess prepare = AsTheUnitRunsIt(unit, root.path(), UnitCommand(unit, "ExecStartPre"));
  pltest::ToolResult prepared = pltest::RunTool(prepare.program, prepare.arguments, run_options);
  ASSERT_EQ(prepared.exit_code, 0) << prepared.out << prepared.err;
  EXPECT_EQ(ModeOf(state / "plserver.ini"), 0600u);
  // The operator's edit: a test port replaces the default one.
  const std::string port = std::to_string(pltest::PickFreePortPair());
  std::string ini = pltest::ReadFile(state / "plserver.ini");
  ini = std::regex_replace(ini, std::regex("TCPPort=8765"), "TCPPort=" + port);
  std::ofstream(state / "plserver.ini", std::ios::binary | std::ios::trunc) << ini;

  const std::vector<std::string> command = UnitCommand(unit, "ExecStart");
  ASSERT_EQ(command.at(0), "/usr/lib/plserver/plserver");
  const UnitProcess start = AsTheUnitRunsIt(unit, root.path(), command);
  pltest::ToolProcess server(start.program, start.arguments, run_options);
  ASSERT_TRUE(server.started());
  const std::string plctl = root.File("usr/bin/plctl");
  pltest::ToolResult status = WaitForStatus(plctl, port);
  ASSERT_EQ(status.exit_code, 0) << status.err;
  if (RunningAsRoot()) {
    // The relay thread's nice value -15, which the unit's one capability allows.
    const std::vector<int> nice_values = ThreadNiceValues(server.pid());
    ASSERT_FALSE(nice_values.empty());
    EXPECT_EQ(*std::min_element(nice_values.begin(), nice_values.end()), -15);
  }

  pltest::ToolOptions admin;
  admin.environment["PLCTL_ADMIN_PASSWORD"] = "rivet";
  ASSERT_EQ(
      pltest::RunTool(
          plctl, {"--host", "127.0.0.1", "--port", port, "password", "admin", "changed"}, admin)
          .exit_code,
      0);
  // The server confirms a change only once the file holds it.
  const std::string written = pltest::ReadFile(state / "plserver.ini");
  server.Signal(SIGTERM);
  pltest::ToolResult finished = server.Finish();
  EXPECT_EQ(finished.exit_code, 0) << finished.out << finished.err;

  EXPECT_NE(written.find("AdminPassword=changed"), std::string::npos) << written;
  EXPECT_NE(written.find("; Parlowind server configuration."), std::string::npos)
      << "comments were lost";
  EXPECT_EQ(ModeOf(state / "plserver.ini"), 0600u);
  EXPECT_FALSE(fs::exists(root.File("usr/lib/plserver/plserver.ini")));
  EXPECT_EQ(ModeOf(state / "plserver.log"), 0640u);
  if (RunningAsRoot()) {
    EXPECT_EQ(OwnerOf(state / "plserver.log"), kNobody);
  }
}

// The first start of a container or a service given its port and first administrator password
// in its environment: a password the server could not read back is refused before anything is
// written; one from a secret file, with blanks around it and a Windows line end, is in force.
TEST(PackagingTest, FirstStartTakesThePortAndTheAdministratorPasswordFromTheEnvironment) {
  pltest::TempDir root;
  ASSERT_NO_FATAL_FAILURE(InstallInto(root.path()));
  const std::string unit = pltest::ReadFile(root.File("usr/lib/systemd/system/plserver.service"));
  const fs::path state = MakeStateDirectory(root.path());
  const std::string port = std::to_string(pltest::PickFreePortPair());
  pltest::ToolOptions run_options;
  run_options.working_directory = state.string();
  run_options.environment["PLSERVER_TCP_PORT"] = port;
  const UnitProcess prepare = AsTheUnitRunsIt(unit, root.path(), UnitCommand(unit, "ExecStartPre"));

  run_options.environment["PLSERVER_ADMIN_PASSWORD"] = std::string(31, 'x');
  EXPECT_EQ(pltest::RunTool(prepare.program, prepare.arguments, run_options).exit_code, 1);
  EXPECT_TRUE(fs::is_empty(state));

  const std::string password = " a&b\\1|/\"q\" ";
  const fs::path secret = root.File("admin-password");
  pltest::WriteFile(secret, password + "\r\n");
  fs::permissions(secret, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  run_options.environment["PLSERVER_ADMIN_PASSWORD"] = std::nullopt;
  run_options.environment["PLSERVER_ADMIN_PASSWORD_FILE"] = secret.string();
  pltest::ToolResult prepared = pltest::RunTool(prepare.program, prepare.arguments, run_options);
  ASSERT_EQ(prepared.exit_code, 0) << prepared.err;
  EXPECT_NE(pltest::ReadFile(state / "plserver.ini").find("\nTCPPort=" + port + "\n"),
            std::string::npos);

  const UnitProcess start = AsTheUnitRunsIt(unit, root.path(), UnitCommand(unit, "ExecStart"));
  pltest::ToolProcess server(start.program, start.arguments, run_options);
  ASSERT_TRUE(server.started());
  const std::string plctl = root.File("usr/bin/plctl");
  ASSERT_EQ(WaitForStatus(plctl, port).exit_code, 0);
  auto admin_login = [&](const std::string& admin_password) {
    pltest::ToolOptions admin;
    admin.environment["PLCTL_ADMIN_PASSWORD"] = admin_password;
    return pltest::RunTool(plctl, {"--host", "127.0.0.1", "--port", port, "admin-login"}, admin)
        .exit_code;
  };
  EXPECT_EQ(admin_login(password), 0);
  EXPECT_EQ(admin_login("rivet"), 1);
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Finish().exit_code, 0);
}

// An instance of the template named by a port: its first start makes its own directory's
// configuration with that port, and the server runs from there.
TEST(PackagingTest, InstanceNamedByAPortRunsInItsOwnDirectory) {
  pltest::TempDir root;
  ASSERT_NO_FATAL_FAILURE(InstallInto(root.path()));
  const std::string unit = pltest::ReadFile(root.File("usr/lib/systemd/system/plserver@.service"));
  const std::string instance = std::to_string(pltest::PickFreePortPair());
  ASSERT_EQ(UnitValue(unit, "WorkingDirectory"), "/var/lib/plserver/%i");
  const fs::path state = MakeStateDirectory(root.path(), instance);
  pltest::ToolOptions run_options;
  run_options.working_directory = state.string();

  // A number that is no port is refused before anything is written.
  const UnitProcess refused =
      AsTheUnitRunsIt(unit, root.path(), UnitCommand(unit, "ExecStartPre", "70000"));
  EXPECT_EQ(pltest::RunTool(refused.program, refused.arguments, run_options).exit_code, 1);
  EXPECT_TRUE(fs::is_empty(state));

  const UnitProcess prepare =
      AsTheUnitRunsIt(unit, root.path(), UnitCommand(unit, "ExecStartPre", instance));
  pltest::ToolResult prepared = pltest::RunTool(prepare.program, prepare.arguments, run_options);
  ASSERT_EQ(prepared.exit_code, 0) << prepared.out << prepared.err;
  EXPECT_NE(pltest::ReadFile(state / "plserver.ini").find("\nTCPPort=" + instance + "\n"),
            std::string::npos);

  const UnitProcess start =
      AsTheUnitRunsIt(unit, root.path(), UnitCommand(unit, "ExecStart", instance));
  pltest::ToolProcess server(start.program, start.arguments, run_options);
  ASSERT_TRUE(server.started());
  pltest::ToolResult status = WaitForStatus(root.File("usr/bin/plctl"), instance);
  EXPECT_EQ(status.exit_code, 0) << status.err;
  server.Signal(SIGTERM);
  pltest::ToolResult finished = server.Finish();
  EXPECT_EQ(finished.exit_code, 0) << finished.out << finished.err;
  EXPECT_NE(pltest::ReadFile(state / "plserver.log").find("Parlowind server started"),
            std::string::npos);
  EXPECT_EQ(pltest::DirectoryEntries(root.File("var/lib/plserver")),
            std::vector<std::string>{instance});
}

}  // namespace
