// Client Ids: the only thing that ties a voice datagram to its player, so nobody may foresee them.
#include <gtest/gtest.h>

#include <vector>

#include "clients/serverfunctions.h"

namespace clients {
namespace {

std::vector<uint16_t> DrawIds(ClientList& registry, int count) {
  ClientList::Lock lock = registry.Acquire();
  std::vector<uint16_t> ids;
  for (int i = 0; i < count; ++i) ids.push_back(registry.NewClientId(lock));
  return ids;
}

TEST(ClientIds, TwoRegistriesDrawUnrelatedIdsWithinTheRange) {
  // Nothing a registry is given or starts from decides its Ids: two of them never agree (eight
  // equal draws by chance: one in 50000^8).
  ClientList first, second;
  const std::vector<uint16_t> a = DrawIds(first, 8), b = DrawIds(second, 8);
  EXPECT_NE(a, b);
  for (uint16_t id : a) {
    EXPECT_GE(id, 1);
    EXPECT_LE(id, ClientList::kMaxId);
  }
}

}  // namespace
}  // namespace clients
