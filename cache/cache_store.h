// Writing a response body into the disk cache while it is relayed, and putting it in place
// once complete, after the refusals that keep an item out: no name, a query, an empty body,
// a full cache, an excluded name. Bodies and header files are written in
// CacheDir/.partial and renamed into place, so an item is there whole or not at all, and a
// store cut off by a crash leaves nothing any URL maps to.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/kept_headers.h"
#include "platform/unique_fd.h"

namespace tenvar::cache {

struct CacheCounters {
  std::atomic<std::int32_t>& ItemCount;
  std::atomic<double>& SizeMB;
};

struct CacheStoreRequest;

// A body on its way into the cache. Removed with the object unless CacheStore took it.
class ItemWriter {
 public:
  // Nothing when the file cannot be made (errno kept).
  static std::optional<ItemWriter> Begin(std::string_view cacheDir);

  ItemWriter(ItemWriter&& other) noexcept;
  ItemWriter& operator=(ItemWriter&& other) noexcept;  // removes the file held so far
  ~ItemWriter();

  // Appends every byte; false (with errno) when the disk refuses some.
  bool Write(std::string_view bytes);
  std::uint64_t Size() const { return size_; }

 private:
  friend bool CacheStore(const CacheStoreRequest&, ItemWriter&, CacheCounters,
                         const std::function<void(std::string_view)>&);
  ItemWriter(std::string path, platform::UniqueFd file);

  std::string path_;  // empty once stored or moved from
  platform::UniqueFd file_;
  std::uint64_t size_ = 0;
};

struct CacheStoreRequest {
  std::string_view CacheDir;
  std::string_view CacheFileName;  // empty when no name could be composed
  std::string_view Path;
  std::time_t LastModified = 0;
  const std::vector<std::string>* Exclusions = nullptr;
  bool LimitCache = false;
  std::int32_t CacheLimit = 0;
  // The fields to keep beside the body (their Body-* lines are filled in here); nothing
  // stores the body alone.
  const KeptHeaders* Headers = nullptr;
};

// The refusal an item would meet whatever its body (no name, a query, a full cache, an
// excluded name), so that a body is not written for nothing; nothing when it may go on.
std::optional<std::string> EarlyStoreRefusal(const CacheStoreRequest& request, double sizeMB);

// True when the item was stored. `log` receives every refusal and failure line. A store
// over an existing item replaces its size in the counters rather than adding an item.
bool CacheStore(const CacheStoreRequest& request, ItemWriter& body, CacheCounters counters,
                const std::function<void(std::string_view)>& log);

// Rewrites the header file of a stored item (after a 304 refreshed its fields).
bool UpdateKeptHeaders(std::string_view cacheDir, std::string_view cacheFileName,
                       const KeptHeaders& headers);

// Removes an item and its headers, taking it off the counters.
void RemoveCacheItem(std::string_view cacheDir, std::string_view cacheFileName,
                     CacheCounters counters);

// Removes what unfinished stores left in CacheDir/.partial, and the "<item>.partial-XXXXXX"
// files earlier versions left beside items; called once at start-up.
void RemoveUnfinishedStores(std::string_view cacheDir);

}  // namespace tenvar::cache
