#include <gtest/gtest.h>

#include "core/vars.h"

namespace {

TEST(CommandLine, PrefixesInAnyCaseSetTheirSettingsAndLaterOnesWin) {
  core::Settings settings;
  core::ReadCommandLine({"-ini=test.ini", "-LoG=run.log", "other", "-PID=7", "-INI=Final.INI"},
                        settings);
  EXPECT_EQ(settings.IniFileName, "Final.INI");
  EXPECT_EQ(settings.LogFileName, "run.log");
  EXPECT_EQ(settings.PidValue, "7");
}

TEST(CommandLine, OtherArgumentsAreIgnored) {
  core::Settings settings;
  core::ReadCommandLine({"-INI", "INI=x", "--ini=y", "-INIX=z"}, settings);
  EXPECT_EQ(settings.IniFileName, "plserver.ini");
  EXPECT_EQ(settings.LogFileName, "plserver.log");
}

}  // namespace
