// The shared disk cache as browsers see it: items served from the disk with the origin's
// headers, what is never kept or never shared, lifetimes, expiry, revalidation, forced
// reloads, changes through other methods, stores cut off, and requests that try to reach
// files outside the cache.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>

#include "platform/file_time.h"
#include "tests/e2e/office_fixture.h"
#include "tests/e2e/scripted_origin.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

class Cache : public OfficeTest {
 protected:
  static OfficeOptions Cached() { return {.Debug = true, .UseCache = true}; }
  std::string CacheFile(std::string_view relative) const {
    return dir_.File("cache/127.0.0.1:8081/" + std::string(relative));
  }
  // Every file below `folder` of the test directory.
  std::vector<std::string> FilesBelow(const std::string& folder) const {
    std::error_code error;
    std::vector<std::string> files;
    for (std::filesystem::recursive_directory_iterator it(dir_.File(folder), error), end;
         !error && it != end; it.increment(error)) {
      if (it->is_regular_file()) files.push_back(it->path().string());
    }
    return files;
  }
  // How many requests for `path` reached the origin, once at least `atLeast` have been
  // logged: nginx writes its log line after the answer, so the count may lag a moment.
  int OriginRequests(std::string_view path, int atLeast = 1) const {
    const std::string line = "GET " + std::string(path) + " HTTP";
    const auto count = [&] { return static_cast<int>(Occurrences(origin_->Log(), line)); };
    for (int wait = 0; wait < 500 && count() < atLeast; ++wait) ::poll(nullptr, 0, 10);
    return count();
  }
  // Fetches through the proxy, with header lines ("Name: value\r\n") added, and reads until
  // the proxy closes the connection: by then the session has stored what it was going to.
  RawReply FetchUrl(const std::string& url, std::string_view headerLines = "",
                    std::string_view method = "GET", std::string_view body = "") {
    return SplitReply(Exchange(kProxyPort,
                               std::string(method) + " " + url + " HTTP/1.0\r\n" +
                                   std::string(headerLines) + "\r\n" + std::string(body),
                               std::chrono::seconds(60)));
  }
  RawReply FetchToClose(std::string_view path) { return FetchUrl(OriginServer::Url(path)); }
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

  // A newer version larger than memory holds arrives whole and replaces the item.
  const std::string newer = RandomBytes(40 << 20, 3);
  origin_->Add("small.txt", newer);
  platform::SetLastWriteTime(dir_.File("origin/www/small.txt"),
                             (std::time(nullptr) + 3600) * platform::FileTime{1'000'000'000});
  const RawReply reply = FetchToClose("/small.txt");
  EXPECT_EQ(StatusOf(reply), 200);
  EXPECT_EQ(HeaderValue(reply.Headers, "Content-Length"), std::to_string(newer.size()));
  EXPECT_EQ(reply.Body.size(), newer.size());
  EXPECT_TRUE(reply.Body == newer);
  EXPECT_TRUE(tenvar_->WaitForConsole("200 - item is out of date"));
  EXPECT_TRUE(platform::ReadFileText(CacheFile("small.txt")) == newer);

  // An expired item still answers the revalidation that deletes it.
  options.CacheExpiry = 0;
  tenvar_.reset();
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  EXPECT_TRUE(FetchToClose("/small.txt").Body == newer);
  EXPECT_TRUE(tenvar_->WaitForConsole("304 - we have latest version"));
  EXPECT_FALSE(std::filesystem::exists(CacheFile("small.txt")));
}

TEST_F(Cache, OneUsersAnswersAreNeverSharedAndOrdinaryPagesAre) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  origin_->Add("authorized.txt", "Only for the one who logged in.\n");
  origin_->Add("cookie.txt", "Only for the one with the cookie.\n");
  const struct {
    const char* path;
    const char* request;  // header lines added to both requests
    bool shared;
  } cases[] = {
      {"/private.txt", "", false},
      {"/set-cookie.txt", "", false},
      {"/vary-cookie.txt", "", false},
      {"/authorized.txt", "Authorization: Basic dXNlcjpwdw==\r\n", false},
      {"/cookie.txt", "Cookie: id=1\r\n", false},
      {"/max-age-0.txt", "", false},
      {"/expired.txt", "", false},
      {"/small.txt", "", true},
      {"/vary-encoding.txt", "Accept-Encoding: identity\r\n", true},
      {"/max-age.txt", "Cookie: id=1\r\n", true},
  };
  for (const auto& c : cases) {
    const std::string content = origin_->Content(std::string(c.path).substr(1));
    for (int fetch = 0; fetch < 2; ++fetch) {
      const RawReply reply = FetchUrl(OriginServer::Url(c.path), c.request);
      EXPECT_EQ(StatusOf(reply), 200) << c.path;
      EXPECT_EQ(reply.Body, content) << c.path;
    }
    if (c.shared) {
      EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Retrieved 127.0.0.1" + std::string(c.path) +
                                          " from cache"))
          << c.path;
      EXPECT_EQ(OriginRequests(c.path), 1) << c.path;
    } else {
      EXPECT_EQ(OriginRequests(c.path, 2), 2) << c.path;
    }
  }
}

