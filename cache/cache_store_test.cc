#include "cache/cache_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "cache/cache_lookup.h"
#include "cache/cache_path.h"
#include "platform/file_time.h"
#include "platform/read_file.h"
#include "platform/temp_dir.h"

namespace tenvar::cache {
namespace {

using Lines = std::vector<std::string>;

std::size_t FilesBelow(const std::string& folder) {
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file()) ++count;
  }
  return count;
}

struct StoreFixture {
  platform::TempDir dir;
  std::atomic<std::int32_t> items{0};
  std::atomic<double> sizeMB{0.0};
  Lines log;

  CacheCounters Counters() { return {items, sizeMB}; }
  std::string CacheDir() const { return dir.Path(); }
  // Writes `body` through an ItemWriter, as a relayed answer is, and stores it.
  bool Store(CacheStoreRequest request, std::string_view body) {
    const std::string cacheDir = CacheDir();
    request.CacheDir = cacheDir;
    std::optional<ItemWriter> writer = ItemWriter::Begin(cacheDir);
    if (!writer || !writer->Write(body)) return false;
    return CacheStore(request, *writer, Counters(),
                      [this](std::string_view line) { log.emplace_back(line); });
  }
  std::optional<CachedItem> Lookup(const std::string& name, std::int32_t expiryDays = 7) {
    return CacheLookup(CacheDir(), name, expiryDays, std::time(nullptr), Counters());
  }
};

std::string BodyOf(const CachedItem& item) {
  std::string body;
  char block[4096];
  for (platform::SysResult got; (got = platform::ReadSome(item.Body.Get(), block)).Value > 0;) {
    body.append(block, static_cast<std::size_t>(got.Value));
  }
  return body;
}

