#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace tenvar::platform {
namespace {

TEST(SingleInstanceMarker, RefusesASecondClaimUntilTheFirstIsGone) {
  const std::string name = "tenvar-test-marker-" + std::to_string(::getpid());
  {
    auto first = SingleInstanceMarker::Claim(name);
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(SingleInstanceMarker::Claim(name).has_value());
  }
  EXPECT_TRUE(SingleInstanceMarker::Claim(name).has_value());
}

}  // namespace
}  // namespace tenvar::platform
