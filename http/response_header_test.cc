#include "http/response_header.h"

#include <gtest/gtest.h>

#include <string>

namespace tenvar::http {
namespace {

constexpr std::time_t kExample = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

TEST(ParseResponseHead, WaitsForTheBlankLine) {
  EXPECT_EQ(ParseResponseHead(""), std::nullopt);
  EXPECT_EQ(ParseResponseHead("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n"), std::nullopt);
  EXPECT_EQ(ParseResponseHead("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r"), std::nullopt);
}

TEST(ParseResponseHead, ReadsHeadAndBodyArrivingInOneBlock) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
      "Content-Type: text/plain\r\n\r\n";
  const auto parsed = ParseResponseHead(head + "hello");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Status, 200);
  EXPECT_TRUE(parsed->HasContentLength);
  EXPECT_EQ(parsed->ContentLength, 5u);
  EXPECT_EQ(parsed->ItemTime, kExample);
  EXPECT_FALSE(parsed->NoCache);
  EXPECT_EQ(parsed->HeaderLength, head.size());
}

TEST(ParseResponseHead, ReadsANotModifiedAnswerWithoutLength) {
  const auto parsed = ParseResponseHead("HTTP/1.0 304 Not Modified\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Status, 304);
  EXPECT_FALSE(parsed->HasContentLength);
  EXPECT_EQ(parsed->ContentLength, 0u);
  EXPECT_EQ(parsed->ItemTime, std::nullopt);
  EXPECT_EQ(parsed->HeaderLength, 29u);
}

TEST(ParseResponseHead, OnlyALoneChunkedCodingCanBeUndone) {
  const struct {
    const char* Lines;
    TransferCoding Expected;
  } kCases[] = {
      {"", TransferCoding::None},
      {"Transfer-Encoding: chunked\r\n", TransferCoding::Chunked},
      {"transfer-encoding:Chunked \r\nServer: s\r\n", TransferCoding::Chunked},
      {"Transfer-Encoding: gzip, chunked\r\n", TransferCoding::Other},
      {"Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n", TransferCoding::Other},
  };
  for (const auto& test : kCases) {
    const auto parsed = ParseResponseHead(std::string("HTTP/1.1 200 OK\r\n") + test.Lines + "\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Coding, test.Expected) << test.Lines;
  }
}

TEST(ParseResponseHead, StatusIsMinusOneWithoutASpace) {
  const auto parsed = ParseResponseHead("HTTP/1.0\r\nServer: a b\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Status, -1);
}

TEST(ParseResponseHead, ContentLengthNameInAnyCaseAtALineStartOnly) {
  auto parsed = ParseResponseHead("HTTP/1.1 200 OK\r\ncontent-length:\t42\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(parsed->HasContentLength);
  EXPECT_EQ(parsed->ContentLength, 42u);

  parsed = ParseResponseHead("HTTP/1.1 200 OK\r\nX-Original-Content-Length: 42\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->HasContentLength);

  // A header name inside the body is no header.
  parsed = ParseResponseHead("HTTP/1.1 200 OK\r\nServer: s\r\n\r\nContent-Length: 42\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->HasContentLength);
}

TEST(ParseResponseHead, UnreadableContentLengthCountsAsAbsent) {
  for (const char* value : {"", "abc", "-1", "4294967296", "99999999999999999999999"}) {
    const auto parsed =
        ParseResponseHead(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + value + "\r\n\r\n");
    ASSERT_TRUE(parsed) << value;
    EXPECT_FALSE(parsed->HasContentLength) << value;
  }
  const auto largest = ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n");
  ASSERT_TRUE(largest);
  EXPECT_TRUE(largest->HasContentLength);
  EXPECT_EQ(largest->ContentLength, 4294967295u);
}

TEST(ParseResponseHead, ItemTimeFallsBackFromLastModifiedToDate) {
  auto parsed = ParseResponseHead(
      "HTTP/1.1 200 OK\r\nDate: Thu, 01 Jan 1970 00:00:10 GMT\r\n"
      "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->ItemTime, kExample);

  parsed = ParseResponseHead(
      "HTTP/1.1 200 OK\r\nlast-modified: never\r\ndate: Thu, 01 Jan 1970 00:00:10 GMT\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->ItemTime, 10);

  parsed = ParseResponseHead("HTTP/1.1 200 OK\r\nDate: soon\r\nX-Date: Thu, 01 Jan 1970 "
                             "00:00:10 GMT\r\n\r\n");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->ItemTime, std::nullopt);
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
