#include "dialup/cache_statistics.h"

#include <gtest/gtest.h>

namespace tenvar::dialup {
namespace {

TEST(CacheStatistics, ASecondWithTenRequestsAndFourHitsGivesForty) {
  std::atomic<std::uint32_t> requests{0};
  std::atomic<std::uint32_t> hits{0};
  CacheStatistics statistics(requests, hits);
  requests += 10;
  hits += 4;
  statistics.Tick();
  EXPECT_EQ(statistics.CacheHistory().back(), 40u);
}

TEST(CacheStatistics, ASecondWithoutRequestsGivesZero) {
  std::atomic<std::uint32_t> requests{0};
  std::atomic<std::uint32_t> hits{0};
  CacheStatistics statistics(requests, hits);
  requests += 3;
  hits += 3;
  statistics.Tick();
  statistics.Tick();
  const CacheStatistics::History history = statistics.CacheHistory();
  EXPECT_EQ(history[18], 100u);
  EXPECT_EQ(history[19], 0u);
}

TEST(CacheStatistics, KeepsTheLastTwentySamplesOldestFirst) {
  std::atomic<std::uint32_t> requests{0};
  std::atomic<std::uint32_t> hits{0};
  CacheStatistics statistics(requests, hits);
  for (std::uint32_t second = 1; second <= 25; ++second) {
    requests += 100;
    hits += second;  // the sample of each second is its number
    statistics.Tick();
  }
  CacheStatistics::History expected{};
  for (std::uint32_t i = 0; i < expected.size(); ++i) expected[i] = 6 + i;
  EXPECT_EQ(statistics.CacheHistory(), expected);
}

TEST(CacheStatistics, TruncatesAndStaysWithinAHundred) {
  std::atomic<std::uint32_t> requests{0};
  std::atomic<std::uint32_t> hits{0};
  CacheStatistics statistics(requests, hits);
  requests += 3;
  hits += 2;  // 66.67
  statistics.Tick();
  EXPECT_EQ(statistics.CacheHistory().back(), 66u);
  requests += 1;
  hits += 2;  // a hit whose request was counted the second before
  statistics.Tick();
  EXPECT_EQ(statistics.CacheHistory().back(), 100u);
}

TEST(CacheStatistics, CountsFromItsCreationAndAcrossCounterWrap) {
  std::atomic<std::uint32_t> requests{0xFFFFFFFEu};
  std::atomic<std::uint32_t> hits{7};
  CacheStatistics statistics(requests, hits);
  requests += 4;  // wraps to 2
  hits += 1;
  statistics.Tick();
  EXPECT_EQ(statistics.CacheHistory().back(), 25u);
}

}  // namespace
}  // namespace tenvar::dialup
