// The systemd units as systemd itself judges them: the confinement's exposure score of the single
// service and of the instance template, and the template's instances loaded from an installed
// tree, each with its own directories.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/blackbox.h"
#include "support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUnitSourceDir[] = PL_SOURCE_DIR "/packaging";

std::string SystemdAnalyze() {
  for (const char* path : {"/usr/bin/systemd-analyze", "/bin/systemd-analyze"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return {};
}

// The overall exposure systemd-analyze gives the unit file, or -1 when it prints none.
double ExposureOf(const std::string& analyze, const std::string& unit_path, std::string* report) {
  pltest::ToolResult result =
      pltest::RunTool(analyze, {"security", "--offline=true", "--no-pager", unit_path});
  *report = result.out + result.err;
  std::smatch match;
  if (!std::regex_search(*report, match, std::regex("Overall exposure level for [^:]+: ([0-9.]+)")))
    return -1;
  return std::stod(match[1]);
}

// The unit's text from its first confinement line to [Install].
std::string ConfinementOf(const std::string& unit) {
  const size_t begin = unit.find("\nStandardInput=");
  const size_t end = unit.find("\n[Install]");
  if (begin == std::string::npos || end == std::string::npos || end < begin) return {};
  return unit.substr(begin, end - begin);
}

TEST(ServiceUnits, ConfinementExposureIsTwoOrLess) {
  const std::string analyze = SystemdAnalyze();
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed";
  for (const char* unit : {"plserver.service", "plserver@.service"}) {
    std::string report;
    const double exposure = ExposureOf(analyze, std::string(kUnitSourceDir) + "/" + unit, &report);
    ASSERT_GE(exposure, 0) << unit << "\n" << report;
    EXPECT_LE(exposure, 2.0) << unit << "\n" << report;
  }
}

// The template repeats the single unit's confinement word for word, so neither drifts.
TEST(ServiceUnits, TemplateHasTheSingleUnitsConfinement) {
  const std::string single =
      ConfinementOf(pltest::ReadFile(std::string(kUnitSourceDir) + "/plserver.service"));
  const std::string templated =
      ConfinementOf(pltest::ReadFile(std::string(kUnitSourceDir) + "/plserver@.service"));
  ASSERT_NE(single.find("CapabilityBoundingSet="), std::string::npos) << single;
  EXPECT_EQ(single, templated);
}

// `systemd-analyze verify` loads the installed units from a staging root the way systemd would:
// instances named by a directory or by a port resolve to valid directories and existing
// programs; an instance name that would climb out of /var/lib/plserver does not load.
TEST(ServiceUnits, VerifyLoadsInstancesFromTheInstalledTree) {
  const std::string analyze = SystemdAnalyze();
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed";
  pltest::TempDir root;
  pltest::ToolOptions install_options;
  install_options.environment["DESTDIR"] = root.path();
  install_options.timeout_ms = 30000;
  pltest::ToolResult installed = pltest::RunTool(
      PL_CMAKE_COMMAND, {"--install", PL_BUILD_DIR, "--prefix", "/usr"}, install_options);
  ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;
  // The targets the units are ordered against, from this machine's systemd.
  const fs::path unit_dir = fs::path(root.path()) / "usr/lib/systemd/system";
  for (const char* host_dir : {"/usr/lib/systemd/system", "/lib/systemd/system"}) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(host_dir, ignored)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".target" && extension != ".slice") continue;
      fs::copy(entry.path(), unit_dir / entry.path().filename(), fs::copy_options::skip_existing,
               ignored);
    }
  }

  // The one program of the system the units run (ExecReload=), from this machine.
  fs::create_directories(fs::path(root.path()) / "bin");
  fs::copy_file("/bin/kill", fs::path(root.path()) / "bin/kill");

  pltest::ToolResult verified =
      pltest::RunTool(analyze, {"verify", "--man=no", "--root=" + root.path(), "plserver.service",
                                "plserver@community.service", "plserver@8775.service"});
  EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;
  EXPECT_EQ(verified.out + verified.err, "");

  pltest::ToolResult climbing = pltest::RunTool(
      analyze, {"verify", "--man=no", "--root=" + root.path(), "plserver@...service"});
  EXPECT_NE(climbing.exit_code, 0) << climbing.out << climbing.err;
  EXPECT_NE(climbing.err.find("WorkingDirectory= path is not normalized: /var/lib/plserver/.."),
            std::string::npos)
      << climbing.err;
}

}  // namespace
