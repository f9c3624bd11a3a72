// The connections without a client and the addresses that probe for Ids.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "security/id_probes.h"
#include "security/pending_connections.h"
#include "support/addresses.h"

namespace security {
namespace {

using pltest::Ip;
using pltest::V4;

const plat::IpAddress kAttacker = V4(0x7F000002);
const plat::IpAddress kOther = V4(0x7F000003);

std::shared_ptr<void> NewConnection() {
  return std::make_shared<int>(0);
}

TEST(PendingConnections, TheOldestOfTheAddressMakesRoomThenTheOldestOfAll) {
  PendingConnections pending;
  pending.Configure(3, 5);
  std::vector<std::shared_ptr<void>> attacker;
  for (int i = 0; i < 3; ++i) {
    attacker.push_back(NewConnection());
    ASSERT_TRUE(pending.Admit(kAttacker, attacker.back()).empty());
  }
  auto other = NewConnection();
  EXPECT_TRUE(pending.Admit(kOther, other).empty());
  // The attacker's fourth pushes out its own first, never the other address's.
  auto fourth = NewConnection();
  std::vector<std::shared_ptr<void>> closed = pending.Admit(kAttacker, fourth);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0], attacker[0]);
  EXPECT_EQ(pending.CountFor(kAttacker), 3u);
  // At the overall limit the oldest of all goes.
  auto second_other = NewConnection();
  EXPECT_TRUE(pending.Admit(kOther, second_other).empty());
  auto third_address = NewConnection();
  closed = pending.Admit(V4(0x7F000004), third_address);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0], attacker[1]);
  EXPECT_EQ(pending.Count(), 5u);
}

// A host on IPv6 may take any address of its /64: all of them share the one limit, while the
// next /64 has its own.
TEST(PendingConnections, TheAddressesOfAnIPv6SlashSixtyFourShareOneLimit) {
  PendingConnections pending;
  pending.Configure(2, 128);
  std::vector<std::shared_ptr<void>> held;
  for (const char* address : {"2001:db8::1", "2001:db8::2", "2001:db8::ffff:3"}) {
    held.push_back(NewConnection());
    std::vector<std::shared_ptr<void>> closed = pending.Admit(Ip(address), held.back());
    if (held.size() == 3) {
      ASSERT_EQ(closed.size(), 1u);
      EXPECT_EQ(closed[0], held[0]);
    }
  }
  EXPECT_EQ(pending.CountFor(Ip("2001:db8::9")), 2u);
  auto neighbour = NewConnection();
  EXPECT_TRUE(pending.Admit(Ip("2001:db8:0:1::1"), neighbour).empty());
}

TEST(PendingConnections, AConnectionThatHasSpokenIsSparedWhileIdleOnesAreThere) {
  PendingConnections pending;
  pending.Configure(3, 128);
  auto spoke = std::make_shared<int>(1);  // the value stands for "has sent something"
  pending.SetSpokeTest([](const std::shared_ptr<void>& connection) {
    return *std::static_pointer_cast<int>(connection) == 1;
  });
  ASSERT_TRUE(pending.Admit(kAttacker, spoke).empty());
  std::vector<std::shared_ptr<void>> idle;
  for (int i = 0; i < 5; ++i) {
    idle.push_back(NewConnection());
    std::vector<std::shared_ptr<void>> closed = pending.Admit(kAttacker, idle.back());
    // The login on its way stays; the idle ones make room for each other.
    for (const auto& connection : closed) EXPECT_NE(connection, spoke);
  }
  EXPECT_EQ(pending.CountFor(kAttacker), 3u);
  // When every one has spoken, the oldest goes after all.
  *std::static_pointer_cast<int>(idle[3]) = 1;
  *std::static_pointer_cast<int>(idle[4]) = 1;
  auto newest = NewConnection();
  std::vector<std::shared_ptr<void>> closed = pending.Admit(kAttacker, newest);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0], spoke);
}

TEST(PendingConnections, LoggedInGoneAndBannedConnectionsLeaveTheCount) {
  PendingConnections pending;
  pending.Configure(0, 128);  // no limit per address
  std::vector<std::shared_ptr<void>> held;
  for (int i = 0; i < 20; ++i) {
    held.push_back(NewConnection());
    ASSERT_TRUE(pending.Admit(kAttacker, held.back()).empty());
  }
  pending.Remove(held[0].get());  // logged in
  held[1].reset();                // its thread has ended
  EXPECT_EQ(pending.CountFor(kAttacker), 18u);
  auto other = NewConnection();
  pending.Admit(kOther, other);
  std::vector<std::shared_ptr<void>> taken = pending.TakeAddress(kAttacker);
  EXPECT_EQ(taken.size(), 18u);
  EXPECT_EQ(pending.Count(), 1u);
}

TEST(IdProbeQuarantine, AFewProbesAreToleratedThenTheAddressIsQuarantinedForAWhile) {
  IdProbeQuarantine probes;
  const uint64_t now = 1000;
  for (uint16_t id = 1; id <= IdProbeQuarantine::kProbesBeforeQuarantine; ++id)
    ASSERT_FALSE(probes.RecordProbe(kAttacker, id, true, now + id));
  // The same unknown Id again probes for nothing new: it does not count.
  EXPECT_FALSE(probes.RecordProbe(kAttacker, 1, true, now + 5));
  EXPECT_TRUE(probes.RecordProbe(kAttacker, 99, true, now + 10));
  EXPECT_TRUE(probes.Quarantined(kAttacker, now + 10 + IdProbeQuarantine::kQuarantineMs - 1));
  EXPECT_FALSE(probes.Quarantined(kOther, now + 10));
  // After the quarantine the address starts clean.
  EXPECT_FALSE(probes.Quarantined(kAttacker, now + 10 + IdProbeQuarantine::kQuarantineMs));
  EXPECT_FALSE(probes.RecordProbe(kAttacker, 7, true, now + 20 + IdProbeQuarantine::kQuarantineMs));
  // The Id of a player recorded elsewhere counts each time it comes.
  for (uint32_t i = 0; i < IdProbeQuarantine::kProbesBeforeQuarantine; ++i)
    ASSERT_FALSE(probes.RecordProbe(kOther, 42, false, now));
  EXPECT_TRUE(probes.RecordProbe(kOther, 42, false, now));
}

TEST(IdProbeQuarantine, NoCountingAddressIsForgottenAFullTableIgnoresNewcomers) {
  IdProbeQuarantine probes;
  for (uint32_t ip = 1; ip <= IdProbeQuarantine::kMaxAddresses; ++ip)
    ASSERT_FALSE(probes.RecordProbe(V4(ip), 1, true, 0));
  EXPECT_TRUE(probes.RecordProbe(kAttacker, 1, true, 0)) << "no room to count it";
  EXPECT_EQ(probes.Size(), IdProbeQuarantine::kMaxAddresses);
  for (uint16_t id = 2; id <= IdProbeQuarantine::kProbesBeforeQuarantine; ++id)
    ASSERT_FALSE(probes.RecordProbe(V4(1), id, true, 1));
  EXPECT_TRUE(probes.RecordProbe(V4(1), 50, true, 1)) << "the first address still counts";
  // Once their windows are over there is room again.
  EXPECT_FALSE(probes.RecordProbe(kAttacker, 1, true, IdProbeQuarantine::kWindowMs));
}

}  // namespace
}  // namespace security
