#include "cache/cache_lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cache/cache_path.h"
#include "platform/file_time.h"

namespace tenvar::cache {
namespace {

// A header file is a few fields; anything larger is not one of ours.
constexpr std::size_t kMaxKeptHeaders = 256 * 1024;

enum class HeadersFound { None, Usable, Foreign };

HeadersFound ReadKeptHeaders(const std::string& path, const struct stat& body,
                             std::optional<KeptHeaders>& headers) {
  const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file.Valid()) return errno == ENOENT ? HeadersFound::None : HeadersFound::Foreign;
  std::string text;
  char block[8192];
  for (;;) {
    const ssize_t got = ::read(file.Get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return HeadersFound::Foreign;
    if (got == 0) break;
    text.append(block, static_cast<size_t>(got));
    if (text.size() > kMaxKeptHeaders) return HeadersFound::Foreign;
  }
  headers = ParseKeptHeaders(text);
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
  item.Body.Reset(::open(cacheFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!item.Body.Valid()) return std::nullopt;
  struct stat status {};
  if (::fstat(item.Body.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (ReadKeptHeaders(KeptHeadersPathFor(cacheDir, cacheFileName), status, item.Headers) ==
      HeadersFound::Foreign) {
    return std::nullopt;
  }

  const std::optional<platform::FileTime> created = platform::CreationTime(cacheFileName);
  const std::int64_t expirySeconds = std::int64_t{cacheExpiryDays} * 86400;
  if (created && *created / 1'000'000'000 + expirySeconds <= now) {
    // The open file still serves this request.
    RemoveCacheItem(cacheDir, cacheFileName, counters);
  }
  item.Size = static_cast<std::uint64_t>(status.st_size);
  item.LastModified = status.st_mtim.tv_sec;
  return item;
}

long ReadItemBody(const CachedItem& item, char* block, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(item.Body.Get(), block, size);
    if (got < 0 && errno == EINTR) continue;
    return static_cast<long>(got);
  }
}

}  // namespace tenvar::cache
