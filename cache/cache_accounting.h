// The start-up totals of the disk cache: every regular file below the cache directory,
// whatever its name, counted once with its size; the cache's own folders of kept headers
// and unfinished stores are not items.
#pragma once

#include <cstdint>
#include <string>

namespace tenvar::cache {

// Adds the size (in megabytes of 2^20 bytes) and the number of files of the tree below
// `directory` to the two totals. A missing or unreadable directory adds nothing; symbolic
// links are not followed, so a link can neither loop the walk nor count outside the tree.
void ScanCacheDirectory(std::string directory, double& sizeMB, std::int32_t& itemCount);

}  // namespace tenvar::cache
