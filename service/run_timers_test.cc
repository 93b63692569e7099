#include "service/run_timers.h"

#include <gtest/gtest.h>

#include <thread>

namespace tenvar::service {
namespace {

// An exit event signalled from another thread at any time, even before the first wait,
// ends the wait at once without a tick.
TEST(RunTimers, TicksEachPeriodUntilTheExitEventWhichEndsTheWaitAtOnce) {
  platform::ExitEvent exitEvent;
  int ticks = 0;
  auto started = std::chrono::steady_clock::now();
  RunTimers(
      exitEvent,
      [&] {
        if (++ticks == 3) exitEvent.Signal();
      },
      std::chrono::milliseconds(20));
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(60));

  platform::ExitEvent fromElsewhere;
  std::thread signaller([&] { fromElsewhere.Signal(); });
  started = std::chrono::steady_clock::now();
  RunTimers(
      fromElsewhere, [&] { ++ticks; }, std::chrono::hours(1));
  signaller.join();
  EXPECT_EQ(ticks, 3);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
}  // namespace tenvar::service
