// Writing a response body into the disk cache, after the refusals that keep an item out:
// no name, a query, an empty body, a full cache, an excluded name. The item is written whole
// or not at all, and carries the origin's time as its last-write time.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tenvar::cache {

struct CacheCounters {
  std::atomic<std::int32_t>& ItemCount;
  std::atomic<double>& SizeMB;
};

struct CacheStoreRequest {
  std::string_view CacheFileName;  // empty when no name could be composed
  std::string_view Path;
  std::string_view Body;
  std::time_t LastModified = 0;
  const std::vector<std::string>* Exclusions = nullptr;
  bool LimitCache = false;
  std::int32_t CacheLimit = 0;
};

// True when the item was stored. `log` receives every refusal and failure line.
bool CacheStore(const CacheStoreRequest& request, CacheCounters counters,
                const std::function<void(std::string_view)>& log);

}  // namespace tenvar::cache
