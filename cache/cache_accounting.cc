#include "cache/cache_accounting.h"

#include <filesystem>
#include <system_error>

#include "cache/cache_path.h"

namespace tenvar::cache {

void ScanCacheDirectory(std::string directory, double& sizeMB, std::int32_t& itemCount) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::recursive_directory_iterator walk(directory, fs::directory_options::skip_permission_denied,
                                        error);
  for (const fs::recursive_directory_iterator end; !error && walk != end; walk.increment(error)) {
    const fs::file_status status = walk->symlink_status(error);
    // The cache's own folders hold no items: kept headers, unfinished stores.
    if (!error && walk.depth() == 0 && fs::is_directory(status)) {
      const std::string name = walk->path().filename().string();
      if (name == kHeadersFolder || name == kPartialFolder) {
        walk.disable_recursion_pending();
        continue;
      }
    }
    if (error || !fs::is_regular_file(status)) {
      error.clear();
      continue;
    }
    const std::uintmax_t bytes = walk->file_size(error);
    if (error) {
      error.clear();
      continue;
    }
    sizeMB += static_cast<double>(bytes) / 1048576.0;
    ++itemCount;
  }
}

}  // namespace tenvar::cache
