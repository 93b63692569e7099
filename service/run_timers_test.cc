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

// Signalled from another thread at any time, even before the first wait: there is no tick.
TEST(RunTimers, LeavesItsWaitAsSoonAsTheExitEventIsSignalledWithoutATick) {
  platform::ExitEvent exitEvent;
  int ticks = 0;
  std::thread signaller([&] { exitEvent.Signal(); });
  const auto started = std::chrono::steady_clock::now();
  RunTimers(
      exitEvent, [&] { ++ticks; }, std::chrono::hours(1));
  signaller.join();
  EXPECT_EQ(ticks, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
}  // namespace tenvar::service
