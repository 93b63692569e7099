#include "cache/cache_accounting.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

// Links are not followed: they could lead out of the cache or round in a loop.
TEST(ScanCacheDirectory, CountsEveryFileOfTheTreeWithItsSizeButNoLinkedOne) {
  platform::TempDir root;
  const std::string megabyte(1048576, 'x');
  root.Write("one.example/index.html", megabyte);
  root.Write("one.example/a/b/c.gif", megabyte);
  root.Write("not-written-by-the-proxy.txt", megabyte);
  std::filesystem::create_directories(root.File("empty/deeper"));
  // The cache's own files are not items: kept headers and unfinished stores.
  root.Write(".headers/one.example/index.html", megabyte);
  root.Write(".partial/item-abcdef", megabyte);
  root.Write("one.example/.headers/x", megabyte);  // not the cache's own folder
  platform::TempDir outside;
  outside.Write("secret", megabyte);
  std::filesystem::create_directory_symlink(outside.Path(), root.File("one.example/link"));
  std::filesystem::create_directory_symlink(root.Path(), root.File("loop"));
  // Sparse, so no disk is used: a file over four gigabytes counts whole.
  { std::ofstream create(root.File("big.iso")); }
  std::filesystem::resize_file(root.File("big.iso"), (std::uintmax_t{4} << 30) + 1048576);

  double sizeMB = 0.5;  // the totals are added to, not replaced
  std::int32_t items = 1;
  ScanCacheDirectory(root.File("absent"), sizeMB, items);
  ScanCacheDirectory(root.Path(), sizeMB, items);
  EXPECT_EQ(items, 6);
  EXPECT_DOUBLE_EQ(sizeMB, 4101.5);
}

}  // namespace
}  // namespace tenvar::cache
