// A plat::Status as a GoogleTest assertion: EXPECT_TRUE(pltest::Succeeded(...)) shows the error
// text when the operation failed.
#pragma once

#include <gtest/gtest.h>

#include "platform/status.h"

namespace pltest {

inline ::testing::AssertionResult Succeeded(const plat::Status& status) {
  if (status.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "failed: " << status.message();
}

}  // namespace pltest
