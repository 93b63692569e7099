// Finding an item in the disk cache: its body and the time the origin gave it. An item
// older than CacheExpiry days (counted from when it entered the cache) is deleted, after it
// has served this one request.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace tenvar::cache {

struct CachedItem {
  std::string Body;
  std::time_t LastModified = 0;  // the origin's Last-Modified (or Date) for the item
};

// Nothing when there is no complete item under that name.
std::optional<CachedItem> CacheLookup(const std::string& cacheFileName,
                                      std::int32_t cacheExpiryDays, std::time_t now);

}  // namespace tenvar::cache
