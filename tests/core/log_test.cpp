// The event log on real files: the line format, appending, writing with and without LogLock,
// and failures that reach the caller.
#include "core/log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <thread>

#include "support/blackbox.h"
#include "support/status_check.h"

namespace {

using pltest::ReadFile;
using pltest::ReadLogLines;
using pltest::TempDir;

TEST(LogLine, IsLocalTimeStampSeparatorTextAndCrLf) {
  const long long before = static_cast<long long>(std::time(nullptr));
  const std::string line = core::FormatLogLine("Parlowind server started");
  const long long after = static_cast<long long>(std::time(nullptr));

  EXPECT_TRUE(std::regex_match(
      line, std::regex(R"(\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2} \| Parlowind server started\r\n)")))
      << line;
  const long long stamp = pltest::LogLineSeconds(line);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  // The text goes in unchanged, whatever it holds.
  EXPECT_EQ(pltest::LogText(core::FormatLogLine(" | odd | text ")), " | odd | text \r\n");
}

TEST(LogLine, TakesTheLocaleSeparatorsAndPadsEveryField) {
  plat::LocalDateTime when{2026, 3, 7, 9, 5, 4};
  EXPECT_EQ(core::FormatLogLine("x", when), "07/03/2026 09:05:04 | x\r\n");
  // A locale that writes 7.3.2026 and 9.05.04 keeps the fixed field order and widths.
  when.date_separator = '.';
  when.time_separator = '.';
  EXPECT_EQ(core::FormatLogLine("x", when), "07.03.2026 09.05.04 | x\r\n");
  when.date_separator = '-';
  when.time_separator = ':';
  EXPECT_EQ(core::FormatLogLine("x", when), "07-03-2026 09:05:04 | x\r\n");
}

TEST(LogFile, FirstLineCreatesTheFileAndLaterRunsAppend) {
  TempDir dir;
  const std::string path = dir.File("plserver.log");
  {
    core::EventLog first_run;
    first_run.SetFileName(path);
    ASSERT_TRUE(pltest::Succeeded(first_run.WriteLogLine("one")));
  }
  core::EventLog second_run;
  second_run.SetFileName(path);
  ASSERT_TRUE(pltest::Succeeded(second_run.WriteLogLine("two")));

  const auto lines = ReadLogLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(pltest::LogText(lines[0]), "one");
  EXPECT_EQ(pltest::LogText(lines[1]), "two");
  EXPECT_TRUE(pltest::LogWellFormed(ReadFile(path)));
}

TEST(LogFile, ExistingContentIsKept) {
  TempDir dir;
  const std::string path = dir.File("plserver.log");
  pltest::WriteFile(path, "not ours\n");
  core::EventLog log;
  log.SetFileName(path);
  ASSERT_TRUE(pltest::Succeeded(log.WriteLogLine("ours")));
  const std::string contents = ReadFile(path);
  EXPECT_EQ(contents.substr(0, 9), "not ours\n");
  EXPECT_EQ(pltest::LogText(contents.substr(9)), "ours\r\n");
}

TEST(LogFile, WritesBeforeTheLockExistsAndAfterItIsDestroyed) {
  TempDir dir;
  const std::string path = dir.File("plserver.log");
  core::EventLog log;
  log.SetFileName(path);
  EXPECT_TRUE(pltest::Succeeded(log.WriteLogLine("without lock")));
  log.CreateLock();
  EXPECT_TRUE(pltest::Succeeded(log.WriteLogLine("with lock")));
  log.DestroyLock();
  EXPECT_FALSE(log.HasLock());
  EXPECT_TRUE(pltest::Succeeded(log.WriteLogLine("after lock")));
  EXPECT_EQ(ReadLogLines(path).size(), 3u);
}

TEST(LogFile, FailureIsReportedAndReleasesTheLock) {
  TempDir dir;
  pltest::WriteFile(dir.File("file"), "");
  core::EventLog log;
  log.CreateLock();
  // A path through a regular file cannot be opened, whatever the privileges.
  log.SetFileName(dir.File("file/plserver.log"));
  plat::Status error = log.WriteLogLine("lost");
  ASSERT_FALSE(error.ok());
  EXPECT_FALSE(error.message().empty());
  // A directory in place of the file.
  log.SetFileName(dir.path());
  EXPECT_FALSE(log.WriteLogLine("lost").ok());

  // The lock was given back: the next line does not wait for it forever.
  log.SetFileName(dir.File("plserver.log"));
  EXPECT_TRUE(pltest::Succeeded(log.WriteLogLine("kept")));
  EXPECT_EQ(ReadLogLines(dir.File("plserver.log")).size(), 1u);
}

TEST(LogFile, ConcurrentWritersLeaveWholeLines) {
  TempDir dir;
  const std::string path = dir.File("plserver.log");
  core::EventLog log;
  log.SetFileName(path);
  log.CreateLock();
  constexpr int kThreads = 4;
  constexpr int kLines = 50;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log.WriteLogLine("writer " + std::to_string(t) + " line " + std::to_string(i));
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(ReadLogLines(path).size(), static_cast<size_t>(kThreads * kLines));
  EXPECT_TRUE(pltest::LogWellFormed(ReadFile(path)));
}

TEST(EventHook, HasNoOutputByDefaultAndNeverFailsItsCaller) {
  core::EventHook hook;
  EXPECT_FALSE(hook.Enabled());
  hook.Report("CMD <-", "ClientLogin", 1);

  int reports = 0;
  hook.SetSink([&reports](const core::EventReport& report) {
    ++reports;
    if (report.code == 99) throw std::runtime_error("sink failed");
  });
  EXPECT_TRUE(hook.Enabled());
  EXPECT_NO_THROW(hook.Report("ALERT", "boom", 99));
  struct Subject : core::EventSubject {
    std::string EventClientPart() const override { return " ClientId: 1 ClientName: a"; }
  } subject;
  std::string part;
  hook.SetSink([&](const core::EventReport& report) {
    ++reports;
    part = report.client_part;
  });
  hook.Report("TCP/IP", "Disconnected", 0, &subject);
  EXPECT_EQ(reports, 2);
  EXPECT_EQ(part, " ClientId: 1 ClientName: a");
}

}  // namespace
