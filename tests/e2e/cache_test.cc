// The shared disk cache as browsers see it: items served from the disk, what is never kept,
// expiry, revalidation, and requests that try to reach files outside the cache.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>

#include "platform/file_time.h"
#include "tests/e2e/office_fixture.h"
#include "tests/e2e/raw_client.h"

namespace tenvar::e2e {
namespace {

class Cache : public OfficeTest {
 protected:
  OfficeOptions Cached() {
    OfficeOptions options;
    options.UseCache = true;
    options.Debug = true;
    return options;
  }
  std::string CacheFile(std::string_view relative) const {
    return dir_.File("cache/127.0.0.1/" + std::string(relative));
  }
  // How many requests for `path` reached the origin, once at least `atLeast` have been
  // logged: nginx writes its log line after the answer, so the count may lag a moment.
  int OriginRequests(std::string_view path, int atLeast = 1) const {
    for (int wait = 0; wait < 500 && CountOriginRequests(path) < atLeast; ++wait) {
      ::poll(nullptr, 0, 10);
    }
    return CountOriginRequests(path);
  }
  int CountOriginRequests(std::string_view path) const {
    const std::string log = origin_->AccessLog();
    const std::string needle = "GET " + std::string(path) + " HTTP";
    int count = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
      ++count;
    }
    return count;
  }
  // Fetches through the proxy and reads until it closes the connection: by then the session
  // has stored what it was going to store.
  RawReply FetchToClose(std::string_view path, std::string_view method = "GET") {
    return SplitReply(Exchange(
        kProxyPort, std::string(method) + " " + OriginServer::Url(path) + " HTTP/1.0\r\n\r\n"));
  }
  static int StatusOf(const RawReply& reply) {
    const size_t space = reply.StatusLine.find(' ');
    return space == std::string::npos ? 0 : std::atoi(reply.StatusLine.c_str() + space + 1);
  }
  static std::string HeaderValue(const std::string& headers, const std::string& name) {
    const size_t at = headers.find(name + ": ");
    if (at == std::string::npos) return "";
    const size_t end = headers.find("\r\n", at);
    return headers.substr(at + name.size() + 2, end - at - name.size() - 2);
  }
};

TEST_F(Cache, ASecondGetIsServedFromTheDiskWithTheOriginsDate) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  origin_->Add("docs/index.html", "<p>index</p>");
  origin_->Add("a*b.txt", "starred");

  const RawReply first = FetchToClose("/small.txt");
  ASSERT_EQ(StatusOf(first), 200);
  ASSERT_TRUE(std::filesystem::exists(CacheFile("small.txt")));
  const CurlResult second = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(second.Status, 200);
  EXPECT_EQ(second.Body, origin_->Content("small.txt"));
  EXPECT_FALSE(HeaderValue(first.Headers, "Last-Modified").empty());
  EXPECT_EQ(HeaderValue(second.Headers, "Last-Modified"),
            HeaderValue(first.Headers, "Last-Modified"));
  EXPECT_EQ(OriginRequests("/small.txt"), 1);
  EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Retrieved 127.0.0.1/small.txt from cache"));

  // A HEAD answered from the cache gets the header block alone.
  const CurlResult head = Fetch({"-I", OriginServer::Url("/small.txt")});
  EXPECT_EQ(head.Status, 200);
  EXPECT_EQ(HeaderValue(head.Headers, "Content-Length"),
            std::to_string(origin_->Content("small.txt").size()));
  EXPECT_EQ(OriginRequests("/small.txt"), 1);

  ASSERT_EQ(StatusOf(FetchToClose("/docs/")), 200);
  EXPECT_EQ(platform::ReadFileText(CacheFile("docs/index.html")), "<p>index</p>");
  ASSERT_EQ(StatusOf(FetchToClose("/a*b.txt")), 200);
  EXPECT_EQ(platform::ReadFileText(CacheFile("a_b.txt")), "starred");
}

TEST_F(Cache, KeepsNoQueryPostFailureOrNoStoreAnswer) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  EXPECT_EQ(StatusOf(FetchToClose("/small.txt?x=1")), 200);
  EXPECT_EQ(Fetch({"--data", "x", OriginServer::Url("/upload")}).Status, 200);
  EXPECT_EQ(StatusOf(FetchToClose("/missing.txt")), 404);
  EXPECT_EQ(StatusOf(FetchToClose("/nostore.txt")), 200);
  // Asked for with HTTP/1.1, so that the origin answers chunked.
  EXPECT_EQ(Fetch({OriginServer::Url("/chunked.txt")}).Status, 200);
  EXPECT_TRUE(tenvar_->WaitForConsole("Response is encoded, not caching"));
  EXPECT_TRUE(tenvar_->WaitForConsole("Server told us not to cache, not caching"));
  EXPECT_TRUE(tenvar_->WaitForConsole("404 response received, not caching"));
  std::error_code error;
  std::vector<std::string> stored;
  for (std::filesystem::recursive_directory_iterator it(dir_.File("cache"), error), end; it != end;
       it.increment(error)) {
    if (it->is_regular_file()) stored.push_back(it->path().string());
  }
  EXPECT_EQ(stored, std::vector<std::string>{});
}