// The item lies in a folder of its host and port.
TEST_F(Cache, AHitCarriesTheOriginsHeadersAHeadGetsThemAloneAndAChunkedAnswerLosesItsFraming) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  // curl ends at the Content-Length, before the session does: the item must be in place
  // by then for the next request to find it.
  const CurlResult first = Fetch({OriginServer::Url("/about")});
  ASSERT_EQ(first.Status, 200);
  const RawReply hit = FetchToClose("/about");
  EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Retrieved 127.0.0.1/about from cache"));
  EXPECT_EQ(OriginRequests("/about"), 1);
  EXPECT_EQ(hit.Body, origin_->Content("about"));
  EXPECT_EQ(HeaderValue(hit.Headers, "Content-Type"), "text/html");
  EXPECT_EQ(HeaderValue(hit.Headers, "X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(HeaderValue(hit.Headers, "Content-Length"), std::to_string(hit.Body.size()));
  EXPECT_FALSE(HeaderValue(hit.Headers, "Last-Modified").empty());
  EXPECT_EQ(HeaderValue(hit.Headers, "Last-Modified"), HeaderValue(first.Headers, "Last-Modified"));
  EXPECT_FALSE(HeaderValue(hit.Headers, "Age").empty());
  EXPECT_EQ(platform::ReadFileText(CacheFile("about")), origin_->Content("about"));
  const CurlResult head = Fetch({"-I", OriginServer::Url("/about")});
  EXPECT_EQ(head.Status, 200);
  EXPECT_EQ(HeaderValue(head.Headers, "Content-Length"), std::to_string(hit.Body.size()));
  EXPECT_EQ(OriginRequests("/about"), 1);

  // A chunked answer (asked for with HTTP/1.1) is kept without its framing.
  const CurlResult chunked = Fetch({OriginServer::Url("/chunked.txt")});
  ASSERT_EQ(chunked.Status, 200);
  EXPECT_NE(chunked.Headers.find("Transfer-Encoding: chunked"), std::string::npos);
  const RawReply chunkedHit = FetchToClose("/chunked.txt");
  EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Retrieved 127.0.0.1/chunked.txt from cache"));
  EXPECT_EQ(OriginRequests("/chunked.txt"), 1);
  EXPECT_TRUE(chunkedHit.Body == origin_->Content("chunked.txt")) << chunkedHit.Body.size();
  EXPECT_EQ(HeaderValue(chunkedHit.Headers, "Content-Length"),
            std::to_string(chunkedHit.Body.size()));
  EXPECT_EQ(HeaderValue(chunkedHit.Headers, "Transfer-Encoding"), "");
}

TEST_F(Cache, AGzipItemGoesOnlyToBrowsersThatAcceptGzip) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  origin_->Add("gzip.html", "<p>plain</p>");
  origin_->Add("gzip.html.gz", "stands for the gzip bytes");
  const std::string url = OriginServer::Url("/gzip.html");
  for (int fetch = 0; fetch < 2; ++fetch) {
    const RawReply gzip = FetchUrl(url, "Accept-Encoding: gzip, deflate\r\n");
    EXPECT_EQ(gzip.Body, "stands for the gzip bytes");
    EXPECT_EQ(HeaderValue(gzip.Headers, "Content-Encoding"), "gzip");
  }
  EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Retrieved 127.0.0.1/gzip.html from cache"));
  EXPECT_EQ(OriginRequests("/gzip.html"), 1);
  const RawReply plain = FetchUrl(url);
  EXPECT_EQ(plain.Body, "<p>plain</p>");
  EXPECT_EQ(HeaderValue(plain.Headers, "Content-Encoding"), "");
  EXPECT_EQ(OriginRequests("/gzip.html", 2), 2);
}

