#include "cache/cache_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

// What is not a regular file is missed: a symbolic link could lead a lookup to any file of
// the machine. CacheExpiry counts whole days from the item's creation: the item stays through
// the last second of its last day and goes after that, still serving the lookup that finds it
// gone.
TEST(CacheLookup, MissesWhatIsNotAFileAndDeletesAnItemCacheExpiryDaysAfterItWasCreated) {
  platform::TempDir dir;
  std::atomic<std::int32_t> items{1};
  std::atomic<double> sizeMB{0.0};
  std::filesystem::create_directories(dir.File("host/dir"));
  std::filesystem::create_symlink(dir.Write("outside", "secret"), dir.File("host/link"));
  for (const char* name : {"absent", "host/dir", "host/link"}) {
    EXPECT_FALSE(CacheLookup(dir.Path(), dir.File(name), 7, std::time(nullptr), {items, sizeMB}))
        << name;
  }
  constexpr std::time_t kDay = 86400;
  const struct {
    std::int32_t ExpiryDays;
    std::time_t Later;
    bool Stays;
  } kCases[] = {
      {1, 2 * 3600, true}, {1, kDay - 60, true},      {1, kDay + 60, false},
      {7, 6 * kDay, true}, {7, 7 * kDay + 60, false}, {0, 0, false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(testing::Message() << test.ExpiryDays << " days, " << test.Later << " s on");
    items = 1;
    const std::string item = dir.Write("host/item", "body");
    const std::optional<CachedItem> found = CacheLookup(
        dir.Path(), item, test.ExpiryDays, std::time(nullptr) + test.Later, {items, sizeMB});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Size, 4u);
    EXPECT_EQ(std::filesystem::exists(item), test.Stays);
    EXPECT_EQ(items.load(), test.Stays ? 1 : 0);
  }
}

}  // namespace
}  // namespace tenvar::cache
