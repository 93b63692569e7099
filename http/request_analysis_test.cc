#include "http/request_analysis.h"

#include <gtest/gtest.h>

#include "http/http_date.h"

namespace tenvar::http {
namespace {

using namespace std::string_literals;

TEST(MethodCodeOf, KnowsTheMethodsInAnyCase) {
  const std::pair<const char*, MethodCode> cases[] = {
      {"GET", MethodCode::Get},         {"get", MethodCode::Get},
      {"Options", MethodCode::Options}, {"HEAD", MethodCode::Head},
      {"post", MethodCode::Post},       {"PUT", MethodCode::Put},
      {"Delete", MethodCode::Delete},   {"TRACE", MethodCode::Trace},
      {"connect", MethodCode::Connect}, {"PATCH", MethodCode::Other},
      {"GETS", MethodCode::Other},      {"", MethodCode::Other},
  };
  for (const auto& [method, code] : cases) EXPECT_EQ(MethodCodeOf(method), code) << method;
}

// The version is the rest of the first line; a line without both spaces is no request line.
// Plain request lines come from curl in the whole-program tests.
TEST(ParseRequestLine, SplitsTheFirstLineAtItsTwoSpaces) {
  EXPECT_EQ(ParseRequestLine("GET /x HTTP/1.1 extra\r\n")->HttpVersion, "HTTP/1.1 extra");
  for (const char* request : {"GET\r\nHost: a b\r\n\r\n", "GET /x\r\nHost: a b\r\n\r\n", ""}) {
    EXPECT_EQ(ParseRequestLine(request), std::nullopt) << request;
  }
}

TEST(RefererOf, ReadsTheExactCaseHeaderUpToTheCr) {
  EXPECT_EQ(RefererOf("GET / HTTP/1.0\r\nReferer: http://a/b\r\n\r\n"), "http://a/b");
  EXPECT_EQ(RefererOf("GET / HTTP/1.0\r\nreferer: http://a/b\r\n\r\n"), std::nullopt);
  EXPECT_EQ(RefererOf("GET / HTTP/1.0\r\nHost: h\r\n\r\n"), std::nullopt);
  EXPECT_EQ(RefererOf("GET / HTTP/1.0\r\nReferer: http://a/b"), std::nullopt);
}

// An ftp URL naming no user logs in as anonymous; an http one has no user at all.
TEST(ParseUrl, SplitsHttpAndFtpUrls) {
  const std::string_view anonymous = kAnonymousFtpPassword;
  const struct {
    const char* url;
    UrlKind kind;
    const char* host;
    std::int32_t port;
    const char* path;
    const char* user = "";
    std::string_view password = "";
  } cases[] = {
      {"http://h:8080/a", UrlKind::Http, "h", 8080, "/a"},
      {"http://h/a:b", UrlKind::Http, "h", 80, "/a:b"},
      {"http://h", UrlKind::Http, "h", 80, "/"},
      {"http://h:81", UrlKind::Http, "h", 81, "/"},
      {"HTTP://H/x?q=1&r=/", UrlKind::Http, "H", 80, "/x?q=1&r=/"},
      {"Http://h:8080/", UrlKind::Http, "h", 8080, "/"},
      {"http://h:x/", UrlKind::Http, "h", 0, "/"},
      {"ftp://u@h/dir/", UrlKind::Ftp, "h", 21, "dir", "u", ""},
      {"ftp://u:p@h:2121/f.txt", UrlKind::Ftp, "h", 2121, "f.txt", "u", "p"},
      {"ftp://h/", UrlKind::Ftp, "h", 21, "", "anonymous", anonymous},
      {"ftp://h", UrlKind::Ftp, "h", 21, "", "anonymous", anonymous},
      {"ftp://h:2121/f.txt", UrlKind::Ftp, "h", 2121, "f.txt", "anonymous", anonymous},
      {"FTP://h/a/b/c.txt", UrlKind::Ftp, "h", 21, "a/b/c.txt", "anonymous", anonymous},
      {"ftp://h/pub/me@home.txt", UrlKind::Ftp, "h", 21, "pub/me@home.txt", "anonymous", anonymous},
      {"ftp://h/a:b", UrlKind::Ftp, "h", 21, "a:b", "anonymous", anonymous},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const auto parts = ParseUrl(c.url);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->Kind, c.kind);
    EXPECT_EQ(parts->Host, c.host);
    EXPECT_EQ(parts->Port, c.port);
    EXPECT_EQ(parts->Path, c.path);
    EXPECT_EQ(parts->FtpUser, c.user);
    EXPECT_EQ(parts->FtpPassword, c.password);
  }
}

TEST(ParseUrl, OtherSchemesFillOnlyTheSchemeNoColonIsNoUrlAndAHostMayBeMissing) {
  const auto parts = ParseUrl("gopher://h:70/x");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->Scheme, "gopher");
  EXPECT_EQ(parts->Kind, UrlKind::Other);
  EXPECT_EQ(parts->Host, "");
  EXPECT_EQ(parts->Path, "");
  EXPECT_EQ(ParseUrl("/relative/path"), std::nullopt);
  EXPECT_EQ(ParseUrl(""), std::nullopt);
  // Missing hosts give an empty host instead of a fault.
  for (const char* url : {"http:", "http:/", "http://", "http:///x", "http://:80/x",
                          "ftp:", "ftp://", "ftp://@", "ftp://u@", "ftp://u:p@/x", "ftp:///"}) {
    const auto hostless = ParseUrl(url);
    ASSERT_TRUE(hostless) << url;
    EXPECT_EQ(hostless->Host, "") << url;
  }
}

