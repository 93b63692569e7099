#include "cache/cache_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_time.h"
#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

constexpr std::time_t kItemTime = 1'000'000'000;

struct LookupFixture {
  platform::TempDir dir;
  std::atomic<std::int32_t> items{0};
  std::atomic<double> sizeMB{0.0};

  std::optional<CachedItem> Lookup(const std::string& name, std::int32_t expiryDays,
                                   std::time_t now) {
    return CacheLookup(dir.Path(), name, expiryDays, now, {items, sizeMB});
  }
};

std::string BodyOf(const CachedItem& item) {
  std::string body;
  char block[3];
  for (long got; (got = ReadItemBody(item, block, sizeof block)) > 0;) body.append(block, got);
  return body;
}

TEST(CacheLookup, OpensTheWholeItemWithTheOriginsTime) {
  LookupFixture fixture;
  const std::string file = fixture.dir.Write("host/index.html", std::string("body\0with nul", 13));
  platform::SetLastWriteTime(file, platform::FileTime{kItemTime} * 1'000'000'000);
  const std::optional<CachedItem> item = fixture.Lookup(file, 7, std::time(nullptr));
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(item->Size, 13u);
  EXPECT_EQ(BodyOf(*item), std::string("body\0with nul", 13));
  EXPECT_EQ(item->LastModified, kItemTime);
  EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(CacheLookup, AnExpiredItemServesOnceMoreAndIsDeletedAndUncounted) {
  LookupFixture fixture;
  fixture.items = 1;
  fixture.sizeMB = 6 / 1048576.0;
  const std::string file = fixture.dir.Write("host/a.gif", "GIF89a");
  fixture.dir.Write(".headers/host/a.gif", "not ours, but it goes with the item");
  // Expiry 0: the item entered the cache no later than now, so it has expired.
  std::optional<CachedItem> item = fixture.Lookup(file, 0, std::time(nullptr) + 1);
  // Headers that do not belong to the body make it a miss; without them it is served.
  EXPECT_FALSE(item.has_value());
  std::filesystem::remove(fixture.dir.File(".headers/host/a.gif"));
  item = fixture.Lookup(file, 0, std::time(nullptr) + 1);
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(BodyOf(*item), "GIF89a");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(fixture.items, 0);
  EXPECT_NEAR(fixture.sizeMB, 0.0, 1e-12);
  EXPECT_FALSE(fixture.Lookup(file, 0, std::time(nullptr)).has_value());
}

TEST(CacheLookup, MissesWhatIsNotARegularFile) {
  LookupFixture fixture;
  EXPECT_FALSE(fixture.Lookup(fixture.dir.File("absent"), 7, std::time(nullptr)).has_value());
  std::filesystem::create_directories(fixture.dir.File("host/dir"));
  EXPECT_FALSE(fixture.Lookup(fixture.dir.File("host/dir"), 7, std::time(nullptr)).has_value());
  const std::string outside = fixture.dir.Write("outside", "secret");
  std::filesystem::create_symlink(outside, fixture.dir.File("host/link"));
  EXPECT_FALSE(fixture.Lookup(fixture.dir.File("host/link"), 7, std::time(nullptr)).has_value());
}

}  // namespace
}  // namespace tenvar::cache
