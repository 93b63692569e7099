// Finding an item in the disk cache: its body, the time the origin gave it and the headers
// kept with it. An item older than CacheExpiry days (counted from when it entered the
// cache) is deleted, after it has served this one request.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "cache/cache_store.h"
#include "cache/kept_headers.h"
#include "platform/unique_fd.h"

namespace tenvar::cache {

struct CachedItem {
  platform::UniqueFd Body;  // open at its start
  std::uint64_t Size = 0;
  std::time_t LastModified = 0;  // the origin's Last-Modified (or Date) for the item
  // The origin's fields; nothing for an item stored before headers were kept, which is
  // served as it always was.
  std::optional<KeptHeaders> Headers;
};

// Nothing when there is no complete item under that name, or when its header file belongs
// to another body (a store cut off between its two renames).
std::optional<CachedItem> CacheLookup(std::string_view cacheDir, const std::string& cacheFileName,
                                      std::int32_t cacheExpiryDays, std::time_t now,
                                      CacheCounters counters);

}  // namespace tenvar::cache
