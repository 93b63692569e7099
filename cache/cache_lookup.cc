#include "cache/cache_lookup.h"

#include <sys/stat.h>

#include <cerrno>

#include "cache/cache_path.h"
#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/read_file.h"

namespace tenvar::cache {
namespace {

// A header file is a few fields; anything larger is not one of ours.
constexpr std::size_t kMaxKeptHeaders = 256 * 1024;

enum class HeadersFound { None, Usable, Foreign };

HeadersFound ReadKeptHeaders(const std::string& path, const struct stat& body,
                             std::optional<KeptHeaders>& headers) {
  using Outcome = platform::FileContents::Outcome;
  const platform::FileContents file = platform::ReadRegularFile(path, kMaxKeptHeaders, false);
  if (file.Result == Outcome::OpenFailed && file.Error == ENOENT) return HeadersFound::None;
  if (file.Result != Outcome::Read) return HeadersFound::Foreign;
  headers = ParseKeptHeaders(file.Bytes);
  if (!headers || headers->BodyBytes != static_cast<std::uint64_t>(body.st_size) ||
      headers->BodyInode != static_cast<std::uint64_t>(body.st_ino)) {
    return HeadersFound::Foreign;
  }
  return HeadersFound::Usable;
}

}  // namespace

std::optional<CachedItem> CacheLookup(std::string_view cacheDir, const std::string& cacheFileName,
                                      std::int32_t cacheExpiryDays, std::time_t now,
                                      CacheCounters counters) {
  CachedItem item;
  item.Body = platform::OpenForReading(cacheFileName, false);
  if (!item.Body.Valid()) return std::nullopt;
  const std::optional<struct stat> status = platform::StatusOf(item.Body.Get());
  if (!status || !S_ISREG(status->st_mode)) return std::nullopt;
  if (ReadKeptHeaders(KeptHeadersPathFor(cacheDir, cacheFileName), *status, item.Headers) ==
      HeadersFound::Foreign) {
    return std::nullopt;
  }

  const std::optional<platform::FileTime> created = platform::CreationTime(cacheFileName);
  const std::int64_t expirySeconds = std::int64_t{cacheExpiryDays} * 86400;
  if (created && *created / 1'000'000'000 + expirySeconds <= now) {
    // The open file still serves this request.
    RemoveCacheItem(cacheDir, cacheFileName, counters);
  }
  item.Size = static_cast<std::uint64_t>(status->st_size);
  item.LastModified = status->st_mtim.tv_sec;
  return item;
}

}  // namespace tenvar::cache
