#include "cache/cache_accounting.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

TEST(ScanCacheDirectory, CountsEveryFileOfTheTreeWithItsSize) {
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

  double sizeMB = 0.5;  // the totals are added to, not replaced
  std::int32_t items = 1;
  ScanCacheDirectory(root.Path(), sizeMB, items);
  EXPECT_EQ(items, 5);
  EXPECT_DOUBLE_EQ(sizeMB, 4.5);
}

TEST(ScanCacheDirectory, CountsFilesOverFourGigabytesWhole) {
  platform::TempDir root;
  const std::string big = root.File("big.iso");
  { std::ofstream create(big); }
  std::filesystem::resize_file(big, (std::uintmax_t{4} << 30) + 1048576);  // sparse: no disk used
  double sizeMB = 0;
  std::int32_t items = 0;
  ScanCacheDirectory(root.Path(), sizeMB, items);
  EXPECT_EQ(items, 1);
  EXPECT_DOUBLE_EQ(sizeMB, 4097.0);
}

TEST(ScanCacheDirectory, DoesNotFollowSymbolicLinksAndAMissingDirectoryAddsNothing) {
  platform::TempDir root;
  double sizeMB = 0;
  std::int32_t items = 0;
  ScanCacheDirectory(root.File("absent"), sizeMB, items);
  ScanCacheDirectory(root.Path(), sizeMB, items);
  EXPECT_EQ(items, 0);
  EXPECT_EQ(sizeMB, 0.0);
  platform::TempDir outside;
  outside.Write("secret", std::string(1048576, 's'));
  root.Write("host/item", "12345678");
  std::filesystem::create_directory_symlink(outside.Path(), root.File("host/link"));
  std::filesystem::create_directory_symlink(root.Path(), root.File("loop"));
  ScanCacheDirectory(root.Path(), sizeMB, items);
  EXPECT_EQ(items, 1);
  EXPECT_DOUBLE_EQ(sizeMB, 8.0 / 1048576.0);
}

}  // namespace
}  // namespace tenvar::cache
