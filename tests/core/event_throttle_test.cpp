// Event lines repeated from one address are held back and summarised.
#include "core/event_throttle.h"

#include <gtest/gtest.h>

namespace core {
namespace {

EventLine LoginFailed(const std::string& addr) {
  EventLine line(EventLevel::kWarning, "login-failed");
  line.Text("name", "guess").Word("addr", addr);
  return line;
}

TEST(EventThrottle, RepeatsFromOneAddressAreCountedAndSummarisedOthersPass) {
  EventThrottle throttle;
  std::vector<EventLine> summaries;
  int written = 0;
  for (int i = 0; i < 50; ++i) written += throttle.Admit(LoginFailed("198.51.100.7"), 1000, summaries);
  EXPECT_EQ(written, static_cast<int>(EventThrottle::kLinesPerWindow));
  EXPECT_TRUE(throttle.Admit(LoginFailed("203.0.113.5"), 1000, summaries)) << "another address";
  EXPECT_TRUE(throttle.Admit(EventLine(EventLevel::kInfo, "stop"), 1000, summaries))
      << "a line without an address";
  EXPECT_TRUE(summaries.empty());
  // The next line after the window brings the summary with it.
  EXPECT_TRUE(throttle.Admit(LoginFailed("198.51.100.7"), 1000 + EventThrottle::kWindowMs,
                             summaries));
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].FormatText(plat::LocalDateTime{}).substr(26),
            "warning suppressed of=login-failed addr=198.51.100.7 count=40\n");
}

}  // namespace
}  // namespace core
