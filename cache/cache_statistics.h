// The per-second cache history the details window draws: each tick turns the requests and
// cache hits counted since the previous tick into one sample, the hit percentage (0 for a
// second without requests). Thread-safe: the timer thread ticks, the window reads.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace tenvar::cache {

class CacheStatistics {
 public:
  static constexpr std::size_t kHistoryLength = 20;
  using History = std::array<std::uint32_t, kHistoryLength>;

  // The counters are the program's running totals; they must outlive this object.
  CacheStatistics(const std::atomic<std::uint32_t>& requestCount,
                  const std::atomic<std::uint32_t>& cacheHitCount);

  // Adds the sample for the second that has just passed.
  void Tick();

  // The last kHistoryLength samples, oldest first, each 0 to 100.
  History CacheHistory() const;

 private:
  const std::atomic<std::uint32_t>& requestCount_;
  const std::atomic<std::uint32_t>& cacheHitCount_;
  mutable std::mutex lock_;
  std::uint32_t prevRequests_;
  std::uint32_t prevCacheHits_;
  History history_{};
};

}  // namespace tenvar::cache
