// Bans and the password failure count, with the time given by the test.
#include "security/ban_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "security/auth_throttle.h"
#include "support/addresses.h"

namespace security {
namespace {

using pltest::Block;
using pltest::Ip;
using pltest::V4;

const plat::IpAddress kAttacker = V4(0x7F000002);
const plat::IpAddress kOther = V4(0x7F000003);

TEST(BanList, AutomaticBansExpireManualOnesStayUntilLiftedAndBothAreListed) {
  BanList bans;
  bans.BanAutomatically(kAttacker, 1000, 300000);
  ASSERT_TRUE(bans.AddManual(kOther, 1000, std::nullopt));
  ASSERT_TRUE(bans.AddManual(V4(0x0A000001), 1000, 5000));
  EXPECT_TRUE(bans.IsBanned(kAttacker, 300999));
  EXPECT_FALSE(bans.IsBanned(kAttacker, 301000));
  EXPECT_FALSE(bans.IsBanned(V4(0x7F000009), 2000));

  std::vector<BanEntry> listed = bans.List(2000);
  ASSERT_EQ(listed.size(), 2u);  // the automatic ban is listed until it ends
  bans.BanAutomatically(kAttacker, 2000, 300000);
  listed = bans.List(3000);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].kind, BanKind::kManual);
  EXPECT_EQ(listed.back().kind, BanKind::kAutomatic);
  EXPECT_EQ(listed.back().prefix.address, kAttacker);
  EXPECT_EQ(listed.back().remaining_ms, 299000u);
  bool permanent_seen = false;
  for (const BanEntry& entry : listed)
    permanent_seen = permanent_seen || (entry.prefix.address == kOther && !entry.remaining_ms);
  EXPECT_TRUE(permanent_seen);

  EXPECT_TRUE(bans.IsBanned(kOther, 0xF0000000u));  // for ever
  EXPECT_TRUE(bans.Remove(kOther));
  EXPECT_FALSE(bans.IsBanned(kOther, 4000));
  EXPECT_FALSE(bans.Remove(kOther));
  EXPECT_EQ(bans.List(7000).size(), 1u);  // the five-second manual ban has ended
}

TEST(BanList, AnActiveBanIsNeverForgottenAndManualOnesPastTheLimitAreRefused) {
  BanList bans;
  bans.BanAutomatically(kAttacker, 0, 300000);
  // More bans of other addresses than the old table of the least recently used held.
  for (uint32_t i = 0; i < 5000; ++i) bans.BanAutomatically(V4(0x0A000000 + i), 0, 300000);
  EXPECT_TRUE(bans.IsBanned(kAttacker, 16000));
  EXPECT_TRUE(bans.IsBanned(V4(0x0A000000), 16000));
  for (uint32_t i = 0; i < BanList::kMaxManual; ++i)
    ASSERT_TRUE(bans.AddManual(V4(0x100000 + i), 0, {}));
  EXPECT_FALSE(bans.AddManual(V4(0x200000), 0, {}));
  EXPECT_TRUE(bans.AddManual(V4(0x100000), 0, 1000));  // an existing one may change
}

TEST(AuthThrottle, TheTenthFailureWithinTheWindowBansAndLaterOnesGetNoAnswer) {
  BanList bans;
  AuthThrottle throttle(bans);
  throttle.Configure(AuthLimits{10, 120000, 300000});
  for (int i = 0; i < 9; ++i)
    ASSERT_EQ(throttle.RecordFailure(kAttacker, 1000 + i).verdict, AuthVerdict::kAnswer);
  EXPECT_EQ(throttle.RecordFailure(kAttacker, 2000).verdict, AuthVerdict::kAnswerAndBanned);
  EXPECT_EQ(throttle.RecordFailure(kAttacker, 2001).verdict, AuthVerdict::kBannedNoAnswer);
  EXPECT_TRUE(bans.IsBanned(kAttacker, 2000 + 299999));
  EXPECT_EQ(throttle.RecordFailure(kOther, 2001).verdict, AuthVerdict::kAnswer);  // others unaffected
  // After the ban the address starts with its whole allowance again.
  for (int i = 0; i < 9; ++i)
    ASSERT_EQ(throttle.RecordFailure(kAttacker, 302000 + i).verdict, AuthVerdict::kAnswer) << i;
}

