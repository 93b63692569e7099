#include "cache/cache_statistics.h"

#include <algorithm>

namespace tenvar::cache {

CacheStatistics::CacheStatistics(const std::atomic<std::uint32_t>& requestCount,
                                 const std::atomic<std::uint32_t>& cacheHitCount)
    : requestCount_(requestCount),
      cacheHitCount_(cacheHitCount),
      // Counting starts now: requests before the first tick belong to no second of ours.
      prevRequests_(requestCount.load()),
      prevCacheHits_(cacheHitCount.load()) {}

void CacheStatistics::Tick() {
  // Requests are counted before their hits, so reading the requests first never sees a hit
  // without its request.
  const std::uint32_t requests = requestCount_.load();
  const std::uint32_t hits = cacheHitCount_.load();
  std::lock_guard guard(lock_);
  // Unsigned differences stay right when a counter wraps.
  const std::uint32_t secondRequests = requests - prevRequests_;
  const std::uint32_t secondHits = hits - prevCacheHits_;
  std::uint32_t sample = 0;
  if (secondRequests > 0) {
    const double percent = 100.0 * secondHits / secondRequests;
    // A hit of a request counted in the previous second can push a sample past 100.
    sample = static_cast<std::uint32_t>(std::min(percent, 100.0));
  }
  std::shift_left(history_.begin(), history_.end(), 1);
  history_.back() = sample;
  prevRequests_ = requests;
  prevCacheHits_ = hits;
}

CacheStatistics::History CacheStatistics::CacheHistory() const {
  std::lock_guard guard(lock_);
  return history_;
}

}  // namespace tenvar::cache