TEST(CacheStore, WritesTheItemWithTheOriginsTimeAndReplacesItsSizeWhenStoredAgain) {
  StoreFixture fixture;
  const std::string name = fixture.dir.File("host/a/b/c.html");
  const std::string body(1048576, 'x');
  ASSERT_TRUE(fixture.Store({{}, name, "/a/b/c.html", 1'000'000'000}, body));
  EXPECT_EQ(fixture.log, Lines{"Creating cache file: " + name});
  EXPECT_EQ(platform::ReadFileText(name), body);
  EXPECT_EQ(platform::LastWriteTime(name), platform::FileTime{1'000'000'000} * 1'000'000'000);
  EXPECT_EQ(fixture.items, 1);
  EXPECT_DOUBLE_EQ(fixture.sizeMB, 1.0);

  ASSERT_TRUE(fixture.Store({{}, name, "/a/b/c.html", 1'000'000'000}, "new"));
  EXPECT_EQ(platform::ReadFileText(name), "new");
  EXPECT_EQ(fixture.items, 1);
  EXPECT_DOUBLE_EQ(fixture.sizeMB, 3 / 1048576.0);
  EXPECT_EQ(FilesBelow(fixture.dir.File("host")), 1u);
  EXPECT_EQ(FilesBelow(fixture.dir.File(std::string(kPartialFolder))), 0u);
}

// The exclusion list is refused in the whole-program tests.
TEST(CacheStore, ReportsTheFirstReasonToRefuseAndKeepsNothing) {
  const std::string longName(261, 'n');
  const struct {
    std::string name;
    const char* path;
    const char* body;
    const char* refusal;
  } cases[] = {
      {"", "/q?x", "", "Not caching, filename has errors"},
      {longName, "/", "b", "Not caching, filename is too long"},
      {"host/x", "/x?y", "b", "Not caching, URL has ? character"},
      {"host/x", "/x", "", "Not caching, response buffer is empty"},
  };
  for (const auto& c : cases) {
    StoreFixture fixture;
    const std::string name = c.name.starts_with("host") ? fixture.dir.File(c.name) : c.name;
    EXPECT_FALSE(fixture.Store({{}, name, c.path, 0}, c.body));
    ASSERT_FALSE(fixture.log.empty());
    EXPECT_EQ(fixture.log.back(), c.refusal);
    EXPECT_EQ(fixture.items, 0);
    EXPECT_EQ(FilesBelow(fixture.CacheDir()), 0u) << c.refusal;
  }
}

TEST(CacheStore, KeptHeadersComeBackWithTheirBodyOnlyWhileTheyBelongToIt) {
  StoreFixture fixture;
  const std::string name = fixture.dir.File("host/page");
  KeptHeaders headers;
  headers.StoredAt = 1000;
  headers.Lifetime = 60;
  headers.Fields = "Content-Type: text/html\r\nX-Content-Type-Options: nosniff\r\n";
  ASSERT_TRUE(fixture.Store({{}, name, "/page", 0, nullptr, false, 0, &headers}, "<p>"));
  std::optional<CachedItem> item = fixture.Lookup(name);
  ASSERT_TRUE(item && item->Headers);

  // A body put in place without its headers (a store cut off between the two renames, or
  // one from before headers were kept) never goes out under another body's headers.
  const std::string headersFile = KeptHeadersPathFor(fixture.CacheDir(), name);
  const std::string kept = platform::ReadFileText(headersFile);
  std::filesystem::remove(name);
  fixture.dir.Write("host/page", "<p>");  // same size, another file
  EXPECT_FALSE(fixture.Lookup(name).has_value());
  std::filesystem::remove(headersFile);
  item = fixture.Lookup(name);
  ASSERT_TRUE(item.has_value());
  EXPECT_FALSE(item->Headers.has_value());

  // A store without headers takes away those of the item it replaces.
  fixture.dir.Write(".headers/host/page", kept);
  ASSERT_TRUE(fixture.Store({{}, name, "/page", 0}, "<p>"));
  EXPECT_FALSE(std::filesystem::exists(headersFile));
}

TEST(CacheStore, AFailedWriteLeavesNoItemAndCountsNothing) {
  StoreFixture parent;
  const std::string name = parent.dir.File("host/big.bin");
  // In a child limited to 4 KiB per file, so the write fails part way.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool stored = parent.Store({{}, name, "/big.bin", 0}, std::string(65536, 'z'));
    ::_exit(stored || parent.items != 0 || parent.sizeMB != 0.0 ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(parent.Lookup(name).has_value());
  EXPECT_EQ(FilesBelow(parent.CacheDir()), 0u);
}

// Those of the cache's own folder are left by a killed program in the whole-program tests.
TEST(CacheStore, LeftoversOfUnfinishedStoresGoAtStartUp) {
  StoreFixture fixture;
  fixture.dir.Write("host/a/page.html.partial-Ab3xYz", "half an old item");
  fixture.dir.Write("host/a/page.html", "an item");
  fixture.dir.Write("host/notes.partial-long-name", "an item too");
  RemoveUnfinishedStores(fixture.CacheDir());
  EXPECT_EQ(FilesBelow(fixture.CacheDir()), 2u);
  EXPECT_FALSE(std::filesystem::exists(fixture.dir.File("host/a/page.html.partial-Ab3xYz")));
}

TEST(CacheStore, ConcurrentStoresCountOneItemAndReadersSeeWholeItems) {
  StoreFixture fixture;
  const std::string shared = fixture.dir.File("host/shared");
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string body(4096, static_cast<char>('a' + t));
      KeptHeaders headers;
      headers.Fields = std::string("X-Writer: ") + static_cast<char>('a' + t) + "\r\n";
      for (int i = 0; i < 50; ++i) {
        std::optional<ItemWriter> writer = ItemWriter::Begin(fixture.CacheDir());
        if (!writer || !writer->Write(body)) torn = true;
        CacheStore({fixture.CacheDir(), shared, "/shared", 0, nullptr, false, 0, &headers}, *writer,
                   fixture.Counters(), [](std::string_view) {});
        if (auto item = fixture.Lookup(shared)) {
          const std::string seen = BodyOf(*item);
          if (seen.size() != 4096 || seen.find_first_not_of(seen[0]) != std::string::npos ||
              (item->Headers && item->Headers->Fields.find(seen[0]) == std::string::npos)) {
            torn = true;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(torn);
  EXPECT_EQ(fixture.items, 1);
  EXPECT_NEAR(fixture.sizeMB, 4096 / 1048576.0, 1e-12);
}

}  // namespace
}  // namespace tenvar::cache
