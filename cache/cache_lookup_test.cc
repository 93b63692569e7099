#include "cache/cache_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_time.h"
#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

constexpr std::time_t kItemTime = 1'000'000'000;

TEST(CacheLookup, LoadsTheWholeItemWithTheOriginsTime) {
  platform::TempDir dir;
  const std::string file = dir.Write("host/index.html", std::string("body\0with nul", 13));
  platform::SetLastWriteTime(file, platform::FileTime{kItemTime} * 1'000'000'000);
  const std::optional<CachedItem> item = CacheLookup(file, 7, std::time(nullptr));
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(item->Body, std::string("body\0with nul", 13));
  EXPECT_EQ(item->LastModified, kItemTime);
  EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(CacheLookup, AnExpiredItemServesOnceMoreAndIsDeleted) {
  platform::TempDir dir;
  const std::string file = dir.Write("host/a.gif", "GIF89a");
  // Expiry 0: the item entered the cache no later than now, so it has expired.
  const std::optional<CachedItem> item = CacheLookup(file, 0, std::time(nullptr) + 1);
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(item->Body, "GIF89a");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(CacheLookup(file, 0, std::time(nullptr)).has_value());
}

TEST(CacheLookup, MissesWhatIsNotARegularFile) {
  platform::TempDir dir;
  EXPECT_FALSE(CacheLookup(dir.File("absent"), 7, std::time(nullptr)).has_value());
  std::filesystem::create_directories(dir.File("host/dir"));
  EXPECT_FALSE(CacheLookup(dir.File("host/dir"), 7, std::time(nullptr)).has_value());
  const std::string outside = dir.Write("outside", "secret");
  std::filesystem::create_symlink(outside, dir.File("host/link"));
  EXPECT_FALSE(CacheLookup(dir.File("host/link"), 7, std::time(nullptr)).has_value());
}

}  // namespace
}  // namespace tenvar::cache