// Targets with a port come from curl in the whole-program tests.
TEST(ParseConnectTarget, AHostWithoutAPortIsNoTarget) {
  EXPECT_EQ(ParseConnectTarget("mail.example.com"), std::nullopt);
}

// The referrer alone decides when there is one. An empty list, a trusted URL or referrer and an
// untrusted URL are fetched in the whole-program tests.
TEST(IsTrusted, ReferrerAloneDecidesWhenPresent) {
  const std::vector<std::string> trusted = {"intranet", "partner.com"};
  EXPECT_FALSE(IsTrusted(trusted, std::nullopt, "http://INTRANET/a"));
  EXPECT_FALSE(IsTrusted(trusted, std::string("http://elsewhere/"), "http://intranet/a"));
}

// An entry in the URL, and an empty list, are checked through squid in the whole-program tests.
TEST(IsUpstreamExcluded, MatchesAnywhereInTheWholeRequestLine) {
  const std::string line = "GET http://local.lan/x HTTP/1.1";
  EXPECT_TRUE(IsUpstreamExcluded({"nothing", "HTTP/1.1"}, line));
  EXPECT_TRUE(IsUpstreamExcluded({"GET http"}, line));
  EXPECT_FALSE(IsUpstreamExcluded({"HTTP/1.0", "POST"}, line));
}

// One "Connection: close" replaces every connection header in place, or goes last; folded
// continuations of removed headers go too, and the body and incomplete requests stay as they are.
TEST(ForceConnectionClose, LeavesOneCloseHeaderAndEverythingElseAsItWas) {
  const std::string body = "Connection: keep-alive\r\n\r\nx\0y"s;
  const std::pair<std::string, std::string> cases[] = {
      {"GET / HTTP/1.0\r\n\r\n", "GET / HTTP/1.0\r\nConnection: close\r\n\r\n"},
      {"GET / HTTP/1.1\r\nHost: h\r\nproxy-connection: keep-alive\r\nAccept: */*\r\n"
       "KEEP-ALIVE: 300\r\nconnection: Keep-Alive\r\nX-Connection: kept\r\n\r\n",
       "GET / HTTP/1.1\r\nHost: h\r\nConnection: close\r\nAccept: */*\r\nX-Connection: "
       "kept\r\n\r\n"},
      {"POST / HTTP/1.0\r\nContent-Length: 30\r\n\r\n" + body,
       "POST / HTTP/1.0\r\nContent-Length: 30\r\nConnection: close\r\n\r\n" + body},
      {"GET / HTTP/1.1\r\nConnection: a,\r\n b\r\nX: 1\r\n \t2\r\n\r\n",
       "GET / HTTP/1.1\r\nConnection: close\r\nX: 1\r\n \t2\r\n\r\n"},
      {"GET / HTTP/1.1\r\nConnection: keep-alive\r\n",
       "GET / HTTP/1.1\r\nConnection: keep-alive\r\n"},
  };
  for (const auto& [request, forwarded] : cases) {
    EXPECT_EQ(ForceConnectionClose(request), forwarded) << request;
  }
}

