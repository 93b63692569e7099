#include "platform/wake_event.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/wait.h"

namespace tenvar::platform {
namespace {

TEST(WakeEvent, IsReadableFromTheFirstWakeUntilCleared) {
  const WakeEvent wake;
  ASSERT_TRUE(wake.Valid());
  const auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(1); };
  EXPECT_EQ(WaitFor(wake.Fd(), POLLIN, soon()), WaitResult::TimedOut);
  wake.Wake();
  wake.Wake();
  EXPECT_EQ(WaitFor(wake.Fd(), POLLIN, soon()), WaitResult::Ready);
  wake.Clear();
  EXPECT_EQ(WaitFor(wake.Fd(), POLLIN, soon()), WaitResult::TimedOut);
}

}  // namespace
}  // namespace tenvar::platform
