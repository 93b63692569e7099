#include "cache/cache_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

// A symbolic link could lead a lookup to any file of the machine.
TEST(CacheLookup, MissesWhatIsNotARegularFile) {
  platform::TempDir dir;
  std::atomic<std::int32_t> items{0};
  std::atomic<double> sizeMB{0.0};
  std::filesystem::create_directories(dir.File("host/dir"));
  std::filesystem::create_symlink(dir.Write("outside", "secret"), dir.File("host/link"));
  for (const char* name : {"absent", "host/dir", "host/link"}) {
    EXPECT_FALSE(CacheLookup(dir.Path(), dir.File(name), 7, std::time(nullptr), {items, sizeMB}))
        << name;
  }
}

}  // namespace
}  // namespace tenvar::cache