// The item's time replaces every If-Modified-Since in any case, or goes last; the body and
// incomplete requests stay as they are.
TEST(InsertIfModifiedSince, LeavesOneConditionWithTheItemsTime) {
  constexpr std::time_t kItemTime = 784111777;
  const std::string condition = "If-Modified-Since: " + FormatHttpDate(kItemTime) + "\r\n";
  const std::string withCondition = "GET / HTTP/1.0\r\nHost: h\r\n" + condition + "\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"GET / HTTP/1.0\r\nHost: h\r\n\r\n", withCondition},
      {"GET / HTTP/1.0\r\nIf-Modified-Since: Mon, 01 Jan 1990 00:00:00 GMT\r\nHost: h\r\n\r\n",
       withCondition},
      {"GET / HTTP/1.0\r\nHost: h\r\nIf-Modified-Since: x\r\n\r\n", withCondition},
      {"GET / HTTP/1.0\r\nif-modified-since: x\r\nHost: h\r\nIF-MODIFIED-SINCE: y\r\n\r\n",
       withCondition},
      {"POST / HTTP/1.0\r\n\r\nIf-Modified-Since: z\r\n",
       "POST / HTTP/1.0\r\n" + condition + "\r\nIf-Modified-Since: z\r\n"},
      {"GET / HTTP/1.0\r\nHost: h\r\n", "GET / HTTP/1.0\r\nHost: h\r\n"},
  };
  for (const auto& [request, forwarded] : cases) {
    EXPECT_EQ(InsertIfModifiedSince(request, kItemTime), forwarded) << request;
  }
}

TEST(Via, AForwardedRequestNamesThisHopAndIsKnownWhenItComesBack) {
  const std::string viaName = ViaName(8080);
  EXPECT_TRUE(viaName.ends_with(":8080"));
  const std::string request = "GET / HTTP/1.1\r\nHost: a\r\nVia: 1.0 squid\r\n\r\nbody";
  const std::string forwarded = AddVia(request, "HTTP/1.1", viaName);
  EXPECT_EQ(forwarded,
            "GET / HTTP/1.1\r\nHost: a\r\nVia: 1.0 squid\r\nVia: 1.1 " + viaName + "\r\n\r\nbody");
  EXPECT_FALSE(HasPassedThrough(request, viaName));
  EXPECT_TRUE(HasPassedThrough(forwarded, viaName));
  // Another instance of the same machine, or this one named inside a comment, is no loop.
  EXPECT_FALSE(HasPassedThrough(AddVia(request, "HTTP/1.1", ViaName(8081)), viaName));
  EXPECT_FALSE(HasPassedThrough("GET / HTTP/1.1\r\nVia: 1.1 p (" + viaName + ")\r\n\r\n", viaName));
  EXPECT_TRUE(HasPassedThrough(
      "GET / HTTP/1.1\r\nvia: 1.0 a, HTTP/1.1 " + viaName + " (Tenvar), 1.1 b\r\n\r\n", viaName));
}

TEST(WithoutHeader, DropsEveryLineOfTheNameInAnyCase) {
  EXPECT_EQ(WithoutHeader("PUT / HTTP/1.1\r\nExpect: 100-continue\r\nA: b\r\nexpect: x\r\n\r\n",
                          "Expect"),
            "PUT / HTTP/1.1\r\nA: b\r\n\r\n");
}

}  // namespace
}  // namespace tenvar::http