TEST(AuthThrottle, FailuresOlderThanTheWindowDoNotCountAndZeroTurnsTheBanOff) {
  BanList bans;
  AuthThrottle throttle(bans);
  throttle.Configure(AuthLimits{3, 120000, 300000});
  EXPECT_EQ(throttle.RecordFailure(kAttacker, 0).verdict, AuthVerdict::kAnswer);
  EXPECT_EQ(throttle.RecordFailure(kAttacker, 60000).verdict, AuthVerdict::kAnswer);
  EXPECT_EQ(throttle.RecordFailure(kAttacker, 120000).verdict, AuthVerdict::kAnswer);  // first one left
  EXPECT_EQ(throttle.RecordFailure(kAttacker, 130000).verdict, AuthVerdict::kAnswerAndBanned);

  BanList none;
  AuthThrottle off(none);
  off.Configure(AuthLimits{0, 120000, 300000});
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(off.RecordFailure(kAttacker, 0).verdict, AuthVerdict::kAnswer);
  EXPECT_FALSE(none.IsBanned(kAttacker, 0));
}

TEST(AuthThrottle, ASlowGuesserGetsAtMostTwentyAnswersInAnyTenMinutes) {
  BanList bans;
  AuthThrottle throttle(bans);
  throttle.Configure(AuthLimits{});
  // One guess every 13 s stays under ten in 120 s; over an hour the answers are counted per
  // ten-minute window (guesses while banned are closed at once, as the server does).
  std::vector<uint32_t> answered;
  for (uint32_t t = 0; t < 3600000; t += 13000) {
    if (bans.IsBanned(kAttacker, t)) continue;
    if (throttle.RecordFailure(kAttacker, t).verdict != AuthVerdict::kBannedNoAnswer) answered.push_back(t);
  }
  size_t worst = 0;
  for (size_t first = 0; first < answered.size(); ++first) {
    size_t in_window = 0;
    while (first + in_window < answered.size() &&
           answered[first + in_window] < answered[first] + 600000)
      ++in_window;
    worst = std::max(worst, in_window);
  }
  EXPECT_EQ(worst, 20u);
  EXPECT_EQ(answered.front(), 0u);
}

TEST(AuthThrottle, WithEveryRecordInUseTheNewestFailingAddressLosesItsBlockUnanswered) {
  BanList bans;
  AuthThrottle throttle(bans);
  throttle.Configure(AuthLimits{});
  const size_t capacity = throttle.RecordCapacity();
  // Twice the byte budget's worth of stamps for every record would pass it: the count is bounded.
  EXPECT_LE(capacity * (AuthThrottle::kRecordOverheadBytes + 20 * sizeof(uint64_t)),
            AuthThrottle::kMaxRecordBytes);
  for (uint32_t i = 0; i < capacity; ++i)
    ASSERT_EQ(throttle.RecordFailure(V4(0x0A000000 + i), 0).verdict, AuthVerdict::kAnswer) << i;
  const AuthOutcome full = throttle.RecordFailure(V4(0xC6336407), 1000);  // 198.51.100.7
  EXPECT_EQ(full.verdict, AuthVerdict::kBannedNoAnswer);
  ASSERT_TRUE(full.banned);
  EXPECT_EQ(full.banned->Prefix(), Block("198.51.100.0/24"));
  EXPECT_TRUE(bans.IsBanned(V4(0xC63364FE), 1000));
  // The first address's failures still count: nine more ban it.
  for (int i = 0; i < 8; ++i)
    ASSERT_EQ(throttle.RecordFailure(V4(0x0A000000), 2000).verdict, AuthVerdict::kAnswer);
  EXPECT_EQ(throttle.RecordFailure(V4(0x0A000000), 2000).verdict, AuthVerdict::kAnswerAndBanned);
}

}  // namespace
}  // namespace security

