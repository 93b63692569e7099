#include "cache/cache_lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_time.h"
#include "platform/unique_fd.h"

namespace tenvar::cache {

std::optional<CachedItem> CacheLookup(const std::string& cacheFileName,
                                      std::int32_t cacheExpiryDays, std::time_t now) {
  platform::UniqueFd file(::open(cacheFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file.Valid()) return std::nullopt;
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;

  const std::optional<platform::FileTime> created = platform::CreationTime(cacheFileName);
  const std::int64_t expirySeconds = std::int64_t{cacheExpiryDays} * 86400;
  if (created && *created / 1'000'000'000 + expirySeconds <= now) {
    // The open file still serves this request.
    ::unlink(cacheFileName.c_str());
  }

  CachedItem item;
  item.Body.resize(static_cast<size_t>(status.st_size));
  size_t done = 0;
  while (done < item.Body.size()) {
    const ssize_t got = ::read(file.Get(), item.Body.data() + done, item.Body.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;  // a short item is never served as a whole one
    done += static_cast<size_t>(got);
  }
  item.LastModified = status.st_mtim.tv_sec;
  return item;
}

}  // namespace tenvar::cache
