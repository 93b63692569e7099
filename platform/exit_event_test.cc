#include "platform/exit_event.h"

#include <gtest/gtest.h>

#include <thread>

namespace tenvar::platform {
namespace {

TEST(ExitEvent, WakesAWaiterOnAnotherThreadAndStaysSignalled) {
  ExitEvent event;
  EXPECT_FALSE(event.IsSignalled());
  EXPECT_FALSE(event.WaitFor(std::chrono::milliseconds(1)));

  std::thread waiter([&] { event.Wait(); });
  event.Signal();
  waiter.join();

  // Manual reset: every later wait returns at once, however often it is asked.
  EXPECT_TRUE(event.IsSignalled());
  EXPECT_TRUE(event.WaitFor(std::chrono::hours(1)));
  event.Signal();
  EXPECT_TRUE(event.IsSignalled());
}

}  // namespace
}  // namespace tenvar::platform
