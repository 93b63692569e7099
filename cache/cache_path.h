// Where an item lives in the disk cache: CacheDir/host/path, one directory level per path
// segment, "index.html" for a path ending in "/". The name alone finds the item; there is no
// index.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tenvar::cache {

// The three parts may hold at most this many characters together.
inline constexpr std::size_t kMaxCacheNameParts = 260;

// The cache file of host and path, or nothing when the item is never cached: a query URL,
// over-long names, and anything that could name a file outside the cache directory (an
// empty host, a ".." segment, a NUL byte).
std::optional<std::string> CachePathFor(std::string_view cacheDir, std::string_view host,
                                        std::string_view path);

}  // namespace tenvar::cache
