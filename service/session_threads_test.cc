#include "service/session_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>

namespace tenvar::service {
namespace {

TEST(SessionThreads, ListsEverySessionUntilItEndsAndWaitsForTheLast) {
  SessionThreads threads;
  std::latch release(1);
  std::atomic<int> finished{0};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(threads.Start([&] {
      release.wait();
      ++finished;
    }));
  }
  EXPECT_EQ(threads.Count(), 20u);
  release.count_down();
  threads.WaitUntilEmpty();
  EXPECT_EQ(finished, 20);
  EXPECT_EQ(threads.Count(), 0u);
}

TEST(SessionThreads, ASessionThatEndsAtOnceIsStillListedFirst) {
  SessionThreads threads;
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(threads.Start([] {}));
  threads.WaitUntilEmpty();
  EXPECT_EQ(threads.Count(), 0u);
}

}  // namespace
}  // namespace tenvar::service
