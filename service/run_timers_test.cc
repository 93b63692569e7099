#include "service/run_timers.h"

#include <gtest/gtest.h>

#include <thread>

namespace tenvar::service {
namespace {

TEST(RunTimers, TicksEachPeriodUntilTheExitEvent) {
  platform::ExitEvent exitEvent;
  int ticks = 0;
  const auto started = std::chrono::steady_clock::now();
  RunTimers(
      exitEvent,
      [&] {
        if (++ticks == 3) exitEvent.Signal();
      },
      std::chrono::milliseconds(20));
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(60));
}

TEST(RunTimers, ReturnsWithoutTickingWhenTheExitEventIsAlreadySignalled) {
  platform::ExitEvent exitEvent;
  exitEvent.Signal();
  int ticks = 0;
  RunTimers(exitEvent, [&] { ++ticks; });
  EXPECT_EQ(ticks, 0);
}

TEST(RunTimers, LeavesItsWaitAsSoonAsTheExitEventIsSignalled) {
  platform::ExitEvent exitEvent;
  std::thread signaller([&] { exitEvent.Signal(); });
  const auto started = std::chrono::steady_clock::now();
  RunTimers(exitEvent, [] {}, std::chrono::hours(1));
  signaller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
}  // namespace tenvar::service
