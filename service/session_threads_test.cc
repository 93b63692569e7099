#include "service/session_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>

namespace tenvar::service {
namespace {

// Every session is listed until it ends; past the thread limit sessions wait in line, and
// every one of them runs in the end.
TEST(SessionThreads, SessionsBeyondTheLimitWaitTheirTurnAndAllRun) {
  SessionThreads threads(4);
  std::latch release(1);
  std::atomic<int> running{0};
  std::atomic<int> mostAtOnce{0};
  std::atomic<int> finished{0};
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(threads.Start([&] {
      const int now = ++running;
      for (int seen = mostAtOnce; now > seen && !mostAtOnce.compare_exchange_weak(seen, now);) {
      }
      release.wait();
      --running;
      ++finished;
    }));
  }
  EXPECT_EQ(threads.Count(), 50u);
  release.count_down();
  threads.WaitUntilEmpty();
  EXPECT_EQ(finished, 50);
  EXPECT_EQ(threads.Count(), 0u);
  EXPECT_LE(mostAtOnce, 4);
}

}  // namespace
}  // namespace tenvar::service
