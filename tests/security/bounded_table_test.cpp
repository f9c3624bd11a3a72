// The bounded table forgets the entry used least recently.
#include "security/bounded_table.h"

#include <gtest/gtest.h>

namespace security {
namespace {

TEST(BoundedTable, ForgetsTheLeastRecentlyUsedAndNeverGrowsPastItsCapacity) {
  BoundedTable<uint32_t, int> table(3);
  table.Touch(1) = 10;
  table.Touch(2) = 20;
  table.Touch(3) = 30;
  table.Touch(1);       // 1 is used again: 2 is now the oldest
  table.Touch(4) = 40;  // 2 goes
  EXPECT_EQ(table.Size(), 3u);
  EXPECT_EQ(table.Find(2), nullptr);
  ASSERT_NE(table.Find(1), nullptr);
  EXPECT_EQ(*table.Find(1), 10);
  table.EraseIf([](uint32_t key, int) { return key == 3; });
  EXPECT_EQ(table.Find(3), nullptr);
  EXPECT_EQ(table.Size(), 2u);
}

}  // namespace
}  // namespace security