namespace security {
namespace {

using pltest::Block;
using pltest::Ip;
using pltest::V4;

TEST(BanListBlocks, ABlockBansEveryAddressInItAndOnlyThoseUntilItEnds) {
  BanList bans;
  EXPECT_TRUE(bans.Empty());
  const plat::IpPrefix block = Block("198.51.100.1/24");  // -> .0/24
  EXPECT_EQ(block.address, V4(0xC6336400));
  ASSERT_TRUE(bans.AddManual(block, 1000, 60000));
  EXPECT_FALSE(bans.Empty());
  EXPECT_TRUE(bans.IsBanned(V4(0xC6336400), 2000));
  EXPECT_TRUE(bans.IsBanned(V4(0xC63364FF), 2000));
  EXPECT_FALSE(bans.IsBanned(V4(0xC6336500), 2000));   // the next block
  EXPECT_FALSE(bans.IsBanned(V4(0xC63364FF), 61000));  // ended
  EXPECT_TRUE(bans.Empty());

  // /0 holds everything; a single address inside a banned block is its own ban.
  ASSERT_TRUE(bans.AddManual(Block("0.0.0.0/0"), 1000, std::nullopt));
  ASSERT_TRUE(bans.AddManual(V4(0x0A000001), 1000, std::nullopt));
  EXPECT_TRUE(bans.IsBanned(V4(0x01020304), 5000));
  std::vector<BanEntry> listed = bans.List(5000);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_TRUE(std::any_of(listed.begin(), listed.end(),
                          [](const BanEntry& e) { return e.prefix.ShownLength() == 0; }));
  // Lifting the block leaves the single address banned, and the other way round.
  EXPECT_TRUE(bans.Remove(Block("0.0.0.0/0")));
  EXPECT_FALSE(bans.IsBanned(V4(0x01020304), 5000));
  EXPECT_TRUE(bans.IsBanned(V4(0x0A000001), 5000));
  EXPECT_FALSE(bans.Remove(Block("0.0.0.0/0")));
  EXPECT_TRUE(bans.Remove(V4(0x0A000001)));
  EXPECT_TRUE(bans.Empty());
}

// An IPv6 block holds its addresses only; a host's automatic ban holds its whole /64 (the
// addresses one subscriber may take) and lifting any of its addresses lifts it.
TEST(BanListBlocks, IPv6BlocksAndHostsAreBannedByTheirPrefixes) {
  BanList bans;
  ASSERT_TRUE(bans.AddManual(Block("2001:db8::/48"), 1000, std::nullopt));
  EXPECT_TRUE(bans.IsBanned(Ip("2001:db8:0:ffff::1"), 2000));
  EXPECT_FALSE(bans.IsBanned(Ip("2001:db8:1::1"), 2000));
  EXPECT_FALSE(bans.IsBanned(V4(0x20010DB8), 2000));  // the same leading bits as IPv4
  EXPECT_EQ(bans.List(2000).front().prefix.Text(), "2001:db8::/48");

  bans.BanAutomatically(Ip("2001:db9::1"), 1000, 60000);
  EXPECT_TRUE(bans.IsBanned(Ip("2001:db9::ffff:2"), 2000));
  EXPECT_FALSE(bans.IsBanned(Ip("2001:db9:0:1::1"), 2000));
  EXPECT_TRUE(bans.Remove(Ip("2001:db9::7")));
  EXPECT_FALSE(bans.IsBanned(Ip("2001:db9::1"), 2000));
}

}  // namespace
}  // namespace security