TEST_F(Cache, AForcedReloadOrAStaleItemAsksTheOriginAndA304ServesTheItem) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  const struct {
    const char* path;
    const char* request;
  } cases[] = {
      {"/small.txt", "Cache-Control: no-cache\r\n"},
      {"/about", "Cache-Control: max-age=0\r\n"},
      {"/max-age.txt", "Pragma: no-cache\r\n"},
      {"/stale.txt", ""},  // its Age is past its max-age on arrival
  };
  for (const auto& c : cases) {
    ASSERT_EQ(StatusOf(FetchToClose(c.path)), 200) << c.path;
    const RawReply reloaded = FetchUrl(OriginServer::Url(c.path), c.request);
    EXPECT_EQ(StatusOf(reloaded), 200) << c.path;
    EXPECT_EQ(reloaded.Body, origin_->Content(std::string(c.path).substr(1))) << c.path;
    EXPECT_EQ(OriginRequests(c.path, 2), 2) << c.path;
    // The second request reached the origin conditional; its 304 has no body, so the body
    // above came from the item.
    const std::string log = origin_->Log();
    const size_t second = log.rfind("GET " + std::string(c.path) + " HTTP");
    EXPECT_EQ(log.substr(second, log.find('\n', second) - second).ends_with("|-"), false) << log;
  }
  EXPECT_TRUE(tenvar_->WaitForConsole("304 - we have latest version"));
}

TEST_F(Cache, NoAnswerToAQueryOrPostNorAFailureNoStoreCutShortOrCodedAnswerIsKept) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  // Each still reaches the browser as the server sent it.
  EXPECT_EQ(StatusOf(FetchToClose("/small.txt?x=1")), 200);
  EXPECT_EQ(Fetch({"--data", "x", OriginServer::Url("/upload")}).Status, 200);
  EXPECT_EQ(StatusOf(FetchToClose("/missing.txt")), 404);
  EXPECT_EQ(StatusOf(FetchToClose("/nostore.txt")), 200);
  EXPECT_TRUE(tenvar_->WaitForConsole("Server told us not to cache, not caching"));
  EXPECT_TRUE(tenvar_->WaitForConsole("404 response received, not caching"));
  const std::string half(500, 'h');
  const struct {
    std::string Answer;
    const char* Refusal;
  } kCases[] = {
      {"Content-Length: 1000\r\n\r\n" + half, "Response ended early, not caching"},
      {"Transfer-Encoding: chunked\r\n\r\n1f4\r\n" + half + "\r\n",
       "Response ended early, not caching"},
      {"Transfer-Encoding: gzip, chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       "Response is encoded, not caching"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.Answer.substr(0, 40));
    const std::string body = test.Answer.substr(test.Answer.find("\r\n\r\n") + 4);
    ScriptedOrigin origin("HTTP/1.1 200 OK\r\n" + test.Answer);
    for (int fetch = 1; fetch <= 2; ++fetch) {
      EXPECT_EQ(FetchUrl(origin.Url("/cut.bin")).Body, body);
      EXPECT_EQ(origin.Requests(), fetch);
    }
    EXPECT_TRUE(tenvar_->WaitForConsole(test.Refusal));
  }
  EXPECT_EQ(FilesBelow("cache"), std::vector<std::string>{});
}

TEST_F(Cache, AStoreKilledPartWayLeavesNothingToFetchNowOrAfterTheNextStart) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  ScriptedOrigin held(
      "HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n" + std::string(1'000'000, 'k'),
      /*holdFirst=*/true);
  const platform::UniqueFd browser = ConnectTo(kProxyPort);
  ASSERT_TRUE(browser.Valid());
  ASSERT_TRUE(SendAll(browser.Get(), "GET " + held.Url("/held.bin") + " HTTP/1.0\r\n\r\n"));
  // Until the store has written the body it was given so far.
  std::vector<std::string> partial;
  for (int wait = 0; wait < 1000; ++wait) {
    partial = FilesBelow("cache/.partial");
    if (partial.size() == 1 && std::filesystem::file_size(partial[0]) == 1'000'000) break;
    ::poll(nullptr, 0, 10);
  }
  ASSERT_EQ(partial.size(), 1u);
  ASSERT_TRUE(tenvar_->Child().Signal(SIGKILL));
  ASSERT_TRUE(tenvar_->Child().WaitFor(std::chrono::seconds(10)).has_value());
  held.Release();
  // Only the leftover is there, where no URL maps.
  EXPECT_EQ(FilesBelow("cache"), partial);

  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  EXPECT_EQ(FilesBelow("cache"), std::vector<std::string>{});
  FetchUrl(held.Url("/held.bin"));
  EXPECT_EQ(held.Requests(), 2);
}

