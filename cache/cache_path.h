// Where an item lives in the disk cache: CacheDir/host/path, one directory level per path
// segment, "index.html" for a path ending in "/"; a port other than 80 joins the host's
// folder as "host:port". The name alone finds the item; there is no index. Folders whose
// names start with "." hold the cache's own files: no host can map there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tenvar::cache {

// The three parts may hold at most this many characters together.
inline constexpr std::size_t kMaxCacheNameParts = 260;
// The kept headers of CacheDir/x live at CacheDir/.headers/x.
inline constexpr std::string_view kHeadersFolder = ".headers";
// Files of stores still being written; whatever is there at start-up is a leftover.
inline constexpr std::string_view kPartialFolder = ".partial";

// The cache file of host, port and path, or nothing when the item is never cached: a query
// URL, over-long names, and anything that could name a file outside the cache directory or
// inside its own folders (an empty host or one starting with ".", a ".." segment, a NUL).
std::optional<std::string> CachePathFor(std::string_view cacheDir, std::string_view host,
                                        std::int32_t port, std::string_view path);

// The file beside `cacheFileName` (a name CachePathFor made) that keeps the item's headers.
std::string KeptHeadersPathFor(std::string_view cacheDir, std::string_view cacheFileName);

}  // namespace tenvar::cache
