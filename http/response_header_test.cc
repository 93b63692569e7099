#include "http/response_header.h"

#include <gtest/gtest.h>

#include <string>

namespace tenvar::http {
namespace {

constexpr std::time_t kExample = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

// Content-Length counts in any case at a line start of the head only, and an unreadable one
// is none; the item's time is Last-Modified, else Date; only a lone chunked coding can be
// undone. Plain heads from nginx, with no coding, chunked, and gzip under chunked, are read in
// the whole-program tests.
TEST(ParseResponseHead, WaitsForTheBlankLineAndReadsStatusLengthItemTimeAndCoding) {
  for (const char* partial : {"", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n",
                              "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r"}) {
    EXPECT_EQ(ParseResponseHead(partial), std::nullopt) << partial;
  }
  const std::string body = "HTTP/1.1 200 OK\r\nServer: s\r\n\r\nContent-Length: 42\r\n\r\n";
  const struct {
    std::string Response;
    int Status;
    std::optional<std::uint64_t> Length;
    std::optional<std::time_t> ItemTime;
    TransferCoding Coding = TransferCoding::None;
  } cases[] = {
      {"HTTP/1.0 304 Not Modified\r\n\r\n", 304, std::nullopt, std::nullopt},
      {"HTTP/1.0\r\nServer: a b\r\n\r\n", -1, std::nullopt, std::nullopt},
      {"HTTP/1.1 200 OK\r\ncontent-length:\t42\r\n\r\n", 200, 42, std::nullopt},
      {"HTTP/1.1 200 OK\r\nX-Original-Content-Length: 42\r\n\r\n", 200, std::nullopt, std::nullopt},
      {body, 200, std::nullopt, std::nullopt},
      {"HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\n", 200, std::nullopt, std::nullopt},
      {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", 200, std::nullopt, std::nullopt},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n", 200, std::nullopt, std::nullopt},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", 200, std::nullopt,
       std::nullopt},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n", 200, 4294967295u, std::nullopt},
      {"HTTP/1.1 200 OK\r\nDate: Thu, 01 Jan 1970 00:00:10 GMT\r\n"
       "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n",
       200, std::nullopt, kExample},
      {"HTTP/1.1 200 OK\r\nlast-modified: never\r\ndate: Thu, 01 Jan 1970 00:00:10 GMT\r\n\r\n",
       200, std::nullopt, 10},
      {"HTTP/1.1 200 OK\r\nDate: soon\r\nX-Date: Thu, 01 Jan 1970 00:00:10 GMT\r\n\r\n", 200,
       std::nullopt, std::nullopt},
      {"HTTP/1.1 200 OK\r\ntransfer-encoding:Chunked \r\nServer: s\r\n\r\n", 200, std::nullopt,
       std::nullopt, TransferCoding::Chunked},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\n", 200,
       std::nullopt, std::nullopt, TransferCoding::Other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Response);
    const auto parsed = ParseResponseHead(c.Response);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Status, c.Status);
    EXPECT_EQ(parsed->HasContentLength, c.Length.has_value());
    EXPECT_EQ(parsed->ContentLength, c.Length.value_or(0));
    EXPECT_EQ(parsed->ItemTime, c.ItemTime);
    EXPECT_EQ(parsed->Coding, c.Coding);
    EXPECT_EQ(parsed->HeaderLength, c.Response.find("\r\n\r\n") + 4);
  }
}

TEST(ParseResponseHead, NoCacheNeedsACacheControlHeader) {
  const struct {
    const char* headers;
    bool noCache;
  } cases[] = {
      {"Cache-Control: no-cache\r\n", true},
      {"cache-control: private, NO-STORE\r\n", true},
      {"Cache-Control: max-age=60\r\nPragma: no-cache\r\n", true},
      {"Cache-Control: max-age=60\r\n", false},
      {"Pragma: no-cache\r\n", false},
      {"Pragma: no-cache\r\nCache-Control: public\r\n", false},
      {"X-Cache-Control: no-cache\r\n", false},
  };
  for (const auto& c : cases) {
    const auto parsed =
        ParseResponseHead(std::string("HTTP/1.1 200 OK\r\n") + c.headers + "\r\nno-store");
    ASSERT_TRUE(parsed) << c.headers;
    EXPECT_EQ(parsed->NoCache, c.noCache) << c.headers;
  }
}

}  // namespace
}  // namespace tenvar::http
