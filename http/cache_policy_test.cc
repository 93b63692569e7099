#include "http/cache_policy.h"

#include <gtest/gtest.h>

namespace tenvar::http {
namespace {

constexpr std::time_t kNow = 1'700'000'000;  // Tue, 14 Nov 2023 22:13:20 GMT

TEST(SharedStoreRefusal, KeepsOneUsersAnswersOutOfTheSharedCache) {
  const struct {
    const char* request;
    const char* response;
    bool stored;
  } cases[] = {
      // The plain cases are fetched end to end; these are their variants.
      {"", "Cache-Control: max-age=60, private=\"Set-Cookie\"\r\n", false},
      {"", "Vary: *\r\n", false},
      {"", "Vary: accept-encoding\r\n", true},
      {"Authorization: Basic eA==\r\n", "Cache-Control: public\r\n", true},
      {"Authorization: Basic eA==\r\n", "Cache-Control: s-maxage=60\r\n", true},
      {"Authorization: Basic eA==\r\n", "Cache-Control: must-revalidate\r\n", true},
      {"Authorization: Basic eA==\r\n", "Cache-Control: max-age=60\r\n", false},
      {"Cookie: id=1\r\n", "Cache-Control: max-age=0\r\n", false},
      {"Cookie: id=1\r\n", "Cache-Control: public\r\n", true},
      {"Cache-Control: no-store\r\n", "", false},
      {"", "Cache-Control: s-maxage=0, max-age=60\r\n", false},
      {"", "Expires: 0\r\n", false},
      {"", "Date: Tue, 14 Nov 2023 22:13:20 GMT\r\nExpires: Tue, 14 Nov 2023 23:00:00 GMT\r\n",
       true},
  };
  for (const auto& c : cases) {
    const std::string request = std::string("GET http://h/ HTTP/1.1\r\n") + c.request + "\r\n";
    const std::string response = std::string("HTTP/1.1 200 OK\r\n") + c.response + "\r\n";
    EXPECT_EQ(!SharedStoreRefusal(request, response, kNow).has_value(), c.stored)
        << c.request << c.response;
  }
}

TEST(FreshnessLifetime, TakesSharedMaxAgeThenMaxAgeThenExpiresLessDate) {
  const struct {
    const char* response;
    std::optional<std::int64_t> lifetime;
  } cases[] = {
      {"", std::nullopt},
      {"Cache-Control: max-age=60, s-maxage=5\r\n", 5},
      {"Cache-Control: max-age=60\r\nExpires: Thu, 01 Jan 1970 00:00:00 GMT\r\n", 60},
      {"Date: Tue, 14 Nov 2023 22:13:20 GMT\r\nExpires: Tue, 14 Nov 2023 22:23:20 GMT\r\n", 600},
      // Without a Date, the time the answer arrived stands for it.
      {"Expires: Tue, 14 Nov 2023 22:14:20 GMT\r\n", 60},
      // Unreadable lifetimes are none left.
      {"Cache-Control: max-age=-1\r\n", 0},
      {"Cache-Control: max-age='60'\r\n", 0},
      {"Cache-Control: s-maxage=x, max-age=60\r\n", 0},
  };
  for (const auto& c : cases) {
    const std::string response = std::string("HTTP/1.1 200 OK\r\n") + c.response + "\r\n";
    EXPECT_EQ(FreshnessLifetime(response, kNow), c.lifetime) << c.response;
  }
}

TEST(KeepHeaders, AgeCountsFromTheOriginsDateOrAgeAndA304RefreshesIt) {
  const cache::KeptHeaders kept = KeepHeaders(
      "HTTP/1.1 200 OK\r\nDate: Tue, 14 Nov 2023 22:13:10 GMT\r\nAge: 4\r\n"
      "Cache-Control: max-age=60\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n",
      kNow);
  EXPECT_EQ(kept.InitialAge, 10);
  EXPECT_EQ(kept.AgeAt(kNow + 5), 15);
  EXPECT_EQ(kept.Lifetime, 60);
  EXPECT_EQ(kept.Fields,
            "Date: Tue, 14 Nov 2023 22:13:10 GMT\r\nCache-Control: max-age=60\r\n"
            "Content-Type: text/html\r\n");
  EXPECT_TRUE(kept.StaleAt(kNow + 50));
  for (const char* age : {"-1", "x", "0, 0", "1.5"}) {
    const cache::KeptHeaders unreadable = KeepHeaders(
        std::string("HTTP/1.1 200 OK\r\nCache-Control: max-age=3600\r\nAge: ") + age + "\r\n\r\n",
        kNow);
    EXPECT_TRUE(unreadable.StaleAt(kNow)) << age;
  }

  const cache::KeptHeaders refreshed =
      RefreshKeptHeaders(kept,
                         "HTTP/1.1 304 Not Modified\r\nDate: Tue, 14 Nov 2023 22:15:00 GMT\r\n"
                         "Cache-Control: max-age=120\r\n\r\n",
                         kNow + 100);
  EXPECT_EQ(refreshed.AgeAt(kNow + 100), 0);
  EXPECT_EQ(refreshed.Lifetime, 120);
  EXPECT_EQ(refreshed.Fields,
            "Content-Type: text/html\r\nDate: Tue, 14 Nov 2023 22:15:00 GMT\r\n"
            "Cache-Control: max-age=120\r\n");
}

// The forced reloads (no-cache, max-age=0, Pragma) and a gzip item for browsers that do and do
// not take gzip are each fetched end to end.
TEST(CachePolicy, ForcedReloadsAndCodingsTheBrowserAccepts) {
  EXPECT_FALSE(IsForcedReload("GET / HTTP/1.1\r\nCache-Control: max-age=10\r\n\r\n"));
  const struct {
    const char* acceptEncoding;
    const char* itemFields;
    bool accepted;
  } codings[] = {
      {"GZIP;q=0.5", "Content-Encoding: gzip\r\n", true},
      {"gzip;q=0", "Content-Encoding: gzip\r\n", false},
      {"br", "Content-Encoding: gzip\r\n", false},
      {"*", "Content-Encoding: br\r\n", true},
      {"gzip", "Content-Encoding: gzip, br\r\n", false},
      {"", "Content-Encoding: identity\r\n", true},
  };
  for (const auto& c : codings) {
    const std::string request =
        std::string("GET / HTTP/1.1\r\nAccept-Encoding: ") + c.acceptEncoding + "\r\n\r\n";
    EXPECT_EQ(AcceptsItemCoding(request, c.itemFields), c.accepted)
        << c.acceptEncoding << " / " << c.itemFields;
  }
}

TEST(SameOriginPath, NamesOnlyPathsOnTheSameServer) {
  const struct {
    const char* target;
    std::optional<std::string> path;
  } cases[] = {
      {"/b/c", "/b/c"},
      {"http://h:8081/b", "/b"},
      {"HTTP://H:8081", "/"},
      {"http://h:8081/b#part", "/b"},
      {"http://h/b", std::nullopt},
      {"http://h:8082/b", std::nullopt},
      {"http://other:8081/b", std::nullopt},
      {"//h:8081/b", std::nullopt},
      {"b/c", std::nullopt},
      {"https://h:8081/b", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameOriginPath(c.target, "h", 8081), c.path) << c.target;
  }
}

TEST(BrowserHasItem, ByETagFirstThenByDate) {
  const std::string fields = "ETag: W/\"abc\"\r\nLast-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\n";
  const struct {
    const char* request;
    bool current;
  } cases[] = {
      {"", false},
      {"If-None-Match: \"abc\"\r\n", true},
      {"If-None-Match: \"x\", W/\"abc\"\r\n", true},
      {"If-None-Match: *\r\n", true},
      {"If-None-Match: \"x\"\r\nIf-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n", false},
      {"If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n", true},
      {"If-Modified-Since: Tue, 14 Nov 2023 22:13:19 GMT\r\n", false},
      {"If-Modified-Since: yesterday\r\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BrowserHasItem(c.request, fields, 0), c.current) << c.request;
  }
  // Without a kept Last-Modified, the item's own time stands for it.
  EXPECT_TRUE(BrowserHasItem("If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n", "", kNow));
  EXPECT_FALSE(BrowserHasItem("If-None-Match: \"abc\"\r\n", "", kNow));
}

TEST(WithEntityTagCondition, AsksByTheKeptETagInsteadOfTheBrowsers) {
  const std::string request =
      "GET http://h/ HTTP/1.1\r\nIf-None-Match: \"mine\"\r\nAccept: */*\r\n"
      "If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n\r\n";
  EXPECT_EQ(WithEntityTagCondition(request, "ETag: \"abcd\"\r\n"),
            "GET http://h/ HTTP/1.1\r\nIf-None-Match: \"abcd\"\r\nAccept: */*\r\n"
            "If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n\r\n");
  EXPECT_EQ(WithEntityTagCondition(request, "Content-Type: text/html\r\n"), request);
}

}  // namespace
}  // namespace tenvar::http
