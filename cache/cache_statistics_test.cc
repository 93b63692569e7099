#include "cache/cache_statistics.h"

#include <gtest/gtest.h>

#include <vector>

namespace tenvar::cache {
namespace {

// Each second's sample is its hits as a truncated percentage of its requests, counted from
// the statistics' creation, across a wrap of the counters, and never over a hundred.
TEST(CacheStatistics, EachSecondsSampleIsItsHitRate) {
  struct Case {
    std::uint32_t StartRequests, StartHits;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Seconds;  // requests and hits added
    std::uint32_t LastSample;
  };
  const Case cases[] = {
      {0, 0, {{10, 4}}, 40},          {0, 0, {{3, 3}, {0, 0}}, 0}, {0, 0, {{3, 2}}, 66},
      {0, 0, {{3, 2}, {1, 2}}, 100},  // a hit whose request was counted the second before
      {0xFFFFFFFEu, 7, {{4, 1}}, 25},
  };
  for (const Case& entry : cases) {
    std::atomic<std::uint32_t> requests{entry.StartRequests};
    std::atomic<std::uint32_t> hits{entry.StartHits};
    CacheStatistics statistics(requests, hits);
    for (const auto& [addedRequests, addedHits] : entry.Seconds) {
      requests += addedRequests;
      hits += addedHits;
      statistics.Tick();
    }
    EXPECT_EQ(statistics.CacheHistory().back(), entry.LastSample) << entry.StartRequests;
  }
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

}  // namespace
}  // namespace tenvar::cache