TEST_F(Cache, AFortyMebibyteItemIsStoredAndServedWholeWithoutBeingHeldInMemory) {
  OfficeOptions options = Cached();
  options.AbuseKeywords = "casino\n";  // so every body is also searched as it passes
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  const std::string item = RandomBytes(40 << 20, 4);
  origin_->Add("forty.bin", item);

  for (const char* fetch : {"from the origin", "from the cache"}) {
    // As a browser on a slow line: a small receive buffer, so the proxy keeps finding no
    // room to send.
    const platform::UniqueFd fd = ConnectTo(kProxyPort);
    const int receiveBuffer = 16 * 1024;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ASSERT_TRUE(SendAll(fd.Get(), "GET " + OriginServer::Url("/forty.bin") + " HTTP/1.0\r\n\r\n"));
    const RawReply reply = SplitReply(ReadUntilClosed(fd.Get(), std::chrono::seconds(60)));
    EXPECT_EQ(StatusOf(reply), 200) << fetch;
    EXPECT_EQ(HeaderValue(reply.Headers, "Content-Length"), std::to_string(item.size())) << fetch;
    EXPECT_EQ(reply.Body.size(), item.size()) << fetch;
    EXPECT_TRUE(reply.Body == item) << fetch;
  }
  EXPECT_TRUE(platform::ReadFileText(CacheFile("forty.bin")) == item);
  EXPECT_EQ(OriginRequests("/forty.bin"), 1);
  EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Retrieved 127.0.0.1/forty.bin from cache"));
  // A bound well under the item's size: neither the relay, the keyword search, the store nor
  // the hit holds the body.
  std::ifstream status("/proc/" + std::to_string(tenvar_->Child().Pid()) + "/status");
  long peakKiB = 0;  // the most it has had resident at once
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) peakKiB = std::atol(line.c_str() + 6);
  }
  EXPECT_GT(peakKiB, 0);
#ifndef TENVAR_SANITIZED  // a sanitizer's shadow memory and quarantine are not ours
  EXPECT_LT(peakKiB, 32 * 1024);
#endif
  RecordProperty("PeakResidentKiB", std::to_string(peakKiB));
}

TEST_F(Cache, ExclusionsAndTheLimitRefuseItemsAndExpiredItemsMakeRoom) {
  OfficeOptions options = Cached();
  options.CacheExclusions = "about\n";
  options.LimitCache = true;  // with a limit of 0 bytes
  options.CacheExpiry = 0;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  EXPECT_EQ(StatusOf(FetchToClose("/about")), 200);
  EXPECT_TRUE(tenvar_->WaitForConsole("Not caching, URL is in cache exclusion list"));
  EXPECT_FALSE(std::filesystem::exists(CacheFile("about")));

  ASSERT_EQ(StatusOf(FetchToClose("/small.txt")), 200);  // an empty cache takes one
  ASSERT_TRUE(std::filesystem::exists(CacheFile("small.txt")));
  ASSERT_EQ(StatusOf(FetchToClose("/medium.bin")), 200);
  EXPECT_TRUE(tenvar_->WaitForConsole("Not caching, cache is full"));
  EXPECT_FALSE(std::filesystem::exists(CacheFile("medium.bin")));
  // The hit serves the expired item once more and deletes it: the cache is empty again.
  EXPECT_EQ(FetchToClose("/small.txt").Body, origin_->Content("small.txt"));
  EXPECT_EQ(OriginRequests("/small.txt"), 1);
  EXPECT_FALSE(std::filesystem::exists(CacheFile("small.txt")));
  ASSERT_EQ(StatusOf(FetchToClose("/medium.bin")), 200);
  EXPECT_TRUE(std::filesystem::exists(CacheFile("medium.bin")));
  EXPECT_EQ(StatusOf(FetchToClose("/small.txt")), 200);
  EXPECT_EQ(OriginRequests("/small.txt", 2), 2);
}

// Every method but GET and HEAD reaches the origin even when the URL is cached, and one that
// changes the resource makes the next GET go to the origin too.
TEST_F(Cache, OtherMethodsReachTheOriginAndAChangeMakesTheNextGetGoThere) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar(Cached()));
  struct Case {
    const char* Method;
    bool Changes;
  };
  const Case cases[] = {
      {"POST", true}, {"PUT", true}, {"DELETE", true}, {"PATCH", true}, {"OPTIONS", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Method);
    ASSERT_EQ(FetchToClose("/upload").Body, "GET body=\n");
    ASSERT_TRUE(std::filesystem::exists(CacheFile("upload")));
    const int before = OriginRequests("/upload");  // the first GET's line may still be coming
    EXPECT_EQ(FetchToClose("/upload").Body, "GET body=\n");
    EXPECT_EQ(OriginRequests("/upload"), before);

    const RawReply other =
        FetchUrl(OriginServer::Url("/upload"), "Content-Length: 1\r\n", c.Method, "x");
    EXPECT_EQ(other.Body, std::string(c.Method) + " body=x\n");
    EXPECT_EQ(std::filesystem::exists(CacheFile("upload")), !c.Changes);
    EXPECT_EQ(FetchToClose("/upload").Body, "GET body=\n");
    const int expected = before + (c.Changes ? 1 : 0);
    EXPECT_EQ(OriginRequests("/upload", expected), expected);
  }
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
}

}  // namespace
}  // namespace tenvar::e2e