TEST_F(Cache, ExclusionsAndTheLimitRefuseItems) {
  OfficeOptions options = Cached();
  options.CacheExclusions = "small\n";
  options.LimitCache = true;
  options.CacheLimit = 0;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  EXPECT_EQ(StatusOf(FetchToClose("/small.txt")), 200);
  EXPECT_TRUE(tenvar_->WaitForConsole("Not caching, URL is in cache exclusion list"));
  EXPECT_FALSE(std::filesystem::exists(CacheFile("small.txt")));

  EXPECT_EQ(StatusOf(FetchToClose("/medium.bin")), 200);  // an empty cache takes one
  EXPECT_TRUE(std::filesystem::exists(CacheFile("medium.bin")));
  EXPECT_EQ(StatusOf(FetchToClose("/big.bin")), 200);
  EXPECT_TRUE(tenvar_->WaitForConsole("Not caching, cache is full"));
  EXPECT_FALSE(std::filesystem::exists(CacheFile("big.bin")));
}

TEST_F(Cache, ExpiryZeroServesTheItemOnceMoreAndDeletesIt) {
  OfficeOptions options = Cached();
  options.CacheExpiry = 0;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  ASSERT_EQ(StatusOf(FetchToClose("/small.txt")), 200);
  ASSERT_TRUE(std::filesystem::exists(CacheFile("small.txt")));

  const CurlResult hit = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(hit.Body, origin_->Content("small.txt"));
  EXPECT_EQ(OriginRequests("/small.txt"), 1);
  EXPECT_FALSE(std::filesystem::exists(CacheFile("small.txt")));

  EXPECT_EQ(StatusOf(FetchToClose("/small.txt")), 200);
  EXPECT_EQ(OriginRequests("/small.txt", 2), 2);
}

TEST_F(Cache, AlwaysGetNewestServesTheCopyOn304AndStoresANewerItem) {
  OfficeOptions options = Cached();
  options.AlwaysGetNewest = true;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  ASSERT_EQ(StatusOf(FetchToClose("/small.txt")), 200);

  // The browser's own If-Modified-Since never reaches the origin beside the proxy's.
  const CurlResult revalidated = Fetch(
      {"-H", "If-Modified-Since: Sat, 01 Jan 2000 00:00:00 GMT", OriginServer::Url("/small.txt")});
  EXPECT_EQ(revalidated.Status, 200);
  EXPECT_EQ(revalidated.Body, origin_->Content("small.txt"));
  EXPECT_TRUE(tenvar_->WaitForConsole("304 - we have latest version"));
  EXPECT_EQ(OriginRequests("/small.txt", 2), 2);

  origin_->Add("small.txt", "A newer text.\n");
  const std::string file = dir_.File("origin/www/small.txt");
  platform::SetLastWriteTime(file, (std::time(nullptr) + 3600) * platform::FileTime{1'000'000'000});
  const RawReply newer = FetchToClose("/small.txt");
  EXPECT_EQ(StatusOf(newer), 200);
  EXPECT_EQ(newer.Body, "A newer text.\n");
  EXPECT_TRUE(tenvar_->WaitForConsole("200 - item is out of date"));
  EXPECT_EQ(platform::ReadFileText(CacheFile("small.txt")), "A newer text.\n");
}

TEST_F(Cache, AnExpiredItemStillAnswersTheRevalidationThatDeletedIt) {
  OfficeOptions options = Cached();
  options.AlwaysGetNewest = true;
  options.CacheExpiry = 0;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  ASSERT_EQ(StatusOf(FetchToClose("/small.txt")), 200);
  const CurlResult revalidated = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_TRUE(tenvar_->WaitForConsole("304 - we have latest version"));
  EXPECT_EQ(revalidated.Status, 200);
  EXPECT_EQ(revalidated.Body, origin_->Content("small.txt"));
  EXPECT_FALSE(std::filesystem::exists(CacheFile("small.txt")));
}

TEST_F(Cache, RequestsAimedOutsideTheCacheTouchNothingThere) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  // What a lookup that escaped the cache directory would find and serve.
  const std::string secret = dir_.Write("secret.txt", "not for browsers");
  dir_.Write("cache/secret.txt", "not for browsers either");
  const std::string requests[] = {
      "GET http://127.0.0.1:8081/../../secret.txt HTTP/1.0\r\n\r\n",
      "GET http://127.0.0.1:8081/a/../../../secret.txt HTTP/1.0\r\n\r\n",
      "GET http://..:8081/secret.txt HTTP/1.0\r\n\r\n",
      "GET http://..:8081/../secret.txt HTTP/1.0\r\n\r\n",
  };
  for (const std::string& request : requests) {
    const std::string reply = Exchange(kProxyPort, request);
    EXPECT_EQ(reply.find("not for browsers"), std::string::npos) << request;
  }
  EXPECT_EQ(platform::ReadFileText(secret), "not for browsers");
  EXPECT_EQ(platform::ReadFileText(dir_.File("cache/secret.txt")), "not for browsers either");
  const auto entries = std::distance(std::filesystem::directory_iterator(dir_.Path()), {});
  EXPECT_TRUE(std::filesystem::exists(dir_.File("cache/secret.txt")));
  EXPECT_GT(entries, 0);
}

}  // namespace
}  // namespace tenvar::e2e
