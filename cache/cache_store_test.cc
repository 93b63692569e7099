#include "cache/cache_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "cache/cache_lookup.h"
#include "platform/file_time.h"
#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

using Lines = std::vector<std::string>;

struct StoreFixture {
  std::atomic<std::int32_t> items{0};
  std::atomic<double> sizeMB{0.0};
  Lines log;

  bool Store(const CacheStoreRequest& request) {
    return CacheStore(request, {items, sizeMB},
                      [this](std::string_view line) { log.emplace_back(line); });
  }
};

TEST(CacheStore, WritesTheItemWithTheOriginsTimeAndCountsIt) {
  platform::TempDir dir;
  StoreFixture fixture;
  const std::string name = dir.File("host/a/b/c.html");
  const std::string body(1048576, 'x');
  ASSERT_TRUE(fixture.Store({name, "/a/b/c.html", body, 1'000'000'000, nullptr, false, 0}));
  EXPECT_EQ(fixture.log, Lines{"Creating cache file: " + name});
  EXPECT_EQ(platform::ReadFileText(name), body);
  EXPECT_EQ(platform::LastWriteTime(name), platform::FileTime{1'000'000'000} * 1'000'000'000);
  EXPECT_EQ(fixture.items, 1);
  EXPECT_DOUBLE_EQ(fixture.sizeMB, 1.0);

  // Storing again replaces the file but counts again, until the next start-up scan.
  ASSERT_TRUE(fixture.Store({name, "/a/b/c.html", "new", 1'000'000'000, nullptr, false, 0}));
  EXPECT_EQ(platform::ReadFileText(name), "new");
  EXPECT_EQ(fixture.items, 2);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("host/a/b")), {}), 1);
}

TEST(CacheStore, RefusesInTheDescribedOrder) {
  platform::TempDir dir;
  const std::string name = dir.File("host/x");
  const std::vector<std::string> exclusions = {"ads", "host/x"};
  const std::string longName(261, 'n');
  const struct {
    CacheStoreRequest request;
    const char* refusal;
  } cases[] = {
      {{"", "/q?x", "", 0, nullptr, false, 0}, "Not caching, filename has errors"},
      {{longName, "/", "b", 0, nullptr, false, 0}, "Not caching, filename is too long"},
      {{name, "/x?y", "b", 0, nullptr, false, 0}, "Not caching, URL has ? character"},
      {{name, "/x", "", 0, nullptr, false, 0}, "Not caching, response buffer is empty"},
      {{name, "/x", "b", 0, &exclusions, false, 0}, "Not caching, URL is in cache exclusion list"},
  };
  for (const auto& c : cases) {
    StoreFixture fixture;
    EXPECT_FALSE(fixture.Store(c.request));
    ASSERT_FALSE(fixture.log.empty());
    EXPECT_EQ(fixture.log.back(), c.refusal);
    EXPECT_EQ(fixture.items, 0);
  }
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(CacheStore, ALimitOfZeroTakesOneItemAndAnIgnoredLimitTakesAll) {
  platform::TempDir dir;
  StoreFixture limited;
  EXPECT_TRUE(limited.Store({dir.File("h/1"), "/1", "a", 0, nullptr, true, 0}));
  EXPECT_FALSE(limited.Store({dir.File("h/2"), "/2", "b", 0, nullptr, true, 0}));
  EXPECT_EQ(limited.log.back(), "Not caching, cache is full");

  StoreFixture unlimited;
  unlimited.sizeMB = 500.0;
  EXPECT_TRUE(unlimited.Store({dir.File("h/3"), "/3", "c", 0, nullptr, false, 0}));
}

TEST(CacheStore, AFailedWriteLeavesNoItemAndCountsNothing) {
  platform::TempDir dir;
  const std::string name = dir.File("host/big.bin");
  // In a child limited to 4 KiB per file, so the write fails part way.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    StoreFixture fixture;
    const bool stored =
        fixture.Store({name, "/big.bin", std::string(65536, 'z'), 0, nullptr, false, 0});
    ::_exit(stored || fixture.items != 0 || fixture.sizeMB != 0.0 ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(CacheLookup(name, 7, std::time(nullptr)).has_value());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("host")), {}), 0);
}

TEST(CacheStore, ConcurrentStoresLoseNoCountAndReadersSeeWholeItems) {
  platform::TempDir dir;
  StoreFixture fixture;
  const std::string shared = dir.File("host/shared");
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string body(4096, static_cast<char>('a' + t));
      for (int i = 0; i < 50; ++i) {
        CacheStore({shared, "/shared", body, 0, nullptr, false, 0}, {fixture.items, fixture.sizeMB},
                   [](std::string_view) {});
        if (auto item = CacheLookup(shared, 7, std::time(nullptr))) {
          if (item->Body.size() != 4096 ||
              item->Body.find_first_not_of(item->Body[0]) != std::string::npos) {
            torn = true;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(torn);
  EXPECT_EQ(fixture.items, 200);
  EXPECT_DOUBLE_EQ(fixture.sizeMB, 200 * 4096 / 1048576.0);
}

}  // namespace
}  // namespace tenvar::cache
